// Time to take a listing of 50,000 channels with the window shown. Prints its
// figures; it asserts only that the listing arrived whole, never a time.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTableView>
#include <QTest>
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "Channel.h"
#include "TestSupport.h"

namespace {

constexpr int kChannels = 50000;

std::vector<std::string> Replies() {
  std::vector<std::string> out;
  out.reserve(kChannels);
  for (int i = 0; i < kChannels; ++i)
    out.push_back("#channel" + std::to_string(i) + " " + std::to_string(i % 997) +
                  " :[+nt] topic of channel number " + std::to_string(i) + ": with blanks");
  return out;
}

void ExpectWhole(TChannelForm& form) {
  ASSERT_EQ(form.RowCount(), kChannels);
  ASSERT_TRUE(testsupport::waitFor(
      [&] { return form.StringGrid1->model()->rowCount() == kChannels; }, 10000));
  EXPECT_EQ(form.Cell(0, kChannels - 1), "#channel" + std::to_string(kChannels - 1));
  EXPECT_EQ(form.Cell(2, 0), "[+nt] topic of channel number 0: with blanks");
}

// All replies in one go, then one event-loop turn that shows them.
TEST(ChannelListBench, FiftyThousandRowsAtOnce) {
  const auto replies = Replies();
  TChannelForm form([](const std::string&) {});
  form.ListStart();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));

  QElapsedTimer t;
  t.start();
  for (const auto& p : replies) form.AddChannelRow(p);
  form.ListEnd();
  const qint64 added = t.elapsed();
  QCoreApplication::processEvents();
  form.StringGrid1->scrollToBottom();
  form.repaint();
  const qint64 shown = t.elapsed();
  std::printf("[bench] %d rows via AddChannelRow at once: added %lld ms, shown %lld ms\n",
              kChannels, static_cast<long long>(added), static_cast<long long>(shown));
  ExpectWhole(form);
}

// As from the network: a few replies per event-loop turn, with the view
// catching up and repainting in between. The longest turn tells whether the
// window stays usable while the listing arrives.
TEST(ChannelListBench, FiftyThousandRowsInTurns) {
  constexpr int kPerTurn = 20;  // about one 1 KiB receive of 322 replies
  const auto replies = Replies();
  TChannelForm form([](const std::string&) {});
  form.ListStart();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));

  QElapsedTimer total, turn;
  total.start();
  qint64 longest = 0;
  // Time of the first and the last tenth of the turns: equal when the cost of
  // a row does not grow with the rows already held.
  constexpr int kTurns = (kChannels + kPerTurn - 1) / kPerTurn;
  qint64 firstTenth = 0, lastTenth = 0;
  for (int n = 0, i = 0; i < kChannels; ++n, i += kPerTurn) {
    turn.start();
    for (int k = i; k < std::min(i + kPerTurn, kChannels); ++k) form.AddChannelRow(replies[k]);
    QCoreApplication::processEvents();
    form.repaint();
    const qint64 us = turn.nsecsElapsed() / 1000;
    longest = std::max(longest, us / 1000);
    if (n < kTurns / 10) firstTenth += us;
    if (n >= kTurns - kTurns / 10) lastTenth += us;
  }
  form.ListEnd();
  QCoreApplication::processEvents();
  std::printf("[bench] %d rows via AddChannelRow, %d per event-loop turn with repaint: "
              "total %lld ms, longest turn %lld ms, first tenth of turns %lld ms, "
              "last tenth %lld ms\n",
              kChannels, kPerTurn, static_cast<long long>(total.elapsed()),
              static_cast<long long>(longest), static_cast<long long>(firstTenth / 1000),
              static_cast<long long>(lastTenth / 1000));
  ExpectWhole(form);
}

}  // namespace
