// The window registry, the switcher bar and the menus of the main window.
#include <QAction>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

#include "About.h"
#include "AppFixture.h"

using namespace apptest;

namespace {

std::vector<std::string> sectionTexts(TMainForm& f) {
  std::vector<std::string> out;
  for (int i = 0; i < f.tabBar->count(); ++i) out.push_back(f.tabBar->section(i).text);
  return out;
}

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
  // A window the user asks for opens empty in front, or the open one comes to the front.
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

// The bar is as wide as the frame and its sections share it evenly.
TEST_F(AppTest, SectionsShareTheBarEvenly) {
  HeaderBar* bar = form->tabBar;
  for (const char* n : {"Server", "#a", "#b"}) {
    form->AddText(n, "x", true);
    ASSERT_TRUE(testsupport::waitFor([&] { return bar->width() == form->centralWidget()->width(); }));
    for (int i = 0; i < bar->count(); ++i) EXPECT_EQ(bar->section(i).width, bar->width() / bar->count()) << n;
  }
  window(*form, "#a")->CloseWindow();
  ASSERT_TRUE(testsupport::waitFor([&] { return bar->count() == 2; }));
  EXPECT_EQ(sectionTexts(*form), (std::vector<std::string>{"Server", "#b"}));
  form->resize(700, form->height());
  ASSERT_TRUE(testsupport::waitFor([&] { return form->centralWidget()->width() == 700; }));
  for (int i = 0; i < 2; ++i) EXPECT_EQ(bar->section(i).width, bar->width() / 2);
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

TEST_F(AppTest, MenusFollowTheWindows) {
  EXPECT_FALSE(form->cascadeItem->isEnabled());
  EXPECT_FALSE(form->cutItem->isEnabled());
  form->AddText("#a", "x", true);
  form->AddText("bob", "x", true);
  form->SetTopic("#a", "news & views", false);
  // The menu states follow the change of the active window.
  ASSERT_TRUE(testsupport::waitFor([&] { return form->cutItem->isEnabled(); }));
  for (QAction* a : {form->copyItem, form->pasteItem, form->cascadeItem, form->tileItem,
                     form->arrangeIconsItem, form->minimizeAllItem})
    EXPECT_TRUE(a->isEnabled()) << a->objectName().toStdString();
  EXPECT_FALSE(form->channelListItem->isEnabled());
  EXPECT_TRUE(form->connectItem->isEnabled());

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
