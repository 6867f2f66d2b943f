#pragma once
// TCustomWSocket, the base of the socket component: the client and server
// side of one non-blocking descriptor, datagrams, the send queue and the
// hidden object that turns descriptor activity into events.
#include <QEvent>
#include <QObject>
#include <QPointer>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <netinet/in.h>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <vector>

#include "WSocketAddress.h"
#include "WSocketCodes.h"

class QSocketNotifier;
class TCustomWSocket;

enum TSocketState {
  wsInvalidState,
  wsOpened,
  wsBound,
  wsConnecting,
  wsConnected,
  wsAccepting,
  wsListening,
  wsClosed
};
enum TSocketSendFlags { wsSendNormal, wsSendUrgent };
enum TSocketLingerOnOff { wsLingerOff, wsLingerOn, wsLingerNoSet };

// The component's exception: misuse and platform failures, with the message text.
class ESocketException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

namespace zorv {

// The timer that paces the connection attempts of a dual-stack connect.
// Start (re)arms it for one shot; Stop disarms it; when it fires it calls
// OnFire. The socket owns one; tests put in a timer they fire themselves.
class TAttemptTimer {
 public:
  virtual ~TAttemptTimer() = default;
  virtual void Start(int ms) = 0;
  virtual void Stop() = 0;
  std::function<void()> OnFire;
};

// A message delivered to a socket's hidden notification object.
struct TSocketMessage {
  int Msg = 0;
  intptr_t WParam = 0;         // WM_ASYNCSELECT: socket handle; lookups: request handle
  int EventBits = 0;           // WM_ASYNCSELECT: FD_* bit(s)
  int Error = 0;               // Windows Sockets error number
  uint64_t Session = 0;        // WM_ASYNCSELECT: the socket generation it belongs to
  std::vector<std::string> Results;  // lookups: dotted addresses or the host name
};

// The hidden QObject that receives the socket's posted events and notifier
// activations and hands them to the owning component.
class TSocketWindow : public QObject {
  Q_OBJECT
 public:
  explicit TSocketWindow(TCustomWSocket* owner);
  // Queues a message; it is handled from the event loop (thread-safe).
  void Post(const TSocketMessage& msg);
  // Runs f on the owner as an entry from the event loop: an exception is
  // shown in a message box and goes no further. Nothing when detached.
  void Run(const std::function<void(TCustomWSocket*)>& f);
  // The owner is going away; further messages are dropped.
  void Detach() { owner_ = nullptr; }
  bool Busy() const { return depth_ > 0; }
  static QEvent::Type EventTypeFor(int msg);  // QEvent::User + message number

 protected:
  bool event(QEvent* e) override;

 private:
  TCustomWSocket* owner_;
  int depth_ = 0;
};

}  // namespace zorv

// One chunk of the send queue.
class TBuffer {
 public:
  explicit TBuffer(int size);
  // Copies as many bytes as fit after the written ones; returns the count copied.
  int Write(const void* data, int len);
  // The unsent part: its address and length (0 when nothing is unsent).
  const char* Peek(int& len) const;
  // Marks up to len bytes as sent; returns the count. A fully sent chunk is reset.
  int Remove(int len);
  // Changes the block size; stored bytes are kept while unsent bytes remain.
  void SetBufSize(int newSize);
  int BufSize() const { return static_cast<int>(buf_.size()); }
  int WrCount() const { return wrCount_; }
  int RdCount() const { return rdCount_; }

 private:
  std::vector<char> buf_;
  int wrCount_ = 0;
  int rdCount_ = 0;
};

// The client and server socket over one non-blocking descriptor.
//
// Lifecycle. The component holds at most one descriptor at a time. Connect,
// Listen and Dup adopt one (AdoptHandle); a close, or a reset or
// not-connected error, lets it go (DetachHandle). Each adoption and each
// release starts a new session: notifications carry the session they were
// made for, and one made for an earlier session is dropped. After every
// close the component is reset to its defaults (AssignDefaultValue), so Addr
// and Port must be set again before the next Connect.
//
// State, in one place:
//   state_          what users see (wsClosed, wsOpened, wsConnecting,
//                   wsConnected, wsBound, wsListening); every change raises
//                   OnChangeState.
//   hSocket_        the descriptor, -1 when none.
//   session_        moves on whenever hSocket_ is adopted or released.
//   connectWait_    how a started connect will report: by writability, or
//                   by a notification already posted (refused at once).
//   closeSeen_      the close notification for this descriptor is out; no
//                   more read notifications.
//   readBlocked_    the last read notification took nothing: reading waits
//                   for the next receive call instead of spinning.
//   lostError_      a send found the connection gone; the close is posted
//                   and comes after the bytes that still wait to be read.
//   closeInvoked_   OnSessionClosed has been raised for this session.
//   paused_         Pause: no notifications until Resume.
//   allSent_        the send queue holds no unsent byte.
//   inDataHandler_  OnDataAvailable calls under way (a send failing inside
//                   one leaves the close to the event loop).
//   destroying_     the destructor runs: no session-closed or lookup-done
//                   event any more.
//
// Byte path. DoRecv and RealSend are the only calls that move stream bytes
// through the descriptor (ReceiveFrom serves datagrams), and RcvdCount the
// only one that counts the bytes waiting to be received; a layer that
// transforms the stream overrides these three.
class TCustomWSocket : public QObject {
  Q_OBJECT
  friend class zorv::TSocketWindow;

 public:
  using TEvent = std::function<void(TCustomWSocket* sender, uint16_t error)>;
  using TChangeState =
      std::function<void(TCustomWSocket* sender, TSocketState oldState, TSocketState newState)>;
  using TNotify = std::function<void(TCustomWSocket* sender)>;

  explicit TCustomWSocket(QObject* owner = nullptr);
  ~TCustomWSocket() override;

  // Host lookup. A dotted address completes inside the call; a name completes
  // later through OnDnsLookupDone.
  virtual void DnsLookup(const std::string& hostName);
  virtual void ReverseDnsLookup(const std::string& hostAddr);
  virtual void CancelDnsLookup();
  std::string DnsResult() const { return dnsResult_; }
  const std::vector<std::string>& DnsResultList() const { return dnsResultList_; }

  std::string Addr() const { return addrStr_; }
  void SetAddr(const std::string& addr);
  std::string Port() const { return portStr_; }
  virtual void SetPort(const std::string& port);
  std::string Proto() const { return protoStr_; }
  virtual void SetProto(const std::string& proto);

  virtual void Connect();
  virtual void Close();
  virtual void Abort();
  // Sends what is queued, pumping events between tries, until the queue is
  // empty, the connection is gone or FlushTimeout seconds have passed.
  virtual void Flush();
  virtual void WaitForClose();
  virtual void Listen();
  virtual int Accept();
  virtual void Dup(int newHSocket);
  virtual void Shutdown(int how);
  virtual void Pause();
  virtual void Resume();

  virtual int Send(const void* data, int len);
  virtual int SendStr(const std::string& s);
  virtual int Receive(void* buf, int size);
  virtual std::string ReceiveStr();
  virtual int ReceiveFrom(void* buf, int size, sockaddr_in& from, int& fromLen);
  // The same for a datagram socket of either family.
  int ReceiveFrom(void* buf, int size, sockaddr_storage& from, int& fromLen);
  virtual int RcvdCount();

  virtual std::string GetPeerAddr();
  virtual int GetPeerName(sockaddr_in& name, int& nameLen);
  virtual std::string GetXPort();
  virtual int GetSockName(sockaddr_in& name, int& nameLen);
  int GetPeerName(sockaddr_storage& name, int& nameLen);
  int GetSockName(sockaddr_storage& name, int& nameLen);

  // Dual-stack connects. When Connect is given the Addr that the socket's own
  // last look-up returned as DnsResult, it tries every address of that
  // look-up (DnsResultList), families alternating: the first attempt at once,
  // each next one kAttemptDelayMs later while none has connected, or at once
  // when an attempt fails. The first to connect becomes the session and the
  // others are closed; when every attempt fails, the connect event reports
  // the last failure. With one address it is the plain connect.
  static constexpr int kAttemptDelayMs = 250;
  void SetResolver(zorv::TResolver resolver) { resolver_ = std::move(resolver); }
  void SetAttemptTimer(std::unique_ptr<zorv::TAttemptTimer> timer);
  // Connection attempts under way besides the one HSocket holds.
  int PendingAttempts() const { return static_cast<int>(racers_.size()); }

  TSocketState State() const { return state_; }
  int LastError() const { return lastError_; }
  int ReadCount() const { return readCount_; }
  int HSocket() const { return hSocket_; }
  bool AllSent() const { return allSent_; }
  int BufferedByteCount() const;

  bool MultiThreaded() const { return multiThreaded_; }
  void SetMultiThreaded(bool on) { multiThreaded_ = on; }
  int FlushTimeout() const { return flushTimeout_; }
  void SetFlushTimeout(int seconds) { flushTimeout_ = seconds; }
  TSocketSendFlags SendFlags() const;
  void SetSendFlags(TSocketSendFlags flags);
  TSocketLingerOnOff LingerOnOff() const { return lingerOnOff_; }
  void SetLingerOnOff(TSocketLingerOnOff v) { lingerOnOff_ = v; }
  int LingerTimeout() const { return lingerTimeout_; }
  void SetLingerTimeout(int seconds) { lingerTimeout_ = static_cast<uint16_t>(seconds); }

  // Number of live socket components in the process.
  static int SocketCount();

  TEvent OnDnsLookupDone, OnSessionConnected, OnSessionClosed, OnDataAvailable, OnDataSent,
      OnSessionAvailable;
  TChangeState OnChangeState;
  TNotify OnError;

 protected:
  // Taken before a call that can run a user handler (a Trigger..., a state
  // change, a close, an event pump). Afterwards Deleted() tells that the
  // component is gone, Gone() also that its descriptor was released or
  // replaced meanwhile: either way the caller stops and touches nothing more.
  class Watch {
   public:
    explicit Watch(TCustomWSocket* s) : self_(s), session_(s->session_) {}
    bool Deleted() const { return self_.isNull(); }
    bool Gone() const { return self_.isNull() || self_->session_ != session_; }

   private:
    QPointer<TCustomWSocket> self_;
    uint64_t session_;
  };

  // The message handler of the hidden notification object.
  virtual void WndProc(zorv::TSocketMessage& msg);
  virtual void AssignDefaultValue();
  virtual void InternalClose(bool shut, uint16_t error);
  virtual void BindSocket();
  virtual int RealSend(const void* data, int len);
  virtual void RaiseException(const std::string& msg);

  virtual bool TriggerDataAvailable(uint16_t error);
  virtual void TriggerSessionAvailable(uint16_t error);
  virtual void TriggerSessionConnected(uint16_t error);
  virtual void TriggerSessionClosed(uint16_t error);
  virtual void TriggerDataSent(uint16_t error);
  virtual void TriggerChangeState(TSocketState oldState, TSocketState newState);
  virtual void TriggerDnsLookupDone(uint16_t error);
  virtual void TriggerError();
  // One platform receive (flags as for recv); -1 with the error in WSocketGetLastError.
  virtual int DoRecv(void* buf, int len, int flags);

  // Reports the platform's last error for the named function (see the error
  // texts in WSocketErrors.cpp); 10054 and 10057 release the descriptor first.
  void SocketError(const std::string& function);
  // SocketError with errno, or with the given Windows Sockets number, as the error.
  void FailErrno(const std::string& function);
  void FailWith(int wsaError, const std::string& function);
  void ChangeState(TSocketState newState);
  void TryToSend();
  bool BeginLookup(const std::string& name);
  // The common rule of the Addr, Port and Proto setters.
  void AssignText(const std::string& text, const char* what, std::string& stored, bool& assigned,
                  bool& resolved);
  // One read notification: raises OnDataAvailable while bytes wait; with
  // drain false it yields after kReadSlice so the window stays responsive.
  void ASyncReceive(uint16_t error, bool drain);
  static constexpr std::chrono::milliseconds kReadSlice{25};
  void DeleteBufferedData();
  void SetLingerOption();
  void MessagePump();
  // Asks for socket events (FD_* mask) on the current handle; false on failure.
  bool AsyncSelect(int mask);
  // Re-evaluates which descriptor notifications are wanted.
  void UpdateNotifiers();
  bool Destroying() const { return destroying_; }
  // Every receive attempt calls this: it shows the read loop that the handler
  // took something, and re-arms a read notification that waited for it.
  void NoteReceiveCall();
  zorv::TSocketWindow* Window() const { return window_; }
  // Moves on whenever the descriptor is adopted or released.
  uint64_t Session() const { return session_; }

  // Resolution results, kept while the properties are unchanged. sin_ is the
  // remote address of either family, with the resolved port.
  sockaddr_storage sin_{};
  uint16_t sinPort_ = 0;  // network byte order
  // Puts an address (of either family) into sin_, with the resolved port;
  // the address is then the only one Connect tries.
  void SetRemote(const sockaddr_storage& a);
  int proto_ = 6;
  int type_ = 1;
  bool addrAssigned_ = false, portAssigned_ = false, protoAssigned_ = true;
  bool addrResolved_ = false, portResolved_ = false, protoResolved_ = false;
  int hSocket_ = -1;
  TSocketState state_ = wsClosed;
  int lastError_ = 0;
  bool closeInvoked_ = false;
  bool destroying_ = false;

 private:
  // How a started connect will report its outcome.
  enum class ConnectWait { None, Writable, Posted };

  // Descriptor lifecycle.
  void AdoptHandle(int fd);
  int DetachHandle();
  int CreateSocket(const char* failure);
  // Connect, step by step; each returns false when Connect must stop.
  bool CheckConnectable();
  bool ResolveFor(const char* prefix);
  bool SetStreamOptions();
  bool PrepareDatagram();
  void StartStreamConnect();
  // Listen, step by step.
  bool CheckListenable();
  bool BindAndListen();
  void EnterListening();
  // The datagram socket is ready at once: connected, with the event.
  void EnterDatagramConnected();
  void ResolveAll();
  bool WaitLingerDrain(int fd);

  // Dual-stack connect: further addresses to try, the attempts under way
  // besides hSocket_, and the timer that paces them.
  struct Racer {
    int fd = -1;
    QSocketNotifier* notifier = nullptr;
  };
  // A socket for one attempt, its options set and its connect started; -1
  // with wsaError when it failed at once.
  int StartAttempt(const sockaddr_storage& a, int& wsaError);
  // Starts the next address that gets going, as a racer; false when none is left.
  bool StartNextRacer();
  // The attempt hSocket_ holds failed: hand the session to the next attempt.
  // False when nothing is left to try.
  bool NextAttempt(int& error);
  void OnRacerReady(int fd, uint64_t race);
  void OnAttemptTimer();
  void ArmAttemptTimer();
  void CloseRacer(size_t i);
  void EndRace();
  std::vector<sockaddr_storage> alternates_;
  size_t nextAlternate_ = 0;
  std::vector<Racer> racers_;
  uint64_t race_ = 0;
  std::unique_ptr<zorv::TAttemptTimer> attemptTimer_;
  zorv::TResolver resolver_;

  // Notifications.
  void OnReadReady(uint64_t session);
  void OnWriteReady(uint64_t session);
  int ReadEventBits(int fd, int& error);
  void ReleaseNotifiers();
  zorv::TSocketMessage SelectMessage(int eventBits, int error) const;
  void PostSelectEvent(int eventBits, int error);
  bool HandleConnectEvent(uint16_t error, const Watch& w);
  bool HandleWriteEvent(uint16_t error, const Watch& w);
  void HandleCloseEvent(uint16_t error, const Watch& w);
  void HandleLookupDone(zorv::TSocketMessage& msg);
  void StartLookup(const std::string& name, bool reverse);

  // Sending.
  void QueueBytes(const char* p, int len);
  int SendPendingOnce();
  void ConnectionLost(int error);

  zorv::TSocketWindow* window_ = nullptr;
  QSocketNotifier* readNotifier_ = nullptr;
  QSocketNotifier* writeNotifier_ = nullptr;
  uint64_t session_ = 0;
  int selectMask_ = 0;
  ConnectWait connectWait_ = ConnectWait::None;
  bool closeSeen_ = false;
  bool readBlocked_ = false;
  uint64_t receiveCalls_ = 0;
  int inDataHandler_ = 0;
  int lostError_ = 0;

  std::string dnsResult_;
  std::vector<std::string> dnsResultList_;
  int dnsRequest_ = 0;  // pending lookup request handle, 0 = none

  std::string addrStr_, portStr_, protoStr_ = "tcp";
  int flushTimeout_ = 60;  // seconds
  std::deque<std::unique_ptr<TBuffer>> bufList_;
  int bufSize_ = 1514;
  int sendFlags_ = 0;
  bool paused_ = false;
  TSocketLingerOnOff lingerOnOff_ = wsLingerOn;
  uint16_t lingerTimeout_ = 0;
  bool allSent_ = true;
  int readCount_ = 0;
  bool multiThreaded_ = false;
};
