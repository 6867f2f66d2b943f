// The real program (with the one added step that presses Connect once its
// window is painted) against a scripted server: a channel window that gathered
// many lines in front goes behind and gets one more line; the program must
// still answer the server afterwards and end normally.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <csignal>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "TestSupport.h"

namespace {

struct Program {
  pid_t pid = -1;
  int status = 0;
  bool exited = false;

  ~Program() {
    if (pid > 0 && alive()) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
    }
  }

  bool alive() {
    if (!exited && ::waitpid(pid, &status, WNOHANG) == pid) exited = true;
    return !exited;
  }
  // Ends it with SIGTERM; returns its exit code (-1 when it died by a signal or hung).
  int end() {
    if (alive()) {
      ::kill(pid, SIGTERM);
      if (!testsupport::waitFor([&] { return !alive(); }, 20000)) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        return -1;
      }
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
};

Program start(const QString& dir, int port) {
  QFile ini(dir + "/ZORV.INI");
  EXPECT_TRUE(ini.open(QIODevice::WriteOnly));
  ini.write(QStringLiteral("[User Info]\r\nNick=zoe\r\nServer=127.0.0.1\r\nPort=%1\r\n"
                           "[Client Info]\r\nScrollbackLines=0\r\n").arg(port).toLatin1());
  ini.close();
  const QString exe = dir + "/zorv";
  EXPECT_TRUE(QFile::copy(ZORV_CONNECTING_BINARY, exe));
  QFile::setPermissions(exe, QFile::permissions(exe) | QFile::ExeOwner);
  Program p;
  p.pid = ::fork();
  if (p.pid == 0) {
    ::freopen("/dev/null", "w", stdout);  // the test's own output stays the test's
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::execl(exe.toLocal8Bit().constData(), "zorv", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  return p;
}

TEST(ProgramLongSession, AFrontWindowWithManyLinesGoesBehindAndTheProgramGoesOn) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  testsupport::LoopbackServer server;
  Program program = start(dir.path(), server.port());
  ASSERT_TRUE(server.accept(20000));
  ASSERT_TRUE(server.waitReceived("USER ", 20000));

  std::string burst = ":srv 001 zoe :Welcome\r\n:zoe!u@h JOIN :#bg\r\n:zoe!u@h JOIN :#vis\r\n";
  for (int i = 0; i < 30000; ++i) burst += ":amy!u@h PRIVMSG #vis :line " + std::to_string(i) + "\r\n";
  server.send(burst);
  server.send("PING :front\r\n");  // #vis has taken every line in front
  ASSERT_TRUE(server.waitReceived("PONG :front", 30000));
  // A private message opens a window in front; #vis goes behind and gets one more line.
  server.send(":frank!u@h PRIVMSG zoe :hello\r\n:amy!u@h PRIVMSG #vis :one more\r\nPING :alive\r\n");
  EXPECT_TRUE(server.waitReceived("PONG :alive", 30000));
  EXPECT_TRUE(program.alive());
  EXPECT_EQ(program.end(), 0);
  EXPECT_TRUE(server.waitReceived("\r\nQUIT ", 5000));
}

}  // namespace
