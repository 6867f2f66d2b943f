// The window registry, the switcher bar and the menu states of the main window.
#include <QAction>
#include <QCoreApplication>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTimer>
#include <QPushButton>

#include "About.h"
#include "AppFixture.h"
#include "HeaderBar.h"

using namespace apptest;

namespace {

std::vector<std::string> sectionTexts(TMainForm& f) {
  std::vector<std::string> out;
  for (int i = 0; i < f.tabBar->count(); ++i) out.push_back(f.tabBar->section(i).text);
  return out;
}

}  // namespace

TEST_F(AppTest, NamesMatchIgnoringAsciiCaseMarksTopicsAndLineEnds) {
  form->AddText("#Chat", "first", true);
  form->AddText("Server", "hello", true);
  form->SetTopic("#chat", "news of the day", false);
  // Topic in caption and tab; still found by its bare name.
  EXPECT_EQ(window(*form, "#chat")->Caption(), "#chat - news of the day");
  form->SetTopic("#chat", "*#chat - news of the day", true);

  struct Case {
    std::string name;
    std::string target;  // window that must receive the line ("" = none)
  };
  const std::vector<Case> cases = {
      {"#CHAT", "#chat"},            // other letter case
      {"#chat\r", "#chat"},          // trailing CR from the end of a line
      {"SERVER", "Server"},          // the server window in capitals
      {"server", "Server"},          // a partner named server shares it
      {"#chat - news", ""},          // a name with a blank never matches
      {"currentmdichildwindow", ""}, // lower case is an ordinary name
  };
  for (const Case& c : cases) {
    const size_t before = form->Children().size();
    const std::string line = "to " + c.name;
    form->AddText(c.name, line, false);
    EXPECT_EQ(form->Children().size(), before) << c.name;
    if (c.target.empty()) {
      for (TMDIChild* w : form->Children()) EXPECT_FALSE(hasLine(*form, w->WindowName(), line)) << c.name;
    } else {
      EXPECT_TRUE(hasLine(*form, c.target, line)) << c.name;
    }
  }
  EXPECT_TRUE(form->ChildExist("#CHAT"));
  EXPECT_FALSE(form->ChildExist("#other"));
}

TEST_F(AppTest, NoWindowOpenMeansNoNameExists) {
  for (const char* n : {"Server", "#a", "", "CURRENTMDICHILDWINDOW"}) EXPECT_FALSE(form->ChildExist(n)) << n;
}

TEST_F(AppTest, CreatedWindowsGetKindTabAndFront) {
  form->AddText("#a", "joined", true);
  form->AddText("bob", "<bob>hi", true);
  TMDIChild* a = window(*form, "#a");
  TMDIChild* bob = window(*form, "bob");
  ASSERT_TRUE(a && bob);
  EXPECT_FALSE(a->nickList->isHidden());
  EXPECT_TRUE(bob->nickList->isHidden());
  EXPECT_EQ(form->ActiveChild(), bob);
  EXPECT_EQ(sectionTexts(*form), (std::vector<std::string>{"#a", "bob"}));
  EXPECT_TRUE(form->tabBar->isVisible());
  // The first line of a new window is not unread text.
  EXPECT_EQ(bob->Caption(), "bob");
}

TEST_F(AppTest, CurrentWindowGoesToTheActiveWindowOrOpensServer) {
  form->AddText("CURRENTMDICHILDWINDOW", "--bob-- early", false);
  EXPECT_EQ(linesOf(*form, "Server"), std::vector<std::string>{"--bob-- early"});
  form->AddText("#a", "joined", true);
  form->AddText("CURRENTMDICHILDWINDOW", "--bob-- later", false);
  EXPECT_TRUE(hasLine(*form, "#a", "--bob-- later"));
}

TEST_F(AppTest, SectionsKeepEvenWidths) {
  const int wider = form->width() + 10;
  form->resize(wider, form->height());
  ASSERT_TRUE(testsupport::waitFor([&] { return form->centralWidget()->width() == wider; }));
  for (const char* n : {"Server", "#a", "#b"}) form->AddText(n, "x", true);
  const int barWidth = form->tabBar->width();
  for (int i = 0; i < 3; ++i) EXPECT_EQ(form->tabBar->section(i).width, barWidth / 3);
  window(*form, "#a")->CloseWindow();
  ASSERT_TRUE(testsupport::waitFor([&] { return window(*form, "#a") == nullptr; }));
  EXPECT_EQ(sectionTexts(*form), (std::vector<std::string>{"Server", "#b"}));
  for (int i = 0; i < 2; ++i) EXPECT_EQ(form->tabBar->section(i).width, barWidth / 2);
  form->resize(700, form->height());
  ASSERT_TRUE(testsupport::waitFor([&] { return form->centralWidget()->width() == 700; }));
  EXPECT_EQ(form->tabBar->section(0).width, form->tabBar->width() / 2);
}

TEST_F(AppTest, ClosingTheLastWindowHidesTheBar) {
  form->AddText("#a", "x", true);
  window(*form, "#a")->CloseWindow();
  ASSERT_TRUE(testsupport::waitFor([&] { return window(*form, "#a") == nullptr; }));
  EXPECT_TRUE(form->Children().empty());
  EXPECT_FALSE(form->tabBar->isVisible());
  form->AddText("#b", "x", true);
  EXPECT_TRUE(form->tabBar->isVisible());
}

TEST_F(AppTest, SectionClickSwitchesEvenWithMarkOrTopic) {
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
}

TEST_F(AppTest, NewChildOpensOrFocusesWithoutText) {
  form->AddText("#a", "x", true);
  form->NewChild("carol");
  TMDIChild* carol = window(*form, "carol");
  ASSERT_NE(carol, nullptr);
  EXPECT_EQ(carol->LineCount(), 0);
  EXPECT_EQ(form->ActiveChild(), carol);
  form->NewChild("#a");
  EXPECT_EQ(form->ActiveChild(), window(*form, "#a"));
  EXPECT_EQ(form->Children().size(), 2u);
}

TEST_F(AppTest, MenuStatesFollowWindowsAndTheDisconnectButton) {
  EXPECT_FALSE(form->cascadeItem->isEnabled());
  EXPECT_FALSE(form->cutItem->isEnabled());
  form->AddText("#a", "x", true);
  // The menu states follow the change of the active window.
  ASSERT_TRUE(testsupport::waitFor([&] { return form->cutItem->isEnabled(); }));
  for (QAction* a : {form->cutItem, form->copyItem, form->pasteItem, form->cascadeItem,
                     form->tileItem, form->arrangeIconsItem, form->minimizeAllItem})
    EXPECT_TRUE(a->isEnabled()) << a->objectName().toStdString();
  EXPECT_FALSE(form->channelListItem->isEnabled());
  EXPECT_TRUE(form->connectItem->isEnabled());
}

TEST_F(AppTest, NickChangeRenamesPrivateWindowAndTab) {
  form->AddText("bob", "<bob>hi", true);
  form->AddText("#chat", "joined", true);
  window(*form, "#chat")->AddNick("bob");
  form->ChangeNick("Bob", "robert");
  EXPECT_EQ(window(*form, "bob"), nullptr);
  ASSERT_NE(window(*form, "robert"), nullptr);
  EXPECT_EQ(sectionTexts(*form), (std::vector<std::string>{"robert", "#chat"}));
  EXPECT_TRUE(hasLine(*form, "#chat", "*** Bob is known as robert"));
}

TEST_F(AppTest, QuitWritesOnlyWhereTheNickWasListed) {
  form->AddText("#a", "x", true);
  form->AddText("#b", "x", true);
  window(*form, "#a")->AddNick("bob");
  form->QuitNick("bob", "*** QUIT: bob (b) gone");
  EXPECT_TRUE(hasLine(*form, "#a", "*** QUIT: bob (b) gone"));
  EXPECT_FALSE(hasLine(*form, "#b", "*** QUIT: bob (b) gone"));
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

TEST_F(AppTest, FirstSectionTakesTheWholeBarOnceShown) {
  form->AddText("Server", "x", true);
  ASSERT_TRUE(testsupport::waitFor([&] {
    return form->tabBar->isVisible() && form->tabBar->width() == form->centralWidget()->width();
  }));
  ASSERT_TRUE(form->tabBar->isVisible());
  EXPECT_EQ(form->tabBar->width(), form->centralWidget()->width());
  EXPECT_EQ(form->tabBar->section(0).width, form->tabBar->width());
}

TEST_F(AppTest, WindowMenuListsTheWindowsAndSwitches) {
  form->AddText("#a", "x", true);
  form->AddText("bob", "x", true);
  form->SetTopic("#a", "news & views", false);
  emit form->windowMenu->aboutToShow();
  QStringList entries;
  QAction* first = nullptr;
  for (QAction* a : form->windowMenu->actions()) {
    if (a->isSeparator() || a == form->cascadeItem || a == form->tileItem ||
        a == form->arrangeIconsItem || a == form->minimizeAllItem)
      continue;
    if (!first) first = a;
    entries << a->text();
  }
  EXPECT_EQ(entries, (QStringList{"&1 #a - news && views", "&2 bob"}));
  ASSERT_NE(first, nullptr);
  first->trigger();
  EXPECT_EQ(form->ActiveChild(), window(*form, "#a"));
  // Shown again, the list is rebuilt, not appended to.
  emit form->windowMenu->aboutToShow();
  int listed = 0;
  for (QAction* a : form->windowMenu->actions()) listed += a->isCheckable() ? 1 : 0;
  EXPECT_EQ(listed, 2);
}

TEST_F(AppTest, AboutBoxPassesFocusFromTheNoticeToOk) {
  TAboutBox* box = form->aboutBox;
  EXPECT_EQ(box->windowTitle(), "About");
  EXPECT_EQ(box->version->text(), "Version : 2.9.22R");
  QTimer::singleShot(0, box, [box] {
    box->comments->setFocus();
    QCoreApplication::processEvents();
    const bool okHasFocus = box->okButton->hasFocus();
    box->done(okHasFocus ? QDialog::Accepted : QDialog::Rejected);
  });
  EXPECT_EQ(box->exec(), QDialog::Accepted);
}
