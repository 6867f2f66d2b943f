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

class InputLineTest : public WindowTest {
 protected:
  void SetUp() override {
    area = std::make_unique<QMdiArea>();
    area->resize(800, 600);
    area->show();
    QApplication::setActiveWindow(area.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(area.get()));
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
};

// /query opens the private window in front and echoes the text there only.
TEST_F(InputLineTest, QueryOpensThePrivateWindow) {
  TMDIChild* w = activeWindow("#a");
  type(w, "/query carol how are you");
  EXPECT_EQ(host.sent, Lines{"PRIVMSG carol :how are you"});
  EXPECT_EQ(host.newChildren, Lines{"carol"});
  EXPECT_EQ(host.focused, Lines{"carol"});
  EXPECT_EQ(host.added, Lines{"carol|<bob>how are you"});
  EXPECT_EQ(w->LineCount(), 0);  // nothing echoed where the command was typed
  EXPECT_TRUE(w->inputLine->text().isEmpty());
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
  const Key tab{Qt::Key_Tab}, x{Qt::Key_X}, up{Qt::Key_PageUp}, down{Qt::Key_PageDown}, a{Qt::Key_A},
      l{Qt::Key_L}, back{Qt::Key_Backtab, Qt::ShiftModifier};
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
      {"Tab completes a nick", inputLine, {a, l, tab, tab}, "Alice: ", inputLine, 0, false},
      {"Shift+Tab goes back", inputLine, {a, l, tab, tab, back}, "alex: ", inputLine, 0, false},
      {"Shift with Tab goes back", inputLine, {a, l, {Qt::Key_Tab, Qt::ShiftModifier}}, "Alice: ", inputLine, 0, false},
      {"Tab completes a channel", inputLine, {{Qt::Key_NumberSign}, {Qt::Key_Z}, tab}, "#zorv ", inputLine, 0, false},
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
    w->TakeNames("@Alice +alex bob ");
    host.channels = {"#a", "#zorv"};
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

}  // namespace
