// The main window's windows: the registry of conversation windows by name,
// the switcher bar and the menus; windows the network opens (the budget for
// new private windows, never taking the keyboard); the text settings and
// mentions; the frame's place across runs.
#include <QAction>
#include <QApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <array>

#include "About.h"
#include "AppFixture.h"
#include "Names.h"
#include "Profile.h"
#include "WindowBudget.h"
#include "WindowPlacement.h"

using namespace apptest;

namespace {

std::vector<std::string> sectionTexts(TMainForm& f) {
  std::vector<std::string> out;
  for (int i = 0; i < f.tabBar->count(); ++i) out.push_back(f.tabBar->section(i).text);
  return out;
}

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

TEST_F(AppTest, NamesMatchIgnoringAsciiCaseMarksTopicsAndLineEnds) {
  for (const char* n : {"Server", "#a", "", "CURRENTMDICHILDWINDOW"}) EXPECT_FALSE(form->ChildExist(n)) << n;
  form->AddText("#Chat", "first", true);
  form->AddText("Server", "hello", true);
  form->SetTopic("#chat", "news of the day", false);
  // Topic in caption and tab; still found by its bare name.
  EXPECT_EQ(window(*form, "#chat")->Caption(), "#chat - news of the day");
  form->SetTopic("#chat", "*#chat - news of the day", true);
  const std::pair<std::string, std::string> cases[] = {
      // name a line is written to, window that must receive it ("" = none)
      {"#CHAT", "#chat"},  {"#chat\r", "#chat"}, {"SERVER", "Server"},
      {"server", "Server"},  // a partner named server shares it
      {"#chat - news", ""},  {"currentmdichildwindow", ""},  // lower case is an ordinary name
  };
  for (const auto& [name, target] : cases) {
    const std::string line = "to " + name;
    form->AddText(name, line, false);
    EXPECT_EQ(form->Children().size(), 2u) << name;
    for (TMDIChild* w : form->Children())
      EXPECT_EQ(hasLine(*form, w->WindowName(), line), w->WindowName() == target) << name;
  }
  EXPECT_TRUE(form->ChildExist("#CHAT"));
  EXPECT_FALSE(form->ChildExist("#other"));
}

TEST_F(AppTest, CreatedWindowsGetKindTabAndFrontAndTheBarGoesWithTheLast) {
  form->AddText("CURRENTMDICHILDWINDOW", "--bob-- early", false);  // no window: Server opens for it
  EXPECT_EQ(linesOf(*form, "Server"), std::vector<std::string>{"--bob-- early"});
  form->AddText("#a", "joined", true);
  form->AddText("CURRENTMDICHILDWINDOW", "--bob-- later", false);
  EXPECT_TRUE(hasLine(*form, "#a", "--bob-- later"));
  form->AddText("bob", "<bob>hi", true);
  TMDIChild* a = window(*form, "#a");
  TMDIChild* bob = window(*form, "bob");
  ASSERT_TRUE(a && bob);
  EXPECT_FALSE(a->nickList->isHidden());
  EXPECT_TRUE(bob->nickList->isHidden());
  EXPECT_EQ(form->ActiveChild(), bob);
  EXPECT_EQ(sectionTexts(*form), (std::vector<std::string>{"Server", "#a", "bob"}));
  EXPECT_EQ(bob->Caption(), "bob");  // the first line of a new window is not unread text
  // A window the user asks for opens empty in front, even while the user
  // types, or the open one comes to the front.
  a->inputLine->setText("typing");
  form->NewChild("carol");
  ASSERT_NE(window(*form, "carol"), nullptr);
  EXPECT_EQ(window(*form, "carol")->LineCount(), 0);
  EXPECT_EQ(form->ActiveChild(), window(*form, "carol"));
  form->NewChild("#A");
  EXPECT_EQ(form->ActiveChild(), a);
  EXPECT_EQ(form->Children().size(), 4u);

  for (TMDIChild* c : form->Children()) c->CloseWindow();
  ASSERT_TRUE(testsupport::waitFor([&] { return form->Children().empty(); }));
  EXPECT_FALSE(form->tabBar->isVisible());
  form->AddText("#b", "x", true);
  EXPECT_TRUE(form->tabBar->isVisible());
}

TEST_F(AppTest, SectionClickSwitchesEvenWithMarkOrTopicAndTheActiveSectionFollows) {
  form->AddText("#a", "x", true);
  form->AddText("#b", "x", true);
  form->SetTopic("#a", "news", false);
  form->AddText("#a", "unread", false);  // #b is active, so #a is marked
  EXPECT_EQ(window(*form, "#a")->Caption(), "*#a - news");
  EXPECT_EQ(form->tabBar->section(0).text, "*#a - news");
  form->OnTabClicked(0);
  EXPECT_EQ(form->ActiveChild(), window(*form, "#a"));
  EXPECT_EQ(window(*form, "#a")->Caption(), "#a - news");
  EXPECT_EQ(form->tabBar->section(0).text, "#a - news");
  EXPECT_EQ(form->tabBar->activeSection(), 0);
  // Closing a window moves the mark with the sections.
  form->ChildFocus("#b");
  window(*form, "#a")->CloseWindow();
  ASSERT_TRUE(testsupport::waitFor([&] { return form->tabBar->count() == 1; }));
  EXPECT_EQ(form->tabBar->activeSection(), 0);
}

// Ten new windows at once, then one a second; midnight passing is time going
// on, a clock set back refills nothing.
TEST(WindowBudget, BurstThenOnePerSecondAcrossMidnight) {
  const int day = WindowBudget::kDayMs;
  const struct {
    const char* what;
    std::vector<std::array<int, 3>> steps;  // the time, windows asked for, windows given
  } cases[] = {
      {"burst of ten, then none at the same moment", {{5000, 12, 10}}},
      {"one a second after the burst", {{5000, 10, 10}, {5999, 1, 0}, {6000, 2, 1}, {8000, 3, 2}}},
      {"a long pause refills only the burst", {{0, 10, 10}, {3600000, 12, 10}}},
      {"midnight passing counts as time going on", {{day - 500, 10, 10}, {500, 2, 1}}},
      {"a clock set back refills nothing", {{600000, 10, 10}, {300000, 1, 0}, {301000, 1, 1}}},
  };
  for (const auto& c : cases) {
    WindowBudget b;
    for (const auto& [now, takes, given] : c.steps) {
      int granted = 0;
      for (int i = 0; i < takes; ++i) granted += b.Take(now) ? 1 : 0;
      EXPECT_EQ(granted, given) << c.what << " at " << now;
    }
  }
}

TEST(WindowBudgetRun, NewSendersBeyondTheBurstAreShownInTheServerWindow) {
  QTemporaryDir dir;
  ClockedForm f(dir.path());
  f.show();
  auto message = [&](const std::string& nick) { f.AddText(nick, "<" + nick + ">hi", true); };
  auto countInServer = [&](const std::string& line) { return testsupport::countInWindow(f, "Server", line); };
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

  // Partners that have a window still reach it; a window the user asks for is never held back.
  f.AddText("p3", "<p3>again", true);
  EXPECT_TRUE(hasLine(f, "p3", "<p3>again"));
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
// active main window while the input line is empty; else it is marked unread.
TEST_F(AppTest, NetworkWindowsNeverTakeTheKeyboard) {
  const std::tuple<QString, bool, bool> cases[] = {  // typed in #lounge, Zorv active, frank's window in front
      {"half a sent", true, false}, {"", true, true}, {"", false, false}};
  QWidget other;
  for (const auto& [typed, zorvActive, front] : cases) {
    SCOPED_TRACE(typed.toStdString() + (zorvActive ? " active" : " inactive"));
    form->AddText("#lounge", "joined", true);
    TMDIChild* lounge = window(*form, "#lounge");
    QWidget* active = zorvActive ? static_cast<QWidget*>(form.get()) : &other;
    active->show();
    active->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(active));
    lounge->inputLine->setFocus();
    lounge->inputLine->setText(typed);
    form->AddText("frank", "<frank>hello", true);
    TMDIChild* frank = window(*form, "frank");
    QCoreApplication::processEvents();
    EXPECT_EQ(QApplication::activeWindow(), active);
    EXPECT_EQ(form->ActiveChild(), front ? frank : lounge);
    EXPECT_EQ(form->tabBar->section(1).text, front ? "frank" : "*frank");
    EXPECT_EQ(lounge->inputLine->text(), typed);
    frank->CloseWindow();
    lounge->CloseWindow();
    ASSERT_TRUE(testsupport::waitFor([&] { return form->Children().empty(); }));
  }
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

// The word wrap and time stamp switches in ZORV.INI reach the text panes of
// the windows, are kept as they were read, and the menu item turns stamps on
// and off for the lines that come from then on.
TEST(TextSettings, WordWrapAndTimestampsFromTheFileAndTheMenu) {
  const struct {
    const char* file;
    bool wrap;
    const char* saved;  // the switch in the file afterwards
    bool stamps = false;
  } cases[] = {
      {"", true, "1"},
      {"[client info]\nwordwrap=0\n", false, "0"},
      {"[Client Info]\nWordWrap=no\n", false, "0"},
      {"[Client Info]\nTimestamps=1\n", true, "1", true},
  };
  const QRegularExpression stamped("^\\[\\d\\d:\\d\\d\\] x$");
  for (const auto& c : cases) {
    QTemporaryDir dir;
    const QString ini = dir.filePath("ZORV.INI");
    testsupport::writeBytes(ini, c.file);
    {
      TMainForm form(dir.path());
      form.AddText("#a", "x", true);
      TextPane* pane = form.Children().front()->textPane;
      EXPECT_EQ(pane->wordWrap(), c.wrap) << c.file;
      EXPECT_EQ(form.timestampsItem->isChecked(), c.stamps) << c.file;
      EXPECT_EQ(stamped.match(pane->shownText(0)).hasMatch(), c.stamps) << c.file;
      form.timestampsItem->trigger();
      form.AddText("#a", "x", true);
      EXPECT_EQ(stamped.match(pane->shownText(1)).hasMatch(), !c.stamps) << c.file;
      EXPECT_EQ(pane->shownText(0), "x") << c.file;  // not stamped when it came, or stamps now hidden
    }
    EXPECT_EQ(zorv::readProfileString("Client Info", "WordWrap", "", ini).trimmed(), c.saved) << c.file;
    EXPECT_EQ(zorv::readProfileString("Client Info", "Timestamps", "", ini).trimmed(), c.stamps ? "0" : "1");
  }
}

// A line from someone else naming the user marks its window's tab in colour
// (the caption keeps only the unread "*") until the window is seen.
TEST_F(AppTest, AMentionMarksTheTabUntilTheWindowIsSeen) {
  auto section = [&](const std::string& name) {
    for (int i = 0; i < form->tabBar->count(); ++i)
      if (zorv::equalsIgnoreAsciiCase(zorv::LeftStr(form->tabBar->sectionText(i)), name)) return i;
    return -1;
  };
  form->nickField->setText("bob");
  const struct {
    const char* window;
    const char* line;
    bool mention;
  } cases[] = {
      {"#a", "<ann>hi BOB!", true},         {"#b", "<ann>hi bobby", false},
      {"#c", "<bob>bob here", false},       {"#d", "*** bob has joined #d", false},
      {"#e", "* ann pokes \x02" "bob\x02", true},
  };
  for (const auto& c : cases) form->AddText(c.window, "opened", true);
  form->AddText("#front", "opened", true);
  form->ChildFocus("#front");
  for (const auto& c : cases) form->AddText(c.window, c.line, false);
  for (const auto& c : cases) {
    const int i = section(c.window);
    ASSERT_GE(i, 0) << c.window;
    EXPECT_EQ(form->tabBar->sectionMention(i), c.mention) << c.window;
    EXPECT_EQ(form->tabBar->sectionText(i), std::string("*") + c.window) << c.window;
    EXPECT_EQ(window(*form, c.window)->textPane->isMention(1), c.mention) << c.window;
  }
  form->ChildFocus("#a");
  EXPECT_FALSE(form->tabBar->sectionMention(section("#a")));
  form->CloseChild("#b");  // the bar is made again: the other marks stay
  EXPECT_TRUE(form->tabBar->sectionMention(section("#e")));
}

TEST(WindowPlacement, ASavedPlaceIsKeptOnTheScreen) {
  const QRect screen(0, 0, 800, 600);
  const std::pair<QRect, QRect> cases[] = {
      {{30, 40, 500, 400}, {30, 40, 500, 400}},      // inside: as it was
      {{700, 500, 300, 200}, {500, 400, 300, 200}},  // partly off: moved back
      {{-90, -5, 300, 200}, {0, 0, 300, 200}},
      {{3000, 20, 300, 200}, {500, 20, 300, 200}},   // a screen that is gone
      {{10, 10, 1600, 1200}, {0, 0, 800, 600}},      // larger than the screen: shrunk
  };
  for (const auto& [saved, expected] : cases) EXPECT_EQ(zorv::fitInside(saved, screen), expected) << saved.x();
  EXPECT_EQ(zorv::fitInside({700, 500, 300, 200}, QRect(800, 0, 1024, 768)), QRect(800, 500, 300, 200));
}
