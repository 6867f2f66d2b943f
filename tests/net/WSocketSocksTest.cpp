// The SOCKS 5 client: every reply check against a scripted proxy, then real
// sessions through Dante's danted on loopback.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <random>

#include "NetTestUtil.h"

using namespace nettest;
using testsupport::pumpFor;
using testsupport::waitFor;
using V = std::vector<std::string>;

namespace {

std::string bytes(std::initializer_list<int> b) {
  std::string s;
  for (int c : b) s += static_cast<char>(c);
  return s;
}

// The CONNECT request for host:port by domain name.
std::string connectRequest(const std::string& host, int port) {
  return bytes({5, 1, 0, 3, static_cast<int>(host.size())}) + host +
         bytes({(port >> 8) & 0xff, port & 0xff});
}

struct SocksRecorder : Recorder {
  void attachSocks(TWSocket& s) {
    attach(s);
    s.OnChangeState = nullptr;
    s.OnSocksConnected = [this](TCustomWSocket*, uint16_t e) { add("SocksConnected", e); };
    s.OnSocksError = [this](TCustomWSocket*, int e, const std::string& msg) {
      events.push_back("SocksError " + std::to_string(e) + " " + msg);
    };
    s.OnSocksAuthState = [this](TCustomWSocket*, int st) { add("AuthState", st); };
  }
};

void startThroughProxy(TWSocket& s, int proxyPort, const std::string& target, int targetPort,
                       TSocksAuthentication auth = socksNoAuthentication) {
  s.SetSocksServer("127.0.0.1");
  s.SetSocksPort(std::to_string(proxyPort));
  s.SetSocksAuthentication(auth);
  s.SetSocksUsercode("user");
  s.SetSocksPassword("pass");
  s.SetAddr(target);
  s.SetPort(std::to_string(targetPort));
  s.SetProto("tcp");
  s.Connect();
}

// One exchange with the proxy: what the client must send, then the answer.
struct Step {
  std::string expect, reply;
};

}  // namespace

TEST(WSocketSocks, ScriptedProxyReplies) {
  const std::string hello = bytes({5, 1, 0}), helloAuth = bytes({5, 1, 2});
  const std::string login = bytes({1, 4}) + "user" + bytes({4}) + "pass";
  const std::string request = connectRequest("irc.example", 6667);
  const std::string okIPv4 = bytes({5, 0, 0, 1, 10, 0, 0, 1, 0x1f, 0x90});
  auto closedWith = [](int code, const std::string& text) {
    return V{"SocksConnected 0", "SocksError " + std::to_string(code) + " " + text,
             "SessionConnected " + std::to_string(code), "SessionClosed " + std::to_string(code)};
  };
  auto connectCode = [&](int code) {
    return std::vector<Step>{{hello, bytes({5, 0})}, {request, bytes({5, code, 0, 1})}};
  };
  struct Case {
    const char* name;
    TSocksAuthentication auth;
    std::vector<Step> steps;
    V events;
  } cases[] = {
      {"no authentication", socksNoAuthentication, {{hello, bytes({5, 0})}, {request, okIPv4}},
       {"SocksConnected 0", "SessionConnected 0", "DataAvailable 0"}},
      {"login accepted (RFC 1929 version 1)", socksAuthenticateUsercode,
       {{helloAuth, bytes({5, 2})}, {login, bytes({1, 0})}, {request, okIPv4}},
       {"SocksConnected 0", "AuthState 0", "AuthState 1", "SessionConnected 0", "DataAvailable 0"}},
      {"login accepted with version 5", socksAuthenticateUsercode,
       {{helloAuth, bytes({5, 2})}, {login, bytes({5, 0})}, {request, okIPv4}},
       {"SocksConnected 0", "AuthState 0", "AuthState 1", "SessionConnected 0", "DataAvailable 0"}},
      {"login not required", socksAuthenticateUsercode, {{helloAuth, bytes({5, 0})}, {request, okIPv4}},
       {"SocksConnected 0", "AuthState 3", "SessionConnected 0", "DataAvailable 0"}},
      {"login refused", socksAuthenticateUsercode, {{helloAuth, bytes({5, 2})}, {login, bytes({1, 1})}},
       {"SocksConnected 0", "AuthState 0", "AuthState 2", "SocksError 20015 socks authentication failed",
        "SessionConnected 20015", "SessionClosed 20015"}},
      {"login reply of a wrong version", socksAuthenticateUsercode,
       {{helloAuth, bytes({5, 2})}, {login, bytes({2, 0})}},
       {"SocksConnected 0", "AuthState 0", "AuthState 2", "SocksError 20002 socks version error",
        "SessionConnected 20002", "SessionClosed 20002"}},
      {"method reply of a wrong version", socksNoAuthentication, {{hello, bytes({4, 0})}},
       closedWith(20002, "socks version error")},
      {"no acceptable method", socksNoAuthentication, {{hello, bytes({5, 0xff})}},
       closedWith(20003, "authentification method not acceptable")},
      {"method reply too long", socksNoAuthentication, {{hello, bytes({5, 0, 0})}},
       closedWith(20001, "too much data availaible")},
      {"connect reply of a wrong version", socksNoAuthentication,
       {{hello, bytes({5, 0})}, {request, bytes({4, 0, 0, 1})}}, closedWith(20002, "socks version error")},
      {"address type 4", socksNoAuthentication,
       {{hello, bytes({5, 0})}, {request, bytes({5, 0, 0, 4, 0})}},
       closedWith(20011, "address type not supported")},
      {"code 1", socksNoAuthentication, connectCode(1), closedWith(20004, "general SOCKS server failure")},
      {"code 2", socksNoAuthentication, connectCode(2), closedWith(20005, "connection not allowed by ruleset")},
      {"code 3", socksNoAuthentication, connectCode(3), closedWith(20006, "network unreachable")},
      {"code 4", socksNoAuthentication, connectCode(4), closedWith(20007, "host unreachable")},
      {"code 5", socksNoAuthentication, connectCode(5), closedWith(20008, "connection refused")},
      {"code 6", socksNoAuthentication, connectCode(6), closedWith(20009, "time to live expired")},
      {"code 7", socksNoAuthentication, connectCode(7), closedWith(20010, "command not supported")},
      {"code 8", socksNoAuthentication, connectCode(8), closedWith(20011, "address type not supported")},
      {"code 9", socksNoAuthentication, connectCode(9), closedWith(20012, "unassigned error #9")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RawPeer proxy;
    TWSocket s;
    SocksRecorder r;
    r.attachSocks(s);
    startThroughProxy(s, proxy.port(), "irc.example", 6667, c.auth);
    ASSERT_TRUE(proxy.accept());
    std::string expected;
    for (const auto& step : c.steps) {
      expected += step.expect;
      ASSERT_EQ(proxy.read(expected.size()), expected);
      proxy.send(step.reply);
    }
    const std::string last = c.events.back();
    ASSERT_TRUE(waitFor([&] { return r.has(last); })) << r.events.size();
    pumpFor(20);
    EXPECT_EQ(r.events, c.events);
    if (last == "DataAvailable 0") {
      EXPECT_EQ(s.State(), wsConnected);
      EXPECT_EQ(s.BoundAddr(), "10.0.0.1");
      EXPECT_EQ(s.BoundPort(), "8080");
    } else {
      EXPECT_EQ(s.State(), wsClosed);
      proxy.read(expected.size() + 1);
      EXPECT_TRUE(proxy.eof) << "the client closed the proxy connection";
    }
  }
}

TEST(WSocketSocks, BytesAfterTheConnectReplyComeFirst) {
  RawPeer proxy;
  TWSocket s;
  SocksRecorder r;
  r.attachSocks(s);
  startThroughProxy(s, proxy.port(), "irc.example", 6667);
  ASSERT_TRUE(proxy.accept());
  proxy.read(3);
  proxy.send(bytes({5, 0}));
  proxy.read(3 + connectRequest("irc.example", 6667).size());
  // The reply with a domain name, then the server's first bytes in the same packet.
  proxy.send(bytes({5, 0, 0, 3, 4}) + "bnd." + bytes({0, 80}) + ":irc NOTICE * :hi\r\n");
  ASSERT_TRUE(waitFor([&] { return r.data == ":irc NOTICE * :hi\r\n"; }));
  EXPECT_EQ(r.main(), (V{"SocksConnected 0", "SessionConnected 0", "DataAvailable 0"}));
  EXPECT_EQ(s.BoundAddr(), "bnd.");
  EXPECT_EQ(s.BoundPort(), "80");
  proxy.send("more\r\n");
  ASSERT_TRUE(waitFor([&] { return r.data == ":irc NOTICE * :hi\r\nmore\r\n"; }));
  s.SendStr("PONG\r\n");
  EXPECT_EQ(proxy.read(3 + 18 + 6).substr(21), "PONG\r\n");
}

TEST(WSocketSocks, CloseDuringLoginAndRefusals) {
  RawPeer proxy;
  TWSocket s;
  SocksRecorder r;
  r.attachSocks(s);
  startThroughProxy(s, proxy.port(), "irc.example", 6667, socksAuthenticateUsercode);
  ASSERT_TRUE(proxy.accept());
  proxy.read(3);
  proxy.send(bytes({5, 2}));
  proxy.read(3 + 11);
  proxy.closeClient();
  ASSERT_TRUE(waitFor([&] { return r.has("SessionClosed 0"); }));
  EXPECT_EQ(r.main(), (V{"SocksConnected 0", "AuthState 0", "AuthState 2", "SessionClosed 0"}));

  auto text = [](const std::function<void()>& f) {
    try {
      f();
    } catch (const ESocketException& e) {
      return std::string(e.what());
    }
    return std::string("<no exception>");
  };
  TWSocket t;
  t.SetSocksServer("127.0.0.1");
  t.SetSocksPort("1080");
  t.SetAddr("irc.example");
  t.SetPort("6667");
  t.SetProto("udp");
  EXPECT_EQ(text([&] { t.Connect(); }), "tcp is the only protocol supported thru socks server");
  EXPECT_EQ(text([&] { t.Listen(); }), "listening is not supported thru socks server");
  EXPECT_EQ(t.State(), wsClosed);

  // While connected the proxy settings stay as they are; after the close
  // they are back to their defaults.
  RawPeer proxy2;
  startThroughProxy(s, proxy2.port(), "irc.example", 6667);
  EXPECT_EQ(text([&] { s.SetSocksServer("10.0.0.1"); }), "Can't change socks server if not closed");
  EXPECT_EQ(text([&] { s.SetSocksPort("1"); }), "Can't change socks port if not closed");
  s.Close();
  EXPECT_EQ(s.SocksServer(), "");
  EXPECT_EQ(s.SocksPort(), "");

  // A proxy that is not there: the connect outcome, then the close.
  r.events.clear();
  startThroughProxy(s, testsupport::unusedPort(), "irc.example", 6667);
  ASSERT_TRUE(waitFor([&] { return r.has("SessionClosed 0"); }));
  EXPECT_EQ(r.main(), (V{"SocksConnected 10061", "SessionConnected 10061", "SessionClosed 0"}));
}

// ---------------------------------------------------------------------------
// Through Dante

namespace {

class Danted {
 public:
  // method: "none" or "username".
  explicit Danted(const std::string& method) {
    port_ = testsupport::unusedPort();
    const bool root = ::geteuid() == 0;
    QString conf = QStringLiteral(
                       "logoutput: %1/danted.log\n"
                       "internal: 127.0.0.1 port = %2\n"
                       "external: 127.0.0.1\n"
                       "clientmethod: none\n"
                       "socksmethod: %3\n")
                       .arg(dir_.path())
                       .arg(port_)
                       .arg(QString::fromStdString(method));
    if (root) conf += QStringLiteral("user.privileged: root\nuser.unprivileged: nobody\n");
    conf += QStringLiteral(
        "client pass { from: 127.0.0.0/8 to: 0.0.0.0/0 }\n"
        "socks pass { from: 127.0.0.0/8 to: 127.0.0.0/8 command: connect }\n");
    QFile f(dir_.filePath("danted.conf"));
    if (!f.open(QIODevice::WriteOnly)) return;
    f.write(conf.toUtf8());
    f.close();
    proc_.setProgram(QStringLiteral("/usr/sbin/danted"));
    proc_.setArguments({"-f", dir_.filePath("danted.conf"), "-p", dir_.filePath("danted.pid"), "-N", "1"});
    proc_.setProcessChannelMode(QProcess::MergedChannels);
    proc_.start();
    if (!proc_.waitForStarted(5000)) return;
    ready_ = waitFor([&] {
      int fd = ::socket(AF_INET, SOCK_STREAM, 0);
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      a.sin_port = htons(static_cast<uint16_t>(port_));
      bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
      ::close(fd);
      return ok || proc_.state() == QProcess::NotRunning;
    }, 10000) && proc_.state() == QProcess::Running;
  }
  ~Danted() {
    if (proc_.state() != QProcess::NotRunning) {
      proc_.terminate();
      if (!proc_.waitForFinished(5000)) {
        proc_.kill();
        proc_.waitForFinished(5000);
      }
    }
  }
  bool ready() const { return ready_; }
  int port() const { return port_; }
  std::string output() {
    QFile log(dir_.filePath("danted.log"));
    log.open(QIODevice::ReadOnly);
    return (proc_.readAll() + log.readAll()).toStdString();
  }

 private:
  QTemporaryDir dir_;
  QProcess proc_;
  int port_ = 0;
  bool ready_ = false;
};

// A system account that exists for one test (Dante's user name method checks
// the system's passwords).
class ThrowAwayUser {
 public:
  ThrowAwayUser() {
    std::random_device rd;
    name = "zorvsx" + std::to_string(rd() % 1000000);
    password = "pw" + std::to_string(rd());
    if (QProcess::execute("/usr/sbin/useradd", {"-M", "-N", "-s", "/usr/sbin/nologin",
                                                QString::fromStdString(name)}) != 0)
      return;
    created_ = true;
    QProcess chpasswd;
    chpasswd.start("/usr/sbin/chpasswd", {});
    chpasswd.waitForStarted(5000);
    chpasswd.write(QByteArray::fromStdString(name + ":" + password + "\n"));
    chpasswd.closeWriteChannel();
    ok = chpasswd.waitForFinished(10000) && chpasswd.exitCode() == 0;
  }
  ~ThrowAwayUser() {
    if (created_) QProcess::execute("/usr/sbin/userdel", {QString::fromStdString(name)});
  }
  std::string name, password;
  bool ok = false;

 private:
  bool created_ = false;
};

// A session through the proxy to a loopback listener: both directions, then
// the target closes.
void sessionThroughDante(int proxyPort, TSocksAuthentication auth, const std::string& user,
                         const std::string& password, const V& expectedStart) {
  RawPeer target;
  TWSocket s;
  SocksRecorder r;
  r.attachSocks(s);
  s.SetSocksServer("127.0.0.1");
  s.SetSocksPort(std::to_string(proxyPort));
  s.SetSocksAuthentication(auth);
  s.SetSocksUsercode(user);
  s.SetSocksPassword(password);
  s.SetAddr("127.0.0.1");
  s.SetPort(target.portStr());
  s.Connect();
  ASSERT_TRUE(waitFor([&] { return r.has("SessionConnected 0"); }, 10000)) << ::testing::PrintToString(r.events);
  EXPECT_EQ(r.main(), expectedStart);
  ASSERT_TRUE(target.accept());
  s.SendStr("NICK zorv\r\n");
  EXPECT_EQ(target.read(11), "NICK zorv\r\n");
  target.send(":srv 001 zorv :Welcome\r\n");
  ASSERT_TRUE(waitFor([&] { return r.data == ":srv 001 zorv :Welcome\r\n"; }));
  target.closeClient();
  ASSERT_TRUE(waitFor([&] { return r.has("SessionClosed 0"); }, 10000));
  EXPECT_EQ(s.State(), wsClosed);
}

}  // namespace

TEST(WSocketSocksDante, SessionWithoutAuthentication) {
  Danted proxy("none");
  ASSERT_TRUE(proxy.ready()) << proxy.output();
  sessionThroughDante(proxy.port(), socksNoAuthentication, "", "",
                      V{"SocksConnected 0", "SessionConnected 0", "DataAvailable 0"});
}

TEST(WSocketSocksDante, SessionWithUserNameAndPassword) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to create a throw-away system user for danted";
  ThrowAwayUser user;
  if (!user.ok) GTEST_SKIP() << "could not create a system user";
  Danted proxy("username");
  ASSERT_TRUE(proxy.ready()) << proxy.output();
  sessionThroughDante(proxy.port(), socksAuthenticateUsercode, user.name, user.password,
                      V{"SocksConnected 0", "AuthState 0", "AuthState 1", "SessionConnected 0", "DataAvailable 0"});

  // A wrong password is refused by the proxy.
  TWSocket s;
  SocksRecorder r;
  r.attachSocks(s);
  startThroughProxy(s, proxy.port(), "127.0.0.1", 1, socksAuthenticateUsercode);
  ASSERT_TRUE(waitFor([&] { return r.has("SessionClosed 20015") || r.has("SessionClosed 0"); }, 10000))
      << ::testing::PrintToString(r.events);
  EXPECT_TRUE(r.has("AuthState 2"));
  EXPECT_EQ(s.State(), wsClosed);
}
