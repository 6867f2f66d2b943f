// Widget tests of the channel list window on the offscreen platform.
#include <gtest/gtest.h>

#include <QApplication>
#include <QHeaderView>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <array>
#include <stdexcept>
#include <string>
#include <vector>

#include "Channel.h"
#include "TestSupport.h"
#include "Text.h"

using testsupport::waitFor;

namespace {

using Row = std::array<std::string, 3>;

struct Fixture {
  std::vector<std::string> sent;
  TChannelForm form{[this](const std::string& line) { sent.push_back(line); }};

  std::vector<Row> rows() const {
    std::vector<Row> out;
    for (int r = 0; r < form.RowCount(); ++r)
      out.push_back({form.Cell(0, r), form.Cell(1, r), form.Cell(2, r)});
    return out;
  }
  // What the view shows once pending rows have reached it.
  bool viewInSync() {
    return waitFor([&] { return form.StringGrid1->model()->rowCount() == form.RowCount(); }, 2000);
  }
  void listing(const std::vector<std::string>& replies, bool end) {
    form.ListStart();
    for (const auto& p : replies) form.AddChannelRow(p);
    if (end) form.ListEnd();
  }
};

struct ListingCase {
  const char* name;
  std::vector<std::string> replies;
  bool ended;
  std::vector<Row> expected;
};

class ChannelListing : public ::testing::TestWithParam<ListingCase> {};

TEST_P(ChannelListing, RowsAfterListing) {
  const ListingCase& c = GetParam();
  Fixture f;
  // An earlier, longer listing with full cells, so that stale texts would show.
  f.listing({"#old1 11 :old one", "#old2 22 :old two", "#old3 33 :old three",
             "#old4 44 :old four", "#old5 55 :old five"},
            true);
  ASSERT_TRUE(f.viewInSync());
  f.form.StringGrid1->selectRow(4);
  f.form.hide();

  f.listing(c.replies, c.ended);
  EXPECT_TRUE(f.form.isVisible());
  EXPECT_EQ(f.rows(), c.expected);
  ASSERT_TRUE(f.viewInSync());
  // The view shows what the cells hold.
  const QAbstractItemModel* m = f.form.StringGrid1->model();
  for (int r = 0; r < f.form.RowCount(); ++r)
    for (int col = 0; col < 3; ++col)
      EXPECT_EQ(m->index(r, col).data().toString(), zorv::toDisplay(c.expected[r][col]))
          << "row " << r << " col " << col;
  EXPECT_TRUE(f.sent.empty());

  // One row means no listing held: the open action asks again and does not show.
  f.form.hide();
  f.form.OpenList();
  const bool asks = c.expected.size() == 1;
  EXPECT_EQ(f.sent, asks ? std::vector<std::string>{"LIST"} : std::vector<std::string>{});
  EXPECT_EQ(f.form.isVisible(), !asks);
}

const std::string kPh = TChannelForm::kPlaceholder;

INSTANTIATE_TEST_SUITE_P(
    Listings, ChannelListing,
    ::testing::Values(
        ListingCase{"ThreeChannels",
                    {"#a 3 :first", "#b 12 :second", "&c 0 :third"},
                    true,
                    {{"#a", "3", "first"}, {"#b", "12", "second"}, {"&c", "0", "third"}}},
        ListingCase{"CutShortKeepsPlaceholder",
                    {"#a 3 :first", "#b 12 :second"},
                    false,
                    {{"#a", "3", "first"}, {"#b", "12", "second"}, {kPh, "", ""}}},
        ListingCase{"OneChannelLeavesOneRow", {"#solo 7 :alone"}, true, {{"#solo", "7", "alone"}}},
        ListingCase{"NoChannelsLeavesOneEmptyRow", {}, true, {{"", "", ""}}},
        ListingCase{"StartedOnlyShowsEmptyFirstRow", {}, false, {{"", "", ""}}},
        ListingCase{"TopicsWithBlanksAndColons",
                    {"#a 1 :a: b :c  ", "#b 2 :", "#c 3 ::lead", "#d 4 no colon here", "#e 5  :x"},
                    true,
                    {{"#a", "1", "a: b :c  "},
                     {"#b", "2", ""},
                     {"#c", "3", ":lead"},
                     {"#d", "4", "no colon here"},
                     {"#e", "5", " :x"}}},
        ListingCase{"ReplyWithoutBlankIgnored",
                    {"#a 1 :one", "#lonely", "", "#b 2 :two"},
                    true,
                    {{"#a", "1", "one"}, {"#b", "2", "two"}}},
        ListingCase{"NoTopicLeavesTopicUnwritten",
                    {"#first 9", "#mid 4", "#last 1 :t"},
                    true,
                    {{"#first", "9", ""}, {"#mid", "4", ""}, {"#last", "1", "t"}}},
        ListingCase{"ChannelOnlyWithTrailingBlank",
                    {"#x ", "#y 2 :y"},
                    true,
                    {{"#x", "", ""}, {"#y", "2", "y"}}},
        ListingCase{"BytesKeptAsSent",
                    {std::string("#caf\xe9 2 :na\xefve"), "#utf 1 :\xc3\xa9t\xc3\xa9"},
                    true,
                    {{std::string("#caf\xe9"), "2", std::string("na\xefve")},
                     {"#utf", "1", "\xc3\xa9t\xc3\xa9"}}}),
    [](const ::testing::TestParamInfo<ListingCase>& i) { return i.param.name; });

TEST(ChannelForm, RowCountNeverBelowOne) {
  Fixture f;
  for (int n : {0, -1, -1000}) {
    f.form.SetRowCount(5);
    f.form.SetRowCount(n);
    EXPECT_EQ(f.form.RowCount(), 1) << n;
  }
  f.form.ListEnd();
  f.form.ListEnd();
  EXPECT_EQ(f.form.RowCount(), 1);
  ASSERT_TRUE(f.viewInSync());
  EXPECT_EQ(f.form.StringGrid1->model()->rowCount(), 1);
}

// Rows cut off lose their texts, so a row that comes back starts empty, also
// when cut and regrown before the view caught up. Row 0 keeps its texts.
TEST(ChannelForm, RowsComingBackStartEmpty) {
  for (bool syncBetween : {true, false}) {
    Fixture f;
    f.listing({"#a 1 :one", "#b 2 :two", "#c 3 :three"}, true);
    ASSERT_TRUE(f.viewInSync());
    f.form.SetRowCount(1);
    if (syncBetween) {
      ASSERT_TRUE(f.viewInSync());
    }
    f.form.SetRowCount(3);
    EXPECT_EQ(f.rows(), (std::vector<Row>{{"#a", "1", "one"}, {"", "", ""}, {"", "", ""}}));
    ASSERT_TRUE(f.viewInSync());
    EXPECT_EQ(f.form.StringGrid1->model()->index(1, 0).data().toString(), QString());
  }
}

TEST(ChannelForm, OpenRefreshAndHideKeepListing) {
  Fixture f;
  f.listing({"#a 1 :one", "#b 2 :two"}, true);
  f.form.hide();  // closed by the user; a disconnect does not touch the grid either
  f.form.OpenList();
  EXPECT_TRUE(f.form.isVisible());
  EXPECT_TRUE(f.sent.empty());
  EXPECT_EQ(f.rows(), (std::vector<Row>{{"#a", "1", "one"}, {"#b", "2", "two"}}));

  // Refresh: one empty row, LIST sent, visibility left alone.
  for (bool visible : {true, false}) {
    f.listing({"#a 1 :one", "#b 2 :two"}, true);
    f.form.setVisible(visible);
    f.sent.clear();
    f.form.Button2->click();
    EXPECT_EQ(f.sent, std::vector<std::string>{"LIST"});
    EXPECT_EQ(f.rows(), (std::vector<Row>{{"", "", ""}}));
    EXPECT_EQ(f.form.isVisible(), visible);
  }
}

enum class JoinBy { Button, ReturnOnWindow, ReturnOnGrid, DoubleClick };

struct JoinCase {
  const char* name;
  JoinBy how;
  std::vector<std::string> replies;
  int select;  // row made current before joining
  std::string expected;
};

class ChannelJoin : public ::testing::TestWithParam<JoinCase> {};

TEST_P(ChannelJoin, SendsCurrentRowChannelAndHides) {
  const JoinCase& c = GetParam();
  Fixture f;
  f.listing(c.replies, true);
  ASSERT_TRUE(f.viewInSync());
  QTableView* grid = f.form.StringGrid1;
  grid->selectRow(c.select);
  ASSERT_EQ(f.form.CurrentRow(), c.select);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&f.form));

  switch (c.how) {
    case JoinBy::Button:
      QTest::mouseClick(f.form.Button1, Qt::LeftButton);
      break;
    case JoinBy::ReturnOnWindow:
      QTest::keyClick(&f.form, Qt::Key_Return);
      break;
    case JoinBy::ReturnOnGrid:
      grid->setFocus();
      QTest::keyClick(grid, Qt::Key_Return);
      break;
    case JoinBy::DoubleClick: {
      const QPoint at = grid->visualRect(grid->model()->index(c.select, 2)).center();
      QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, at);
      QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, at);
      break;
    }
  }
  EXPECT_EQ(f.sent, std::vector<std::string>{c.expected});
  EXPECT_FALSE(f.form.isVisible());
  // The listing stays for the next time the window is opened.
  EXPECT_EQ(f.form.RowCount(), static_cast<int>(c.replies.size() < 2 ? 1 : c.replies.size()));
}

const std::vector<std::string> kThree = {"#a 1 :one", "#b 2 :two", "#c 3 :three"};

INSTANTIATE_TEST_SUITE_P(
    Joins, ChannelJoin,
    ::testing::Values(
        JoinCase{"Button", JoinBy::Button, kThree, 1, "JOIN #b"},
        JoinCase{"ReturnOnWindow", JoinBy::ReturnOnWindow, kThree, 2, "JOIN #c"},
        JoinCase{"ReturnOnGrid", JoinBy::ReturnOnGrid, kThree, 0, "JOIN #a"},
        JoinCase{"DoubleClick", JoinBy::DoubleClick, kThree, 1, "JOIN #b"},
        JoinCase{"EmptyFirstCell", JoinBy::Button, {}, 0, "JOIN "},
        JoinCase{"ControlBytesCutFromChannel", JoinBy::Button,
                 {std::string("#a\rQUIT :x 1 :t"), "#b 2 :two"}, 0, "JOIN #a"}),
    [](const ::testing::TestParamInfo<JoinCase>& i) { return i.param.name; });

// A join right after a new, shorter listing, before the view has caught up,
// takes the current row among the rows as they stand now.
TEST(ChannelForm, JoinBeforeViewCaughtUpUsesCurrentRows) {
  Fixture f;
  f.listing({"#a 1 :", "#b 1 :", "#c 1 :", "#d 1 :", "#e 1 :"}, true);
  ASSERT_TRUE(f.viewInSync());
  f.form.StringGrid1->selectRow(4);
  f.listing({"#x 1 :", "#y 1 :"}, true);
  f.form.Button1Click();
  EXPECT_EQ(f.sent, std::vector<std::string>{"JOIN #y"});
  // The current row is still shown selected.
  EXPECT_TRUE(f.form.StringGrid1->selectionModel()->isRowSelected(1, QModelIndex()));
}

TEST(ChannelForm, FailedSendIsReportedAndWindowGoesOn) {
  std::vector<std::string> sent;
  bool fail = true;
  TChannelForm form([&](const std::string& line) {
    if (fail) throw std::runtime_error("Error 10057 in function Send");
    sent.push_back(line);
  });
  testsupport::shownMessages().clear();
  form.show();
  form.Button2->click();
  form.Button1->click();
  ASSERT_EQ(testsupport::shownMessages().size(), 2);
  EXPECT_EQ(testsupport::shownMessages().at(0), "Error 10057 in function Send");
  EXPECT_TRUE(form.isVisible());  // the failed join did not hide the window
  fail = false;
  form.Button1->click();
  EXPECT_EQ(sent, std::vector<std::string>{"JOIN "});
  testsupport::shownMessages().clear();
}

TEST(ChannelForm, Geometry) {
  Fixture f;
  f.listing(kThree, true);
  ASSERT_TRUE(f.viewInSync());
  TChannelForm& w = f.form;
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));

  EXPECT_EQ(w.windowTitle(), "Channel list");
  EXPECT_EQ(w.size(), QSize(428, 273));
  EXPECT_EQ(w.minimumSize(), w.maximumSize());  // not resizable
  EXPECT_EQ(w.font(), QFont("MS Sans Serif", 8));

  QTableView* g = w.StringGrid1;
  EXPECT_EQ(g->geometry(), QRect(0, 0, 428, 273 - 24));
  EXPECT_EQ(w.Panel1->geometry(), QRect(0, 273 - 24, 428, 24));
  // Columns 92, 30, 288 from the left edge, rows 20 high from the top: no
  // header row or column takes room.
  const int frame = g->frameWidth();
  EXPECT_EQ(g->viewport()->geometry().topLeft(), QPoint(frame, frame));
  EXPECT_EQ(g->visualRect(g->model()->index(0, 0)), QRect(0, 0, 92, 20));
  EXPECT_EQ(g->visualRect(g->model()->index(1, 1)), QRect(92, 20, 30, 20));
  EXPECT_EQ(g->visualRect(g->model()->index(2, 2)), QRect(122, 40, 288, 20));
  EXPECT_FALSE(g->horizontalHeader()->isVisible() || g->verticalHeader()->isVisible());

  // Whole rows are selected.
  g->setCurrentIndex(g->model()->index(1, 2));
  EXPECT_TRUE(g->selectionModel()->isRowSelected(1, QModelIndex()));
  EXPECT_TRUE(w.Button1->isDefault());
}

}  // namespace
