#include "Session.h"

#include <QDate>
#include <QTimer>
#include <QLocale>
#include <QTime>
#include <algorithm>
#include <climits>
#include <utility>

#include "Guard.h"
#include "Inbound.h"
#include "Product.h"
#include "Text.h"
#include "WSocket.h"
#include "WindowNames.h"

namespace {

using zorv::kServerWindow;

std::string QuitLine() { return std::string("QUIT ") + zorv::kHomePage; }

// While a long paste drains, the count is shown again after this many more have gone.
constexpr std::size_t kWaitingStep = 10;

}  // namespace

IgnoreSettings::IgnoreSettings(zorv::IgnoreList& list, QObject* parent) : QObject(parent), list_(list) {
  setObjectName("IgnoreSettings");
}

QStringList IgnoreSettings::settingsItems() { return {QStringLiteral("IgnoreSettings;Nicks;;Ignore;Nicks;1;0")}; }

QString IgnoreSettings::nicks() const { return zorv::toDisplay(list_.Joined()); }

void IgnoreSettings::setNicks(const QString& nicks) { list_.SetJoined(zorv::fromInput(nicks)); }

Session::Session(SessionHost& host, QObject* parent) : QObject(parent), host_(host) {
  setObjectName("Session");
  BuildSocket();
  engine_ = std::make_unique<InboundEngine>(*this);
  keepAlive_ = new KeepAliveSettings(this);
  keeper_ = new ConnectionKeeper(*this, *keepAlive_, this);
  new IgnoreSettings(ignore_, this);
  paceTimer_ = new QTimer(this);
  paceTimer_->setSingleShot(true);
  connect(paceTimer_, &QTimer::timeout, this, [this] { zorv::guarded([this] { Pump(); }, "Zorv"); });
}

Session::~Session() = default;

void Session::BuildSocket() {
  socket_ = new TWSocket(this);
  socket_->setObjectName("CliWSocket");
  socket_->SetLingerOnOff(wsLingerOn);
  socket_->SetLingerTimeout(0);
  socket_->SetSendFlags(wsSendNormal);
  socket_->SetMultiThreaded(false);
  socket_->SetFlushTimeout(60);
  socket_->OnDnsLookupDone = [this](TCustomWSocket*, uint16_t e) { OnLookupDone(e); };
  socket_->OnSessionConnected = [this](TCustomWSocket*, uint16_t e) { OnConnected(e); };
  socket_->OnSslError = [this](TCustomWSocket*, const std::string& m) { AddText(kServerWindow, m, true); };
  socket_->OnSslVerify = [this](TCustomWSocket*, const TSslPeer& p, std::string& reason) {
    const zorv::CertAnswer answer = host_.AskCertificate(p);
    reason = answer.reason;
    if (answer.refusedByUser) keeper_->CertificateRefused();
    return answer.accepted;
  };
  socket_->OnSessionClosed = [this](TCustomWSocket*, uint16_t e) { OnClosed(e); };
  socket_->OnDataAvailable = [this](TCustomWSocket*, uint16_t) { OnDataAvailable(); };
}

// ---------------------------------------------------------------------------
// What the user does

bool Session::IsConnected() const { return socket_->State() == wsConnected; }

std::uint32_t Session::Capabilities() const { return engine_->Capabilities(); }

void Session::SendMsg(const std::string& line) {
  if (!IsConnected()) return;
  // A CR, LF or NUL inside the line would end it early and smuggle a second
  // command to the server: they are removed.
  std::string out = zorv::stripLineBreaks(line);
  keeper_->Sent(out);
  // The bound on what waits counts the lines waiting for their turn too.
  const std::size_t queued = static_cast<std::size_t>(std::max(socket_->BufferedByteCount(), 0)) +
                             pacer_.WaitingBytes() + 2 * pacer_.Waiting();
  if (!keeper_->MaySend(static_cast<int>(std::min<std::size_t>(queued, INT_MAX)), out.size() + 2)) return;
  pacer_.Push(std::move(out));
  Pump();
}

void Session::Pump() {
  const int now = TimeOfDayMs();
  for (std::string& line : pacer_.Due(now)) {
    if (!IsConnected()) break;
    line += "\r\n";
    socket_->SendStr(line);
  }
  const int wait = pacer_.WaitMs(now);
  if (wait < 0)
    paceTimer_->stop();
  else
    paceTimer_->start(std::max(wait, 1));
  const std::size_t waiting = pacer_.Waiting();
  if (waiting == 0) {
    waitShown_ = 0;
  } else if (waitShown_ >= waiting + kWaitingStep) {
    SayWaiting();
  }
}

void Session::SayWaiting() {
  const std::size_t n = pacer_.Waiting();
  waitShown_ = n;
  host_.Show(waitWindow_, "(" + std::to_string(n) + (n == 1 ? " line" : " lines") + " waiting)", false);
}

void Session::SendTyped(const std::string& window, const std::string& line) {
  waitWindow_ = window;
  SendMsg(line);
  // Said once for all the lines of one paste (or one long text cut into
  // pieces), when they have all been handed over.
  if (pacer_.Waiting() == 0 || waitCheckPosted_) return;
  waitCheckPosted_ = true;
  QTimer::singleShot(0, this, [this] {
    zorv::guarded(
        [this] {
          waitCheckPosted_ = false;
          if (pacer_.Waiting() > 0 && pacer_.Waiting() != waitShown_) SayWaiting();
        },
        "Zorv");
  });
}

void Session::Connect() { StartConnect(true); }

void Session::ConnectAgain() { StartConnect(false); }

void Session::StartConnect(bool byUser) {
  userConnect_ = byUser;
  if (byUser) keeper_->UserConnect();
  // Asked for again while connected (through the menu), the fields stay as
  // they are: the socket refuses the new address.
  host_.ConnectionChanged(IsConnected() ? ConnectionState::Connected : ConnectionState::Connecting);
  const std::string host = host_.Target().host;
  host_.NetworkChosen(host);
  socket_->DnsLookup(host);
}

void Session::Disconnect() {
  keeper_->UserDisconnect();
  SendMsg(QuitLine());
  if (socket_->State() != wsClosed) socket_->Close();
}

void Session::CallOffReconnect() { keeper_->UserDisconnect(); }

void Session::JoinWhenRegistered(const std::string& server, const std::string& port,
                                 std::vector<std::string> channels) {
  pendingJoins_ = {server, port, std::move(channels)};
}

void Session::CommandTyped(const std::string& window) { lastCommand_ = {window, TimeOfDayMs()}; }

void Session::Abort() {
  if (socket_->State() != wsClosed) socket_->Abort();
}

// ---------------------------------------------------------------------------
// The socket's events

void Session::OnLookupDone(uint16_t error) {
  if (error != 0) {
    AddText(kServerWindow, "Server name unknown", true);
    host_.ConnectionChanged(IsConnected() ? ConnectionState::Connected : ConnectionState::Idle);
    keeper_->LookupFailed();
    return;
  }
  const ConnectTarget target = host_.Target();
  socket_->SetAddr(socket_->DnsResult());
  socket_->SetPort(target.port);
  socket_->SetProto("tcp");
  if (socket_->State() == wsClosed) {
    socket_->SetSslEnable(target.tls);
    socket_->SetSslServerName(target.host);
  }
  // A close with lingering on and a zero time-out resets the connection and can
  // lose the QUIT line sent just before it; the socket lets the system deliver
  // what was sent, then closes.
  if (socket_->State() == wsClosed) socket_->SetLingerOnOff(wsLingerOff);
  socket_->Connect();
}

void Session::OnConnected(uint16_t error) {
  if (error == 10061) {
    AddText(kServerWindow, "No server available", true);
    return;
  }
  // A failed TLS handshake has said why already (OnSslError).
  if (error == TCustomSslWSocket::errTlsHandshake) return;
  if (error != 0) {
    AddText(kServerWindow, "Can't connect, error #" + std::to_string(error), true);
    return;
  }
  // A partial line and the registration state of an earlier connection
  // belong to nobody now.
  engine_->Reset();
  pacer_.Reset();
  waitWindow_.clear();
  keeper_->Connected();
  AddText(kServerWindow, "Connected", true);
  host_.ConnectionChanged(ConnectionState::Connected);
  // NICK and USER, after PASS and CAP LS when a login is configured.
  engine_->Register(host_.Target().nick);
  // The user who pressed Connect watches the Server window; a reconnect
  // leaves the user where they are (perhaps typing).
  if (userConnect_) host_.BringServerWindowToFront();
}

void Session::OnClosed(uint16_t error) {
  // What waited for its turn will not go: the user is told, not left guessing.
  if (const std::size_t lost = pacer_.Waiting(); lost > 0 && !waitWindow_.empty()) {
    const std::string window = host_.HasWindow(waitWindow_) ? waitWindow_ : kServerWindow;
    AddText(window, "*** Not sent: " + std::to_string(lost) + (lost == 1 ? " line was" : " lines were") +
                        " still waiting when the connection closed", true);
  }
  pacer_.Reset();
  paceTimer_->stop();
  waitShown_ = 0;
  host_.ConnectionChanged(ConnectionState::Idle);
  AddText(kServerWindow, "Disconnected", false);
  host_.ConnectionClosed();
  keeper_->Closed(error);
}

void Session::OnDataAvailable() {
  keeper_->DataArrived();
  engine_->DataAvailable([this](char* buf, int room) { return socket_->Receive(buf, room); });
}

void Session::Registered() {
  const ConnectTarget target = host_.Target();
  const std::vector<zorv::ChannelToJoin> settings = zorv::ChannelsSetting(target.channels);
  keeper_->Registered(target.server, target.port, settings);
  // Once only, and only on the server the link named: after a failed attempt,
  // a connection made by hand to another server joins nothing by itself. A
  // channel the settings have joined already is not joined twice.
  const PendingJoins joins = std::exchange(pendingJoins_, {});
  if (target.host != joins.server || target.port != joins.port) return;
  for (const std::string& channel : joins.channels) {
    if (std::none_of(settings.begin(), settings.end(),
                     [&](const zorv::ChannelToJoin& c) { return zorv::equalsIgnoreAsciiCase(c.name, channel); }))
      SendMsg("JOIN " + channel);
  }
}

// ---------------------------------------------------------------------------
// What the engine shows, and the clock

void Session::AddText(const std::string& name, const std::string& text, bool create) {
  // The server's answer to our own lag check is not shown.
  if (!create && name == kServerWindow && keeper_->IsOwnPingReply(text)) return;
  host_.Show(name, text, create);
}

void Session::SayInServerWindow(const std::string& text) { AddText(kServerWindow, text, true); }

int Session::TimeOfDayMs() const { return QTime::currentTime().msecsSinceStartOfDay(); }

std::string Session::LocalShortDate() const {
  return zorv::fromInput(QLocale::system().toString(QDate::currentDate(), QLocale::ShortFormat));
}

std::string Session::LocalLongTime() const {
  return zorv::fromInput(QLocale::system().toString(QTime::currentTime(), QLocale::LongFormat));
}
