// The input line of a conversation window inside a frame: long text in
// pieces, /query, and the close key pressed where the user presses it.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QScrollBar>
#include <QTest>
#include <memory>

#include "ConversationFixtures.h"
#include "TestSupport.h"

namespace {

using Lines = std::vector<std::string>;

class InputLineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    area = std::make_unique<QMdiArea>();
    area->resize(800, 600);
    area->show();
    QApplication::setActiveWindow(area.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(area.get()));
  }
  void TearDown() override {
    for (auto& c : host.children) delete c.data();
    area.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
  // A window in the frame, active, with the focus in the given control.
  using Control = QWidget* (*)(TMDIChild*);
  static QWidget* inputLine(TMDIChild* w) { return w->inputLine; }
  static QWidget* textPane(TMDIChild* w) { return w->textPane; }
  static QWidget* nickList(TMDIChild* w) { return w->nickList; }
  TMDIChild* activeWindow(const std::string& caption, Control focus = inputLine) {
    TMDIChild* w = host.make(caption, area.get());
    area->setActiveSubWindow(qobject_cast<QMdiSubWindow*>(w->parentWidget()));
    host.active = w;
    QWidget* target = focus(w);
    target->setFocus(Qt::OtherFocusReason);
    EXPECT_TRUE(testsupport::waitFor([&] { return QApplication::focusWidget() == target; }, 2000));
    return w;
  }
  void type(TMDIChild* w, const QString& text) {
    w->inputLine->setText(text);
    QTest::keyClick(w->inputLine, Qt::Key_Return);
  }

  RecordingHost host;
  std::unique_ptr<QMdiArea> area;
};

TEST_F(InputLineTest, LongTextIsSentInPiecesAndEachPieceIsEchoed) {
  TMDIChild* w = activeWindow("#a");
  type(w, QString(602, QLatin1Char('x')));
  const std::string x418(418, 'x'), x184(184, 'x');
  EXPECT_EQ(host.sent, (Lines{"PRIVMSG #a :" + x418, "PRIVMSG #a :" + x184}));
  ASSERT_EQ(w->LineCount(), 2);
  EXPECT_EQ(w->textPane->line(0), "<bob>" + x418);
  EXPECT_EQ(w->textPane->line(1), "<bob>" + x184);
  // A command a server would not take is refused in the window.
  host.sent.clear();
  type(w, "/topic #a " + QString(600, QLatin1Char('t')));
  EXPECT_TRUE(host.sent.empty());
  EXPECT_EQ(w->textPane->line(2), "*** Not sent: the line is 610 bytes long, a server takes 510 at most");
  EXPECT_TRUE(w->inputLine->text().isEmpty());
}

TEST_F(InputLineTest, AwayAndQuery) {
  TMDIChild* w = activeWindow("#a");
  type(w, "/away back soon");
  type(w, "/away");
  type(w, "/query carol how are you");
  EXPECT_EQ(host.sent, (Lines{"AWAY :back soon", "AWAY", "PRIVMSG carol :how are you"}));
  EXPECT_EQ(host.newChildren, Lines{"carol"});
  EXPECT_EQ(host.focused, Lines{"carol"});
  EXPECT_EQ(host.added, Lines{"carol|<bob>how are you"});
  EXPECT_EQ(w->LineCount(), 0);  // nothing echoed where the command was typed
  EXPECT_TRUE(w->inputLine->text().isEmpty());
  type(w, "/query");
  EXPECT_EQ(w->textPane->line(0), "*** USAGE: /QUERY <nick> [text]");
  EXPECT_EQ(host.newChildren.size(), 1u);
}

// Ctrl+F4 pressed in the focused control of the active window closes it,
// whatever key the platform gives the frame's own close action: the offscreen
// scheme binds Ctrl+F4 there too, an X display binds only Ctrl+W.
TEST_F(InputLineTest, CtrlF4ClosesTheWindowFromItsFocusedControl) {
  const struct {
    const char* scheme;
    bool frameKeyOnlyCtrlW;
    Control focus;
    Qt::Key key;
  } cases[] = {
      {"offscreen, input line", false, inputLine, Qt::Key_F4},
      {"X, input line", true, inputLine, Qt::Key_F4},
      {"X, text pane", true, textPane, Qt::Key_F4},
      {"X, Ctrl+W stays the frame's key", true, inputLine, Qt::Key_W},
      {"offscreen, Ctrl+W", false, inputLine, Qt::Key_W},
  };
  for (const auto& c : cases) {
    host.sent.clear();
    host.removedBars.clear();
    QPointer<TMDIChild> other = host.make("#other", area.get());
    QPointer<TMDIChild> w = activeWindow("#a", c.focus);
    if (c.frameKeyOnlyCtrlW) {
      for (TMDIChild* child : {w.data(), other.data()}) {
        auto* sub = qobject_cast<QMdiSubWindow*>(child->parentWidget());
        for (QAction* a : sub->systemMenu()->actions())
          if (!a->shortcuts().isEmpty()) a->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_W)});
      }
    }
    QTest::keyClick(QApplication::focusWidget(), c.key, Qt::ControlModifier);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(w.isNull()) << c.scheme;
    EXPECT_EQ(host.sent, Lines{"PART #a"}) << c.scheme;
    EXPECT_EQ(host.removedBars, Lines{"#a"}) << c.scheme;
    EXPECT_FALSE(other.isNull()) << c.scheme;
    delete other.data();
  }
}

// Keys go where the user means them: Tab stays in the input line, a printable
// key in the text or the nick list goes on to the input line, the page keys in
// the input line scroll the text; Ctrl+Tab and Ctrl+C keep their meaning.
TEST_F(InputLineTest, KeysReachTheControlTheUserMeans) {
  struct Key {
    Qt::Key key;
    Qt::KeyboardModifiers mods = Qt::NoModifier;
  };
  const Key tab{Qt::Key_Tab}, x{Qt::Key_X}, up{Qt::Key_PageUp}, down{Qt::Key_PageDown};
  const struct {
    const char* what;
    Control focus;
    std::vector<Key> keys;  // each to the control that has the focus then
    std::string typed;      // the input line's text afterwards
    QWidget* (*focusAfter)(TMDIChild*);
    int pagesUp;  // the text scrolled up from the bottom, in pages
    bool switched;  // the other window became the active one
  } cases[] = {
      {"Tab in the input line", inputLine, {tab, x}, "x", inputLine, 0, false},
      {"Shift+Tab in the input line", inputLine, {{Qt::Key_Backtab, Qt::ShiftModifier}, x}, "x", inputLine, 0, false},
      {"Ctrl+Tab switches windows", inputLine, {{Qt::Key_Tab, Qt::ControlModifier}}, "", nullptr, 0, true},
      {"typing in the text", textPane, {{Qt::Key_A}, {Qt::Key_B}, {Qt::Key_C}}, "abc", inputLine, 0, false},
      {"typing in the nick list", nickList, {{Qt::Key_A}, {Qt::Key_Space}, x}, "a x", inputLine, 0, false},
      {"Ctrl+C in the text", textPane, {{Qt::Key_C, Qt::ControlModifier}}, "", textPane, 0, false},
      {"PageUp", inputLine, {up}, "", inputLine, 1, false},
      {"PageUp twice, PageDown", inputLine, {up, up, down}, "", inputLine, 1, false},
      {"Shift+PageUp", inputLine, {{Qt::Key_PageUp, Qt::ShiftModifier}}, "", inputLine, 1, false},
      {"PageDown at the bottom", inputLine, {{Qt::Key_PageDown, Qt::ShiftModifier}}, "", inputLine, 0, false},
  };
  for (const auto& c : cases) {
    QPointer<TMDIChild> other = host.make("#other", area.get());
    QPointer<TMDIChild> w = activeWindow("#a", c.focus);
    for (int i = 0; i < 200; ++i) w->AddLine("line " + std::to_string(i));
    w->textPane->flushLayout();
    QScrollBar* v = w->textPane->verticalScrollBar();
    ASSERT_GT(v->maximum(), 2 * v->pageStep()) << c.what;
    ASSERT_EQ(v->value(), v->maximum()) << c.what;
    for (const Key& k : c.keys) QTest::keyClick(QApplication::focusWidget(), k.key, k.mods);
    EXPECT_EQ(w->inputLine->text().toStdString(), c.typed) << c.what;
    EXPECT_EQ(v->value(), v->maximum() - c.pagesUp * v->pageStep()) << c.what;
    EXPECT_EQ(area->activeSubWindow()->widget(), c.switched ? other.data() : w.data()) << c.what;
    if (c.focusAfter) {
      EXPECT_EQ(QApplication::focusWidget(), c.focusAfter(w)) << c.what;
    }
    delete other.data();
    delete w.data();
  }
}

// Tab in the input line completes nicks and channel names and keeps the focus there.
TEST_F(InputLineTest, TabCompletesTheNickBeforeTheCaret) {
  TMDIChild* w = activeWindow("#a");
  w->TakeNames("@Alice +alex bob ");
  host.channels = {"#a", "#zorv"};
  QTest::keyClicks(w->inputLine, "al");
  const struct {
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    QString text;
  } presses[] = {{Qt::Key_Tab, {}, "alex: "},
                 {Qt::Key_Tab, {}, "Alice: "},
                 {Qt::Key_Backtab, Qt::ShiftModifier, "alex: "},
                 {Qt::Key_Tab, Qt::ShiftModifier, "Alice: "}};
  for (const auto& p : presses) {
    QTest::keyClick(w->inputLine, p.key, p.modifiers);
    EXPECT_EQ(w->inputLine->text(), p.text);
    EXPECT_EQ(w->inputLine->cursorPosition(), p.text.size());
    EXPECT_EQ(QApplication::focusWidget(), w->inputLine);
  }
  QTest::keyClicks(w->inputLine, "see #zo");
  QTest::keyClick(w->inputLine, Qt::Key_Tab);
  EXPECT_EQ(w->inputLine->text(), "Alice: see #zorv ");
}

}  // namespace
