#include "Termination.h"

#include <QSocketNotifier>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace zorv {
namespace {

int g_wakeFds[2] = {-1, -1};

extern "C" void onTerminationSignal(int) {
  const int saved = errno;
  const char byte = 1;
  [[maybe_unused]] const ssize_t n = ::write(g_wakeFds[0], &byte, 1);
  errno = saved;
}

}  // namespace

void installTerminationHandler(QObject* parent, std::function<void()> onSignal) {
  if (g_wakeFds[0] >= 0) return;
  if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_wakeFds) != 0) return;
  for (int fd : g_wakeFds) {
    ::fcntl(fd, F_SETFL, O_NONBLOCK);
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
  }
  auto* notifier = new QSocketNotifier(g_wakeFds[1], QSocketNotifier::Read, parent);
  QObject::connect(notifier, &QSocketNotifier::activated, parent, [onSignal = std::move(onSignal)] {
    char buf[16];
    while (::read(g_wakeFds[1], buf, sizeof buf) > 0) {
    }
    onSignal();
  });
  struct sigaction sa {};
  sa.sa_handler = onTerminationSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(sig, &sa, nullptr);
}

}  // namespace zorv
