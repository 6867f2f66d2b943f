// TCustomWSocket over non-blocking POSIX sockets: construction, properties,
// errors and events, and the descriptor's lifecycle (adopt, connect, close).
// Notifications are in WSocketNotify.cpp, the byte path in WSocketIO.cpp,
// host lookups in WSocketLookup.cpp, the server side in WSocketServer.cpp.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "WSocketPrivate.h"

using namespace zorv;
using namespace zorv::detail;

namespace {

// Live components in the process. There is no socket library to start or
// clean up on this platform, so the count is all that is kept.
int g_socketCount = 0;

bool isAsyncConnectError(int err) {
  return err == ECONNREFUSED || err == ETIMEDOUT || err == ENETUNREACH || err == EHOSTUNREACH ||
         err == ECONNRESET;
}

}  // namespace

int zorv::detail::setErrnoError() {
  WSocketSetLastError(WSocketErrorFromErrno(errno));
  return -1;
}

// ---------------------------------------------------------------------------
// Construction and destruction

TCustomWSocket::TCustomWSocket(QObject* owner) : QObject(owner) {
  window_ = new TSocketWindow(this);
  AssignDefaultValue();
  ++g_socketCount;
}

TCustomWSocket::~TCustomWSocket() {
  destroying_ = true;
  // The owner is usually being torn down as well: call none of its handlers.
  OnDnsLookupDone = OnSessionConnected = OnSessionClosed = OnDataAvailable = OnDataSent = OnSessionAvailable =
      nullptr;
  OnChangeState = nullptr;
  OnError = nullptr;
  try {
    CancelDnsLookup();
  } catch (...) {
  }
  forgetLookup(dnsRequest_);
  EndRace();
  if (state_ != wsClosed) {
    try {
      Close();
    } catch (...) {
    }
  }
  ReleaseNotifiers();
  if (hSocket_ >= 0) ::close(DetachHandle());
  if (--g_socketCount < 0) g_socketCount = 0;
  window_->Detach();
  // A notification of ours may be on the stack: let it unwind first.
  if (window_->Busy())
    window_->deleteLater();
  else
    delete window_;
  window_ = nullptr;
}

int TCustomWSocket::SocketCount() { return g_socketCount; }

void TCustomWSocket::AssignDefaultValue() {
  std::memset(&sin_, 0, sizeof sin_);
  sin_.ss_family = AF_INET;
  sinPort_ = 0;
  alternates_.clear();
  nextAlternate_ = 0;
  portAssigned_ = false;
  addrAssigned_ = false;
  addrResolved_ = portResolved_ = protoResolved_ = false;
  protoAssigned_ = true;
  proto_ = IPPROTO_TCP;
  protoStr_ = "tcp";
  type_ = SOCK_STREAM;
  lingerOnOff_ = wsLingerOn;
  lingerTimeout_ = 0;
  hSocket_ = -1;
  state_ = wsClosed;
  paused_ = false;
  allSent_ = true;
  readCount_ = 0;
  closeInvoked_ = false;
  lostError_ = 0;
  flushTimeout_ = 60;
}

// ---------------------------------------------------------------------------
// Properties

// Addr, Port and Proto: a new text is taken (trimmed) only while closed; the
// same text again changes nothing in any state.
void TCustomWSocket::AssignText(const std::string& text, const char* what, std::string& stored, bool& assigned,
                                bool& resolved) {
  if (assigned && text == stored) return;
  if (state_ != wsClosed) {
    RaiseException(std::string("Cannot change ") + what + " if not closed");
    return;
  }
  stored = trim(text);
  assigned = !stored.empty();
  if (assigned) resolved = false;
}

void TCustomWSocket::SetAddr(const std::string& addr) {
  AssignText(addr, "Addr", addrStr_, addrAssigned_, addrResolved_);
}

void TCustomWSocket::SetPort(const std::string& port) {
  AssignText(port, "Port", portStr_, portAssigned_, portResolved_);
}

void TCustomWSocket::SetProto(const std::string& proto) {
  AssignText(proto, "Proto", protoStr_, protoAssigned_, protoResolved_);
}

TSocketSendFlags TCustomWSocket::SendFlags() const {
  if (sendFlags_ == 0) return wsSendNormal;
  if (sendFlags_ == 1) return wsSendUrgent;
  const_cast<TCustomWSocket*>(this)->RaiseException("Invalid internal SendFlags");
  return wsSendNormal;
}

void TCustomWSocket::SetSendFlags(TSocketSendFlags flags) {
  switch (flags) {
    case wsSendNormal: sendFlags_ = 0; break;
    case wsSendUrgent: sendFlags_ = 1; break;
    default: RaiseException("Invalid SendFlags");
  }
}

// ---------------------------------------------------------------------------
// Errors and events

void TCustomWSocket::RaiseException(const std::string& msg) {
  if (OnError) {
    TriggerError();
    return;
  }
  throw ESocketException(msg);
}

void TCustomWSocket::SocketError(const std::string& function) {
  const int e = WSocketGetLastError();
  const std::string text =
      "Error " + std::to_string(e) + " in function " + function + "\r\n" + WSocketErrorDesc(e);
  if (e == WSAECONNRESET || e == WSAENOTCONN) {
    if (hSocket_ >= 0) ::close(DetachHandle());
    const Watch w(this);
    ChangeState(wsClosed);
    if (w.Deleted()) throw ESocketException(text);
  }
  lastError_ = e;
  RaiseException(text);
}

void TCustomWSocket::FailErrno(const std::string& function) {
  setErrnoError();
  SocketError(function);
}

void TCustomWSocket::FailWith(int wsaError, const std::string& function) {
  WSocketSetLastError(wsaError);
  SocketError(function);
}

void TCustomWSocket::ChangeState(TSocketState newState) {
  TSocketState old = state_;
  state_ = newState;
  TriggerChangeState(old, newState);
}

void TCustomWSocket::TriggerSessionAvailable(uint16_t error) {
  if (OnSessionAvailable) OnSessionAvailable(this, error);
}
void TCustomWSocket::TriggerSessionConnected(uint16_t error) {
  if (OnSessionConnected) OnSessionConnected(this, error);
}
void TCustomWSocket::TriggerSessionClosed(uint16_t error) {
  if (OnSessionClosed) OnSessionClosed(this, error);
}
void TCustomWSocket::TriggerDataSent(uint16_t error) {
  if (OnDataSent) OnDataSent(this, error);
}
void TCustomWSocket::TriggerChangeState(TSocketState oldState, TSocketState newState) {
  if (OnChangeState) OnChangeState(this, oldState, newState);
}
void TCustomWSocket::TriggerDnsLookupDone(uint16_t error) {
  if (OnDnsLookupDone) OnDnsLookupDone(this, error);
}
void TCustomWSocket::TriggerError() {
  if (OnError) OnError(this);
}

// ---------------------------------------------------------------------------
// The descriptor

// Makes fd the component's descriptor. One still held (left by a failed
// start) is closed first. A new session begins, so notifications of the old
// descriptor are recognised as stale, and its per-descriptor state is fresh.
void TCustomWSocket::AdoptHandle(int fd) {
  if (hSocket_ >= 0) ::close(DetachHandle());
  hSocket_ = fd;
  ++session_;
  connectWait_ = ConnectWait::None;
  closeSeen_ = readBlocked_ = false;
  lostError_ = 0;
}

// Stops watching the descriptor and forgets it; the caller closes what is
// returned. The session ends with it.
int TCustomWSocket::DetachHandle() {
  const int fd = hSocket_;
  ReleaseNotifiers();
  hSocket_ = -1;
  ++session_;
  connectWait_ = ConnectWait::None;
  return fd;
}

// A new non-blocking socket of the resolved type; -1 (reported as `failure`)
// when the platform refuses one.
int TCustomWSocket::CreateSocket(const char* failure) {
  int fd = ::socket(sin_.ss_family, type_ | SOCK_NONBLOCK | SOCK_CLOEXEC, proto_);
  // A dual-stack connect skips an address whose family the system cannot open.
  while (fd < 0 && type_ == SOCK_STREAM && nextAlternate_ < alternates_.size()) {
    sin_ = alternates_[nextAlternate_++];
    fd = ::socket(sin_.ss_family, type_ | SOCK_NONBLOCK | SOCK_CLOEXEC, proto_);
  }
  if (fd < 0) FailErrno(failure);
  return fd;
}

// Resolves what is not resolved yet; a failure is raised with the prefix.
bool TCustomWSocket::ResolveFor(const char* prefix) {
  try {
    ResolveAll();
  } catch (const std::exception& e) {
    RaiseException(std::string(prefix) + e.what());
    return false;
  }
  return true;
}

void TCustomWSocket::EnterDatagramConnected() {
  const Watch w(this);
  ChangeState(wsConnected);
  if (w.Gone()) return;
  TriggerSessionConnected(0);
}

// ---------------------------------------------------------------------------
// Connect

void TCustomWSocket::Connect() {
  if (!CheckConnectable() || !ResolveFor("connect:")) return;
  EndRace();
  nextAlternate_ = 0;
  DeleteBufferedData();
  const int fd = CreateSocket("Connect (socket)");
  if (fd < 0) return;
  AdoptHandle(fd);
  const Watch w(this);
  ChangeState(wsOpened);
  if (w.Gone()) return;
  if (!(type_ == SOCK_STREAM ? SetStreamOptions() : PrepareDatagram())) return;
  if (!AsyncSelect(FD_READ | FD_WRITE | FD_ACCEPT | FD_CONNECT | FD_CLOSE)) {
    FailWith(WSAENOTSOCK, "WSAAsyncSelect");
    return;
  }
  if (type_ == SOCK_DGRAM)
    EnterDatagramConnected();
  else
    StartStreamConnect();
}

bool TCustomWSocket::CheckConnectable() {
  const char* refusal = nullptr;
  if (hSocket_ >= 0 && state_ != wsClosed)
    refusal = "Connect: Socket already in use";
  else if (!portAssigned_)
    refusal = "Connect: No Port Specified";
  else if (!addrAssigned_)
    refusal = "Connect: No IP Address Specified";
  else if (!protoAssigned_)
    refusal = "Connect: No Protocol Specified";
  if (refusal) RaiseException(refusal);
  return refusal == nullptr;
}

bool TCustomWSocket::SetStreamOptions() {
  SetLingerOption();
  const int on = 1;
  for (const auto& [option, name] : {std::pair{SO_KEEPALIVE, "setsockopt(SO_KEEPALIVE)"},
                                     std::pair{SO_REUSEADDR, "setsockopt(SO_REUSEADDR)"}}) {
    if (::setsockopt(hSocket_, SOL_SOCKET, option, &on, sizeof on) != 0) {
      FailErrno(name);
      return false;
    }
  }
  return true;
}

bool TCustomWSocket::PrepareDatagram() {
  BindSocket();
  const int on = 1;
  if (sin_.ss_family == AF_INET && reinterpret_cast<sockaddr_in&>(sin_).sin_addr.s_addr == INADDR_BROADCAST &&
      ::setsockopt(hSocket_, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0) {
    FailErrno("setsockopt(SO_BROADCAST)");
    return false;
  }
  return true;
}

void TCustomWSocket::StartStreamConnect() {
  int answeredAtOnce = 0;
  if (::connect(hSocket_, reinterpret_cast<sockaddr*>(&sin_), WSocketAddrLen(sin_)) == 0 ||
      errno == EINPROGRESS || errno == EAGAIN) {
    connectWait_ = ConnectWait::Writable;  // completion shows as writability
  } else if (isAsyncConnectError(errno)) {
    answeredAtOnce = WSocketErrorFromErrno(errno);
    connectWait_ = ConnectWait::Posted;
  } else {
    lastError_ = WSocketErrorFromErrno(errno);
    FailWith(lastError_, "Connect");
    return;
  }
  const Watch w(this);
  ChangeState(wsConnecting);
  if (w.Gone()) return;
  UpdateNotifiers();
  ArmAttemptTimer();
  // The platform answered at once (loopback); the outcome still arrives as
  // the connect event, from the event loop, as on a platform that always
  // reports it asynchronously.
  if (answeredAtOnce != 0) PostSelectEvent(FD_CONNECT, answeredAtOnce);
}

void TCustomWSocket::SetLingerOption() {
  if (lingerOnOff_ == wsLingerNoSet) return;
  if (hSocket_ < 0) {
    RaiseException("Cannot set linger option at this time");
    return;
  }
  linger l{};
  l.l_onoff = lingerOnOff_ == wsLingerOn ? 1 : 0;
  l.l_linger = lingerTimeout_;
  if (::setsockopt(hSocket_, SOL_SOCKET, SO_LINGER, &l, sizeof l) != 0) FailErrno("setsockopt(SO_LINGER)");
}

// ---------------------------------------------------------------------------
// Closing

void TCustomWSocket::Close() { InternalClose(true, 0); }

void TCustomWSocket::Abort() {
  const Watch w(this);
  CancelDnsLookup();
  if (w.Deleted()) return;
  DeleteBufferedData();
  if (state_ == wsConnected && type_ == SOCK_STREAM) {
    lingerOnOff_ = wsLingerOff;
    SetLingerOption();
  }
  InternalClose(false, 0);
}

void TCustomWSocket::Shutdown(int how) {
  if (hSocket_ >= 0) ::shutdown(hSocket_, how);
}

// With a positive linger time the platform would make close() wait until the
// peer has taken everything. Wait here instead, pumping events, so that the
// thread never blocks; then close without waiting (drained) or with a reset
// (time is up), as the platform would. False when the component went away.
bool TCustomWSocket::WaitLingerDrain(int fd) {
  linger l{};
  socklen_t len = sizeof l;
  if (type_ != SOCK_STREAM || ::getsockopt(fd, SOL_SOCKET, SO_LINGER, &l, &len) != 0 || !l.l_onoff ||
      l.l_linger <= 0)
    return true;
  const Watch w(this);
  QElapsedTimer t;
  t.start();
  auto outq = [fd] {
    int n = 0;
    return ::ioctl(fd, TIOCOUTQ, &n) == 0 ? n : 0;
  };
  while (!destroying_ && outq() > 0 && t.elapsed() < l.l_linger * 1000LL) {
    ::poll(nullptr, 0, 5);
    MessagePump();
    if (w.Deleted()) {
      ::close(fd);
      return false;
    }
  }
  linger nl{};
  nl.l_onoff = outq() > 0 && !destroying_ ? 1 : 0;
  nl.l_linger = 0;
  ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &nl, sizeof nl);
  return true;
}

void TCustomWSocket::InternalClose(bool shut, uint16_t error) {
  EndRace();
  if (hSocket_ < 0) {
    const Watch w(this);
    if (state_ == wsClosed) return;
    ChangeState(wsClosed);
    if (!w.Deleted()) AssignDefaultValue();
    return;
  }
  if (state_ == wsClosed) return;
  if (shut) {
    SendPendingOnce();
    ::shutdown(hSocket_, SHUT_WR);
  }
  // Released first: a re-entrant close during the linger wait finds nothing to do.
  const int fd = DetachHandle();
  if (!WaitLingerDrain(fd)) return;
  if (::close(fd) != 0 && errno != EINTR) {
    FailErrno("Disconnect (closesocket)");
    return;
  }
  const Watch w(this);
  ChangeState(wsClosed);
  if (w.Deleted()) return;
  if (!destroying_ && !closeInvoked_ && OnSessionClosed) {
    closeInvoked_ = true;
    TriggerSessionClosed(error);
    if (w.Deleted()) return;
  }
  // A handler that connected again owns the fresh state; leave it alone.
  if (w.Gone()) return;
  try {
    AssignDefaultValue();
  } catch (...) {
  }
}

void TCustomWSocket::WaitForClose() {
  const Watch w(this);
  while (!w.Deleted() && hSocket_ >= 0 && state_ != wsClosed) {
    pollfd p{hSocket_, POLLIN, 0};
    ::poll(&p, 1, 10);
    MessagePump();
  }
}

void TCustomWSocket::MessagePump() {
  if (multiThreaded_) QCoreApplication::sendPostedEvents();
  QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void TCustomWSocket::Pause() {
  paused_ = true;
  UpdateNotifiers();
}

void TCustomWSocket::Resume() {
  paused_ = false;
  UpdateNotifiers();
}
