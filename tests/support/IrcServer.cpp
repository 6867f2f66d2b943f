#include "IrcServer.h"

#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "TestSupport.h"

namespace testsupport {

IrcServer::IrcServer(bool tls, std::string listen) : tls_(tls), listen_(std::move(listen)) {
  if (tls_ && !(pki_ = std::make_unique<TestPki>(/*withOthers=*/false))->ok) {
    error_ = "no test certificate (is the openssl command installed?)";
    return;
  }
  for (int attempt = 0; attempt < 5 && !ready_ && dir_.isValid(); ++attempt) {
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
    f << "[Global]\nName = irc.zorv.test\nInfo = Zorv test server\nListen = " << listen_ << "\nPorts = " << port_
      << "\nMotdPhrase = Hello from the test server\n";
    if (::geteuid() == 0) f << "ServerUID = nobody\nServerGID = nogroup\n";
    f << "[Limits]\nMaxConnectionsIP = 0\nMaxNickLength = 30\nPingTimeout = 300\nPongTimeout = 300\n"
      << "[Options]\nPAM = no\nIdent = no\nDNS = no\nMorePrivacy = no\n";
    if (tls_)
      f << "[SSL]\nCertFile = " << pki_->path("server.pem") << "\nKeyFile = " << pki_->path("server.key")
        << "\nPorts = " << tlsPort_ << "\n";
  }
  pid_ = ::fork();
  if (pid_ == 0) {
    const int devnull = ::open("/dev/null", O_RDWR);
    for (int fd : {0, 1, 2}) ::dup2(devnull, fd);
    ::execlp("ngircd", "ngircd", "-n", "-f", conf.c_str(), static_cast<char*>(nullptr));
    ::execl("/usr/sbin/ngircd", "ngircd", "-n", "-f", conf.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  bool exited = false;
  ready_ = waitFor([&] {
    exited = ::waitpid(pid_, nullptr, WNOHANG) == pid_;
    return exited || (canConnect(port_, listen_) && (!tls_ || canConnect(tlsPort_, listen_)));
  }) && !exited;
  if (exited) pid_ = -1;
  if (!ready_) stop();
  return ready_;
}

void IrcServer::stop() {
  ready_ = false;
  if (pid_ <= 0) return;
  ::kill(pid_, SIGTERM);
  if (!waitFor([&] { return ::waitpid(pid_, nullptr, WNOHANG) == pid_; }, 2000)) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  pid_ = -1;
}

bool IrcServer::start() {
  // The port may take a moment to be free again.
  return running() || waitFor([&] { return launch(); }, 5000);
}

IrcServer::~IrcServer() { stop(); }

IrcClient::IrcClient(int port, const std::string& host) : fd_(connectTo(host, port)) {
  if (fd_ >= 0) ::fcntl(fd_, F_SETFL, O_NONBLOCK);
}

IrcClient::~IrcClient() {
  if (fd_ >= 0) ::close(fd_);
}

void IrcClient::sendLine(const std::string& line) { sendAll(fd_, line + "\r\n"); }

void IrcClient::poll() {
  char buf[8192];
  for (ssize_t n; fd_ >= 0 && (n = ::recv(fd_, buf, sizeof buf, 0)) > 0;) partial_.append(buf, static_cast<size_t>(n));
  for (size_t lf; (lf = partial_.find('\n')) != std::string::npos; partial_.erase(0, lf + 1)) {
    std::string line = partial_.substr(0, lf);
    if (!line.empty() && line.back() == '\r') line.pop_back();
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
    for (; scanned_ < lines_.size() && found.empty(); ++scanned_)
      if (lines_[scanned_].find(needle) != std::string::npos) found = lines_[scanned_];
    return !found.empty();
  }, timeoutMs);
  return found;
}

}  // namespace testsupport
