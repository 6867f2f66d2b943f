#include "TestSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <cerrno>
#include <netdb.h>
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
  waitFor([&] { return t.elapsed() >= ms; }, ms + 1000);
}

QStringList& shownMessages() {
  static QStringList list;
  return list;
}

void installMessageRecorder() {
  zorv::setMessagePresenter([](const QString& text, const QString&, zorv::MessageIcon) { shownMessages() << text; });
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

int listenLoopback(int* port, int socketFlags, int rcvbuf, bool v6) {
  const int fd = ::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC | socketFlags, 0);
  if (rcvbuf > 0) ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof rcvbuf);
  sockaddr_in6 a6{};
  a6.sin6_family = AF_INET6;
  a6.sin6_addr = in6addr_loopback;
  sockaddr_in a4{};
  a4.sin_family = AF_INET;
  a4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  auto* a = v6 ? reinterpret_cast<sockaddr*>(&a6) : reinterpret_cast<sockaddr*>(&a4);
  socklen_t len = v6 ? sizeof a6 : sizeof a4;
  if (fd < 0 || ::bind(fd, a, len) != 0 || ::listen(fd, 8) != 0) throw std::runtime_error("cannot listen on loopback");
  ::getsockname(fd, a, &len);
  *port = ntohs(v6 ? a6.sin6_port : a4.sin_port);
  return fd;
}

int unusedPort() {
  int port = 0;
  ::close(listenLoopback(&port));
  return port;
}

int connectTo(const std::string& host, int port) {
  addrinfo hints{}, *res = nullptr;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
  if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &res) != 0) return -1;
  int fd = ::socket(res->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd >= 0 && ::connect(fd, res->ai_addr, res->ai_addrlen) != 0) ::close(fd), fd = -1;
  ::freeaddrinfo(res);
  return fd;
}

bool canConnect(int port, const std::string& host) {
  const int fd = connectTo(host, port);
  if (fd >= 0) ::close(fd);
  return fd >= 0;
}

void sendAll(int fd, const std::string& bytes) {
  for (size_t off = 0; off < bytes.size() && fd >= 0;) {
    const ssize_t n = ::send(fd, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
    if (n > 0) off += static_cast<size_t>(n);
    else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) pumpFor(1);
    else return;
  }
}

LoopbackServer::LoopbackServer(int rcvbuf, bool v6) { listener_ = listenLoopback(&port_, SOCK_NONBLOCK, rcvbuf, v6); }

LoopbackServer::~LoopbackServer() {
  closeClient();
  if (listener_ >= 0) ::close(listener_);
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
  char buf[65536];
  ssize_t n = 0;
  while (client_ >= 0 && (n = ::recv(client_, buf, sizeof buf, 0)) > 0) {
    received_.append(buf, static_cast<size_t>(n));
    // A connection's first line "CAP LS 302" is counted and taken out, so
    // that tests of what follows see NICK first.
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
  }
  if (client_ >= 0 && n == 0) eof = true;
  if (client_ >= 0 && n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) error = errno;
}

bool LoopbackServer::readUntil(const std::function<bool()>& done, int timeoutMs) {
  return waitFor([&] { return tryAccept(), poll(), done(); }, timeoutMs);
}

bool LoopbackServer::waitReceived(const std::string& needle, int timeoutMs) {
  return readUntil([&] { return received_.find(needle) != std::string::npos; }, timeoutMs);
}

const std::string& LoopbackServer::read(size_t want, int timeoutMs) {
  readUntil([&] { return received_.size() >= want || peerClosed(); }, timeoutMs);
  return received_;
}

bool LoopbackServer::waitPeerClosed(int timeoutMs) {
  return readUntil([&] { return peerClosed(); }, timeoutMs);
}

void LoopbackServer::closeClient() {
  if (client_ >= 0) ::close(client_);
  client_ = -1;
}

void LoopbackServer::resetClient() {
  linger l{1, 0};
  if (client_ >= 0) ::setsockopt(client_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
  closeClient();
}

}  // namespace testsupport
