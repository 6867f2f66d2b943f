// Time to take a listing of 20,000 channels with the window shown, a few
// replies per event-loop turn as from the network. Run by hand:
//   build/<dir>/bench/channellist/zorv_bench_channellist
// Prints its figures; exits non-zero when the listing did not arrive whole.
#include <QAbstractItemModel>
#include <QApplication>
#include <QElapsedTimer>
#include <QTableView>
#include <QTest>
#include <algorithm>
#include <cstdio>
#include <string>

#include "Channel.h"

namespace {

// Runs the event loop until done() holds or timeoutMs pass.
template <typename Done>
bool waitFor(Done done, int timeoutMs) {
  QElapsedTimer t;
  t.start();
  while (!done()) {
    if (t.elapsed() > timeoutMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  constexpr int kChannels = 20000, kPerTurn = 20;  // about one 1 KiB receive of replies
  TChannelForm form([](const std::string&) {});
  form.ListStart();
  if (!QTest::qWaitForWindowExposed(&form)) {
    std::fprintf(stderr, "the channel list window was never shown\n");
    return 1;
  }
  QElapsedTimer total, turn;
  total.start();
  qint64 longest = 0;
  for (int i = 0; i < kChannels; i += kPerTurn) {
    turn.start();
    for (int k = i; k < std::min(i + kPerTurn, kChannels); ++k)
      form.AddChannelRow("#channel" + std::to_string(k) + " " + std::to_string(k % 997) + " :[+nt] topic " +
                         std::to_string(k) + ": with blanks");
    QCoreApplication::processEvents();
    form.repaint();
    longest = std::max(longest, turn.elapsed());
  }
  form.ListEnd();
  std::printf("[bench] %d rows, %d per event-loop turn with repaint: total %lld ms, longest turn %lld ms\n",
              kChannels, kPerTurn, static_cast<long long>(total.elapsed()), static_cast<long long>(longest));
  const bool whole = form.RowCount() == kChannels &&
                     waitFor([&] { return form.grid->model()->rowCount() == kChannels; }, 10000) &&
                     form.Cell(0, kChannels - 1) == "#channel" + std::to_string(kChannels - 1) &&
                     form.Cell(2, 0) == "[+nt] topic 0: with blanks";
  if (!whole) std::fprintf(stderr, "the listing did not arrive whole\n");
  return whole ? 0 : 1;
}
