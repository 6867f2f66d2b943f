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

TEST_F(AppTest, MenusFollowTheWindows) {
  EXPECT_FALSE(form->cascadeItem->isEnabled());
  form->AddText("#a", "x", true);
  form->AddText("bob", "x", true);
  form->SetTopic("#a", "news & views", false);
  ASSERT_TRUE(testsupport::waitFor([&] { return form->cascadeItem->isEnabled(); }));
  // The Window menu lists the windows (rebuilt each time it is shown) and switches.
  for (int shown = 0; shown < 2; ++shown) {
    emit form->windowMenu->aboutToShow();
    QStringList entries;
    for (QAction* a : form->windowMenu->actions())
      if (a->isCheckable()) entries << a->text();
    EXPECT_EQ(entries, (QStringList{"&1 #a - news && views", "&2 bob"}));
  }
  for (QAction* a : form->windowMenu->actions())
    if (a->text().startsWith("&1")) a->trigger();
  EXPECT_EQ(form->ActiveChild(), window(*form, "#a"));
}

// Each new window lies whole inside the frame's client area as it is once the
// window and its tab are there, its input line in sight, on a frame of the
// default size and on a small one.
TEST_F(AppTest, NewWindowsCascadeInsideTheFrame) {
  for (const QSize frame : {form->size(), QSize(640, 400)}) {
    form->resize(frame);
    for (const char* n : {"Server", "#a", "#b", "#c", "#d", "#e", "#f", "#g", "#h", "#i", "#j", "#k"}) {
      form->AddText(n, "x", true);
      QCoreApplication::processEvents();
      TMDIChild* w = window(*form, n);
      QWidget* viewport = form->windowArea->viewport();
      const QRect g = qobject_cast<QMdiSubWindow*>(w->parentWidget())->geometry();
      EXPECT_TRUE(viewport->rect().contains(g)) << n << " " << frame.height();
      const QRect input(w->inputLine->mapTo(viewport, QPoint(0, 0)), w->inputLine->size());
      EXPECT_TRUE(viewport->rect().contains(input)) << n << " " << frame.height();
    }
    for (TMDIChild* w : form->Children()) w->CloseWindow();
    ASSERT_TRUE(testsupport::waitFor([&] { return form->Children().empty(); }));
  }
}

TEST_F(AppTest, AboutBoxPassesFocusFromTheNoticeToOk) {
  TAboutBox* box = form->aboutBox;
  EXPECT_EQ(box->windowTitle(), "About");
  EXPECT_EQ(box->version->text(), "Version : 2.9.22R");
  QTimer::singleShot(0, box, [box] {
    box->comments->setFocus();
    QCoreApplication::processEvents();
    box->done(box->okButton->hasFocus() ? QDialog::Accepted : QDialog::Rejected);
  });
  EXPECT_EQ(box->exec(), QDialog::Accepted);
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
      {"[Client Info]\nWordWrap=1\n", true, "1"},
      {"[client info]\nwordwrap=0\n", false, "0"},
      {"[Client Info]\nWordWrap= 0 \n", false, "0"},
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

// Without a saved place the frame takes two thirds of the screen's available
// area, centred, but never less than the frame needs nor more than the screen.
TEST(WindowPlacement, TheFirstPlaceIsTwoThirdsOfTheScreenCentred) {
  const std::pair<QRect, QRect> cases[] = {
      {{0, 0, 1280, 900}, {213, 150, 853, 600}},
      {{1920, 24, 1920, 1056}, {2240, 200, 1280, 704}},  // a second screen, a panel at the top
      {{0, 0, 800, 600}, {51, 100, 698, 400}},           // the frame needs more than two thirds
      {{0, 0, 640, 480}, {0, 80, 640, 320}},             // not even that fits: the screen's width
  };
  for (const auto& [available, expected] : cases)
    EXPECT_EQ(zorv::firstPlace(available, QSize(698, 200)), expected) << available.width();
}

// The frame's place and whether it and the conversation windows were
// maximized, saved at the end and taken at the next start; without a saved
// place, the first place.
TEST(WindowPlacement, TheFrameComesBackWhereItWas) {
  QTemporaryDir dir;
  const QString ini = dir.filePath("ZORV.INI");
  std::unique_ptr<TMainForm> form;
  auto start = [&](const char* settings) {
    form.reset();  // saves the settings
    if (*settings) testsupport::writeBytes(ini, settings);
    form = std::make_unique<TMainForm>(dir.path());
    form->show();
    form->AddText("Server", "hello", true);
    return form->windowArea->activeSubWindow();
  };
  auto saved = [&](const char* key) { return zorv::readProfileString("Window", key, "", ini).toStdString(); };
  start("");
  EXPECT_EQ(form->geometry(),
            zorv::firstPlace(QGuiApplication::primaryScreen()->availableGeometry(), form->minimumSizeHint()));
  QMdiSubWindow* sub = start("[Window]\nLeft=30\nTop=40\nWidth=720\nHeight=410\nMaximized=0\nChildMaximized=1\n");
  EXPECT_EQ(form->geometry(), QRect(30, 40, 720, 410));
  EXPECT_TRUE(sub->isMaximized());
  form->setGeometry(50, 60, 740, 450);
  sub->showNormal();
  ASSERT_TRUE(testsupport::waitFor([&] { return form->geometry() == QRect(50, 60, 740, 450); }));
  form.reset();
  for (const auto& [key, value] : {std::pair{"Left", "50"}, {"Top", "60"}, {"Width", "740"}, {"Height", "450"},
                                   {"Maximized", "0"}, {"ChildMaximized", "0"}})
    EXPECT_EQ(saved(key), value) << key;
  EXPECT_FALSE(start("")->isMaximized());
  form->windowArea->activeSubWindow()->showMaximized();  // by the user: saved so, and comes back so
  form->showMaximized();
  form.reset();
  EXPECT_EQ(saved("ChildMaximized"), "1");
  EXPECT_EQ(saved("Maximized"), "1");
  EXPECT_TRUE(start("")->isMaximized());
  EXPECT_TRUE(testsupport::waitFor([&] { return form->isMaximized(); }));
  form.reset();
  EXPECT_EQ(saved("Width"), "740");  // the normal place is kept
}
