#include "ProgramRun.h"

#include <QFile>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <string_view>
#include <grp.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include "TestSupport.h"

namespace programrun {
namespace {

// True once the process is the program (not the test's forked copy before its
// exec) and catches SIGTERM, that is once the program has set up its orderly
// end (read from /proc, so no guessing with delays).
bool catchesSigterm(pid_t pid) {
  char exe[4096];
  const std::string link = "/proc/" + std::to_string(pid) + "/exe";
  const ssize_t n = ::readlink(link.c_str(), exe, sizeof exe - 1);
  if (n <= 0 || !std::string_view(exe, static_cast<size_t>(n)).ends_with("/zorv")) return false;
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

// In the child: environment, user, then the program. Never returns.
[[noreturn]] void execChild(const QString& exe, const Options& o) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  for (const auto& [k, v] : o.env) ::setenv(k.c_str(), v.c_str(), 1);
  for (const auto& k : o.unset) ::unsetenv(k.c_str());
  if (o.asNobody) {
    const auto [uid, gid] = nobodyIds();
    if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0) ::_exit(126);
  }
  std::vector<char*> argv;
  std::string name = "zorv";
  argv.push_back(name.data());
  std::vector<std::string> args = o.args;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  ::execv(exe.toLocal8Bit().constData(), argv.data());
  ::_exit(127);
}

int statusOf(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status); }

// Waits for pid to end; kills it when it does not end in time (returns -1 then).
int reap(pid_t pid, int timeoutMs) {
  int status = 0;
  if (testsupport::waitFor([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, timeoutMs))
    return statusOf(status);
  ::kill(pid, SIGKILL);
  ::waitpid(pid, &status, 0);
  return -1;
}

void drain(int fd, std::string& into) {
  char buf[4096];
  for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;) into.append(buf, static_cast<size_t>(n));
}

}  // namespace

std::pair<uid_t, gid_t> nobodyIds() {
  const passwd* pw = ::getpwnam("nobody");
  return pw ? std::pair{pw->pw_uid, pw->pw_gid} : std::pair{uid_t(65534), gid_t(65534)};
}

QString installCopy(const QString& dir, const char* binary) {
  const QString exe = dir + "/zorv";
  QFile::remove(exe);
  if (!QFile::copy(binary, exe)) return {};
  QFile::setPermissions(exe, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup |
                                 QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther);
  return exe;
}

pid_t start(const QString& dir, const Options& options) {
  const QString exe = dir + "/zorv";
  if (!QFile::exists(exe) && installCopy(dir, options.binary).isEmpty()) return -1;
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(::open("/dev/null", O_WRONLY), 1);  // the test's own output stays the test's
    execChild(exe, options);
  }
  return pid;
}

int endWhenUp(pid_t pid) {
  if (pid <= 0) return -2;
  int status = 0;
  bool exited = false;
  const bool up = testsupport::waitFor([&] {
    if (::waitpid(pid, &status, WNOHANG) == pid) exited = true;
    return exited || catchesSigterm(pid);
  }, 20000);
  if (!up) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    return -1;
  }
  if (exited) return -1;
  ::kill(pid, SIGTERM);
  return reap(pid, 20000);
}

int runUntilUp(const QString& dir, const Options& options) { return endWhenUp(start(dir, options)); }

Finished runToEnd(const QString& dir, const Options& options) {
  Finished f;
  const QString exe = dir + "/zorv";
  if (!QFile::exists(exe) && installCopy(dir, options.binary).isEmpty()) return f;
  int out[2], err[2];
  if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) return f;
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(out[1], 1);
    ::dup2(err[1], 2);
    execChild(exe, options);
  }
  ::close(out[1]);
  ::close(err[1]);
  f.status = reap(pid, 20000);  // the texts are short: the pipes never fill
  drain(out[0], f.out);
  drain(err[0], f.err);
  ::close(out[0]);
  ::close(err[0]);
  return f;
}

}  // namespace programrun
