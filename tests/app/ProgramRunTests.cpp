// The real program across runs: what one run saves, the next one reads; a
// damaged settings file gives the defaults and never a crash; where the
// settings file is kept; what the command line does; a long session.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QTemporaryDir>
#include <fstream>
#include <random>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>

#include "CommandLine.h"
#include "IniOut.h"
#include "Main.h"
#include "Profile.h"
#include "ProgramRun.h"
#include "TestSupport.h"

namespace {

// Runs the program in `dir` until it is up, ends it with SIGTERM and returns
// its exit status. The user's configuration folder is one of the test's own.
int runProgramIn(const QString& dir) {
  programrun::Options o;
  o.env = {{"XDG_CONFIG_HOME", (dir + "/.config-of-test").toStdString()}};
  return programrun::runUntilUp(dir, o);
}

struct Values {
  std::string nick, server, port, font, size;
};

Values readBack(const QString& dir) {
  const QString f = dir + "/ZORV.INI";
  auto get = [&](const char* section, const char* key) {
    return zorv::readProfileString(section, key, "<missing>", f).toStdString();
  };
  return {get("User Info", "Nick"), get("User Info", "Server"), get("User Info", "Port"),
          get("Client Info", "Font Name"), get("Client Info", "Font Size")};
}

void expectDefaults(const Values& v) {
  EXPECT_EQ(v.nick, "YourNick");
  EXPECT_EQ(v.server, zorv::kDefaultServer);
  EXPECT_EQ(v.port, "6667");
  EXPECT_EQ(v.font, "MS Sans Serif");
  EXPECT_EQ(v.size, "8");
}

}  // namespace

// A damaged settings file gives the defaults, written back at the end; what a
// run saves, the next one reads (and saves again).
TEST(ProgramRuns, DamagedSettingsGiveDefaultsAndTheNextRunReadsWhatWasSaved) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  std::mt19937 rng(7);
  std::string garbage;
  for (int i = 0; i < 200000; ++i) garbage += static_cast<char>(rng() & 0xFF);
  garbage += "\n[User Info]\nNick";  // a key line without "="
  {
    std::ofstream f((dir.path() + "/ZORV.INI").toStdString(), std::ios::binary);
    f << garbage;
  }
  ASSERT_EQ(runProgramIn(dir.path()), 0);
  expectDefaults(readBack(dir.path()));

  {
    TMainForm first(dir.path());
    first.nickField->setText("alice");
    first.serverField->setText("irc.example.org");
    first.portField->setText("6697");
  }
  ASSERT_EQ(runProgramIn(dir.path()), 0);
  const Values v = readBack(dir.path());
  EXPECT_EQ(v.nick, "alice");
  EXPECT_EQ(v.server, "irc.example.org");
  EXPECT_EQ(v.port, "6697");
  EXPECT_EQ(v.size, "8");
}

// ---------------------------------------------------------------------------
// Where the settings file is kept

namespace {

void chownTree(const QString& path, uid_t uid, gid_t gid) {
  ::chown(QFile::encodeName(path).constData(), uid, gid);
  for (const QFileInfo& e : QDir(path).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)) {
    if (e.isDir() && !e.isSymLink()) chownTree(e.filePath(), uid, gid);
    else ::chown(QFile::encodeName(e.filePath()).constData(), uid, gid);
  }
}

}  // namespace

// To make the program folder one the program cannot write: as root (whom no
// mode keeps out) the run is made as nobody, with the folder left root's; as
// any other user the folder is made read-only. The home belongs to whoever
// runs the program.
TEST(SettingsPlace, ReadOnlyProgramFolderUsesTheUsersConfigFolder) {
  QTemporaryDir tmp;
  const QString program = tmp.path() + "/prog", home = tmp.path() + "/home", config = home + "/.config/zorv";
  ASSERT_TRUE(tmp.isValid() && QDir().mkpath(program) && QDir().mkpath(home));
  for (const QString& d : {tmp.path(), program}) QFile::setPermissions(d, QFileDevice::Permissions(0x7755));
  ASSERT_FALSE(programrun::installCopy(program).isEmpty());
  const struct Restore {
    QString dir;
    ~Restore() { QFile::setPermissions(dir, QFileDevice::Permissions(0x7755)); }
  } restore{program};
  programrun::Options o;
  o.env = {{"HOME", home.toStdString()}};
  o.unset = {"XDG_CONFIG_HOME"};
  o.asNobody = ::geteuid() == 0;
  const auto [uid, gid] = programrun::nobodyIds();
  if (o.asNobody) chownTree(home, uid, gid);
  else QFile::setPermissions(program, QFileDevice::Permissions(0x5555));
  // No "Cannot save settings" box: one would block the program's end.
  ASSERT_EQ(programrun::runUntilUp(program, o), 0);
  EXPECT_FALSE(QFileInfo::exists(program + "/ZORV.INI"));
  expectDefaults(readBack(config));
  EXPECT_EQ(testsupport::fileMode(config), 0700);  // the configuration folder is the user's alone

  // The next run reads that file (and saves what it read).
  ASSERT_TRUE(zorv::writeProfileString("User Info", "Nick", "carol", config + "/ZORV.INI"));
  if (o.asNobody) chownTree(home, uid, gid);
  ASSERT_EQ(programrun::runUntilUp(program, o), 0);
  EXPECT_EQ(readBack(config).nick, "carol");
  EXPECT_FALSE(QFileInfo::exists(program + "/ZORV.INI"));
}

// The message about settings stays for a save that really fails, and only then.
TEST(SettingsPlace, SaveFailureIsReportedOnlyWhenNoFolderTakesTheFile) {
  struct Case {
    const char* configHome;  // "$T" stands for a temporary folder
    bool message;
  };
  for (const Case c : {Case{"$T/cfg", false}, Case{"/proc/zorv-nowhere", true}}) {
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    const QString configHome = QString(c.configHome).replace("$T", tmp.path());
    const QByteArray old = qgetenv("XDG_CONFIG_HOME");
    const bool hadOld = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", configHome.toLocal8Bit());
    testsupport::shownMessages().clear();
    {
      TMainForm form("/proc");  // a program folder no user can write
      EXPECT_EQ(form.SettingsFile(), configHome + "/zorv/ZORV.INI");
      form.nickField->setText("dave");
    }
    if (hadOld) qputenv("XDG_CONFIG_HOME", old);
    else qunsetenv("XDG_CONFIG_HOME");
    const QStringList shown = testsupport::shownMessages();
    EXPECT_EQ(shown.size(), c.message ? 1 : 0) << c.configHome;
    if (c.message && !shown.isEmpty()) {
      EXPECT_TRUE(shown[0].startsWith("Cannot save settings to " + configHome + "/zorv/ZORV.INI"))
          << shown[0].toStdString();
    }
    if (!c.message) {
      EXPECT_EQ(readBack(configHome + "/zorv").nick, "dave");
    }
  }
}

// ---------------------------------------------------------------------------
// The command line

TEST(ProgramCommandLine, HelpAndVersionNeedNoWindowAndBadArgumentsAreRefused) {
  struct Case {
    std::vector<std::string> args;
    bool display;  // false: the window system is one that cannot start here
    int status;
    std::string out;
    std::string err;  // a part of what is written to stderr
  };
  const std::vector<Case> cases = {
      {{"--version"}, false, 0, zorv::VersionText(), ""},
      {{"--help"}, false, 0, zorv::HelpText(), ""},
      {{"irc://127.0.0.1/%23x", "-h"}, false, 0, zorv::HelpText(), ""},
      {{"--bogus"}, true, 2, "", "zorv: unknown option --bogus\n"},
      {{"irc.example.org"}, true, 2, "", "zorv: not an irc:// or ircs:// link: irc.example.org\n"},
      {{"irc://a", "irc://b"}, true, 2, "", "only one link"},
  };
  for (const Case& c : cases) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    programrun::Options o;
    o.args = c.args;
    o.env = {{"XDG_CONFIG_HOME", (dir.path() + "/cfg").toStdString()}};
    o.unset = {"DISPLAY", "WAYLAND_DISPLAY"};
    if (!c.display) o.env.emplace_back("QT_QPA_PLATFORM", "xcb");  // without a display it would abort
    const programrun::Finished f = programrun::runToEnd(dir.path(), o);
    EXPECT_EQ(f.status, c.status) << c.args[0] << "\n" << f.err;
    EXPECT_EQ(f.out, c.out) << c.args[0];
    if (c.err.empty()) {
      EXPECT_EQ(f.err, "") << c.args[0];
    } else {
      EXPECT_NE(f.err.find(c.err), std::string::npos) << c.args[0] << ": " << f.err;
    }
    // Nothing ran: no settings were read or written.
    EXPECT_FALSE(QFileInfo::exists(dir.path() + "/ZORV.INI")) << c.args[0];
  }
}

TEST(ProgramCommandLine, LinkConnectsAndJoins) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  testsupport::LoopbackServer server;
  programrun::Options o;
  o.args = {"irc://127.0.0.1:" + std::to_string(server.port()) + "/%23zorv"};
  o.env = {{"XDG_CONFIG_HOME", (dir.path() + "/cfg").toStdString()}};
  const pid_t pid = programrun::start(dir.path(), o);
  ASSERT_GT(pid, 0);
  const bool accepted = server.accept(20000) && server.waitReceived("USER ", 10000);
  if (accepted) {
    server.send(":srv 001 YourNick :Welcome\r\n");
    EXPECT_TRUE(server.waitReceived("JOIN #zorv\r\n", 10000)) << server.received();
  }
  EXPECT_EQ(programrun::endWhenUp(pid), 0);
  ASSERT_TRUE(accepted);
  EXPECT_TRUE(server.waitReceived("QUIT "));
  EXPECT_EQ(readBack(dir.path()).server, "127.0.0.1");
}

// The program with its Connect step pressed for it, against a scripted server:
// a channel window that gathered many lines in front goes behind and gets one
// more line; the program still answers the server afterwards and ends normally.
TEST(ProgramLongSession, AFrontWindowWithManyLinesGoesBehindAndTheProgramGoesOn) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  testsupport::LoopbackServer server;
  for (const auto& [section, key, value] : {std::tuple<const char*, const char*, QString>{"User Info", "Nick", "zoe"},
                                            {"User Info", "Server", "127.0.0.1"},
                                            {"User Info", "Port", QString::number(server.port())},
                                            {"Client Info", "ScrollbackLines", "0"}})
    ASSERT_TRUE(zorv::writeProfileString(section, key, value, dir.filePath("ZORV.INI")));
  programrun::Options o;
  o.binary = ZORV_CONNECTING_BINARY;
  const pid_t pid = programrun::start(dir.path(), o);
  ASSERT_GT(pid, 0);
  bool answered = server.accept(20000) && server.waitReceived("USER ", 20000);
  if (answered) {
    std::string burst = ":srv 001 zoe :Welcome\r\n:zoe!u@h JOIN :#bg\r\n:zoe!u@h JOIN :#vis\r\n";
    for (int i = 0; i < 30000; ++i) burst += ":amy!u@h PRIVMSG #vis :line " + std::to_string(i) + "\r\n";
    server.send(burst + "PING :front\r\n");  // #vis has taken every line in front
    // A private message opens a window in front; #vis goes behind and gets one more line.
    answered = server.waitReceived("PONG :front", 30000);
    server.send(":frank!u@h PRIVMSG zoe :hello\r\n:amy!u@h PRIVMSG #vis :one more\r\nPING :alive\r\n");
    answered = answered && server.waitReceived("PONG :alive", 30000);
  }
  EXPECT_EQ(programrun::endWhenUp(pid), 0);
  ASSERT_TRUE(answered) << server.received().substr(0, 200);
  EXPECT_TRUE(server.waitReceived("\r\nQUIT ", 5000));
}
