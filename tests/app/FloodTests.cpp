// Windows the network opens: the budget for new private windows, the rule that
// such a window never takes the keyboard or the screen, and the switcher bar's
// active tab and tooltips.
#include <QApplication>
#include <algorithm>
#include <QLineEdit>
#include <QTest>
#include <QWidget>

#include "AppFixture.h"
#include "WindowBudget.h"

using namespace apptest;

namespace {

const std::string kHeldNotice =
    "*** Too many new private windows at once: messages from new senders are shown here for now";

// A main window whose clock the test sets.
class ClockedForm : public TMainForm {
 public:
  using TMainForm::TMainForm;
  int TimeOfDayMs() const override { return nowMs; }
  int nowMs = 1000;
};

}  // namespace

TEST(WindowBudget, BurstThenOnePerSecondAcrossMidnight) {
  struct Step {
    int nowMs;
    int takes;    // how many windows are asked for at that time
    int granted;  // how many the budget gives
  };
  struct Case {
    const char* what;
    std::vector<Step> steps;
  };
  const int day = WindowBudget::kDayMs;
  const std::vector<Case> cases = {
      {"burst of ten, then none at the same moment", {{5000, 12, 10}}},
      {"one a second after the burst", {{5000, 10, 10}, {5999, 1, 0}, {6000, 2, 1}, {8000, 3, 2}}},
      {"a long pause refills only the burst", {{0, 10, 10}, {3600000, 12, 10}}},
      {"midnight passing counts as time going on", {{day - 500, 10, 10}, {500, 2, 1}}},
      {"a clock set back refills nothing", {{600000, 10, 10}, {300000, 1, 0}, {301000, 1, 1}}},
  };
  for (const Case& c : cases) {
    WindowBudget b;
    for (const Step& s : c.steps) {
      int granted = 0;
      for (int i = 0; i < s.takes; ++i) granted += b.Take(s.nowMs) ? 1 : 0;
      EXPECT_EQ(granted, s.granted) << c.what << " at " << s.nowMs;
    }
  }
}

TEST(WindowBudgetRun, NewSendersBeyondTheBurstAreShownInTheServerWindow) {
  QTemporaryDir dir;
  ClockedForm f(dir.path());
  f.show();
  auto message = [&](const std::string& nick) { f.AddText(nick, "<" + nick + ">hi", true); };
  auto countInServer = [&](const std::string& line) {
    const auto lines = linesOf(f, "Server");
    return std::count(lines.begin(), lines.end(), line);
  };
  f.AddText("Server", "Connected", true);
  f.AddText("#chat", "*** JOIN: me (m@h) #chat", true);
  for (int i = 0; i < 13; ++i) message("p" + std::to_string(i));
  // Server, #chat and ten private windows; three senders were held back.
  EXPECT_EQ(f.Children().size(), 12u);
  EXPECT_NE(window(f, "p9"), nullptr);
  EXPECT_EQ(window(f, "p10"), nullptr);
  EXPECT_EQ(countInServer(kHeldNotice), 1);
  for (const char* held : {"p10", "p11", "p12"})
    EXPECT_EQ(countInServer(std::string("*** Private from ") + held + ": <" + held + ">hi"), 1) << held;

  // Partners that have a window still reach it; channels still open.
  f.AddText("p3", "<p3>again", true);
  EXPECT_TRUE(hasLine(f, "p3", "<p3>again"));
  f.AddText("#other", "*** JOIN: me (m@h) #other", true);
  EXPECT_NE(window(f, "#other"), nullptr);
  // A window the user asks for is never held back.
  f.NewChild("carol");
  EXPECT_NE(window(f, "carol"), nullptr);

  // A second later one more window opens and the hold-back is over; the next
  // one held starts a new hold-back, said once again.
  f.nowMs += 1000;
  message("p13");
  EXPECT_NE(window(f, "p13"), nullptr);
  message("p14");
  message("p15");
  EXPECT_EQ(window(f, "p14"), nullptr);
  EXPECT_EQ(countInServer(kHeldNotice), 2);
  EXPECT_EQ(countInServer("*** Private from p15: <p15>hi"), 1);
}

// A window opened by a line from the network comes up in front only inside the
// active main window while the input line is empty.
TEST_F(AppTest, NetworkWindowsNeverTakeTheKeyboard) {
  struct Case {
    const char* what;
    QString typed;     // text in #lounge's input line
    bool zorvActive;   // the main window is the active window
    bool front;        // frank's window comes up in front
  };
  const std::vector<Case> cases = {
      {"text in the input line", "half a sent", true, false},
      {"empty input line", "", true, true},
      {"another program is active", "", false, false},
  };
  QWidget other;
  other.setWindowTitle("another program");
  for (const Case& c : cases) {
    form->AddText("#lounge", "joined", true);
    TMDIChild* lounge = window(*form, "#lounge");
    ASSERT_NE(lounge, nullptr);
    QWidget* active = c.zorvActive ? static_cast<QWidget*>(form.get()) : &other;
    active->show();
    active->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(active)) << c.what;
    form->ChildFocus("#lounge");
    lounge->inputLine->setFocus();
    lounge->inputLine->setText(c.typed);
    if (c.zorvActive) {
      ASSERT_TRUE(testsupport::waitFor([&] { return lounge->inputLine->hasFocus(); })) << c.what;
    }

    form->AddText("frank", "<frank>hello", true);
    TMDIChild* frank = window(*form, "frank");
    ASSERT_NE(frank, nullptr) << c.what;
    QCoreApplication::processEvents();
    EXPECT_EQ(QApplication::activeWindow(), active) << c.what;
    EXPECT_EQ(form->ActiveChild() == frank, c.front) << c.what;
    EXPECT_EQ(frank->Caption(), c.front ? "frank" : "*frank") << c.what;
    EXPECT_EQ(form->tabBar->section(1).text, frank->Caption()) << c.what;  // the tab shows the mark too
    EXPECT_EQ(lounge->inputLine->text(), c.typed) << c.what;
    EXPECT_TRUE(!c.zorvActive || (QApplication::focusWidget() == lounge->inputLine) == !c.front) << c.what;
    if (!c.front) {
      // Behind the active window, and in front once its tab is clicked.
      EXPECT_EQ(form->ActiveChild(), lounge) << c.what;
      form->OnTabClicked(1);
      EXPECT_EQ(form->ActiveChild(), frank) << c.what;
      EXPECT_EQ(frank->Caption(), "frank") << c.what;
    }
    frank->CloseWindow();
    lounge->CloseWindow();
    ASSERT_TRUE(testsupport::waitFor([&] { return form->Children().empty(); })) << c.what;
  }
}

TEST_F(AppTest, UserOpenedWindowsComeToTheFrontEvenWhileTyping) {
  form->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
  form->AddText("#lounge", "joined", true);
  window(*form, "#lounge")->inputLine->setFocus();
  window(*form, "#lounge")->inputLine->setText("typing");
  form->NewChild("carol");
  EXPECT_EQ(form->ActiveChild(), window(*form, "carol"));
}

TEST_F(AppTest, TheActiveSectionFollowsTheActiveWindow) {
  for (const char* n : {"Server", "#a", "bob"}) form->AddText(n, "x", true);
  EXPECT_EQ(form->tabBar->activeSection(), 2);
  form->OnTabClicked(0);
  EXPECT_EQ(form->tabBar->activeSection(), 0);
  // Closing a window moves the mark with the sections.
  form->ChildFocus("bob");
  window(*form, "#a")->CloseWindow();
  ASSERT_TRUE(testsupport::waitFor([&] { return form->tabBar->count() == 2; }));
  EXPECT_EQ(form->tabBar->activeSection(), 1);
}

TEST_F(AppTest, NarrowTabsShowTheirWholeNameInTheTooltip) {
  const std::string longName = "#a-channel-with-a-name-far-too-long-for-its-tab";
  for (int i = 0; i < 8; ++i) form->AddText(i == 3 ? longName : "#c" + std::to_string(i), "x", true);
  form->SetTopic(longName, "and its topic", false);
  HeaderBar* bar = form->tabBar;
  const int w = bar->sectionWidth();
  ASSERT_GT(w, 0);
  EXPECT_EQ(bar->toolTipAt(3 * w + 1).toStdString(), longName + " - and its topic");
  EXPECT_EQ(bar->toolTipAt(1 * w + 1), "Switch to that window");
  EXPECT_EQ(bar->toolTipAt(bar->count() * w + 1), "Switch to that window");
}
