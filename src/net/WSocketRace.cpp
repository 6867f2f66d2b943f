// Dual-stack connects: several connection attempts over the addresses of one
// look-up, families alternating, each next one started when the pacing timer
// fires or when an attempt fails; the first that connects becomes the
// session. hSocket_ always holds one attempt under way (the oldest), so a
// close during the race behaves as a close of any connecting socket; the
// others are racers with a write notifier of their own.
#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>

#include "WSocketPrivate.h"

using namespace zorv;
using namespace zorv::detail;

namespace {

constexpr int kConnectMask = FD_READ | FD_WRITE | FD_ACCEPT | FD_CONNECT | FD_CLOSE;

class QtAttemptTimer : public TAttemptTimer {
 public:
  QtAttemptTimer() {
    timer_.setSingleShot(true);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      if (OnFire) OnFire();
    });
  }
  void Start(int ms) override { timer_.start(ms); }
  void Stop() override { timer_.stop(); }

 private:
  QTimer timer_;
};

}  // namespace

void TCustomWSocket::SetAttemptTimer(std::unique_ptr<TAttemptTimer> timer) {
  if (attemptTimer_) attemptTimer_->Stop();
  attemptTimer_ = std::move(timer);
  if (!attemptTimer_) return;
  TSocketWindow* w = window_;
  // Fired from the event loop: an exception stops there, as for any notification.
  attemptTimer_->OnFire = [w] { w->Run([](TCustomWSocket* s) { s->OnAttemptTimer(); }); };
}

void TCustomWSocket::ArmAttemptTimer() {
  if (nextAlternate_ >= alternates_.size()) return;
  if (!attemptTimer_) SetAttemptTimer(std::make_unique<QtAttemptTimer>());
  attemptTimer_->Start(kAttemptDelayMs);
}

int TCustomWSocket::StartAttempt(const sockaddr_storage& a, int& wsaError) {
  const int fd = ::socket(a.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, proto_);
  if (fd < 0) {
    wsaError = WSocketErrorFromErrno(errno);
    return -1;
  }
  const int on = 1;
  linger l{};
  l.l_onoff = lingerOnOff_ == wsLingerOn ? 1 : 0;
  l.l_linger = lingerTimeout_;
  bool ok = (lingerOnOff_ == wsLingerNoSet || ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l) == 0) &&
            ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) == 0 &&
            ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0;
  if (ok && ::connect(fd, reinterpret_cast<const sockaddr*>(&a), WSocketAddrLen(a)) != 0 && errno != EINPROGRESS &&
      errno != EAGAIN)
    ok = false;
  if (!ok) {
    wsaError = WSocketErrorFromErrno(errno);
    ::close(fd);
    return -1;
  }
  return fd;
}

bool TCustomWSocket::StartNextRacer() {
  while (nextAlternate_ < alternates_.size()) {
    int error = 0;
    const int fd = StartAttempt(alternates_[nextAlternate_++], error);
    if (fd < 0) continue;  // failed at once: the next address now
    Racer r;
    r.fd = fd;
    r.notifier = new QSocketNotifier(fd, QSocketNotifier::Write, window_);
    TSocketWindow* w = window_;
    const uint64_t race = race_;
    QObject::connect(r.notifier, &QSocketNotifier::activated, w, [w, fd, race] {
      w->Run([fd, race](TCustomWSocket* s) { s->OnRacerReady(fd, race); });
    });
    r.notifier->setEnabled(!paused_);
    racers_.push_back(r);
    return true;
  }
  return false;
}

void TCustomWSocket::OnAttemptTimer() {
  if (state_ != wsConnecting || hSocket_ < 0) return;
  StartNextRacer();
  ArmAttemptTimer();
}

bool TCustomWSocket::NextAttempt(int& error) {
  if (!racers_.empty()) {
    // The oldest attempt still under way takes the session over.
    const Racer r = racers_.front();
    racers_.erase(racers_.begin());
    r.notifier->setEnabled(false);
    r.notifier->deleteLater();
    AdoptHandle(r.fd);
  } else {
    int fd = -1;
    while (fd < 0 && nextAlternate_ < alternates_.size()) fd = StartAttempt(alternates_[nextAlternate_++], error);
    if (fd < 0) return false;
    AdoptHandle(fd);
  }
  // Nothing connects in its place while the failed one is replaced: the
  // state stays wsConnecting, no event is raised.
  if (!AsyncSelect(kConnectMask)) {
    error = WSAENOTSOCK;
    return false;
  }
  connectWait_ = ConnectWait::Writable;
  UpdateNotifiers();
  // A failure starts the next address at once.
  if (racers_.empty()) StartNextRacer();
  ArmAttemptTimer();
  return true;
}

void TCustomWSocket::OnRacerReady(int fd, uint64_t race) {
  if (race != race_ || paused_) return;
  size_t i = 0;
  while (i < racers_.size() && racers_[i].fd != fd) ++i;
  if (i == racers_.size()) return;
  int soerr = 0;
  socklen_t len = sizeof soerr;
  if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soerr, &len) != 0) soerr = errno;
  if (soerr != 0) {
    CloseRacer(i);
    StartNextRacer();
    ArmAttemptTimer();
    return;
  }
  // The winner: the attempt hSocket_ held and every other racer are closed.
  const Racer r = racers_[i];
  racers_.erase(racers_.begin() + static_cast<std::ptrdiff_t>(i));
  r.notifier->setEnabled(false);
  r.notifier->deleteLater();
  EndRace();
  AdoptHandle(r.fd);
  if (!AsyncSelect(kConnectMask)) {
    FailWith(WSAENOTSOCK, "WSAAsyncSelect");
    return;
  }
  TSocketMessage m = SelectMessage(FD_CONNECT, 0);
  WndProc(m);
}

void TCustomWSocket::CloseRacer(size_t i) {
  Racer r = racers_[i];
  racers_.erase(racers_.begin() + static_cast<std::ptrdiff_t>(i));
  r.notifier->setEnabled(false);
  r.notifier->deleteLater();
  ::close(r.fd);
}

void TCustomWSocket::EndRace() {
  ++race_;
  if (attemptTimer_) attemptTimer_->Stop();
  while (!racers_.empty()) CloseRacer(racers_.size() - 1);
}
