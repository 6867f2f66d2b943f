// Notifications: the descriptor is watched with QSocketNotifier; its
// activations become the socket events (connect, read, write, accept, close)
// and are handled one at a time, in a fixed order, on the thread that owns
// the component.
#include <QCoreApplication>
#include <QSocketNotifier>
#include <cerrno>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include "MessageBox.h"
#include "Text.h"
#include "WSocketPrivate.h"

using namespace zorv;
using namespace zorv::detail;

// ---------------------------------------------------------------------------
// The hidden notification object

namespace zorv {

TSocketWindow::TSocketWindow(TCustomWSocket* owner) : owner_(owner) {
  setObjectName(QStringLiteral("XSocketWindowClass"));
}

QEvent::Type TSocketWindow::EventTypeFor(int msg) { return static_cast<QEvent::Type>(QEvent::User + msg); }

void TSocketWindow::Post(const TSocketMessage& msg) { QCoreApplication::postEvent(this, new TSocketEvent(msg)); }

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
// Socket events, in their fixed order: connect, read, write, accept, close

void TCustomWSocket::WndProc(TSocketMessage& msg) {
  if (msg.Msg == WM_ASYNCGETHOSTBYNAME || msg.Msg == WM_ASYNCGETHOSTBYADDR) {
    HandleLookupDone(msg);
    return;
  }
  if (msg.Msg != WM_ASYNCSELECT) return;
  if (msg.WParam != hSocket_ || msg.Session != session_ || hSocket_ < 0 || paused_) return;

  const Watch w(this);
  // Whatever a handler does, even throw, the notifications are set up again.
  struct Rearm {
    const Watch& w;
    TCustomWSocket* s;
    ~Rearm() {
      if (!w.Gone()) s->UpdateNotifiers();
    }
  } rearm{w, this};
  const uint16_t error = static_cast<uint16_t>(msg.Error);
  const int ev = msg.EventBits;

  if ((ev & FD_CONNECT) && !HandleConnectEvent(error, w)) return;
  if (ev & FD_READ) {
    ASyncReceive(error, /*drain=*/false);
    if (w.Gone()) return;
  }
  if ((ev & FD_WRITE) && !HandleWriteEvent(error, w)) return;
  if (ev & FD_ACCEPT) {
    TriggerSessionAvailable(error);
    if (w.Gone()) return;
  }
  if (ev & FD_CLOSE) HandleCloseEvent(error, w);
}

// Each returns false when the component or its session went away.
bool TCustomWSocket::HandleConnectEvent(uint16_t error, const Watch& w) {
  connectWait_ = ConnectWait::None;
  // One of several attempts failed: the next one carries on, and only the
  // last failure is reported.
  if (error != 0) {
    int e = error;
    if (NextAttempt(e)) return false;
    error = static_cast<uint16_t>(e);
  }
  EndRace();
  ChangeState(wsConnected);
  if (w.Gone()) return false;
  TriggerSessionConnected(error);
  if (w.Gone()) return false;
  if (error != 0 && state_ != wsClosed) Close();
  return !w.Gone();
}

bool TCustomWSocket::HandleWriteEvent(uint16_t error, const Watch& w) {
  TryToSend();
  if (w.Gone()) return false;
  if (allSent_ && OnDataSent) TriggerDataSent(error);
  return !w.Gone();
}

// The peer closed (or the connection broke): what is left to read comes
// first, then the session-closed event, then the close.
void TCustomWSocket::HandleCloseEvent(uint16_t error, const Watch& w) {
  if (state_ == wsConnecting) return;
  ASyncReceive(0, /*drain=*/true);
  if (w.Gone()) return;
  if (OnSessionClosed && !closeInvoked_) {
    closeInvoked_ = true;
    TriggerSessionClosed(lostError_ != 0 ? static_cast<uint16_t>(lostError_) : error);
    if (w.Gone()) return;
  }
  if (state_ != wsClosed) Close();
}

// A socket event for the current descriptor and session.
TSocketMessage TCustomWSocket::SelectMessage(int eventBits, int error) const {
  TSocketMessage m;
  m.Msg = WM_ASYNCSELECT;
  m.WParam = hSocket_;
  m.Session = session_;
  m.EventBits = eventBits;
  m.Error = error;
  return m;
}

void TCustomWSocket::PostSelectEvent(int eventBits, int error) { window_->Post(SelectMessage(eventBits, error)); }

// ---------------------------------------------------------------------------
// Descriptor notifiers

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
  const bool unsent = BufferedByteCount() > 0;
  const bool wantRead = !paused_ && connectWait_ == ConnectWait::None && !readBlocked_ && !closeSeen_ &&
                        (selectMask_ & (FD_READ | FD_ACCEPT | FD_CLOSE)) != 0;
  const bool wantWrite = !paused_ && lostError_ == 0 &&
                         (connectWait_ == ConnectWait::Writable || ((selectMask_ & FD_WRITE) != 0 && unsent));
  if (readNotifier_ && readNotifier_->isEnabled() != wantRead) readNotifier_->setEnabled(wantRead);
  if (writeNotifier_ && writeNotifier_->isEnabled() != wantWrite) writeNotifier_->setEnabled(wantWrite);
  for (const Racer& r : racers_) r.notifier->setEnabled(!paused_);
}

// What a readable descriptor means: a connection to accept, bytes to read,
// or the peer's close (error: the platform's, when it broke); 0 when nothing
// yet.
int TCustomWSocket::ReadEventBits(int fd, int& error) {
  error = 0;
  if (state_ == wsListening && type_ == SOCK_STREAM) return FD_ACCEPT;
  if (type_ == SOCK_DGRAM) return FD_READ;
  int waiting = 0;
  if (::ioctl(fd, FIONREAD, &waiting) == 0 && waiting > 0) return FD_READ;
  char c;
  const ssize_t r = ::recv(fd, &c, 1, MSG_PEEK | MSG_DONTWAIT);
  if (r > 0) return FD_READ;
  if (r == 0) return FD_CLOSE;
  if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return 0;
  error = WSocketErrorFromErrno(errno);
  return FD_CLOSE;
}

void TCustomWSocket::OnReadReady(uint64_t session) {
  if (session != session_ || hSocket_ < 0 || paused_) return;
  int error = 0;
  const int bits = ReadEventBits(hSocket_, error);
  if (bits == 0) return;
  TSocketMessage m = SelectMessage(bits, error);
  if (m.EventBits & FD_CLOSE) closeSeen_ = true;
  const uint64_t before = receiveCalls_;
  const Watch w(this);
  WndProc(m);
  if (w.Gone()) return;
  // Nothing was taken: the descriptor stays readable, so wait for the next
  // receive before listening again instead of spinning.
  if ((m.EventBits & (FD_READ | FD_ACCEPT)) && receiveCalls_ == before) readBlocked_ = true;
  UpdateNotifiers();
}

void TCustomWSocket::OnWriteReady(uint64_t session) {
  if (session != session_ || hSocket_ < 0 || paused_) return;
  TSocketMessage m = SelectMessage(FD_WRITE, 0);
  if (connectWait_ == ConnectWait::Writable) {
    // The connect has finished; SO_ERROR tells how.
    int soerr = 0;
    socklen_t len = sizeof soerr;
    if (::getsockopt(hSocket_, SOL_SOCKET, SO_ERROR, &soerr, &len) != 0) soerr = errno;
    m = SelectMessage(FD_CONNECT, WSocketErrorFromErrno(soerr));
    connectWait_ = ConnectWait::None;
  }
  if (writeNotifier_) writeNotifier_->setEnabled(false);
  const Watch w(this);
  WndProc(m);
  if (w.Gone()) return;
  UpdateNotifiers();
}

void TCustomWSocket::NoteReceiveCall() {
  ++receiveCalls_;
  if (readBlocked_) {
    readBlocked_ = false;
    UpdateNotifiers();
  }
}
