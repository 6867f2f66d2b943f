// Time to take a listing of 20,000 channels with the window shown, a few
// replies per event-loop turn as from the network. Prints its figures; it
// asserts only that the listing arrived whole, never a time.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTableView>
#include <QTest>
#include <algorithm>
#include <cstdio>
#include <string>

#include "Channel.h"
#include "TestSupport.h"

TEST(ChannelListBench, TwentyThousandRowsInTurns) {
  constexpr int kChannels = 20000, kPerTurn = 20;  // about one 1 KiB receive of replies
  TChannelForm form([](const std::string&) {});
  form.ListStart();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
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
  ASSERT_EQ(form.RowCount(), kChannels);
  ASSERT_TRUE(testsupport::waitFor([&] { return form.StringGrid1->model()->rowCount() == kChannels; }, 10000));
  EXPECT_EQ(form.Cell(0, kChannels - 1), "#channel" + std::to_string(kChannels - 1));
  EXPECT_EQ(form.Cell(2, 0), "[+nt] topic 0: with blanks");
}
