// Routing a line and opening a window should cost the same with 100 and with
// 2,000 windows open: nothing should walk every window or every tab per line or
// per new window. Prints the median cost of each step (CPU time of this
// thread) at both sizes and their ratio. Run by hand:
//   build/<dir>/bench/registry/zorv_bench_registry
#include <QApplication>
#include <QLineEdit>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "Childwin.h"
#include "Main.h"

namespace {

class FastClockForm : public TMainForm {
 public:
  using TMainForm::TMainForm;
  // Every reading is a second later: the window budget never holds a window back.
  int TimeOfDayMs() const override { return nowMs = (nowMs + 1000) % 86400000; }
  mutable int nowMs = 0;
};

qint64 threadNs() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<qint64>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

double medianNs(int runs, const std::function<void(int)>& step) {
  std::vector<qint64> ns;
  for (int i = 0; i < runs; ++i) {
    const qint64 t0 = threadNs();
    step(i);
    ns.push_back(threadNs() - t0);
  }
  std::nth_element(ns.begin(), ns.begin() + runs / 2, ns.end());
  return static_cast<double>(ns[static_cast<size_t>(runs / 2)]);
}

struct Costs {
  double route, miss, mark, openBehind;
};

// Opens windows up to `total`, then measures each step.
Costs measure(FastClockForm& form, int total, int& made) {
  // Events are handled between arrivals, as the program's event loop does.
  while (made < total) {
    const std::string nick = "sender" + std::to_string(made++);
    form.AddText(nick, "<" + nick + ">hi", true);
    if (made % 25 == 0) QCoreApplication::processEvents();
  }
  QCoreApplication::processEvents();
  Costs c{};
  const std::string target = "sender" + std::to_string(total / 2);
  c.route = medianNs(301, [&](int) { form.AddText(target, "<x>again", false); });
  c.miss = medianNs(301, [&](int) { form.AddText("nobody-here", "<x>lost", false); });
  c.mark = medianNs(301, [&](int i) { form.SetTopic(target, (i % 2 ? "*" : "") + target, true); });
  int extra = 0;
  // New senders arrive 25 at a time (a flood brings hundreds in one read),
  // then the event loop runs and paints.
  c.openBehind = medianNs(15, [&](int) {
    for (int k = 0; k < 25; ++k) {
      const std::string nick = "extra" + std::to_string(total) + "-" + std::to_string(extra++);
      form.AddText(nick, "<" + nick + ">hi", true);
    }
    QCoreApplication::processEvents();
  }) / 25;
  made += extra;
  return c;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QTemporaryDir dir;
  FastClockForm form(dir.path());
  form.show();
  // The user types in the Server window: every window the network opens
  // comes up behind it.
  form.AddText("Server", "Connected", true);
  TMDIChild* server = form.ActiveChild();
  if (!server) {
    std::fprintf(stderr, "no Server window\n");
    return 1;
  }
  server->inputLine->setFocus();
  server->inputLine->setText("typing");
  int made = 0;
  const Costs small = measure(form, 100, made);
  const Costs large = measure(form, 2000, made);
  struct Row {
    const char* what;
    double at100, at2000;
  };
  for (const Row& r : {Row{"route a line", small.route, large.route}, Row{"miss", small.miss, large.miss},
                       Row{"unread mark", small.mark, large.mark},
                       Row{"open behind", small.openBehind, large.openBehind}})
    std::printf("[bench] %-14s %10.0f ns at 100 windows, %10.0f ns at 2000, ratio %.2f\n", r.what, r.at100,
                r.at2000, r.at2000 / std::max(r.at100, 1.0));
  return form.Children().size() >= 2000 ? 0 : 1;
}
