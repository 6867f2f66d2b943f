// The real program across runs: what one run saves, the next one reads; a
// missing or damaged settings file gives the defaults and never a crash.
#include <gtest/gtest.h>

#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>
#include <csignal>
#include <fstream>
#include <random>
#include <sys/wait.h>
#include <unistd.h>

#include "IniOut.h"
#include "Main.h"
#include "Profile.h"
#include "TestSupport.h"

namespace {

// True once the process catches SIGTERM, that is once the program has set up
// its orderly end (read from /proc, so no guessing with delays).
bool catchesSigterm(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("SigCgt:", 0) == 0) {
      const unsigned long long mask = std::stoull(line.substr(7), nullptr, 16);
      return (mask >> (SIGTERM - 1)) & 1ULL;
    }
  }
  return false;
}

// Starts a copy of the program in `dir`, ends it with SIGTERM once it is up,
// and returns its exit status (-1 when it did not end in time).
int runProgramIn(const QString& dir) {
  const QString exe = dir + "/zorv";
  QFile::remove(exe);
  if (!QFile::copy(ZORV_BINARY, exe)) return -2;
  QFile::setPermissions(exe, QFile::permissions(exe) | QFile::ExeOwner);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::execl(exe.toLocal8Bit().constData(), "zorv", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int status = 0;
  bool exited = false;
  const bool up = testsupport::waitFor([&] {
    if (::waitpid(pid, &status, WNOHANG) == pid) exited = true;
    return exited || catchesSigterm(pid);
  }, 20000);
  if (!up || exited) {
    if (!exited) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
    }
    return -1;
  }
  ::kill(pid, SIGTERM);
  testsupport::waitFor([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, 20000) || ([&] {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    return false;
  }());
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
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

TEST(ProgramRuns, WithoutSettingsFileTheDefaultsAreWritten) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  ASSERT_EQ(runProgramIn(dir.path()), 0);
  expectDefaults(readBack(dir.path()));
}

TEST(ProgramRuns, WhatOneRunSavesTheNextReads) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  {
    TMainForm first(dir.path());
    first.EditNick->setText("alice");
    first.EditServer->setText("irc.example.org");
    first.EditPort->setText("6697");
  }
  // The second run saves again what it loaded at start.
  ASSERT_EQ(runProgramIn(dir.path()), 0);
  const Values v = readBack(dir.path());
  EXPECT_EQ(v.nick, "alice");
  EXPECT_EQ(v.server, "irc.example.org");
  EXPECT_EQ(v.port, "6697");
  EXPECT_EQ(v.size, "8");
}

TEST(ProgramRuns, DamagedSettingsFileGivesDefaultsWithoutCrash) {
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
}
