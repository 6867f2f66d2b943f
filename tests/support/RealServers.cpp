#include "RealServers.h"

#include <QDir>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <glob.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sstream>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "IrcServer.h"
#include "TestSupport.h"

namespace testsupport {
namespace {

// The user the servers run as: under root `nobody`, else the tests' own.
const passwd* serverUser() { return ::geteuid() == 0 ? ::getpwnam("nobody") : nullptr; }

std::string findProgram(const std::string& name) {
  std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
  path += ":/usr/sbin:/sbin:/usr/bin";
  std::istringstream dirs(path);
  for (std::string dir; std::getline(dirs, dir, ':');)
    if (!dir.empty() && ::access((dir + "/" + name).c_str(), X_OK) == 0) return dir + "/" + name;
  return {};
}

// libfaketime's preload library, "" when the faketime package is missing.
std::string fakeTimeLibrary() {
  glob_t g{};
  std::string found;
  if (::glob("/usr/lib/*/faketime/libfaketime.so.1", 0, nullptr, &g) == 0 && g.gl_pathc > 0) found = g.gl_pathv[0];
  ::globfree(&g);
  return found;
}

}  // namespace

bool Daemon::spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
  const std::string program = findProgram(argv.at(0));
  if (program.empty()) return false;
  const passwd* user = serverUser();
  // Everything the child needs is made before the fork.
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  std::vector<char*> vars;
  for (char** e = environ; *e; ++e) vars.push_back(*e);
  for (const std::string& e : env) vars.push_back(const_cast<char*>(e.c_str()));
  vars.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int devnull = ::open("/dev/null", O_RDWR);
    for (int fd = 0; fd < 3; ++fd) ::dup2(devnull, fd);
    if (user && (::setgroups(0, nullptr) != 0 || ::setgid(user->pw_gid) != 0 || ::setuid(user->pw_uid) != 0))
      ::_exit(126);
    // Gone with the tests even when they are killed.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    ::execve(program.c_str(), args.data(), vars.data());
    ::_exit(127);
  }
  pid_ = pid;
  return pid > 0;
}

bool Daemon::waitReady(const std::function<bool()>& ready, int timeoutMs) {
  for (int waited = 0; pid_ > 0 && waited <= timeoutMs; waited += 10) {
    if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
      pid_ = -1;
      return false;
    }
    if (ready()) return true;
    ::poll(nullptr, 0, 10);
  }
  return false;
}

void Daemon::stop() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGTERM);
  for (int i = 0; i < 300; ++i, ::poll(nullptr, 0, 10))
    if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
      pid_ = -1;
      return;
    }
  ::kill(pid_, SIGKILL);
  ::waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

ServerDir::ServerDir() {
  if (const passwd* user = serverUser(); user && dir_.isValid())
    if (::chown(dir_.path().toLocal8Bit().constData(), user->pw_uid, user->pw_gid) != 0) dir_.remove();
}

std::string ServerDir::path(const std::string& name) const {
  return dir_.path().toStdString() + (name.empty() ? "" : "/" + name);
}

void ServerDir::write(const std::string& name, const std::string& text) const {
  const std::string file = path(name);
  QDir().mkpath(QString::fromStdString(file.substr(0, file.rfind('/'))));
  std::ofstream(file) << text;
  if (const passwd* user = serverUser())
    for (std::string p = file; p.size() > path().size(); p.erase(p.rfind('/')))
      if (::chown(p.c_str(), user->pw_uid, user->pw_gid) != 0) return;
}

std::string ServerDir::read(const std::string& name) const {
  std::ifstream f(path(name));
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

bool RealServer::installed(const std::string& program, const std::string& package) {
  missing_ = findProgram(program).empty();
  if (missing_) error_ = program + " is not installed (Debian package " + package + "); the run needs it";
  return !missing_;
}

Inspircd::Inspircd(Options options) {
  if (!installed("inspircd", "inspircd")) return;
  std::vector<std::string> env;
  if (options.clockBehindHours) {
    const std::string lib = fakeTimeLibrary();
    if (lib.empty()) {
      missing_ = true;
      error_ = "libfaketime is not installed (Debian package faketime); the run needs it";
      return;
    }
    env = {"LD_PRELOAD=" + lib, "FAKETIME=-" + std::to_string(options.clockBehindHours) + "h"};
  }
  for (int attempt = 0; attempt < 5 && !ready_; ++attempt) {
    port_ = unusedPort();
    linkPort_ = options.services ? unusedPort() : 0;
    std::ostringstream c;
    c << "<server name=\"irc.zorv.test\" description=\"Zorv test server\" network=\"ZorvTest\" id=\"1ZT\">\n"
      << "<admin name=\"test\" nick=\"test\" email=\"test@zorv.test\">\n"
      << "<bind address=\"127.0.0.1\" port=\"" << port_ << "\" type=\"clients\">\n"
      << "<connect name=\"main\" allow=\"*\" timeout=\"60\" pingfreq=\"300\" hardsendq=\"1M\" softsendq=\"1M\""
         " recvq=\"16K\" threshold=\"1000\" commandrate=\"1000000\" localmax=\"1000\" globalmax=\"1000\""
         " useident=\"no\" resolvehostnames=\"no\" maxchans=\"50\">\n"
      << "<log method=\"file\" type=\"* -USERINPUT -USEROUTPUT\" level=\"default\" target=\""
      << dir_.path("ircd.log") << "\">\n"
      << "<dns server=\"127.0.0.1\" timeout=\"1\"><performance nouserdns=\"yes\">\n"
      << "<class name=\"all\" commands=\"*\" privs=\"*\" usermodes=\"*\" chanmodes=\"*\">\n"
      << "<type name=\"Admin\" classes=\"all\">\n"
      << "<oper name=\"" << kOper << "\" password=\"" << kOperPassword << "\" host=\"*@*\" type=\"Admin\">\n";
    for (const char* m : {"cap", "ircv3", "ircv3_accounttag", "ircv3_batch", "ircv3_capnotify", "ircv3_chghost",
                          "ircv3_ctctags", "ircv3_echomessage", "ircv3_invitenotify", "ircv3_msgid",
                          "ircv3_servertime", "namesx", "uhnames", "chghost", "hostcycle", "setname",
                          "services_account", "spanningtree"})
      c << "<module name=\"" << m << "\">\n";
    c << "<ircv3 accountnotify=\"yes\" awaynotify=\"yes\" extendedjoin=\"yes\">\n";
    if (options.services)
      c << "<bind address=\"127.0.0.1\" port=\"" << linkPort_ << "\" type=\"servers\">\n"
        << "<link name=\"services.zorv.test\" ipaddr=\"127.0.0.1\" port=\"" << linkPort_
        << "\" allowmask=\"127.0.0.0/8\" sendpass=\"" << kLinkPassword << "\" recvpass=\"" << kLinkPassword << "\">\n"
        << "<uline server=\"services.zorv.test\" silent=\"yes\">\n"
        << "<module name=\"sasl\"><sasl target=\"services.zorv.test\">\n";
    dir_.write("inspircd.conf", c.str());
    daemon_.stop();
    if (!daemon_.spawn({"inspircd", "--config", dir_.path("inspircd.conf"), "--nofork", "--nopid"}, env)) break;
    // It starts even when a port is taken: the one that answers must be this one.
    ready_ = daemon_.waitReady([&] { return canConnect(port_); }, 10000);
    IrcClient probe(port_);
    probe.sendLine("PING :probe");
    ready_ = ready_ && !probe.waitLine(":irc.zorv.test ", 3000).empty();
  }
  if (!ready_) error_ = "inspircd did not start: " + dir_.read("ircd.log").substr(0, 2000);
}

Atheme::Atheme(const Inspircd& hub) {
  if (!installed("atheme-services", "atheme-services")) return;
  std::ostringstream c;
  for (const char* m : {"protocol/inspircd", "backend/opensex", "crypto/pbkdf2v2", "nickserv/main", "nickserv/register",
                        "nickserv/identify", "saslserv/main", "saslserv/plain"})
    c << "loadmodule \"modules/" << m << "\";\n";
  c << "serverinfo { name = \"services.zorv.test\"; desc = \"Zorv test services\"; numeric = \"00A\"; recontime = 1;"
       " netname = \"ZorvTest\"; hidehostsuffix = \"users.zorv.test\"; adminname = \"test\";"
       " adminemail = \"test@zorv.test\"; registeremail = \"test@zorv.test\"; mta = \"/bin/false\";"
       " loglevel = { error; info; network; }; maxlogins = 5; maxusers = 50; auth = none; casemapping = rfc1459; };\n"
    << "uplink \"irc.zorv.test\" { host = \"127.0.0.1\"; password = \"" << Inspircd::kLinkPassword
    << "\"; port = " << hub.linkPort() << "; };\n"
    << "nickserv { nick = \"NickServ\"; user = \"NickServ\"; host = \"services.zorv.test\"; real = \"Nicknames\"; };\n"
    << "saslserv { nick = \"SaslServ\"; user = \"SaslServ\"; host = \"services.zorv.test\"; real = \"SASL\"; };\n"
    << "general { commit_interval = 5; flood_msgs = 1000; flood_time = 1; ratelimit_uses = 1000;"
       " ratelimit_period = 1; };\n";
  dir_.write("atheme.conf", c.str());
  dir_.write("atheme.log", "");
  if (daemon_.spawn({"atheme-services", "-n", "-c", dir_.path("atheme.conf"), "-D", dir_.path(), "-l",
                     dir_.path("atheme.log"), "-p", dir_.path("atheme.pid")}))
    ready_ = daemon_.waitReady(
        [&] { return dir_.read("atheme.log").find("finished synching with uplink") != std::string::npos; }, 15000);
  if (!ready_) error_ = "atheme-services did not link: " + dir_.read("atheme.log").substr(0, 2000);
}

Znc::Znc(int upstreamPort, const std::string& user, const std::string& password, const std::string& channel) {
  if (!installed("znc", "znc")) return;
  for (int attempt = 0; attempt < 5 && !ready_; ++attempt) {
    port_ = unusedPort();
    std::ostringstream c;
    c << "Version = 1.8.2\nConnectDelay = 0\nServerThrottle = 0\n"
      << "<Listener l>\n Port = " << port_ << "\n IPv4 = true\n IPv6 = false\n SSL = false\n Host = 127.0.0.1\n"
      << "</Listener>\n"
      << "<User " << user << ">\n <Pass password>\n  Method = plain\n  Hash = " << password << "\n </Pass>\n"
      << " Nick = " << user << "\n AltNick = " << user << "_\n Ident = " << user << "\n RealName = " << user << "\n"
      << " AutoClearChanBuffer = true\n ChanBufferSize = 50\n"
      << " <Network net>\n  FloodRate = 100\n  FloodBurst = 100\n  JoinDelay = 0\n"
      << "  Server = 127.0.0.1 " << upstreamPort << "\n  <Chan " << channel << ">\n  </Chan>\n </Network>\n</User>\n";
    dir_.write("configs/znc.conf", c.str());
    daemon_.stop();
    if (!daemon_.spawn({"znc", "--foreground", "--datadir", dir_.path()}, {"HOME=" + dir_.path()})) break;
    ready_ = daemon_.waitReady([&] { return canConnect(port_); }, 10000);
  }
  if (!ready_) error_ = "znc did not start";
}

}  // namespace testsupport
