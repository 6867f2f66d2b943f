// The main window's place and state across runs, and the rule that keeps a
// saved place on the screen.
#include <gtest/gtest.h>

#include <QFile>
#include <QGuiApplication>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QScreen>
#include <QTemporaryDir>
#include <memory>

#include "Main.h"
#include "Profile.h"
#include "TestSupport.h"
#include "WindowPlacement.h"

namespace {

TEST(WindowPlacement, ASavedPlaceIsKeptOnTheScreen) {
  const QRect screen(0, 0, 800, 600);
  struct Case {
    QRect saved, expected;
  } cases[] = {
      {{30, 40, 500, 400}, {30, 40, 500, 400}},   // inside: as it was
      {{700, 500, 300, 200}, {500, 400, 300, 200}},  // partly off: moved back
      {{-90, -5, 300, 200}, {0, 0, 300, 200}},
      {{3000, 20, 300, 200}, {500, 20, 300, 200}},   // a screen that is gone
      {{10, 10, 1600, 1200}, {0, 0, 800, 600}},      // larger than the screen: shrunk
  };
  for (const Case& c : cases) EXPECT_EQ(zorv::fitInside(c.saved, screen), c.expected) << c.saved.x();
  EXPECT_EQ(zorv::fitInside({700, 500, 300, 200}, QRect(800, 0, 1024, 768)), QRect(800, 500, 300, 200));
}

// Without a saved place the frame takes two thirds of the screen's available
// area, centred, but never less than the frame needs nor more than the screen.
TEST(WindowPlacement, TheFirstPlaceIsTwoThirdsOfTheScreenCentred) {
  struct Case {
    QRect available;
    QSize minimum;
    QRect expected;
  } cases[] = {
      {{0, 0, 1280, 900}, {698, 200}, {213, 150, 853, 600}},
      {{1920, 24, 1920, 1056}, {698, 200}, {2240, 200, 1280, 704}},  // a second screen, a panel at the top
      {{0, 0, 800, 600}, {698, 200}, {51, 100, 698, 400}},            // the frame needs more than two thirds
      {{0, 0, 640, 480}, {698, 200}, {0, 80, 640, 320}},              // not even that fits: the screen's width
  };
  for (const Case& c : cases)
    EXPECT_EQ(zorv::firstPlace(c.available, c.minimum), c.expected) << c.available.width();
}

class PlacementRun : public ::testing::Test {
 protected:
  void writeSettings(const QByteArray& text) {
    QFile f(dir.filePath("ZORV.INI"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text);
  }
  QString saved(const char* key) { return zorv::readProfileString("Window", key, "<none>", dir.filePath("ZORV.INI")); }
  void start() {
    form = std::make_unique<TMainForm>(dir.path());
    form->show();
    ASSERT_TRUE(testsupport::waitFor([&] { return form->isVisible(); }));
  }
  void end() {
    form->close();
    form.reset();  // saves the settings
  }

  QTemporaryDir dir;
  std::unique_ptr<TMainForm> form;
};

TEST_F(PlacementRun, TheFrameAndAMaximizedConversationComeBackWhereTheyWere) {
  writeSettings("[Window]\nLeft=30\nTop=40\nWidth=720\nHeight=410\nMaximized=0\nChildMaximized=1\n");
  start();
  EXPECT_EQ(form->geometry(), QRect(30, 40, 720, 410));
  EXPECT_FALSE(form->isMaximized());
  form->AddText("Server", "hello", true);
  ASSERT_NE(form->windowArea->activeSubWindow(), nullptr);
  EXPECT_TRUE(form->windowArea->activeSubWindow()->isMaximized());

  form->setGeometry(50, 60, 740, 450);
  form->windowArea->activeSubWindow()->showNormal();
  ASSERT_TRUE(testsupport::waitFor([&] { return form->geometry() == QRect(50, 60, 740, 450); }));
  end();
  EXPECT_EQ(saved("Left"), "50");
  EXPECT_EQ(saved("Top"), "60");
  EXPECT_EQ(saved("Width"), "740");
  EXPECT_EQ(saved("Height"), "450");
  EXPECT_EQ(saved("Maximized"), "0");
  EXPECT_EQ(saved("ChildMaximized"), "0");

  // Maximized by the user, the conversation window is saved so and comes back so.
  for (const bool expected : {false, true}) {
    start();
    form->AddText("Server", "hello", true);
    ASSERT_NE(form->windowArea->activeSubWindow(), nullptr);
    EXPECT_EQ(form->windowArea->activeSubWindow()->isMaximized(), expected);
    form->windowArea->activeSubWindow()->showMaximized();
    end();
    EXPECT_EQ(saved("ChildMaximized"), "1");
  }
}

TEST_F(PlacementRun, AMaximizedFrameIsMaximizedAgainAndKeepsItsNormalPlace) {
  writeSettings("[Window]\nLeft=30\nTop=40\nWidth=720\nHeight=410\nMaximized=1\n");
  start();
  ASSERT_TRUE(testsupport::waitFor([&] { return form->isMaximized(); }));
  form->AddText("Server", "hello", true);
  EXPECT_FALSE(form->windowArea->activeSubWindow()->isMaximized());
  end();
  EXPECT_EQ(saved("Maximized"), "1");
  EXPECT_EQ(saved("Width"), "720");
}

TEST_F(PlacementRun, WithoutASavedPlaceTheFrameTakesItsFirstPlace) {
  const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
  for (const QByteArray& settings : {QByteArray(), QByteArray("[User Info]\nNick=zoe\n")}) {
    if (!settings.isEmpty()) writeSettings(settings);
    start();
    EXPECT_EQ(form->geometry(), zorv::firstPlace(available, form->minimumSizeHint())) << settings.size();
    end();
  }
}

}  // namespace
