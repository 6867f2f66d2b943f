#include "TestSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <string_view>
#include <sys/socket.h>
#include <sys/stat.h>
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
    ::poll(nullptr, 0, 1);  // no busy spin while waiting on the network
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

QByteArray readBytes(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void writeBytes(const QString& path, const QByteArray& data) {
  QFile f(path);
  if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(data) != data.size())
    throw std::runtime_error("cannot write " + path.toStdString());
}

int fileMode(const QString& path) {
  struct stat st {};
  return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? static_cast<int>(st.st_mode & 07777) : -1;
}

namespace {

sockaddr_in loopback(int port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(port));
  return a;
}

}  // namespace

int listenLoopback(int* port, int socketFlags, int rcvbuf, bool v6) {
  const int fd = ::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC | socketFlags, 0);
  if (rcvbuf > 0) ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof rcvbuf);
  sockaddr_in6 a6{};
  a6.sin6_family = AF_INET6;
  a6.sin6_addr = in6addr_loopback;
  sockaddr_in a4 = loopback(0);
  auto* a = v6 ? reinterpret_cast<sockaddr*>(&a6) : reinterpret_cast<sockaddr*>(&a4);
  socklen_t len = v6 ? sizeof a6 : sizeof a4;
  if (fd < 0 || ::bind(fd, a, len) != 0 || ::listen(fd, 8) != 0)
    throw std::runtime_error("cannot listen on loopback");
  ::getsockname(fd, a, &len);
  *port = ntohs(v6 ? a6.sin6_port : a4.sin_port);
  return fd;
}

int unusedPort() {
  int port = 0;
  ::close(listenLoopback(&port));
  return port;
}

bool canConnect(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  const sockaddr_in a = loopback(port);
  const bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
  ::close(fd);
  return ok;
}

void sendAll(int fd, const std::string& bytes) {
  for (size_t off = 0; off < bytes.size() && fd >= 0;) {
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

LoopbackServer::LoopbackServer(int rcvbuf, bool v6) { listener_ = listenLoopback(&port_, SOCK_NONBLOCK, rcvbuf, v6); }

LoopbackServer::~LoopbackServer() {
  closeClient();
  closeListener();
}

bool LoopbackServer::tryAccept() {
  if (client_ < 0 && listener_ >= 0) {
    client_ = ::accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (client_ >= 0) eof = false, error = 0, connectionStart_ = received_.size();
  }
  return client_ >= 0;
}

bool LoopbackServer::accept(int timeoutMs) {
  return timeoutMs <= 0 ? tryAccept() : waitFor([&] { return tryAccept(); }, timeoutMs);
}

void LoopbackServer::poll() {
  if (client_ < 0) return;
  char buf[65536];
  for (;;) {
    const ssize_t n = ::recv(client_, buf, sizeof buf, 0);
    if (n > 0) {
      received_.append(buf, static_cast<size_t>(n));
      if (connectionStart_ != std::string::npos && skipCapLs) {
        static constexpr std::string_view kCapLs = "CAP LS 302\r\n";
        const std::string_view head = std::string_view(received_).substr(connectionStart_, kCapLs.size());
        if (head == kCapLs) {
          received_.erase(connectionStart_, kCapLs.size());
          ++capLs;
          connectionStart_ = std::string::npos;
        } else if (kCapLs.substr(0, head.size()) != head) {
          connectionStart_ = std::string::npos;
        }
      }
      continue;
    }
    if (n == 0) eof = true;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) error = errno;
    return;
  }
}

bool LoopbackServer::waitReceived(const std::string& needle, int timeoutMs) {
  return waitFor([&] {
    tryAccept();
    poll();
    return received_.find(needle) != std::string::npos;
  }, timeoutMs);
}

const std::string& LoopbackServer::read(size_t want, int timeoutMs) {
  waitFor([&] {
    tryAccept();
    poll();
    return received_.size() >= want || peerClosed();
  }, timeoutMs);
  return received_;
}

bool LoopbackServer::waitPeerClosed(int timeoutMs) {
  return waitFor([&] {
    tryAccept();
    poll();
    return peerClosed();
  }, timeoutMs);
}

void LoopbackServer::send(const std::string& bytes) {
  for (size_t off = 0; off < bytes.size() && client_ >= 0;) {
    const ssize_t n = ::send(client_, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
    if (n > 0) off += static_cast<size_t>(n);
    else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) pumpFor(1);
    else return;
  }
}

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

}  // namespace testsupport
