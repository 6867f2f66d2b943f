#pragma once
// Runs of the real program: a copy of the zorv executable in a program folder
// of the test's choosing, started with given arguments and environment,
// optionally as the user nobody (when the test runs as root).
#include <QString>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace programrun {

struct Options {
  std::vector<std::string> args;
  std::vector<std::pair<std::string, std::string>> env;  // set in the child
  std::vector<std::string> unset;                        // removed from the child's environment
  bool asNobody = false;                                 // drop to nobody first (needs root)
  const char* binary = ZORV_BINARY;                      // the program copied into the folder
};

struct Finished {
  int status = -1;  // exit code, 128 + signal, or -1 when it did not end in time
  std::string out, err;
};

// Copies the program into dir as "zorv" (mode 0755); returns the copy's path ("" on failure).
QString installCopy(const QString& dir, const char* binary = ZORV_BINARY);

// Starts the program in dir (copied there first when missing); returns its
// process id. Its standard output is discarded.
pid_t start(const QString& dir, const Options& options);

// Waits until the started program has set up its orderly end, ends it with
// SIGTERM and returns its exit status; -1 when it did not come up, ended
// before, or did not end in time.
int endWhenUp(pid_t pid);

// start, then endWhenUp.
int runUntilUp(const QString& dir, const Options& options = {});

// Starts the program in dir and lets it end by itself; stdout and stderr are
// collected.
Finished runToEnd(const QString& dir, const Options& options);

// The user and group ids of nobody.
std::pair<uid_t, gid_t> nobodyIds();

}  // namespace programrun
