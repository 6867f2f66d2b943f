#include "Session.h"

#include <QDate>
#include <QLocale>
#include <QTime>
#include <utility>

#include "Inbound.h"
#include "Product.h"
#include "Text.h"
#include "WSocket.h"
#include "WindowNames.h"

namespace {

using zorv::kServerWindow;

std::string QuitLine() { return std::string("QUIT ") + zorv::kHomePage; }

}  // namespace

Session::Session(SessionHost& host, QObject* parent) : QObject(parent), host_(host) {
  setObjectName("Session");
  BuildSocket();
  engine_ = std::make_unique<InboundEngine>(*this);
  keepAlive_ = new KeepAliveSettings(this);
  keeper_ = new ConnectionKeeper(*this, *keepAlive_, this);
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
  out += "\r\n";
  if (!keeper_->MaySend(socket_->BufferedByteCount(), out.size())) return;
  socket_->SendStr(out);
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
  keeper_->Registered(target.server, target.port);
  // Once only, and only on the server the link named: after a failed attempt,
  // a connection made by hand to another server joins nothing by itself.
  const PendingJoins joins = std::exchange(pendingJoins_, {});
  if (target.host != joins.server || target.port != joins.port) return;
  for (const std::string& channel : joins.channels) SendMsg("JOIN " + channel);
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
