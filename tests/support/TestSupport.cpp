#include "TestSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

#include "MessageBox.h"

namespace testsupport {

bool waitFor(const std::function<bool()>& pred, int timeoutMs) {
  QElapsedTimer t;
  t.start();
  while (!pred()) {
    if (t.elapsed() > timeoutMs) return pred();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QCoreApplication::sendPostedEvents();
    // Avoid a busy spin while waiting on the network.
    ::poll(nullptr, 0, 1);
  }
  return true;
}

void pumpFor(int ms) {
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < ms) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    ::poll(nullptr, 0, 1);
  }
}

QStringList& shownMessages() {
  static QStringList list;
  return list;
}

void installMessageRecorder() {
  zorv::setMessagePresenter([](const QString& text, const QString&, zorv::MessageIcon) {
    shownMessages().append(text);
  });
}

LoopbackServer::LoopbackServer() {
  listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
  if (listener_ < 0) throw std::runtime_error("socket");
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = 0;
  if (::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(listener_, 8) != 0)
    throw std::runtime_error("bind/listen");
  socklen_t len = sizeof a;
  ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len);
  port_ = ntohs(a.sin_port);
  ::fcntl(listener_, F_SETFL, O_NONBLOCK);
}

LoopbackServer::~LoopbackServer() {
  closeClient();
  closeListener();
}

bool LoopbackServer::accept(int timeoutMs) {
  if (client_ >= 0) return true;
  if (listener_ < 0) return false;
  auto tryAccept = [this] {
    int fd = ::accept(listener_, nullptr, nullptr);
    if (fd >= 0) {
      ::fcntl(fd, F_SETFL, O_NONBLOCK);
      client_ = fd;
      peerClosed_ = false;
    }
    return client_ >= 0;
  };
  if (timeoutMs <= 0) return tryAccept();
  return waitFor(tryAccept, timeoutMs);
}

void LoopbackServer::poll() {
  if (client_ < 0) return;
  char buf[65536];
  for (;;) {
    ssize_t n = ::recv(client_, buf, sizeof buf, 0);
    if (n > 0) {
      received_.append(buf, static_cast<size_t>(n));
      continue;
    }
    if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) peerClosed_ = true;
    return;
  }
}

bool LoopbackServer::waitReceived(const std::string& needle, int timeoutMs) {
  return waitFor([&] {
    accept();
    poll();
    return received_.find(needle) != std::string::npos;
  }, timeoutMs);
}

bool LoopbackServer::waitPeerClosed(int timeoutMs) {
  return waitFor([&] {
    accept();
    poll();
    return peerClosed_;
  }, timeoutMs);
}

void sendAll(int fd, const std::string& bytes) {
  size_t off = 0;
  while (off < bytes.size() && fd >= 0) {
    const ssize_t n = ::send(fd, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
    if (n > 0) {
      off += static_cast<size_t>(n);
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      pollfd p{fd, POLLOUT, 0};
      ::poll(&p, 1, 100);
    } else {
      return;
    }
  }
}

void LoopbackServer::send(const std::string& bytes) { sendAll(client_, bytes); }

void LoopbackServer::closeClient() {
  if (client_ >= 0) ::close(client_);
  client_ = -1;
}

void LoopbackServer::resetClient() {
  if (client_ >= 0) {
    linger l{1, 0};
    ::setsockopt(client_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
  }
  closeClient();
}

void LoopbackServer::closeListener() {
  if (listener_ >= 0) ::close(listener_);
  listener_ = -1;
}

int unusedPort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(fd);
  return ntohs(a.sin_port);
}

}  // namespace testsupport
