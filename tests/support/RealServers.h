#pragma once
// Real IRC software for end-to-end tests, each started from a temporary
// configuration on loopback ports the system hands out: inspircd with its
// IRCv3 modules, atheme-services linked to it, and the znc bouncer in front
// of it. None of them runs as root, so under root they run as `nobody`.
// A missing package leaves the server not running with an error() that says
// which one to install.
#include <QTemporaryDir>
#include <functional>
#include <string>
#include <vector>

namespace testsupport {

// A child process of the tests; stopped (TERM, then KILL) when destroyed.
class Daemon {
 public:
  Daemon() = default;
  Daemon(const Daemon&) = delete;
  Daemon& operator=(const Daemon&) = delete;
  ~Daemon() { stop(); }
  // Starts argv (argv[0] searched in PATH and the sbin folders) with the extra
  // environment entries; under root as `nobody`. False when there is no such program.
  bool spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env = {});
  // Waits until ready() holds (true) or the process ends or the time is up (false).
  bool waitReady(const std::function<bool()>& ready, int timeoutMs);
  void stop();

 private:
  int pid_ = -1;
};

// A temporary folder the servers' user may read and write.
class ServerDir {
 public:
  ServerDir();
  bool ok() const { return dir_.isValid(); }
  std::string path(const std::string& name = "") const;
  void write(const std::string& name, const std::string& text) const;  // made the servers' user's
  std::string read(const std::string& name) const;                      // "" when missing

 private:
  QTemporaryDir dir_;
};

// What every server here has: its folder, its process, and whether it runs.
class RealServer {
 public:
  bool running() const { return ready_; }
  bool missing() const { return missing_; }  // its package is not installed
  const std::string& error() const { return error_; }

 protected:
  // False (with the error set) when the program is not installed.
  bool installed(const std::string& program, const std::string& package);

  ServerDir dir_;
  Daemon daemon_;
  bool ready_ = false;
  bool missing_ = false;
  std::string error_;
};

class Inspircd : public RealServer {
 public:
  struct Options {
    bool services = false;  // a link port and a link block for services.zorv.test, the SASL target
    int clockBehindHours = 0;  // the server's clock set back (through libfaketime)
  };
  explicit Inspircd(Options options);
  int port() const { return port_; }
  int linkPort() const { return linkPort_; }
  static constexpr const char* kLinkPassword = "link-e2e";
  static constexpr const char* kOper = "boss";  // OPER boss boss-e2e gives every command
  static constexpr const char* kOperPassword = "boss-e2e";

 private:
  int port_ = 0;
  int linkPort_ = 0;
};

// atheme-services with NickServ and SaslServ (PLAIN), linked to hub as
// services.zorv.test; running() once it has synchronised with the hub.
class Atheme : public RealServer {
 public:
  explicit Atheme(const Inspircd& hub);
};

// znc with one user whose one network is the server at upstreamPort, in
// channel; clients log in with the server password "user/net:password".
class Znc : public RealServer {
 public:
  Znc(int upstreamPort, const std::string& user, const std::string& password, const std::string& channel);
  int port() const { return port_; }

 private:
  int port_ = 0;
};

}  // namespace testsupport
