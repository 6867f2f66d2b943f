// The channel list window on the offscreen platform: the rows a listing
// leaves, what is shown of them, and the ways to join.
#include <gtest/gtest.h>

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

using Row = std::array<std::string, 3>;
using Lines = std::vector<std::string>;

namespace {

struct Fixture {
  Lines sent;
  TChannelForm form{[this](const std::string& line) { sent.push_back(line); }};

  std::vector<Row> rows() const {
    std::vector<Row> out;
    for (int r = 0; r < form.RowCount(); ++r) out.push_back({form.Cell(0, r), form.Cell(1, r), form.Cell(2, r)});
    return out;
  }
  // A listing (cut short unless ended), then the wait until its rows have reached the view.
  void listing(const Lines& replies, bool end = true) {
    form.ListStart();
    for (const auto& p : replies) form.AddChannelRow(p);
    if (end) form.ListEnd();
    EXPECT_TRUE(testsupport::waitFor([&] { return form.grid->model()->rowCount() == form.RowCount(); }, 2000));
  }
};

const Lines kThree = {"#a 1 :one", "#b 2 :two", "#c 3 :three"};

}  // namespace

// The cells keep the bytes of the replies; the view shows topics without their
// formatting codes and never touches a channel name (Join sends it as it
// came). A listing of one row holds nothing: opening the window asks again.
TEST(ChannelList, RowsAfterListing) {
  EXPECT_EQ(TChannelForm([](const std::string&) {}).windowTitle(), "Channel list");
  const struct {
    const char* name;
    Lines replies;
    bool ended;
    std::vector<Row> cells, shown;  // shown: as cells when empty
  } cases[] = {
      {"three channels", kThree, true, {{"#a", "1", "one"}, {"#b", "2", "two"}, {"#c", "3", "three"}}, {}},
      {"cut short",
       {"#a 3 :first", "#b 12 :second"},
       false,
       {{"#a", "3", "first"}, {"#b", "12", "second"}, {TChannelForm::kPlaceholder, "", ""}},
       {}},
      {"topics",
       {"#e 5", "#a 1 :a: b :c  ", "#f ", "#c 3 ::lead", "#d\xe9 4 no colon"},
       true,
       {{"#e", "5", ""}, {"#a", "1", "a: b :c  "}, {"#f", "", ""}, {"#c", "3", ":lead"}, {"#d\xe9", "4", "no colon"}},
       {}},
      {"reply without a blank",
       {"#a 1 :one", "#lonely", "", "#b 2 :two"},
       true,
       {{"#a", "1", "one"}, {"#b", "2", "two"}},
       {}},
      {"codes",
       {"#a 1 :\x02"
        "bold\x02 \x03"
        "4,1red\x0F plain",
        "#\x02"
        "b 2 :\x1Ditalic"},
       true,
       {{"#a", "1",
         "\x02"
         "bold\x02 \x03"
         "4,1red\x0F plain"},
        {"#\x02"
         "b",
         "2", "\x1Ditalic"}},
       {{"#a", "1", "bold red plain"},
        {"#\x02"
         "b",
         "2", "italic"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Fixture f;
    // An earlier, longer listing, so that stale texts would show.
    f.listing({"#o1 11 :old one", "#o2 22 :old two", "#o3 33 :old three", "#o4 44 :old four"});
    f.form.grid->selectRow(3);
    f.form.hide();
    f.listing(c.replies, c.ended);
    EXPECT_TRUE(f.form.isVisible());
    EXPECT_EQ(f.rows(), c.cells);
    const auto& shown = c.shown.empty() ? c.cells : c.shown;
    for (int r = 0; r < f.form.RowCount(); ++r)
      for (int col = 0; col < 3; ++col)
        EXPECT_EQ(f.form.grid->model()->index(r, col).data().toString(), zorv::toDisplay(shown[r][col]))
            << r << "," << col;
    f.form.hide();  // keeps the listing; Refresh asks again and empties it
    f.form.OpenList();
    const bool asks = c.cells.size() == 1;
    EXPECT_EQ(f.sent, asks ? Lines{"LIST"} : Lines{});
    EXPECT_EQ(f.form.isVisible(), !asks);
    if (asks) continue;
    f.form.refreshButton->click();
    EXPECT_EQ(f.sent, Lines{"LIST"});
    EXPECT_EQ(f.rows(), (std::vector<Row>{{"", "", ""}}));
  }
}

// Join sends the current row's channel (control bytes cut) and hides the
// window; right after a shorter listing, before the view caught up, the
// current row is taken among the rows as they stand now.
TEST(ChannelList, JoinSendsTheCurrentRowsChannelAndHides) {
  enum How { Button, DoubleClick, Shorter };
  const std::tuple<How, Lines, int, std::string> cases[] = {
      {Button, kThree, 1, "JOIN #b"},
      {DoubleClick, kThree, 1, "JOIN #b"},
      {Button, {"#a\rQUIT :x 1 :t", "#b 2 :two"}, 0, "JOIN #a"},
      {Shorter, {"#a 1 :", "#b 1 :", "#c 1 :", "#d 1 :"}, 3, "JOIN #y"}};
  for (const auto& [how, replies, select, expected] : cases) {
    Fixture f;
    f.listing(replies);
    QTableView* grid = f.form.grid;
    grid->selectRow(select);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&f.form));
    const QPoint at = grid->visualRect(grid->model()->index(select, 2)).center();
    if (how == Button) QTest::mouseClick(f.form.joinButton, Qt::LeftButton);
    if (how == DoubleClick)
      QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, at),
          QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, at);
    if (how == Shorter)
      f.form.ListStart(), f.form.AddChannelRow("#x 1 :"), f.form.AddChannelRow("#y 1 :"), f.form.ListEnd(),
          f.form.OnJoinClicked();
    EXPECT_EQ(f.sent, Lines{expected});
    EXPECT_FALSE(f.form.isVisible()) << expected;
  }
}

TEST(ChannelList, FailedSendIsReportedAndWindowGoesOn) {
  TChannelForm form([&](const std::string&) { throw std::runtime_error("Error 10057 in function Send"); });
  testsupport::shownMessages().clear();
  form.show();
  form.refreshButton->click();
  form.joinButton->click();
  EXPECT_EQ(testsupport::shownMessages(), QStringList(2, "Error 10057 in function Send"));
  EXPECT_TRUE(form.isVisible()) << "the failed join did not hide the window";
  testsupport::shownMessages().clear();
}
