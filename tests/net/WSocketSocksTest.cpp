// The SOCKS 5 client (the program itself does not use it): the connect
// reply's parser, then real sessions through Dante's danted on loopback.
#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <memory>
#include <random>
#include <unistd.h>

#include "NetTestUtil.h"

using namespace nettest;

namespace {

std::string bytes(std::initializer_list<int> b) {
  std::string s;
  for (int c : b) s += static_cast<char>(c);
  return s;
}

struct SocksRecorder : Recorder {
  explicit SocksRecorder(TWSocket& s) {
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
                       TSocksAuthentication auth = socksNoAuthentication, const std::string& user = "user",
                       const std::string& password = "pass") {
  s.SetSocksServer("127.0.0.1");
  s.SetSocksPort(std::to_string(proxyPort));
  s.SetSocksAuthentication(auth);
  s.SetSocksUsercode(user);
  s.SetSocksPassword(password);
  setTarget(s, target, std::to_string(targetPort));
  s.Connect();
}

}  // namespace

// Hostile replies are fuzz/SocksFuzz.cpp's, replayed over its corpus as a test.
TEST(WSocketSocks, ConnectReplyCheck) {
  using R = zorv::TSocksReply;
  const std::string v6 = bytes({5, 0, 0, 4, 0x20, 1, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 80});
  const std::string name = bytes({5, 0, 0, 3, 255}) + std::string(255, 'n') + bytes({1, 0});
  struct Row {
    std::string in;
    int status, error;
    std::string bound;  // address:port when done
  } rows[] = {
      {"", R::NeedMore, 0, ""}, {bytes({5, 0, 0, 1}), R::NeedMore, 0, ""}, {v6.substr(0, 21), R::NeedMore, 0, ""},
      {bytes({5, 0, 0, 1, 127, 0, 0, 1, 0, 80, 'x'}), R::Done, 0, "127.0.0.1:80"}, {v6, R::Done, 0, "2001:db8::1:80"},
      {name, R::Done, 0, std::string(255, 'n') + ":256"}, {name.substr(0, 261), R::NeedMore, 0, ""},
      {bytes({5, 0, 0, 3, 0, 0, 7}), R::Done, 0, ":7"}, {bytes({4}), R::Failed, 20002, ""},
      {bytes({5, 5}), R::Failed, 20008, ""}, {bytes({5, 0, 0, 0xff, 0}), R::Failed, 20011, ""},
  };
  for (const Row& row : rows) {
    const auto* p = reinterpret_cast<const unsigned char*>(row.in.data());
    const R r = zorv::WSocketParseSocksReply(p, row.in.size());
    EXPECT_EQ(r.Status, row.status) << ::testing::PrintToString(row.in);
    EXPECT_EQ(r.Error, row.error) << ::testing::PrintToString(row.in);
    EXPECT_EQ(r.Status == R::Done ? r.BoundAddr + ":" + r.BoundPort : "", row.bound);
  }
}

namespace {

// danted on a loopback port; method "none" or "username" (checked against
// the system's passwords).
class Danted {
 public:
  explicit Danted(const std::string& method) : port_(testsupport::unusedPort()) {
    QString conf = QStringLiteral("logoutput: %1/danted.log\ninternal: 127.0.0.1 port = %2\n"
                                  "external: 127.0.0.1\nclientmethod: none\nsocksmethod: %3\n")
                       .arg(dir_.path()).arg(port_).arg(QString::fromStdString(method));
    if (::geteuid() == 0) conf += QStringLiteral("user.privileged: root\nuser.unprivileged: nobody\n");
    conf += QStringLiteral("client pass { from: 127.0.0.0/8 to: 0.0.0.0/0 }\n"
                           "socks pass { from: 127.0.0.0/8 to: 127.0.0.0/8 command: connect }\n");
    QFile f(dir_.filePath("danted.conf"));
    if (!f.open(QIODevice::WriteOnly) || f.write(conf.toUtf8()) < 0) return;
    f.close();
    proc_.setProcessChannelMode(QProcess::MergedChannels);
    proc_.start("/usr/sbin/danted", {"-f", f.fileName(), "-p", dir_.filePath("danted.pid"), "-N", "1"});
    if (!proc_.waitForStarted(5000)) return;
    ready_ = waitFor([&] { return testsupport::canConnect(port_) || proc_.state() == QProcess::NotRunning; }, 10000) &&
             proc_.state() == QProcess::Running;
  }
  ~Danted() {
    proc_.terminate();
    if (!proc_.waitForFinished(5000)) proc_.kill(), proc_.waitForFinished(5000);
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
  int port_;
  bool ready_ = false;
};

// A system account that exists for one test.
struct ThrowAwayUser {
  std::string name, password;
  bool ok = false, created = false;
  ThrowAwayUser() {
    std::random_device rd;
    name = "zorvsx" + std::to_string(rd() % 1000000);
    password = "pw" + std::to_string(rd());
    if (QProcess::execute("/usr/sbin/useradd", {"-M", "-N", "-s", "/usr/sbin/nologin", name.c_str()}) != 0) return;
    created = true;
    QProcess chpasswd;
    chpasswd.start("/usr/sbin/chpasswd", {});
    chpasswd.waitForStarted(5000);
    chpasswd.write(QByteArray::fromStdString(name + ":" + password + "\n"));
    chpasswd.closeWriteChannel();
    ok = chpasswd.waitForFinished(10000) && chpasswd.exitCode() == 0;
  }
  ~ThrowAwayUser() {
    if (created) QProcess::execute("/usr/sbin/userdel", {name.c_str()});
  }
};

}  // namespace

// Real sessions through the proxy to a loopback listener, both directions,
// then the target closes; with a login, a wrong password is refused.
TEST(WSocketSocksDante, SessionsWithoutAndWithLogin) {
  const struct {
    const char* method;
    TSocksAuthentication auth;
    V start;
  } rows[] = {
      {"none", socksNoAuthentication, {"SocksConnected 0", "SessionConnected 0", "DataAvailable 0"}},
      {"username", socksAuthenticateUsercode, {"SocksConnected 0", "AuthState 0", "AuthState 1", "SessionConnected 0", "DataAvailable 0"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.method);
    const bool login = row.auth == socksAuthenticateUsercode;
    if (login && ::geteuid() != 0) GTEST_SKIP() << "needs root to create a throw-away system user for danted";
    std::unique_ptr<ThrowAwayUser> user(login ? new ThrowAwayUser : nullptr);
    ASSERT_TRUE(!user || user->ok) << "could not create a system user";
    Danted proxy(row.method);
    ASSERT_TRUE(proxy.ready()) << proxy.output();
    Peer target;
    TWSocket s;
    SocksRecorder r(s);
    startThroughProxy(s, proxy.port(), "127.0.0.1", target.port(), row.auth, user ? user->name : "",
                      user ? user->password : "");
    ASSERT_TRUE(waitFor([&] { return r.has("SessionConnected 0"); }, 10000)) << ::testing::PrintToString(r.events);
    EXPECT_EQ(r.main(), row.start);
    ASSERT_TRUE(target.accept());
    s.SendStr("NICK zorv\r\n");
    EXPECT_EQ(target.read(11), "NICK zorv\r\n");
    target.send(":srv 001 zorv :Welcome\r\n");
    ASSERT_TRUE(waitFor([&] { return r.data == ":srv 001 zorv :Welcome\r\n"; }));
    target.closeClient();
    ASSERT_TRUE(waitFor([&] { return r.has("SessionClosed 0"); }, 10000));
    if (!login) continue;
    TWSocket t;
    SocksRecorder rt(t);
    startThroughProxy(t, proxy.port(), "127.0.0.1", 1, row.auth);  // user/pass: wrong
    ASSERT_TRUE(waitFor([&] { return rt.has("SessionClosed 20015") || rt.has("SessionClosed 0"); }, 10000));
    EXPECT_TRUE(rt.has("AuthState 2")) << ::testing::PrintToString(rt.events);
  }
}
