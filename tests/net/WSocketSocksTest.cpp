// The SOCKS 5 client (the program itself does not use it): the connect
// reply's parser, then real sessions through Dante's danted on loopback.
#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <optional>
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

// Hostile replies are fuzz/SocksFuzz.cpp's, replayed over its corpus as a test.
TEST(WSocketSocks, ConnectReplyCheck) {
  using R = zorv::TSocksReply;
  const std::string v6 = bytes({5, 0, 0, 4, 0x20, 1, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 80});
  const std::string name = bytes({5, 0, 0, 3, 255}) + std::string(255, 'n') + bytes({1, 0});
  const struct { std::string in; int status, error; std::string bound; } rows[] = {  // bound: address:port when done
      {"", R::NeedMore, 0, ""}, {bytes({5, 0, 0, 1}), R::NeedMore, 0, ""}, {v6.substr(0, 21), R::NeedMore, 0, ""},
      {bytes({5, 0, 0, 1, 127, 0, 0, 1, 0, 80, 'x'}), R::Done, 0, "127.0.0.1:80"}, {v6, R::Done, 0, "2001:db8::1:80"},
      {name, R::Done, 0, std::string(255, 'n') + ":256"}, {name.substr(0, 261), R::NeedMore, 0, ""},
      {bytes({5, 0, 0, 3, 0, 0, 7}), R::Done, 0, ":7"}, {bytes({4}), R::Failed, 20002, ""},
      {bytes({5, 5}), R::Failed, 20008, ""}, {bytes({5, 0, 0, 0xff, 0}), R::Failed, 20011, ""},
  };
  for (const auto& row : rows) {
    const R r = zorv::WSocketParseSocksReply(reinterpret_cast<const unsigned char*>(row.in.data()), row.in.size());
    EXPECT_EQ(std::tuple(r.Status, r.Error, r.Status == R::Done ? r.BoundAddr + ":" + r.BoundPort : ""),
              std::tuple(row.status, row.error, row.bound))
        << ::testing::PrintToString(row.in);
  }
}

// danted on a loopback port; method "none" or "username" (checked against
// the system's passwords).
struct Danted {
  QTemporaryDir dir;
  QProcess proc;
  int port = testsupport::unusedPort();
  bool ready = false;
  explicit Danted(const QString& method) {
    QString conf = QStringLiteral(
                       "logoutput: %1/danted.log\ninternal: 127.0.0.1 port = %2\nexternal: 127.0.0.1\nclientmethod: "
                       "none\nsocksmethod: %3\n")
                       .arg(dir.path())
                       .arg(port)
                       .arg(method);
    if (::geteuid() == 0) conf += "user.privileged: root\nuser.unprivileged: nobody\n";
    conf +=
        "client pass { from: 127.0.0.0/8 to: 0.0.0.0/0 }\nsocks pass { from: 127.0.0.0/8 to: 127.0.0.0/8 command: "
        "connect }\n";
    testsupport::writeBytes(dir.filePath("danted.conf"), conf.toUtf8());
    proc.setProcessChannelMode(QProcess::MergedChannels);
    proc.start("/usr/sbin/danted", {"-f", dir.filePath("danted.conf"), "-p", dir.filePath("danted.pid"), "-N", "1"});
    ready = proc.waitForStarted(5000) &&
            waitFor([&] { return testsupport::canConnect(port) || proc.state() == QProcess::NotRunning; }, 10000) &&
            proc.state() == QProcess::Running;
  }
  ~Danted() {
    proc.terminate();
    if (!proc.waitForFinished(5000)) proc.kill(), proc.waitForFinished(5000);
  }
  std::string output() { return (proc.readAll() + testsupport::readBytes(dir.filePath("danted.log"))).toStdString(); }
};

// A system account that exists for one test.
struct ThrowAwayUser {
  std::string name = "zorvsx" + std::to_string(std::random_device()() % 1000000),
              password = "pw" + std::to_string(std::random_device()());
  bool ok = QProcess::execute("/bin/sh",
                              {"-c", QString::fromStdString("useradd -M -N -s /usr/sbin/nologin " + name + " && echo " +
                                                            name + ":" + password + " | chpasswd")}) == 0;
  ~ThrowAwayUser() { QProcess::execute("/usr/sbin/userdel", {name.c_str()}); }
};

// Real sessions through the proxy to a loopback listener, both directions,
// then the target closes; with a login, a wrong password is refused.
TEST(WSocketSocksDante, SessionsWithoutAndWithLogin) {
  for (const bool login : {false, true}) {
    SCOPED_TRACE(login ? "username" : "none");
    if (login && ::geteuid() != 0) GTEST_SKIP() << "needs root to create a throw-away system user for danted";
    std::optional<ThrowAwayUser> user;
    if (login) {
      ASSERT_TRUE(user.emplace().ok) << "could not create a system user";
    }
    Danted proxy(login ? "username" : "none");
    ASSERT_TRUE(proxy.ready) << proxy.output();
    auto start = [&](TWSocket& s, Recorder& r, int port, const std::string& name, const std::string& password) {
      r.attach(s);
      s.OnChangeState = nullptr;
      s.OnSocksConnected = [&r](TCustomWSocket*, uint16_t e) { r.add("SocksConnected", e); };
      s.OnSocksAuthState = [&r](TCustomWSocket*, int st) { r.add("AuthState", st); };
      s.SetSocksServer("127.0.0.1");
      s.SetSocksPort(std::to_string(proxy.port));
      s.SetSocksAuthentication(login ? socksAuthenticateUsercode : socksNoAuthentication);
      s.SetSocksUsercode(name);
      s.SetSocksPassword(password);
      connectTo(s, port);
    };
    Peer target;
    TWSocket s;
    Recorder r;
    start(s, r, target.port(), user ? user->name : "", user ? user->password : "");
    ASSERT_TRUE(waitFor([&] { return r.has("SessionConnected 0"); }, 10000)) << ::testing::PrintToString(r.events);
    EXPECT_EQ(r.main(),
              (login ? V{"SocksConnected 0", "AuthState 0", "AuthState 1", "SessionConnected 0", "DataAvailable 0"}
                     : V{"SocksConnected 0", "SessionConnected 0", "DataAvailable 0"}));
    ASSERT_TRUE(target.accept());
    s.SendStr("NICK zorv\r\n");
    EXPECT_EQ(target.read(11), "NICK zorv\r\n");
    target.send(":srv 001 zorv :Welcome\r\n");
    ASSERT_TRUE(waitFor([&] { return r.data == ":srv 001 zorv :Welcome\r\n"; }));
    target.closeClient();
    ASSERT_TRUE(waitFor([&] { return r.has("SessionClosed 0"); }, 10000));
    if (!login) continue;
    TWSocket t;
    Recorder rt;
    start(t, rt, 1, "user", "wrong");
    ASSERT_TRUE(waitFor([&] { return rt.has("SessionClosed 20015") || rt.has("SessionClosed 0"); }, 10000));
    EXPECT_TRUE(rt.has("AuthState 2")) << ::testing::PrintToString(rt.events);
  }
}

}  // namespace
