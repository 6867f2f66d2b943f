// The find bar over a long window, and text of several lines pasted into the
// input line.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QTest>
#include <memory>

#include "ConversationFixtures.h"
#include "FindBar.h"
#include "MessageBox.h"
#include "TestSupport.h"

namespace {

using Lines = std::vector<std::string>;

class FindAndPasteTest : public WindowTest {
 protected:
  void SetUp() override {
    area = std::make_unique<QMdiArea>();
    area->resize(800, 600);
    area->show();
    QApplication::setActiveWindow(area.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(area.get()));
    w = host.make("#c", area.get());
    host.active = w;  // the active window keeps every line
    area->setActiveSubWindow(qobject_cast<QMdiSubWindow*>(w->parentWidget()));
    w->inputLine->setFocus(Qt::OtherFocusReason);
    ASSERT_TRUE(testsupport::waitFor([&] { return QApplication::focusWidget() == w->inputLine; }, 2000));
  }
  TMDIChild* w = nullptr;
};

TEST_F(FindAndPasteTest, FindBarFindsTextAsShownAcrossFiveThousandLines) {
  for (int i = 0; i < 5000; ++i) {
    std::string line = "<ann>line " + std::to_string(i) + " of the \x02long\x02 window";
    if (i == 10) line = "<bob>a needle here";
    if (i == 1234) line = "<bob>split \x03" "04Ne\x03" "edLE by colour codes, needle";  // two matches
    if (i == 4990) line = "<bob>last NEEDLE";
    w->AddLine(line);
  }
  QTest::keyClick(w->inputLine, Qt::Key_F, Qt::ControlModifier);
  FindBar* bar = w->findBar;
  ASSERT_TRUE(bar->isVisible());
  ASSERT_TRUE(testsupport::waitFor([&] { return QApplication::focusWidget() == bar->findText; }, 2000));
  QTest::keyClicks(bar->findText, "needle");
  // Back from the end, then on past either end; the selection is the text as shown.
  const struct {
    Qt::KeyboardModifiers mods;  // Enter: next, Shift+Enter: previous
    int line;
    int offset;
  } steps[] = {{Qt::ShiftModifier, 4990, 10}, {Qt::ShiftModifier, 1234, 35}, {Qt::ShiftModifier, 1234, 11},
               {Qt::ShiftModifier, 10, 7},    {Qt::ShiftModifier, 4990, 10}, {Qt::NoModifier, 10, 7},
               {Qt::NoModifier, 1234, 11},    {Qt::NoModifier, 1234, 35},   {Qt::NoModifier, 4990, 10}};
  for (const auto& s : steps) {
    QTest::keyClick(bar->findText, Qt::Key_Return, s.mods);
    EXPECT_EQ(w->textPane->selectionStart(), (TextPane::Pos{s.line, s.offset})) << s.line;
    EXPECT_EQ(w->textPane->selectedText().compare("needle", Qt::CaseInsensitive), 0) << s.line;
    const int top = w->textPane->topLine();
    EXPECT_TRUE(top <= s.line && s.line < top + 30) << s.line << " top " << top;
  }
  bar->previousButton->click();
  EXPECT_EQ(w->textPane->selectionStart().line, 1234);
  bar->findText->setText("nowhere");
  EXPECT_FALSE(bar->Find(true));
  EXPECT_EQ(bar->status->text(), "Not found");
  EXPECT_EQ(w->textPane->selectionStart().line, -1);
  QTest::keyClick(bar->findText, Qt::Key_Escape);
  EXPECT_FALSE(bar->isVisible());
  EXPECT_TRUE(testsupport::waitFor([&] { return QApplication::focusWidget() == w->inputLine; }, 2000));
}

TEST_F(FindAndPasteTest, PastedLinesAreSentOneByOneAfterAQuestionAboveFive) {
  QStringList asked;
  bool answer = true;
  const auto previous = zorv::setQuestionAsker([&](const QString& text, const QString&) {
    asked << text;
    return answer;
  });
  const std::string longLine(600, 'x');  // cut where the relay limit for "bob" falls
  const struct {
    const char* typedBefore;
    QString pasted;
    bool answer;
    Lines sent;
    const char* inputAfter;
    bool asked;
  } cases[] = {
      {"", "one word", true, {}, "one word", false},
      {"say ", "one\r\ntwo\n\n   \rthree", true, {"PRIVMSG #c :say one", "PRIVMSG #c :two", "PRIVMSG #c :three"}, "", false},
      {"", "1\n2\n3\n4\n5\n6\n", false, {}, "", true},
      {"", "1\n2\n3\n4\n5\n6\n", true,
       {"PRIVMSG #c :1", "PRIVMSG #c :2", "PRIVMSG #c :3", "PRIVMSG #c :4", "PRIVMSG #c :5", "PRIVMSG #c :6"}, "", true},
      {"", QString::fromStdString("/me waves\n" + longLine), true, {"PRIVMSG #c :\001ACTION waves\001", "PRIVMSG #c :" + longLine.substr(0, 418), "PRIVMSG #c :" + longLine.substr(418)},
       "", false},
  };
  for (const auto& c : cases) {
    host.sent.clear();
    asked.clear();
    answer = c.answer;
    w->inputLine->setText(c.typedBefore);
    QApplication::clipboard()->setText(c.pasted);
    QTest::keyClick(w->inputLine, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(asked.size(), c.asked ? 1 : 0) << c.typedBefore;
    if (c.asked) {
      EXPECT_EQ(asked.value(0), "Send 6 lines to #c, one after the other?");
    }
    EXPECT_EQ(host.sent, c.sent) << c.typedBefore;
    EXPECT_EQ(w->inputLine->text(), c.inputAfter) << c.typedBefore;
  }
  zorv::setQuestionAsker(previous);
}

}  // namespace
