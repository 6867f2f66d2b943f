// The real program, copied into a program folder of the test's choosing:
// where the settings file goes and who may read it, what the command line
// does before any window exists, and a link given at start. What one window
// saves and the next one reads is checked in process.
#include <gtest/gtest.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <csignal>
#include <fstream>
#include <grp.h>
#include <pwd.h>
#include <random>
#include <unistd.h>

#include "CommandLine.h"
#include "IniOut.h"
#include "Main.h"
#include "Profile.h"
#include "TestSupport.h"

namespace {

// The program copied into dir and set up to start there with the
// environment changed as asked; asNobody drops to the user nobody (as root).
struct Program {
  static QString install(const QString& dir) {
    const QString exe = dir + "/zorv";
    if (!QFileInfo::exists(exe)) QFile::copy(ZORV_BINARY, exe);
    QFile::setPermissions(exe, QFileDevice::Permissions(0x7755));
    return exe;
  }
  Program(const QString& dir, QStringList args, std::map<QString, QString> env, bool asNobody = false) {
    const QString exe = install(dir);
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    e.insert("QT_QPA_PLATFORM", "offscreen");
    for (const auto& [k, v] : env) v.isNull() ? e.remove(k) : e.insert(k, v);
    p.setProcessEnvironment(e);
    if (asNobody) {
      p.setChildProcessModifier([] {
        const passwd* pw = ::getpwnam("nobody");
        if (!pw || ::setgroups(0, nullptr) != 0 || ::setgid(pw->pw_gid) != 0 || ::setuid(pw->pw_uid) != 0) ::_exit(126);
      });
    }
    p.start(exe, args);
  }
  // Once the program has set up its orderly end (it catches SIGTERM, read from
  // /proc, so no guessing with delays), ends it so and returns its exit code;
  // -1 when it did not come up or did not end in time.
  int endWhenUp() {
    const bool up = testsupport::waitFor([&] {
      std::ifstream status("/proc/" + std::to_string(p.processId()) + "/status");
      std::string line;
      while (std::getline(status, line))
        if (line.rfind("SigCgt:", 0) == 0)
          return ((std::stoull(line.substr(7), nullptr, 16) >> (SIGTERM - 1)) & 1) != 0;
      return false;
    }, 20000);
    if (up) ::kill(static_cast<pid_t>(p.processId()), SIGTERM);
    return finished() ? p.exitCode() : -1;
  }
  bool finished() {
    if (p.waitForFinished(20000) && p.exitStatus() == QProcess::NormalExit) return true;
    p.kill();
    p.waitForFinished();
    return false;
  }
  QProcess p;
};

std::string saved(const QString& dir, const char* section, const char* key) {
  return zorv::readProfileString(section, key, "<missing>", dir + "/ZORV.INI").toStdString();
}

}  // namespace

// As root (whom no mode keeps out) the run is made as nobody with the folder
// left root's; as any other user the folder is made read-only. The settings
// then go to the user's own configuration folder, private to the user, and
// the next run reads them from there.
TEST(ProgramRun, AProgramFolderTheUserCannotWriteSendsTheSettingsToTheUsersFolder) {
  QTemporaryDir tmp;
  const QString program = tmp.path() + "/prog", home = tmp.path() + "/home", config = home + "/.config/zorv";
  ASSERT_TRUE(tmp.isValid() && QDir().mkpath(program) && QDir().mkpath(home));
  for (const QString& d : {tmp.path(), program}) QFile::setPermissions(d, QFileDevice::Permissions(0x7755));
  const bool asNobody = ::geteuid() == 0;
  auto giveHome = [&] {
    const passwd* pw = ::getpwnam("nobody");
    ASSERT_NE(pw, nullptr);
    ::chown(QFile::encodeName(home), pw->pw_uid, pw->pw_gid);
    for (QDirIterator it(home, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
         it.hasNext();)
      ::chown(QFile::encodeName(it.next()), pw->pw_uid, pw->pw_gid);
  };
  if (asNobody) giveHome();
  ASSERT_FALSE(Program::install(program).isEmpty());
  if (!asNobody) QFile::setPermissions(program, QFileDevice::Permissions(0x5555));
  const std::map<QString, QString> env = {{"HOME", home}, {"XDG_CONFIG_HOME", QString()}};
  // No "Cannot save settings" box: one would block the program's end.
  EXPECT_EQ(Program(program, {}, env, asNobody).endWhenUp(), 0);
  EXPECT_FALSE(QFileInfo::exists(program + "/ZORV.INI"));
  EXPECT_EQ(saved(config, "User Info", "Nick"), "YourNick");
  EXPECT_EQ(testsupport::fileMode(config), 0700);

  ASSERT_TRUE(zorv::writeProfileString("User Info", "Nick", "carol", config + "/ZORV.INI"));
  if (asNobody) giveHome();
  EXPECT_EQ(Program(program, {}, env, asNobody).endWhenUp(), 0);
  EXPECT_EQ(saved(config, "User Info", "Nick"), "carol");
  QFile::setPermissions(program, QFileDevice::Permissions(0x7755));
}

// Help and version need no window system; bad arguments are refused with a
// line on stderr; none of them reads or writes settings.
TEST(ProgramRun, TheCommandLineIsAnsweredBeforeAnyWindow) {
  const struct {
    QString arg;
    bool display;  // false: a window system that cannot start here
    int status;
    std::string out, err;
  } cases[] = {
      {"--version", false, 0, zorv::VersionText(), ""},
      {"--help", false, 0, zorv::HelpText(), ""},
      {"--bogus", true, 2, "", "zorv: unknown option --bogus\nTry 'zorv --help'.\n"},
  };
  for (const auto& c : cases) {
    QTemporaryDir dir;
    std::map<QString, QString> env = {{"XDG_CONFIG_HOME", dir.path() + "/cfg"}, {"DISPLAY", QString()},
                                      {"WAYLAND_DISPLAY", QString()}};
    if (!c.display) env["QT_QPA_PLATFORM"] = "xcb";  // without a display it would abort
    Program run(dir.path(), {c.arg}, env);
    ASSERT_TRUE(run.finished()) << c.arg.toStdString();
    EXPECT_EQ(run.p.exitCode(), c.status) << c.arg.toStdString();
    EXPECT_EQ(run.p.readAllStandardOutput().toStdString(), c.out);
    const std::string err = run.p.readAllStandardError().toStdString();  // Qt may warn before
    EXPECT_TRUE(c.err.empty() ? err.empty() : err.ends_with(c.err)) << err;
    EXPECT_FALSE(QFileInfo::exists(dir.path() + "/ZORV.INI")) << c.arg.toStdString();
  }
}

// The message about settings comes for a save that really fails, and only then.
TEST(SettingsFile, SaveFailureIsReportedOnlyWhenNoFolderTakesTheFile) {
  for (const bool fails : {false, true}) {
    QTemporaryDir tmp;
    const QString configHome = fails ? "/proc/zorv-nowhere" : tmp.path() + "/cfg";
    const QByteArray old = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", configHome.toLocal8Bit());
    testsupport::shownMessages().clear();
    {
      TMainForm form("/proc");  // a program folder no user can write
      EXPECT_EQ(form.SettingsFile(), configHome + "/zorv/ZORV.INI");
      form.nickField->setText("dave");
    }
    old.isNull() ? qunsetenv("XDG_CONFIG_HOME") : qputenv("XDG_CONFIG_HOME", old);
    const QStringList shown = testsupport::shownMessages();
    ASSERT_EQ(shown.size(), fails ? 1 : 0);
    if (fails) EXPECT_TRUE(shown[0].startsWith("Cannot save settings to " + configHome + "/zorv/ZORV.INI"));
    else EXPECT_EQ(saved(configHome + "/zorv", "User Info", "Nick"), "dave");
  }
}

TEST(CommandLine, WhatTheArgumentsAskFor) {
  using zorv::StartAction;
  const struct {
    std::vector<std::string> args;
    StartAction action;
    std::string linkOrError;
  } cases[] = {
      {{}, StartAction::Run, ""},
      {{"irc://host/zorv"}, StartAction::Run, "irc://host/zorv"},
      {{"irc://host/zo%0Arv"}, StartAction::Run, "irc://host/zo%0Arv"},  // refused later, in the window
      {{"--help"}, StartAction::PrintHelp, ""},
      {{"--version"}, StartAction::PrintVersion, ""},
      {{"irc://host", "--version"}, StartAction::PrintVersion, ""},
      {{"--version", "--help"}, StartAction::PrintVersion, ""},  // the first one given
      {{"--bogus"}, StartAction::Refuse, "unknown option --bogus"},
      {{""}, StartAction::Refuse, "not an irc:// or ircs:// link: "},
      {{"http://host/zorv"}, StartAction::Refuse, "not an irc:// or ircs:// link: http://host/zorv"},
      {{"irc://a", "irc://b"}, StartAction::Refuse, "only one link can be opened at a time"},
  };
  for (const auto& c : cases) {
    const zorv::StartRequest r = zorv::ReadCommandLine(c.args);
    EXPECT_EQ(r.action, c.action) << c.linkOrError;
    EXPECT_EQ(c.action == StartAction::Refuse ? r.error : r.link, c.linkOrError);
  }
  // ircs:// links connect over TLS; the help must not say otherwise.
  EXPECT_EQ(zorv::HelpText().find("not available"), std::string::npos);
  EXPECT_NE(zorv::HelpText().find("ircs://HOST[:PORT]/CHANNEL  the same over TLS"), std::string::npos);
}
