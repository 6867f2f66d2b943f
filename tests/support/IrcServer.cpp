#include "IrcServer.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "TestSupport.h"

namespace testsupport {
namespace {

// A connected blocking socket to host (an IPv4 or IPv6 literal) and port; -1 when refused.
int connectTo(const std::string& host, int port) {
  addrinfo hints{}, *res = nullptr;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
  if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &res) != 0) return -1;
  int fd = ::socket(res->ai_family, SOCK_STREAM, 0);
  if (fd >= 0 && ::connect(fd, res->ai_addr, res->ai_addrlen) != 0) {
    ::close(fd);
    fd = -1;
  }
  ::freeaddrinfo(res);
  return fd;
}

bool canConnect(const std::string& host, int port) {
  const int fd = connectTo(host, port);
  if (fd >= 0) ::close(fd);
  return fd >= 0;
}

}  // namespace

IrcServer::IrcServer(bool tls, std::string listen) : tls_(tls), listen_(std::move(listen)) {
  if (!dir_.isValid()) {
    error_ = "no temporary directory";
    return;
  }
  if (tls_ && !(pki_ = std::make_unique<TestPki>(/*withOthers=*/false))->ok) {
    error_ = "no test certificate (is the openssl command installed?)";
    return;
  }
  for (int attempt = 0; attempt < 5 && !ready_; ++attempt) {
    port_ = unusedPort();
    if (tls_) tlsPort_ = unusedPort();
    launch();
  }
  if (!ready_) error_ = "ngircd did not start (is the ngircd package installed?)";
}

bool IrcServer::launch() {
  const std::string conf = dir_.path().toStdString() + "/ngircd.conf";
  {
    std::ofstream f(conf);
    f << "[Global]\nName = irc.zorv.test\nInfo = Zorv test server\nListen = " << listen_ << "\n"
      << "Ports = " << port_ << "\n"
      << "MotdPhrase = Hello from the test server\n";
    if (::geteuid() == 0) f << "ServerUID = nobody\nServerGID = nogroup\n";
    f << "[Limits]\nMaxConnectionsIP = 0\nMaxNickLength = 30\nPingTimeout = 300\nPongTimeout = 300\n"
      << "[Options]\nPAM = no\nIdent = no\nDNS = no\nMorePrivacy = no\n";
    if (tls_)
      f << "[SSL]\nCertFile = " << pki_->path("server.pem") << "\nKeyFile = " << pki_->path("server.key")
        << "\nPorts = " << tlsPort_ << "\n";
  }
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int devnull = ::open("/dev/null", O_RDWR);
    ::dup2(devnull, 0);
    ::dup2(devnull, 1);
    ::dup2(devnull, 2);
    ::execlp("ngircd", "ngircd", "-n", "-f", conf.c_str(), static_cast<char*>(nullptr));
    ::execl("/usr/sbin/ngircd", "ngircd", "-n", "-f", conf.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  pid_ = pid;
  for (int i = 0; i < 500 && !ready_; ++i) {
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      break;
    }
    ready_ = canConnect(listen_, port_) && (!tls_ || canConnect(listen_, tlsPort_));
    if (!ready_) ::poll(nullptr, 0, 10);
  }
  if (!ready_ && pid_ > 0) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  return ready_;
}

void IrcServer::stop() {
  ready_ = false;
  if (pid_ <= 0) return;
  ::kill(pid_, SIGTERM);
  for (int i = 0; i < 200; ++i) {
    if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
      pid_ = -1;
      return;
    }
    ::poll(nullptr, 0, 10);
  }
  ::kill(pid_, SIGKILL);
  ::waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

bool IrcServer::start() {
  if (running()) return true;
  // The port may take a moment to be free again.
  for (int attempt = 0; attempt < 20 && !launch(); ++attempt) ::poll(nullptr, 0, 100);
  return ready_;
}

IrcServer::~IrcServer() { stop(); }

IrcClient::IrcClient(int port, const std::string& host) {
  fd_ = connectTo(host, port);
  if (fd_ >= 0) ::fcntl(fd_, F_SETFL, O_NONBLOCK);
}

IrcClient::~IrcClient() {
  if (fd_ >= 0) ::close(fd_);
}

void IrcClient::sendLine(const std::string& line) { sendAll(fd_, line + "\r\n"); }

void IrcClient::poll() {
  if (fd_ < 0) return;
  char buf[8192];
  for (;;) {
    const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
    if (n <= 0) break;
    partial_.append(buf, static_cast<size_t>(n));
  }
  size_t lf;
  while ((lf = partial_.find('\n')) != std::string::npos) {
    std::string line = partial_.substr(0, lf);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    partial_.erase(0, lf + 1);
    // Answer the server's keep-alive so long tests are not dropped.
    if (line.rfind("PING ", 0) == 0) sendLine("PONG " + line.substr(5));
    lines_.push_back(std::move(line));
  }
}

bool IrcClient::registerAs(const std::string& nick, int timeoutMs) {
  sendLine("NICK " + nick);
  sendLine("USER " + nick + " 0 * :" + nick);
  return !waitLine(" 001 ", timeoutMs).empty();
}

std::string IrcClient::waitLine(const std::string& needle, int timeoutMs) {
  std::string found;
  waitFor([&] {
    poll();
    for (; scanned_ < lines_.size(); ++scanned_) {
      if (lines_[scanned_].find(needle) != std::string::npos) {
        found = lines_[scanned_++];
        return true;
      }
    }
    return false;
  }, timeoutMs);
  return found;
}

}  // namespace testsupport
