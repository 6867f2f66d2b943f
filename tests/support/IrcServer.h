#pragma once
// A real IRC server for end-to-end tests: ngircd started on a free loopback
// port from a temporary configuration, and a plain line-oriented test client.
#include <QTemporaryDir>
#include <memory>
#include <string>
#include <vector>

#include "TestPki.h"

namespace testsupport {

class IrcServer {
 public:
  // Starts ngircd and waits until it accepts connections; with tls, also on a
  // TLS port whose certificate (for 127.0.0.1) a test CA made here signs.
  // listen: the loopback address it listens on ("::1" for IPv6).
  explicit IrcServer(bool tls = false, std::string listen = "127.0.0.1");
  ~IrcServer();
  IrcServer(const IrcServer&) = delete;
  IrcServer& operator=(const IrcServer&) = delete;

  bool running() const { return pid_ > 0 && ready_; }
  int port() const { return port_; }
  int tlsPort() const { return tlsPort_; }
  std::string caFile() const { return pki_ ? pki_->path("ca.pem") : std::string(); }
  const std::string& error() const { return error_; }
  // Stops the server; its clients see it go.
  void stop();
  // Starts a stopped server again on the same port, with no state kept; true
  // when it accepts connections again.
  bool start();

 private:
  bool launch();  // starts ngircd on port_ and waits until it accepts connections

  QTemporaryDir dir_;
  std::unique_ptr<TestPki> pki_;  // with tls
  int pid_ = -1;
  int port_ = 0;
  bool tls_ = false;
  std::string listen_;
  int tlsPort_ = 0;
  bool ready_ = false;
  std::string error_;
};

// A plain IRC client over a blocking-free POSIX socket; every wait pumps the
// Qt event loop so that an in-process Zorv keeps running meanwhile.
class IrcClient {
 public:
  explicit IrcClient(int port, const std::string& host = "127.0.0.1");
  ~IrcClient();
  void sendLine(const std::string& line);  // appends CR LF
  // Registers with NICK/USER and waits for the welcome (001).
  bool registerAs(const std::string& nick, int timeoutMs = 5000);
  // Waits for a received line containing `needle`; returns it (or "" on time-out).
  std::string waitLine(const std::string& needle, int timeoutMs = 5000);
  // Every line received so far.
  const std::vector<std::string>& lines() const { return lines_; }
  void poll();

 private:
  int fd_ = -1;
  std::string partial_;
  std::vector<std::string> lines_;
  size_t scanned_ = 0;
};

}  // namespace testsupport
