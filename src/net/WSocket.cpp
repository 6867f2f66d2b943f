// TCustomWSocket over non-blocking POSIX sockets. The descriptor is watched
// with QSocketNotifier; its activations are turned into the socket events the
// component expects (connect, read, write, accept, close) and handled one at a
// time on the thread that owns the component.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QSocketNotifier>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <netdb.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <unordered_map>

#include "MessageBox.h"
#include "Text.h"
#include "WSocket.h"

using namespace zorv;

namespace {

int g_socketCount = 0;
bool g_libraryStarted = false;

// Records errno as the thread's last socket error; returns -1 for chaining.
int setErrnoError() {
  WSocketSetLastError(WSocketErrorFromErrno(errno));
  return -1;
}

std::string trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= 32) ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= 32) --e;
  return s.substr(b, e - b);
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Leading blanks, then decimal digits up to the first non-digit; an empty
// digit run gives 0. Wraps silently like the 32-bit reader it stands for.
uint32_t readDigits(const std::string& s) {
  size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  uint32_t v = 0;
  for (; i < s.size() && isDigit(s[i]); ++i) v = v * 10u + static_cast<uint32_t>(s[i] - '0');
  return v;
}

std::string dotted(in_addr_t a) {
  char buf[INET_ADDRSTRLEN] = {};
  in_addr in{};
  in.s_addr = a;
  ::inet_ntop(AF_INET, &in, buf, sizeof buf);
  return buf;
}

// Pending host lookups: request handle -> the notification object that gets
// the result. Workers post only while their handle is registered, under the
// lock, so they never post to an object that is gone; a cancelled or
// superseded request is simply no longer registered.
struct LookupRegistry {
  std::mutex mutex;
  std::unordered_map<int, TSocketWindow*> pending;
  int next = 0;
};
LookupRegistry& lookups() {
  static auto* r = new LookupRegistry;  // never freed: workers may outlive statics
  return *r;
}

void lookupWorker(int handle, std::string name, bool reverse) {
  TSocketMessage m;
  m.Msg = reverse ? WM_ASYNCGETHOSTBYADDR : WM_ASYNCGETHOSTBYNAME;
  m.WParam = handle;
  if (!reverse) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* res = nullptr;
    int rc = ::getaddrinfo(name.c_str(), nullptr, &hints, &res);
    if (rc != 0) {
      m.Error = WSocketErrorFromGai(rc);
    } else {
      for (addrinfo* p = res; p; p = p->ai_next) {
        if (p->ai_family != AF_INET) continue;
        m.Results.push_back(dotted(reinterpret_cast<sockaddr_in*>(p->ai_addr)->sin_addr.s_addr));
      }
      ::freeaddrinfo(res);
      if (m.Results.empty()) m.Error = WSANO_DATA;
    }
  } else {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = ::inet_addr(name.c_str());
    if (sa.sin_addr.s_addr == INADDR_NONE && name != "255.255.255.255") {
      m.Error = WSAEINVAL;
    } else {
      char host[NI_MAXHOST] = {};
      int rc = ::getnameinfo(reinterpret_cast<sockaddr*>(&sa), sizeof sa, host, sizeof host,
                             nullptr, 0, NI_NAMEREQD);
      if (rc != 0)
        m.Error = WSocketErrorFromGai(rc);
      else
        m.Results.push_back(host);
    }
  }
  LookupRegistry& r = lookups();
  std::lock_guard<std::mutex> lock(r.mutex);
  auto it = r.pending.find(handle);
  if (it != r.pending.end()) {
    TSocketWindow* w = it->second;
    r.pending.erase(it);
    w->Post(m);
  }
}

void forgetLookup(int handle) {
  if (handle == 0) return;
  LookupRegistry& r = lookups();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.pending.erase(handle);
}

class TSocketEvent : public QEvent {
 public:
  explicit TSocketEvent(const TSocketMessage& m) : QEvent(TSocketWindow::EventTypeFor(m.Msg)), msg(m) {}
  TSocketMessage msg;
};

bool isAsyncConnectError(int err) {
  return err == ECONNREFUSED || err == ETIMEDOUT || err == ENETUNREACH || err == EHOSTUNREACH ||
         err == ECONNRESET;
}

}  // namespace

// ---------------------------------------------------------------------------
// Resolution helpers

namespace zorv {

int WSocketResolveProto(const std::string& proto) {
  if (proto.empty() || proto.size() >= 32)
    throw ESocketException("WSocketResolveProto: Invalid Protocol.");
  std::string t = trim(proto);
  if (!t.empty() && isDigit(t[0])) return static_cast<int>(readDigits(t));
  protoent pe{}, *res = nullptr;
  char buf[1024];
  if (::getprotobyname_r(t.c_str(), &pe, buf, sizeof buf, &res) != 0 || !res)
    throw ESocketException("WSocketResolveProto: Cannot convert protocol '" + proto + "'");
  return res->p_proto;
}

int WSocketResolvePort(const std::string& port, const std::string& proto) {
  if (port.empty() || port.size() >= 32) throw ESocketException("WSocketResolvePort: Invalid Port.");
  if (isDigit(port[0])) return static_cast<int>(readDigits(port) % 65536u);
  std::string name = trim(port), p = trim(proto);
  servent se{}, *res = nullptr;
  char buf[1024];
  if (::getservbyname_r(name.c_str(), p.empty() ? nullptr : p.c_str(), &se, buf, sizeof buf, &res) != 0 ||
      !res)
    throw ESocketException("WSocketResolvePort: Cannot convert port '" + port + "'");
  return ntohs(static_cast<uint16_t>(res->s_port));
}

uint32_t WSocketResolveHost(const std::string& addr) {
  if (addr.empty() || addr.size() > 256) throw ESocketException("WSocketResolveHost: Invalid Hostname.");
  std::string t = trim(addr).substr(0, 255);
  in_addr_t a = ::inet_addr(t.c_str());
  if (a != INADDR_NONE) return a;
  if (t == "255.255.255.255") return INADDR_BROADCAST;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* res = nullptr;
  if (!t.empty() && ::getaddrinfo(t.c_str(), nullptr, &hints, &res) == 0 && res) {
    uint32_t r = reinterpret_cast<sockaddr_in*>(res->ai_addr)->sin_addr.s_addr;
    ::freeaddrinfo(res);
    return r;
  }
  throw ESocketException("WSocketResolveHost: Cannot convert host address '" + addr + "'");
}

// ---------------------------------------------------------------------------
// The hidden notification object

TSocketWindow::TSocketWindow(TCustomWSocket* owner) : owner_(owner) {
  setObjectName(QStringLiteral("XSocketWindowClass"));
}

QEvent::Type TSocketWindow::EventTypeFor(int msg) {
  return static_cast<QEvent::Type>(QEvent::User + msg);
}

void TSocketWindow::Post(const TSocketMessage& msg) {
  QCoreApplication::postEvent(this, new TSocketEvent(msg));
}

void TSocketWindow::Run(const std::function<void(TCustomWSocket*)>& f) {
  if (!owner_) return;
  ++depth_;
  try {
    f(owner_);
  } catch (const std::exception& e) {
    showMessageBox(toDisplay(e.what()));
  } catch (...) {
    showMessageBox(QStringLiteral("Unknown error in socket notification"));
  }
  --depth_;
}

bool TSocketWindow::event(QEvent* e) {
  const int t = static_cast<int>(e->type());
  if (t >= QEvent::User + WM_ASYNCSELECT && t <= QEvent::User + WM_TRIGGER_DATA_AVAILABLE) {
    auto* se = static_cast<TSocketEvent*>(e);
    Run([se](TCustomWSocket* s) { s->WndProc(se->msg); });
    return true;
  }
  return QObject::event(e);
}

}  // namespace zorv

// ---------------------------------------------------------------------------
// TBuffer

TBuffer::TBuffer(int size) : buf_(static_cast<size_t>(size > 0 ? size : 1514)) {}

int TBuffer::Write(const void* data, int len) {
  int n = std::min(BufSize() - wrCount_, len);
  if (n <= 0) return 0;
  std::memcpy(buf_.data() + wrCount_, data, static_cast<size_t>(n));
  wrCount_ += n;
  return n;
}

const char* TBuffer::Peek(int& len) const {
  len = wrCount_ - rdCount_;
  return buf_.data() + rdCount_;
}

int TBuffer::Remove(int len) {
  int n = std::max(0, std::min(len, wrCount_ - rdCount_));
  rdCount_ += n;
  if (rdCount_ >= wrCount_) rdCount_ = wrCount_ = 0;
  return n;
}

void TBuffer::SetBufSize(int newSize) {
  if (newSize <= 0) newSize = 1514;
  int unsent = wrCount_ - rdCount_;
  if (unsent > 0) {
    std::memmove(buf_.data(), buf_.data() + rdCount_, static_cast<size_t>(unsent));
    buf_.resize(static_cast<size_t>(std::max(newSize, unsent)));
    rdCount_ = 0;
    wrCount_ = unsent;
  } else {
    buf_.assign(static_cast<size_t>(newSize), 0);
    rdCount_ = wrCount_ = 0;
  }
}

// ---------------------------------------------------------------------------
// Construction and destruction

TCustomWSocket::TCustomWSocket(QObject* owner) : QObject(owner) {
  window_ = new TSocketWindow(this);
  AssignDefaultValue();
  ++g_socketCount;
  g_libraryStarted = true;  // nothing to start on this platform
}

TCustomWSocket::~TCustomWSocket() {
  destroying_ = true;
  // The owner is usually being torn down as well: call none of its handlers.
  OnDnsLookupDone = OnSessionConnected = OnSessionClosed = OnDataAvailable = OnDataSent =
      OnSessionAvailable = nullptr;
  OnChangeState = nullptr;
  OnError = nullptr;
  try {
    CancelDnsLookup();
  } catch (...) {
  }
  forgetLookup(dnsRequest_);
  if (state_ != wsClosed) {
    try {
      Close();
    } catch (...) {
    }
  }
  ReleaseNotifiers();
  if (hSocket_ >= 0) ::close(hSocket_);
  hSocket_ = -1;
  if (--g_socketCount <= 0 && g_libraryStarted) {
    g_libraryStarted = false;
    g_socketCount = 0;
  }
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
  sin_.sin_family = AF_INET;
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

int TCustomWSocket::BufferedByteCount() const {
  int n = 0;
  for (const auto& b : bufList_) n += b->WrCount() - b->RdCount();
  return n;
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
  const std::string text = "Error " + std::to_string(e) + " in function " + function + "\r\n" +
                           WSocketErrorDesc(e);
  if (e == WSAECONNRESET || e == WSAENOTCONN) {
    if (hSocket_ >= 0) CloseHandleNow(hSocket_);
    hSocket_ = -1;
    QPointer<TCustomWSocket> self(this);
    ChangeState(wsClosed);
    if (!self) throw ESocketException(text);
  }
  lastError_ = e;
  RaiseException(text);
}

void TCustomWSocket::ChangeState(TSocketState newState) {
  TSocketState old = state_;
  state_ = newState;
  TriggerChangeState(old, newState);
}

bool TCustomWSocket::TriggerDataAvailable(uint16_t error) {
  if (!OnDataAvailable) return false;
  QPointer<TCustomWSocket> self(this);
  ++inDataHandler_;
  try {
    OnDataAvailable(this, error);
  } catch (...) {
    if (self) --inDataHandler_;
    throw;
  }
  if (self) --inDataHandler_;
  return true;
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
// Host lookup

// What both lookups do first: refuse an empty name, drop a pending lookup and
// the last result. False when the name was refused.
bool TCustomWSocket::BeginLookup(const std::string& name) {
  if (name.empty()) {
    RaiseException("DNS lookup: invalid host name.");
    TriggerDnsLookupDone(WSAEINVAL);
    return false;
  }
  if (dnsRequest_ != 0) {
    forgetLookup(dnsRequest_);
    dnsRequest_ = 0;
  }
  dnsResult_.clear();
  dnsResultList_.clear();
  return true;
}

void TCustomWSocket::DnsLookup(const std::string& hostName) {
  if (!BeginLookup(hostName)) return;
  in_addr_t a = ::inet_addr(hostName.c_str());
  if (a != INADDR_NONE) {
    dnsResult_ = dotted(a);
    TriggerDnsLookupDone(0);
    return;
  }
  StartLookup(hostName, false);
}

void TCustomWSocket::ReverseDnsLookup(const std::string& hostAddr) {
  if (!BeginLookup(hostAddr)) return;
  StartLookup(hostAddr, true);
}

void TCustomWSocket::StartLookup(const std::string& name, bool reverse) {
  LookupRegistry& r = lookups();
  int handle;
  {
    std::lock_guard<std::mutex> lock(r.mutex);
    do {
      r.next = r.next == INT32_MAX ? 1 : r.next + 1;
    } while (r.pending.count(r.next));
    handle = r.next;
    r.pending[handle] = window_;
  }
  try {
    std::thread(lookupWorker, handle, name, reverse).detach();
  } catch (const std::system_error& e) {
    forgetLookup(handle);
    RaiseException(name + ": can't start DNS lookup, error #" + std::to_string(e.code().value()));
    return;
  }
  dnsRequest_ = handle;
}

void TCustomWSocket::CancelDnsLookup() {
  if (dnsRequest_ == 0) return;
  forgetLookup(dnsRequest_);
  dnsRequest_ = 0;
  if (!destroying_) TriggerDnsLookupDone(WSAEINTR);
}

void TCustomWSocket::HandleLookupDone(TSocketMessage& msg) {
  if (msg.WParam != dnsRequest_ || dnsRequest_ == 0) return;
  dnsRequest_ = 0;
  if (msg.Error == 0) {
    if (msg.Msg == WM_ASYNCGETHOSTBYNAME) {
      dnsResultList_ = msg.Results;
      dnsResult_ = dnsResultList_.empty() ? std::string() : dnsResultList_.front();
    } else {
      dnsResult_ = msg.Results.empty() ? std::string() : msg.Results.front();
      dnsResultList_.assign(1, dnsResult_);
    }
  }
  if (!destroying_) TriggerDnsLookupDone(static_cast<uint16_t>(msg.Error));
}

// ---------------------------------------------------------------------------
// Notifications

void TCustomWSocket::WndProc(TSocketMessage& msg) {
  if (msg.Msg == WM_ASYNCGETHOSTBYNAME || msg.Msg == WM_ASYNCGETHOSTBYADDR) {
    HandleLookupDone(msg);
    return;
  }
  if (msg.Msg != WM_ASYNCSELECT) return;
  if (msg.WParam != hSocket_ || msg.Session != session_ || hSocket_ < 0 || paused_) return;

  QPointer<TCustomWSocket> self(this);
  const uint64_t session = msg.Session;
  // After a handler ran, the component may be gone, closed or reconnected.
  auto gone = [&] { return !self || session != session_; };
  // Whatever a handler does, even throw, the notifications are set up again.
  struct Rearm {
    QPointer<TCustomWSocket>& self;
    uint64_t session;
    ~Rearm() {
      if (self && self->session_ == session) self->UpdateNotifiers();
    }
  } rearm{self, session};
  const uint16_t error = static_cast<uint16_t>(msg.Error);
  const int ev = msg.EventBits;

  if (ev & FD_CONNECT) {
    connectPending_ = 0;
    ChangeState(wsConnected);
    if (gone()) return;
    TriggerSessionConnected(error);
    if (gone()) return;
    if (error != 0 && state_ != wsClosed) Close();
    if (gone()) return;
  }
  if (ev & FD_READ) {
    ASyncReceive(error, /*drain=*/false);
    if (gone()) return;
  }
  if (ev & FD_WRITE) {
    TryToSend();
    if (gone()) return;
    if (allSent_ && OnDataSent) TriggerDataSent(error);
    if (gone()) return;
  }
  if (ev & FD_ACCEPT) {
    TriggerSessionAvailable(error);
    if (gone()) return;
  }
  if (ev & FD_CLOSE) {
    if (state_ != wsConnecting) {
      ASyncReceive(0, /*drain=*/true);
      if (gone()) return;
      if (OnSessionClosed && !closeInvoked_) {
        closeInvoked_ = true;
        TriggerSessionClosed(lostError_ != 0 ? static_cast<uint16_t>(lostError_) : error);
        if (gone()) return;
      }
      if (state_ != wsClosed) Close();
      if (gone()) return;
    }
  }
}

bool TCustomWSocket::AsyncSelect(int mask) {
  ReleaseNotifiers();
  selectMask_ = mask;
  if (mask == 0 || hSocket_ < 0) return hSocket_ >= 0;
  const uint64_t session = session_;
  TSocketWindow* w = window_;
  readNotifier_ = new QSocketNotifier(hSocket_, QSocketNotifier::Read, w);
  readNotifier_->setEnabled(false);
  QObject::connect(readNotifier_, &QSocketNotifier::activated, w, [w, session] {
    w->Run([session](TCustomWSocket* s) { s->OnReadReady(session); });
  });
  writeNotifier_ = new QSocketNotifier(hSocket_, QSocketNotifier::Write, w);
  writeNotifier_->setEnabled(false);
  QObject::connect(writeNotifier_, &QSocketNotifier::activated, w, [w, session] {
    w->Run([session](TCustomWSocket* s) { s->OnWriteReady(session); });
  });
  UpdateNotifiers();
  return true;
}

void TCustomWSocket::ReleaseNotifiers() {
  for (QSocketNotifier** n : {&readNotifier_, &writeNotifier_}) {
    if (*n) {
      (*n)->setEnabled(false);
      (*n)->deleteLater();
      *n = nullptr;
    }
  }
}

void TCustomWSocket::UpdateNotifiers() {
  if (hSocket_ < 0) return;
  bool unsent = false;
  for (const auto& b : bufList_)
    if (b->WrCount() > b->RdCount()) unsent = true;
  const bool wantRead = !paused_ && connectPending_ == 0 && !readBlocked_ && !closeSeen_ &&
                        (selectMask_ & (FD_READ | FD_ACCEPT | FD_CLOSE)) != 0;
  const bool wantWrite =
      !paused_ && lostError_ == 0 && (connectPending_ == 1 || ((selectMask_ & FD_WRITE) != 0 && unsent));
  if (readNotifier_ && readNotifier_->isEnabled() != wantRead) readNotifier_->setEnabled(wantRead);
  if (writeNotifier_ && writeNotifier_->isEnabled() != wantWrite) writeNotifier_->setEnabled(wantWrite);
}

void TCustomWSocket::OnReadReady(uint64_t session) {
  if (session != session_ || hSocket_ < 0 || paused_) return;
  const int fd = hSocket_;
  TSocketMessage m;
  m.Msg = WM_ASYNCSELECT;
  m.WParam = fd;
  m.Session = session;
  if (state_ == wsListening && type_ == SOCK_STREAM) {
    m.EventBits = FD_ACCEPT;
  } else if (type_ == SOCK_DGRAM) {
    m.EventBits = FD_READ;
  } else {
    int waiting = 0;
    if (::ioctl(fd, FIONREAD, &waiting) == 0 && waiting > 0) {
      m.EventBits = FD_READ;
    } else {
      char c;
      ssize_t r = ::recv(fd, &c, 1, MSG_PEEK | MSG_DONTWAIT);
      if (r > 0) {
        m.EventBits = FD_READ;
      } else if (r == 0) {
        m.EventBits = FD_CLOSE;
      } else if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
        return;
      } else {
        m.EventBits = FD_CLOSE;
        m.Error = WSocketErrorFromErrno(errno);
      }
    }
  }
  if (m.EventBits & FD_CLOSE) closeSeen_ = true;
  const uint64_t before = receiveCalls_;
  QPointer<TCustomWSocket> self(this);
  WndProc(m);
  if (!self || session != session_) return;
  // Nothing was taken: the descriptor stays readable, so wait for the next
  // receive before listening again instead of spinning.
  if ((m.EventBits & (FD_READ | FD_ACCEPT)) && receiveCalls_ == before) readBlocked_ = true;
  UpdateNotifiers();
}

void TCustomWSocket::OnWriteReady(uint64_t session) {
  if (session != session_ || hSocket_ < 0 || paused_) return;
  TSocketMessage m;
  m.Msg = WM_ASYNCSELECT;
  m.WParam = hSocket_;
  m.Session = session;
  if (connectPending_ == 1) {
    int soerr = 0;
    socklen_t len = sizeof soerr;
    if (::getsockopt(hSocket_, SOL_SOCKET, SO_ERROR, &soerr, &len) != 0) soerr = errno;
    m.EventBits = FD_CONNECT;
    m.Error = WSocketErrorFromErrno(soerr);
    connectPending_ = 0;
  } else {
    m.EventBits = FD_WRITE;
  }
  if (writeNotifier_) writeNotifier_->setEnabled(false);
  QPointer<TCustomWSocket> self(this);
  WndProc(m);
  if (!self || session != session_) return;
  UpdateNotifiers();
}

void TCustomWSocket::NoteReceiveCall() {
  ++receiveCalls_;
  if (readBlocked_) {
    readBlocked_ = false;
    UpdateNotifiers();
  }
}

void TCustomWSocket::CloseHandleNow(int fd) {
  ReleaseNotifiers();
  ::close(fd);
  ++session_;
  connectPending_ = 0;
}

// ---------------------------------------------------------------------------
// Connect

void TCustomWSocket::ResolveAll() {
  if (!protoResolved_) {
    proto_ = WSocketResolveProto(protoStr_);
    type_ = proto_ == IPPROTO_UDP ? SOCK_DGRAM : SOCK_STREAM;
    protoResolved_ = true;
  }
  if (!portResolved_) {
    portNum_ = WSocketResolvePort(portStr_, protoStr_);
    sin_.sin_port = htons(static_cast<uint16_t>(portNum_));
    portResolved_ = true;
  }
  if (!addrResolved_) {
    sin_.sin_family = AF_INET;
    sin_.sin_addr.s_addr = WSocketResolveHost(addrStr_);
    addrResolved_ = true;
  }
}

void TCustomWSocket::Connect() {
  if (hSocket_ >= 0 && state_ != wsClosed) {
    RaiseException("Connect: Socket already in use");
    return;
  }
  if (!portAssigned_) {
    RaiseException("Connect: No Port Specified");
    return;
  }
  if (!addrAssigned_) {
    RaiseException("Connect: No IP Address Specified");
    return;
  }
  if (!protoAssigned_) {
    RaiseException("Connect: No Protocol Specified");
    return;
  }
  try {
    ResolveAll();
  } catch (const std::exception& e) {
    RaiseException(std::string("connect:") + e.what());
    return;
  }
  DeleteBufferedData();

  int fd = ::socket(AF_INET, type_ | SOCK_NONBLOCK | SOCK_CLOEXEC, proto_);
  if (fd < 0) {
    setErrnoError();
    SocketError("Connect (socket)");
    return;
  }
  if (hSocket_ >= 0) CloseHandleNow(hSocket_);  // a leftover handle of a closed socket
  hSocket_ = fd;
  ++session_;
  const uint64_t session = session_;
  connectPending_ = 0;
  closeSeen_ = readBlocked_ = false;
  lostError_ = 0;
  QPointer<TCustomWSocket> self(this);
  auto gone = [&] { return !self || session != session_; };

  ChangeState(wsOpened);
  if (gone()) return;
  if (type_ == SOCK_STREAM) {
    SetLingerOption();
    int on = 1;
    if (::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) != 0) {
      setErrnoError();
      SocketError("setsockopt(SO_KEEPALIVE)");
      return;
    }
    if (::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) {
      setErrnoError();
      SocketError("setsockopt(SO_REUSEADDR)");
      return;
    }
  } else {
    BindSocket();
    if (sin_.sin_addr.s_addr == INADDR_BROADCAST) {
      int on = 1;
      if (::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0) {
        setErrnoError();
        SocketError("setsockopt(SO_BROADCAST)");
        return;
      }
    }
  }
  if (!AsyncSelect(FD_READ | FD_WRITE | FD_ACCEPT | FD_CONNECT | FD_CLOSE)) {
    WSocketSetLastError(WSAENOTSOCK);
    SocketError("WSAAsyncSelect");
    return;
  }
  if (type_ == SOCK_DGRAM) {
    ChangeState(wsConnected);
    if (gone()) return;
    TriggerSessionConnected(0);
    return;
  }
  if (::connect(fd, reinterpret_cast<sockaddr*>(&sin_), sizeof sin_) == 0 || errno == EINPROGRESS ||
      errno == EAGAIN) {
    connectPending_ = 1;  // completion shows as writability
    ChangeState(wsConnecting);
    if (gone()) return;
    UpdateNotifiers();
  } else if (isAsyncConnectError(errno)) {
    // The platform answered at once (loopback); the outcome still arrives as
    // the connect event, from the event loop, as on a platform that always
    // reports it asynchronously.
    TSocketMessage m;
    m.Msg = WM_ASYNCSELECT;
    m.WParam = fd;
    m.Session = session;
    m.EventBits = FD_CONNECT;
    m.Error = WSocketErrorFromErrno(errno);
    connectPending_ = 2;
    ChangeState(wsConnecting);
    if (gone()) return;
    UpdateNotifiers();
    window_->Post(m);
  } else {
    lastError_ = WSocketErrorFromErrno(errno);
    WSocketSetLastError(lastError_);
    SocketError("Connect");
  }
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
  if (::setsockopt(hSocket_, SOL_SOCKET, SO_LINGER, &l, sizeof l) != 0) {
    setErrnoError();
    SocketError("setsockopt(SO_LINGER)");
  }
}

void TCustomWSocket::BindSocket() {
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(INADDR_ANY);
  local.sin_port = 0;
  if (::bind(hSocket_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
    RaiseException("winsock.bind failed, error #" + std::to_string(WSocketErrorFromErrno(errno)));
    return;
  }
  socklen_t len = sizeof local;
  if (::getsockname(hSocket_, reinterpret_cast<sockaddr*>(&local), &len) != 0) {
    RaiseException("winsock.getsockname failed, error #" + std::to_string(WSocketErrorFromErrno(errno)));
    return;
  }
  localPortNum_ = ntohs(local.sin_port);
}

// ---------------------------------------------------------------------------
// Receiving

void TCustomWSocket::ASyncReceive(uint16_t error, bool drain) {
  QPointer<TCustomWSocket> self(this);
  const uint64_t session = session_;
  // A peer that sends faster than the handlers take its bytes would keep a
  // read notification going for ever and freeze the window. Past a time
  // slice the loop yields to the event loop; the descriptor is still
  // readable, so the next read notification carries on where this one ends.
  // At a close everything left is drained, so it all comes before the close.
  const auto sliceEnd = std::chrono::steady_clock::now() + kReadSlice;
  try {
    for (;;) {
      lastError_ = 0;
      const uint64_t before = receiveCalls_;
      if (!TriggerDataAvailable(error)) {
        if (!self || session != session_) return;
        char buf[1024];
        if (DoRecv(buf, sizeof buf, 0) < 0) {
          const int e = WSocketGetLastError();
          if (e == WSAEWOULDBLOCK) {
            lastError_ = 0;
            break;
          }
          lastError_ = e;
        }
      }
      if (!self || session != session_) return;
      if (lastError_ != 0) break;
      // A handler that took nothing would keep this loop going for ever.
      if (receiveCalls_ == before) break;
      if (RcvdCount() <= 0) break;
      if (!drain && std::chrono::steady_clock::now() >= sliceEnd) break;
    }
  } catch (...) {
    // An error in the loop or in the handler ends the loop and goes no further.
  }
}

int TCustomWSocket::DoRecv(void* buf, int len, int flags) {
  NoteReceiveCall();
  if (hSocket_ < 0) {
    WSocketSetLastError(WSAENOTSOCK);
    return -1;
  }
  ssize_t n = ::recv(hSocket_, buf, static_cast<size_t>(std::max(len, 0)), flags);
  if (n < 0) return setErrnoError();
  return static_cast<int>(n);
}

int TCustomWSocket::Receive(void* buf, int size) {
  int n = DoRecv(buf, size, 0);
  if (n < 0)
    lastError_ = WSocketGetLastError();
  else
    readCount_ += n;
  return n;
}

std::string TCustomWSocket::ReceiveStr() {
  int count = RcvdCount();
  if (count <= 0) return std::string();
  std::string s(static_cast<size_t>(count), '\0');
  int n = DoRecv(s.data(), count, 0);
  if (n <= 0) return std::string();
  s.resize(static_cast<size_t>(n));
  return s;
}

int TCustomWSocket::ReceiveFrom(void* buf, int size, sockaddr_in& from, int& fromLen) {
  NoteReceiveCall();
  socklen_t len = sizeof from;
  ssize_t n = hSocket_ < 0 ? (errno = EBADF, -1)
                           : ::recvfrom(hSocket_, buf, static_cast<size_t>(std::max(size, 0)), 0,
                                        reinterpret_cast<sockaddr*>(&from), &len);
  if (n < 0) {
    setErrnoError();
    lastError_ = WSocketGetLastError();
    return -1;
  }
  fromLen = static_cast<int>(len);
  readCount_ += static_cast<int>(n);
  return static_cast<int>(n);
}

int TCustomWSocket::RcvdCount() {
  int waiting = 0;
  if (hSocket_ < 0 || ::ioctl(hSocket_, FIONREAD, &waiting) != 0) {
    if (hSocket_ < 0) errno = EBADF;
    setErrnoError();
    SocketError("ioctlSocket");
    return -1;
  }
  return waiting;
}

// ---------------------------------------------------------------------------
// Sending

int TCustomWSocket::Send(const void* data, int len) {
  if (state_ != wsConnected) {
    WSocketSetLastError(WSAENOTCONN);
    SocketError("Send");
    return -1;
  }
  allSent_ = false;
  int result = 0;
  if (len > 0) {
    const char* p = static_cast<const char*>(data);
    if (bufList_.empty()) bufList_.push_back(std::make_unique<TBuffer>(bufSize_));
    int n = bufList_.back()->Write(p, len);
    while (n < len) {
      bufList_.push_back(std::make_unique<TBuffer>(bufSize_));
      n += bufList_.back()->Write(p + n, len - n);
    }
    result = len;
  }
  QPointer<TCustomWSocket> self(this);
  const uint64_t session = session_;
  TryToSend();
  if (!self) return result;
  if (allSent_ && session == session_ && hSocket_ >= 0) {
    TSocketMessage m;
    m.Msg = WM_ASYNCSELECT;
    m.WParam = hSocket_;
    m.Session = session_;
    m.EventBits = FD_WRITE;
    window_->Post(m);
  }
  return result;
}

int TCustomWSocket::SendStr(const std::string& s) { return Send(s.data(), static_cast<int>(s.size())); }

int TCustomWSocket::RealSend(const void* data, int len) {
  const int flags = MSG_NOSIGNAL | (sendFlags_ == 1 ? MSG_OOB : 0);
  ssize_t n;
  if (type_ == SOCK_DGRAM)
    n = ::sendto(hSocket_, data, static_cast<size_t>(len), flags, reinterpret_cast<sockaddr*>(&sin_),
                 sizeof sin_);
  else
    n = ::send(hSocket_, data, static_cast<size_t>(len), flags);
  if (n < 0) return setErrnoError();
  return static_cast<int>(n);
}

void TCustomWSocket::TryToSend() {
  if (hSocket_ < 0 || bufList_.empty() || lostError_ != 0) return;
  QPointer<TCustomWSocket> self(this);
  for (;;) {
    int len = 0;
    const char* p = bufList_.front()->Peek(len);
    if (len <= 0) {
      if (bufList_.size() > 1) {
        bufList_.pop_front();
        continue;
      }
      allSent_ = true;
      break;
    }
    int n = RealSend(p, len);
    if (n == 0) break;
    if (n > 0) {
      bufList_.front()->Remove(n);
      if (n < len) break;  // the rest goes when the socket is writable again
      continue;
    }
    const int e = WSocketGetLastError();
    if (e == WSAECONNRESET || e == WSAENOTSOCK || e == WSAENOTCONN || e == WSAEINVAL) {
      ConnectionLost(e);
      return;
    }
    if (e == WSAEWOULDBLOCK) break;
    SocketError("TryToSend failed");
    return;
  }
  UpdateNotifiers();
}

// One pass of plain sends over the queue, raising nothing: what the platform
// takes now goes out before a close.
int TCustomWSocket::SendPendingOnce() {
  int sent = 0;
  while (hSocket_ >= 0 && !bufList_.empty()) {
    int len = 0;
    const char* p = bufList_.front()->Peek(len);
    if (len <= 0) {
      if (bufList_.size() == 1) break;
      bufList_.pop_front();
      continue;
    }
    int n = RealSend(p, len);
    if (n <= 0) break;
    bufList_.front()->Remove(n);
    sent += n;
    if (n < len) break;
  }
  return sent;
}

// The connection failed under a send. What the peer sent before it went away
// may still wait to be read, or a data handler may be working through it:
// that comes first. The close then goes through the event loop as a close
// notification carrying the error, which drains the rest before the
// session-closed event. With nothing to deliver it happens at once.
void TCustomWSocket::ConnectionLost(int error) {
  int waiting = 0;
  if (!paused_ && hSocket_ >= 0 &&
      (inDataHandler_ > 0 || (::ioctl(hSocket_, FIONREAD, &waiting) == 0 && waiting > 0))) {
    lostError_ = error;
    TSocketMessage m;
    m.Msg = WM_ASYNCSELECT;
    m.WParam = hSocket_;
    m.Session = session_;
    m.EventBits = FD_CLOSE;
    m.Error = error;
    window_->Post(m);
    UpdateNotifiers();
    return;
  }
  QPointer<TCustomWSocket> self(this);
  closeInvoked_ = true;
  Close();
  if (!self) return;
  TriggerSessionClosed(static_cast<uint16_t>(error));
}

void TCustomWSocket::DeleteBufferedData() {
  bufList_.clear();
}

void TCustomWSocket::Flush() {
  QPointer<TCustomWSocket> self(this);
  QElapsedTimer t;
  t.start();
  while (hSocket_ >= 0 && BufferedByteCount() > 0) {
    TryToSend();
    if (!self) return;
    if (hSocket_ < 0 || BufferedByteCount() == 0) break;
    pollfd p{hSocket_, POLLOUT, 0};
    ::poll(&p, 1, 10);
    MessagePump();
    if (!self) return;
  }
}

// ---------------------------------------------------------------------------
// Closing

void TCustomWSocket::Close() { InternalClose(true, 0); }

void TCustomWSocket::Abort() {
  QPointer<TCustomWSocket> self(this);
  CancelDnsLookup();
  if (!self) return;
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
  QPointer<TCustomWSocket> self(this);
  QElapsedTimer t;
  t.start();
  auto outq = [fd] {
    int n = 0;
    return ::ioctl(fd, TIOCOUTQ, &n) == 0 ? n : 0;
  };
  while (!destroying_ && outq() > 0 && t.elapsed() < l.l_linger * 1000LL) {
    ::poll(nullptr, 0, 5);
    MessagePump();
    if (!self) {
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
  QPointer<TCustomWSocket> self(this);
  if (hSocket_ < 0) {
    if (state_ != wsClosed) {
      ChangeState(wsClosed);
      if (!self) return;
      AssignDefaultValue();
    }
    return;
  }
  if (state_ == wsClosed) return;

  const int fd = hSocket_;
  if (shut) {
    SendPendingOnce();
    ::shutdown(fd, SHUT_WR);
  }
  ReleaseNotifiers();
  hSocket_ = -1;  // a re-entrant close during the linger wait finds nothing to do
  ++session_;
  connectPending_ = 0;
  if (!WaitLingerDrain(fd)) return;
  if (::close(fd) != 0 && errno != EINTR) {
    setErrnoError();
    lastError_ = WSocketGetLastError();
    SocketError("Disconnect (closesocket)");
    return;
  }
  const uint64_t session = session_;
  ChangeState(wsClosed);
  if (!self) return;
  if (!destroying_ && !closeInvoked_ && OnSessionClosed) {
    closeInvoked_ = true;
    TriggerSessionClosed(error);
    if (!self) return;
  }
  // A handler that connected again owns the fresh state; leave it alone.
  if (session != session_) return;
  try {
    AssignDefaultValue();
  } catch (...) {
  }
}

void TCustomWSocket::WaitForClose() {
  QPointer<TCustomWSocket> self(this);
  while (self && hSocket_ >= 0 && state_ != wsClosed) {
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

// ---------------------------------------------------------------------------
// Server side

void TCustomWSocket::Listen() {
  if (!portAssigned_) {
    WSocketSetLastError(WSAEINVAL);
    SocketError("listen: port not assigned");
    return;
  }
  if (!protoAssigned_) {
    WSocketSetLastError(WSAEINVAL);
    SocketError("listen: protocol not assigned");
    return;
  }
  if (!addrAssigned_) {
    WSocketSetLastError(WSAEINVAL);
    SocketError("listen: address not assigned");
    return;
  }
  try {
    ResolveAll();
  } catch (const std::exception& e) {
    RaiseException(std::string("listen:") + e.what());
    return;
  }
  int fd = ::socket(AF_INET, type_ | SOCK_NONBLOCK | SOCK_CLOEXEC, proto_);
  if (fd < 0) {
    setErrnoError();
    SocketError("socket");
    return;
  }
  if (hSocket_ >= 0) CloseHandleNow(hSocket_);
  hSocket_ = fd;
  ++session_;
  const uint64_t session = session_;
  connectPending_ = 0;
  closeSeen_ = readBlocked_ = false;
  lostError_ = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&sin_), sizeof sin_) != 0) {
    setErrnoError();
    SocketError("Bind");
    return;
  }
  if (type_ == SOCK_STREAM && ::listen(fd, 5) != 0) {
    setErrnoError();
    SocketError("Listen");
    return;
  }
  if (!AsyncSelect(FD_READ | FD_WRITE | FD_ACCEPT | FD_CLOSE)) {
    WSocketSetLastError(WSAENOTSOCK);
    SocketError("WSAASyncSelect");
    return;
  }
  QPointer<TCustomWSocket> self(this);
  auto gone = [&] { return !self || session != session_; };
  ChangeState(wsBound);
  if (gone()) return;
  ChangeState(wsListening);
  if (gone()) return;
  if (type_ == SOCK_DGRAM) {
    ChangeState(wsConnected);
    if (gone()) return;
    TriggerSessionConnected(0);
    return;
  }
  UpdateNotifiers();
}

int TCustomWSocket::Accept() {
  if (state_ != wsListening) {
    WSocketSetLastError(WSAEINVAL);
    SocketError("not a listening socket");
    return -1;
  }
  NoteReceiveCall();
  sockaddr_in peer{};
  socklen_t len = sizeof peer;
  int fd = ::accept4(hSocket_, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (fd < 0) {
    setErrnoError();
    SocketError("Accept");
    return -1;
  }
  return fd;
}

void TCustomWSocket::Dup(int newHSocket) {
  if (newHSocket <= 0) {
    WSocketSetLastError(WSAEINVAL);
    SocketError("Dup");
    return;
  }
  if (hSocket_ >= 0 && hSocket_ != newHSocket) {
    const int old = hSocket_;
    ReleaseNotifiers();
    hSocket_ = -1;
    ++session_;
    if (::close(old) != 0 && errno != EINTR) {
      setErrnoError();
      SocketError("Dup (closesocket)");
      return;
    }
  }
  hSocket_ = newHSocket;
  ++session_;
  const uint64_t session = session_;
  connectPending_ = 0;
  closeSeen_ = readBlocked_ = false;
  lostError_ = 0;
  type_ = SOCK_STREAM;
  ::fcntl(newHSocket, F_SETFL, ::fcntl(newHSocket, F_GETFL) | O_NONBLOCK);
  QPointer<TCustomWSocket> self(this);
  SetLingerOption();
  if (!self || session != session_) return;
  if (!AsyncSelect(FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE)) {
    WSocketSetLastError(WSAENOTSOCK);
    SocketError("WSAAsyncSelect");
    return;
  }
  ChangeState(wsConnected);
}

// ---------------------------------------------------------------------------
// Addresses

std::string TCustomWSocket::GetPeerAddr() {
  if (state_ == wsConnected && hSocket_ >= 0) {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    if (::getpeername(hSocket_, reinterpret_cast<sockaddr*>(&a), &len) == 0) return dotted(a.sin_addr.s_addr);
  }
  return "error";
}

int TCustomWSocket::GetPeerName(sockaddr_in& name, int& nameLen) {
  if (state_ != wsConnected) return -1;
  socklen_t len = sizeof name;
  if (::getpeername(hSocket_, reinterpret_cast<sockaddr*>(&name), &len) != 0) {
    setErrnoError();
    SocketError("GetPeerName");
    return -1;
  }
  nameLen = static_cast<int>(len);
  return 0;
}

std::string TCustomWSocket::GetXPort() {
  if ((state_ == wsBound || state_ == wsConnected || state_ == wsListening) && hSocket_ >= 0) {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    if (::getsockname(hSocket_, reinterpret_cast<sockaddr*>(&a), &len) == 0)
      return std::to_string(ntohs(a.sin_port));
  }
  return "error";
}

int TCustomWSocket::GetSockName(sockaddr_in& name, int& nameLen) {
  socklen_t len = sizeof name;
  if (hSocket_ < 0 || ::getsockname(hSocket_, reinterpret_cast<sockaddr*>(&name), &len) != 0) {
    if (hSocket_ < 0) errno = EBADF;
    setErrnoError();
    return -1;
  }
  nameLen = static_cast<int>(len);
  return 0;
}
