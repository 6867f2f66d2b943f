// The conversation window under the offscreen platform, against a recording
// main window: what its controls, menus and keys send, show and ask of the
// main window; the text pane's scrolling, selection, links and word wrap.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QScrollBar>
#include <QTest>
#include <QImage>
#include <QUrl>
#include <functional>
#include <map>

#include "ConversationFixtures.h"
#include "FindBar.h"
#include "MessageBox.h"
#include "TestSupport.h"

namespace {

using Lines = std::vector<std::string>;
const std::string C1 = "\x01";

// Frees windows whose deletion was deferred by a close made from the test body.
void flushDeletes() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

// A press at one point of a pane, a drag to another and the release there.
void drag(TextPane* pane, QPoint from, QPoint to) {
  QTest::mousePress(pane->viewport(), Qt::LeftButton, {}, from);
  QMouseEvent move(QEvent::MouseMove, QPointF(to), pane->viewport()->mapToGlobal(QPointF(to)), Qt::NoButton,
                   Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(pane->viewport(), &move);
  QTest::mouseRelease(pane->viewport(), Qt::LeftButton, {}, to);
}

// Every action of a menu tree by its caption path, e.g. "Channel si&ze/&Unlimited".
void collect(QMenu* menu, const QString& prefix, std::map<QString, QAction*>& out) {
  for (QAction* a : menu->actions()) {
    const QString path = prefix.isEmpty() ? a->text() : prefix + "/" + a->text();
    if (a->menu()) collect(a->menu(), path, out);
    else if (!a->isSeparator()) out[path] = a;
  }
}

class ChildwinTest : public WindowTest {
 protected:
  void select(TMDIChild* w, const std::vector<int>& rows) {
    w->nickList->clearSelection();
    for (int row : rows) w->nickList->selectionModel()->select(w->NickModel()->index(row), QItemSelectionModel::Select);
  }
  // A shown window whose pane has a fixed-pitch font: character k of line
  // `line` (one row each) lies at middle(line, k).
  TMDIChild* monospaced(const std::string& caption) {
    host.fontName = "DejaVu Sans Mono";
    host.fontSize = "12";
    TMDIChild* w = host.make(caption);
    w->resize(640, 315);
    w->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(w));
    charWidth = w->textPane->fontMetrics().horizontalAdvance(QLatin1Char('x'));
    lineHeight = w->textPane->fontMetrics().lineSpacing();
    return w;
  }
  // The left edge of character k (+1), or its middle.
  QPoint boundary(int line, int k) const { return {2 + charWidth * k + 1, line * lineHeight + lineHeight / 2}; }
  QPoint middle(int line, int k) const {
    return {2 + charWidth * k + charWidth / 2, line * lineHeight + lineHeight / 2};
  }

  int charWidth = 0, lineHeight = 0;
};

// The active window keeps its last ScrollbackLines lines (0: all of them), a
// window behind it the smaller of that and 300. A window that gathered many
// lines in front is cut to 300 in one step when it goes behind (one line at a
// time, each deletion raising the next, ran out of stack). Every line shown
// goes to the log first; the unread mark is set once and cleared when seen.
TEST_F(ChildwinTest, ScrollbackUnreadMarkAndLog) {
  TMDIChild* w = host.make("#a - news");
  TMDIChild* other = host.make("#b");
  host.active = other;
  w->AddLine("one");
  w->AddLine("two");  // further lines leave the mark as it is
  EXPECT_EQ(w->Caption(), "*#a - news");
  host.active = w;
  w->OnActivated();
  w->AddLine("three");  // the active window is never marked
  w->OnActivated();     // nothing to clear
  EXPECT_EQ(w->Caption(), "#a - news");
  EXPECT_EQ(host.topics, (Lines{"#a|*#a - news|1", "#a|#a - news|1"}));
  host.logged.clear();
  const struct {
    int scrollback, inFront, behind, kept;
  } cases[] = {{1000, 2500, 0, 1000}, {1000, 0, 2500, 300}, {120, 0, 2500, 120},
               {0, 2500, 0, 2500},    {0, 0, 2500, 300},    {0, 100000, 2, 300}};
  size_t total = 0;
  for (const auto& c : cases) {
    w->textPane->clear();
    host.scrollback = c.scrollback;
    int n = 0;
    for (host.active = w; n < c.inFront; ++n) w->AddLine("line " + std::to_string(n));
    for (host.active = other; n < c.inFront + c.behind; ++n) w->AddLine("line " + std::to_string(n));
    total += static_cast<size_t>(n);
    ASSERT_EQ(w->LineCount(), c.kept) << c.scrollback << " " << c.inFront;
    EXPECT_EQ(w->textPane->line(0), "line " + std::to_string(n - c.kept));
    EXPECT_EQ(w->textPane->line(c.kept - 1), "line " + std::to_string(n - 1));
  }
  EXPECT_EQ(host.logged.size(), total);
  EXPECT_EQ(host.logged.back(), "#a|line 100001");
}

TEST_F(ChildwinTest, ClosingSendsPartOnceDisconnectsTheServerWindowAndRemovesTheTab) {
  area = std::make_unique<QMdiArea>();
  area->show();
  const struct {
    std::string caption;
    std::function<void(TMDIChild*)> close;
    Lines sent;
    int disconnects;
    std::string tab;
  } cases[] = {
      {"#a", [](TMDIChild* w) { qobject_cast<QMdiSubWindow*>(w->parentWidget())->close(); }, {"PART #a"}, 0, "#a"},
      {"&b - topic", [](TMDIChild* w) { w->CloseWindow(), w->CloseWindow(); }, {"PART &b"}, 0, "&b"},
      {"#d", [](TMDIChild* w) { w->OnPartChannelClicked(); }, {"PART #d"}, 0, "#d"},
      {"Server", [](TMDIChild* w) { w->CloseWindow(); }, {}, 1, "Server"},
      {"carol", [](TMDIChild* w) { w->CloseWindow(); }, {}, 0, "carol"},
      {"*#e", [](TMDIChild* w) { w->CloseWindow(); }, {}, 0, "#e"},  // marked: the caption holds no leading "#"
  };
  for (const auto& c : cases) {
    host.sent.clear();
    host.removedBars.clear();
    host.disconnects = 0;
    QPointer<TMDIChild> w = host.make(c.caption, area.get());
    c.close(w);
    flushDeletes();
    EXPECT_TRUE(w.isNull()) << c.caption;
    EXPECT_EQ(host.sent, c.sent) << c.caption;
    EXPECT_EQ(host.disconnects, c.disconnects) << c.caption;
    EXPECT_EQ(host.removedBars, Lines{c.tab}) << c.caption;
  }
}

// Enter hands the line to the interpreter and carries out what it says: the
// echo in the pane, /query's window in front, the windows /part closes.
TEST_F(ChildwinTest, EnterRunsTheInterpreter) {
  area = std::make_unique<QMdiArea>();
  QPointer<TMDIChild> a = host.make("#a", area.get());
  TMDIChild* server = host.make("Server", area.get());
  host.active = server;
  type(a, QString::fromUtf8("caf\xc3\xa9\nau\r\nlait\r"));  // pasted: a line each, sent as UTF-8
  type(server, "hello");
  EXPECT_EQ(host.sent, (Lines{"PRIVMSG #a :caf\xc3\xa9", "PRIVMSG #a :au", "PRIVMSG #a :lait"}));
  EXPECT_EQ(a->textPane->line(0), "<bob>caf\xc3\xa9");
  EXPECT_EQ(server->textPane->line(0), "*** You are not on any channel!");
  EXPECT_TRUE(a->inputLine->text().isEmpty() && server->inputLine->text().isEmpty());

  // The PART command for a window carrying the unread mark: one PART only.
  host.sent.clear();
  ASSERT_EQ(a->Caption(), "*#a");
  type(server, "/part #a");
  EXPECT_EQ(host.sent, Lines{"PART #a"});
  flushDeletes();
  EXPECT_TRUE(a.isNull());
  // A bare /part in the Server window disconnects through its close handler.
  type(server, "/part");
  EXPECT_EQ(host.sent.size(), 1u);
  EXPECT_EQ(host.disconnects, 1);
}

// The Send button of a window without the focus (its access key matching only
// there) sends nothing and leaves that window's text alone.
TEST_F(ChildwinTest, SendButtonOfAWindowWithoutTheFocusSendsNothing) {
  area = std::make_unique<QMdiArea>();
  area->show();
  QApplication::setActiveWindow(area.get());
  TMDIChild* a = host.make("#a", area.get());
  TMDIChild* b = host.make("#b", area.get());
  b->inputLine->setText("old text in b");
  a->inputLine->setText("hi");
  a->inputLine->setFocus();
  ASSERT_TRUE(testsupport::waitFor([&] { return QApplication::focusWidget() == a->inputLine; }, 2000));
  b->sendButton->click();
  a->sendButton->click();
  EXPECT_EQ(host.sent, Lines{"PRIVMSG #a :hi"});
  EXPECT_EQ(b->inputLine->text(), "old text in b");
}

TEST_F(ChildwinTest, HistoryKeys) {
  TMDIChild* w = host.make("#a");
  type(w, "L1");
  type(w, "L2");
  const std::pair<Qt::Key, const char*> keys[] = {
      {Qt::Key_Up, "L2@1"},   {Qt::Key_Up, "L1@2"},     {Qt::Key_Up, "@3"},
      {Qt::Key_Down, "@2"},   {Qt::Key_Down, "@1"},     {Qt::Key_Down, "L1@0"},  // the entry the last Up moved to
      {Qt::Key_Escape, "@0"}, {Qt::Key_Down, "L2@9"},  // wraps below 0 to 9
      {Qt::Key_Up, "@0"},                               // and above 9 to 0
  };
  for (const auto& [key, after] : keys) {
    QTest::keyClick(w->inputLine, key);
    EXPECT_EQ(w->inputLine->text().toStdString() + "@" + std::to_string(w->historyIndex), after);
    EXPECT_EQ(w->inputLine->cursorPosition(), w->inputLine->text().size());  // the caret at the end
  }
  // Blank Enters still move the history; the eleventh press drops the oldest.
  type(w, "   ");
  for (int i = 1; i <= 11; ++i) type(w, QString("m%1  ").arg(i));
  EXPECT_EQ(std::vector<std::string>(w->history.begin(), w->history.end()),
            (Lines{"m11", "m10", "m9", "m8", "m7", "m6", "m5", "m4", "m3", "m2"}));
}

TEST_F(ChildwinTest, NickListActions) {
  TMDIChild* w = host.make("*#x - news");
  w->TakeNames("@ann ben cal dan eve fay gus hal ");
  const struct {
    std::vector<int> rows;
    bool op;
    Lines sent;
  } batches[] = {
      {{0, 1, 2, 3, 4}, true, {"MODE #x +oooo  ann ben cal dan", "MODE #x +o  eve"}},
      {{7, 6, 5, 4, 3, 2, 1, 0}, false, {"MODE #x -oooo  ann ben cal dan", "MODE #x -oooo  eve fay gus hal"}},
  };
  for (const auto& c : batches) {
    host.sent.clear();
    select(w, c.rows);
    c.op ? w->OnOpClicked() : w->OnDeOpClicked();
    EXPECT_EQ(host.sent, c.sent);
  }

  select(w, {2, 0});  // cal and @ann, sent in list order
  std::map<QString, QAction*> items;
  w->EnsureMenus();
  collect(w->nickMenu, "", items);
  auto ctcp = [](const std::string& word, const std::string& ann = "", const std::string& cal = "") {
    return Lines{"PRIVMSG ann :" + C1 + word + ann + C1, "PRIVMSG cal :" + C1 + word + cal + C1};
  };
  const std::map<QString, Lines> expected = {
      {"&Op", {"MODE #x +oo  ann cal"}}, {"&DeOp", {"MODE #x -oo  ann cal"}}, {"&Whois", {"WHOIS ann", "WHOIS cal"}},
      {"&Kick!", {"KICK #x ann :Nothing, Just kicking!", "KICK #x cal :Nothing, Just kicking!"}},
      {"CTCP/&Version", ctcp("VERSION")}, {"CTCP/&Ping", ctcp("PING ", "1000", "1001")},
      {"CTCP/&Client Info", ctcp("CLIENTINFO")}, {"CTCP/&User Info", ctcp("USERINFO")}, {"CTCP/&Time", ctcp("TIME")}};
  ASSERT_EQ(items.size(), expected.size());
  for (const auto& [path, lines] : expected) {
    ASSERT_TRUE(items.count(path)) << path.toStdString();
    host.sent.clear();
    items[path]->trigger();
    EXPECT_EQ(host.sent, lines) << path.toStdString();
  }
  EXPECT_TRUE(host.newChildren.empty());
  w->OnNickDoubleClicked();
  EXPECT_EQ(host.newChildren, (Lines{"ann", "cal"}));
}

TEST_F(ChildwinTest, EveryChannelModeItem) {
  TMDIChild* w = host.make("*#x - news");
  std::map<QString, QAction*> items;
  w->EnsureMenus();
  collect(w->channelMenu, "", items);
  const QString ext = "&External message/", top = "Channel &Topic mode/", sec = "Channel &Security/",
                dis = "Channel &Discussion mode/", size = "Channel si&ze/";
  std::map<QString, std::string> sends = {
      {"Show &Ban list", "+b"},     {ext + "&Not allow", "+n"},          {ext + "&Allow", "-n"},
      {top + "&Moderated", "+t"},   {top + "&Unmoderated", "-t"},        {sec + "&Invite only", "+i"},
      {sec + "&Anyone can join", "-i"}, {sec + "&Private (obsolate)", "+p"}, {sec + "P&ublic", "-p"},
      {sec + "&Secret", "+s"},      {sec + "&non-Secret", "-s"},         {dis + "&Moderated", "+m"},
      {dis + "&Unmoderated", "-m"}, {size + "&Unlimited", "-l"}};
  for (const int n : {5, 10, 15, 20, 30, 40, 50})
    sends[size + QString("&Limited/%1 persons").arg(n)] = "+l " + std::to_string(n);
  const std::map<QString, QString> prepared = {{"&Channel Topic", "/TOPIC #x  "},
                                               {"Channel &Key/&Set", "/MODE #x +k  "},
                                               {"Channel &Key/&Unset", "/MODE #x -k  "},
                                               {size + "&Limited/&Custom", "/MODE #x +l  "}};
  EXPECT_EQ(items.size(), sends.size() + prepared.size() + 1);
  EXPECT_TRUE(items.count("&Part Channel"));  // checked with the other ways of closing
  for (const auto& [path, line] : sends) {
    ASSERT_TRUE(items.count(path)) << path.toStdString();
    host.sent.clear();
    items[path]->trigger();
    EXPECT_EQ(host.sent, Lines{"MODE #x " + line}) << path.toStdString();
  }
  for (const auto& [path, text] : prepared) {  // prepared in the input line, the caret at the end
    ASSERT_TRUE(items.count(path)) << path.toStdString();
    w->inputLine->setText("old text");
    w->inputLine->setCursorPosition(0);
    items[path]->trigger();
    EXPECT_EQ(w->inputLine->text(), text) << path.toStdString();
    EXPECT_EQ(w->inputLine->cursorPosition(), text.size()) << path.toStdString();
  }
  QTest::keyClicks(w->inputLine, "20");  // completed by the user
  QTest::keyClick(w->inputLine, Qt::Key_Return);
  EXPECT_EQ(host.sent.back(), "MODE #x +l  20");
}

// A bad font size falls back to 8, is reported once, and the window is set up whole.
TEST_F(ChildwinTest, BadFontSizeFallsBackTo8AndFinishesSetUp) {
  const std::tuple<QString, int, QString> cases[] = {{"8.5x", 8, "'8.5x' is not a valid integer value"},
                                                     {"1000000", 8, "'1000000' is not a usable font size; 8 is used"},
                                                     {" 12", 12, ""}};
  for (const auto& [size, points, message] : cases) {
    testsupport::shownMessages().clear();
    host.fontSize = size;
    TMDIChild* w = host.make("#a");
    host.make("carol");
    EXPECT_EQ(testsupport::shownMessages(), message.isEmpty() ? QStringList() : QStringList{message});
    EXPECT_EQ(w->inputLine->font().pointSize(), points);
    w->TakeNames("x y ");
    EXPECT_EQ(w->Nicks().size(), 2u);
  }
}

// Links and channel names in the text: the pointer changes over them and a
// click opens a web link through the opener, joins a channel, or hands an
// irc:// link to the main window. A click beside a link does nothing.
TEST_F(ChildwinTest, ALinkClickReachesTheOpenerTheServerOrTheMainWindow) {
  std::vector<QString> opened;
  const zorv::UrlOpener before = zorv::setUrlOpener([&](const QUrl& url) { opened.push_back(url.toString()); });
  TMDIChild* w = monospaced("carol");
  TextPane* pane = w->textPane;
  const struct {
    const char* line;
    int at;  // the character clicked
    const char* opened;
    Lines sent, links;
  } cases[] = {
      {"<ann>see https://example.org/a?b=1, ok", 12, "https://example.org/a?b=1", {}, {}},
      {"<ann>www.example.org.", 8, "http://www.example.org", {}, {}},
      {"<ann>\x02\x03" "04join #zorv,#x now", 12, "", {"JOIN #zorv"}, {}},
      {"<ann>ircs://irc.example.org:6697/#zorv", 9, "", {}, {"ircs://irc.example.org:6697/#zorv"}},
      {"<ann>see https://example.org/ ok", 6, "", {}, {}},
  };
  for (const auto& c : cases) {
    opened.clear();
    host.sent.clear();
    host.ircLinks.clear();
    pane->clear();
    w->AddLine(c.line);
    pane->flushLayout();
    const bool link = *c.opened || !c.sent.empty() || !c.links.empty();
    QTest::mouseMove(pane->viewport(), middle(0, c.at));
    EXPECT_EQ(pane->viewport()->cursor().shape(), link ? Qt::PointingHandCursor : Qt::IBeamCursor) << c.line;
    QTest::mouseClick(pane->viewport(), Qt::LeftButton, {}, middle(0, c.at));
    EXPECT_EQ(opened, *c.opened ? std::vector<QString>{c.opened} : std::vector<QString>{}) << c.line;
    EXPECT_EQ(host.sent, c.sent) << c.line;
    EXPECT_EQ(host.ircLinks, c.links) << c.line;
  }
  // Each line came from someone else into a private window.
  EXPECT_EQ(host.attention, Lines(std::size(cases), "carol|private"));
  zorv::setUrlOpener(before);
}

// Text selected with the mouse, character by character and across lines, is
// copied without its codes by Ctrl+C and by the menu over the selection.
TEST_F(ChildwinTest, CopyOfPartOfTheTextAndTheMenusOfTheRightButton) {
  TMDIChild* w = monospaced("#a");
  TextPane* pane = w->textPane;
  w->AddLine("\x02" "bold\x02 \x03" "04,08red\x03 end");  // shows "bold red end"
  w->AddLine("\x1Fnext\x1F line");                        // shows "next line"
  pane->flushLayout();
  const struct {
    int fromLine, fromChar, toLine, toChar;
    bool doubleClick;
    QString copied;
  } cases[] = {
      {0, 2, 0, 10, false, "ld red e"},
      {1, 3, 0, 9, false, "end\nnex"},  // dragged upwards, across lines
      {0, 6, 0, 6, true, "red"},
      {1, 0, 1, 0, false, ""},  // a click selects nothing
  };
  for (const auto& c : cases) {
    if (c.doubleClick) {
      QTest::mouseDClick(pane->viewport(), Qt::LeftButton, {}, middle(c.fromLine, c.fromChar));
    } else {
      drag(pane, boundary(c.fromLine, c.fromChar), boundary(c.toLine, c.toChar));
    }
    QApplication::clipboard()->setText("before");
    QTest::keyClick(pane, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), c.copied.isEmpty() ? "before" : c.copied) << c.copied.toStdString();
  }
  drag(pane, boundary(0, 0), boundary(0, 4));
  emit pane->customContextMenuRequested(middle(0, 1));  // the menu over a selection copies it
  ASSERT_TRUE(w->copyMenu && w->copyMenu->isVisible());
  w->copyMenu->hide();
  w->copyMenu->findChild<QAction*>("CopyText1")->trigger();
  EXPECT_EQ(QApplication::clipboard()->text(), "bold");
}

// Word wrap: a long line takes rows only when wrap is on (else the horizontal
// bar scrolls it); a click on a wrapped line's last row selects that line.
TEST_F(ChildwinTest, WordWrapRowsAndClicks) {
  TextPane pane;
  pane.resize(200, 160);
  pane.show();
  for (const char* line : {"xxxxx xxxxx xxxxx xxxxx xxxxx xxxxx xxxxx xxxxx xxxxx xxxxx xxxxx xxxxx", "xx"})
    pane.appendLine(line);
  for (const bool wrap : {false, true}) {
    pane.setWordWrap(wrap);
    pane.flushLayout();
    EXPECT_EQ(pane.rowsOf(0) > 1, wrap);
    EXPECT_EQ(pane.horizontalScrollBar()->isVisible(), !wrap);
  }
  const int lh = pane.fontMetrics().lineSpacing(), rows0 = pane.rowsOf(0);
  for (const auto& [y, line] : {std::pair{(rows0 - 1) * lh + lh / 2, 0}, {rows0 * lh + lh / 2, 1}}) {
    QTest::mousePress(pane.viewport(), Qt::LeftButton, {}, QPoint(5, y));
    EXPECT_EQ(std::pair(pane.selectionFirst(), pane.selectionLast()), std::pair(line, line)) << y;
  }
}

// Colours, bold and the mention highlight reach the screen: pixels read back.
TEST_F(ChildwinTest, ColoursBoldAndMentionArePainted) {
  auto painted = [](const char* line, bool mention, auto count) {
    TextPane pane;
    pane.resize(300, 60);
    pane.show();
    pane.appendLine(line, -1, mention);
    pane.flushLayout();
    const QImage image = pane.viewport()->grab().toImage();
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
      for (int x = 0; x < image.width(); ++x) n += count(image.pixel(x, y)) ? 1 : 0;
    return n;
  };
  auto near = [](QRgb want) {
    return [want](QRgb p) {
      return std::abs(qRed(p) - qRed(want)) + std::abs(qGreen(p) - qGreen(want)) + std::abs(qBlue(p) - qBlue(want)) <
             30;
    };
  };
  auto ink = [](QRgb p) { return qGray(p) < 96; };
  const std::tuple<const char*, bool, std::function<bool(QRgb)>, int> rows[] = {  // line, mention, pixel, at least
      {"\x03" "04,08Warning", false, near(0xFF0000), 20}, {"\x03" "04,08Warning", false, near(0xFFFF00), 200},
      {"<ann>hi bob", true, near(0xF0DC8C), 2000},         {"<ann>hi bob", false, near(0xF0DC8C), -1},
      {"\x02" "Bold words", false, ink, painted("Bold words", false, ink) * 5 / 4}};
  for (const auto& [line, mention, pixel, least] : rows) {
    const int n = painted(line, mention, pixel);
    EXPECT_TRUE(least < 0 ? n == 0 : n >= least) << line << " " << n;
  }
}

// The input line inside a frame, the window active and the focus where a row puts it.
class InputLineTest : public WindowTest {
 protected:
  void SetUp() override {
    area = std::make_unique<QMdiArea>();
    area->resize(800, 600);
    area->show();
    QApplication::setActiveWindow(area.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(area.get()));
  }
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
    flushDeletes();
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
    int pagesUp;    // the text scrolled up from the bottom, in pages
    bool switched;  // the other window became the active one
  } cases[] = {
      {"Tab in the input line", inputLine, {tab, x}, "x", inputLine, 0, false},
      {"Tab completes a nick", inputLine, {a, l, tab, tab}, "Alice: ", inputLine, 0, false},
      {"Shift+Tab goes back", inputLine, {a, l, tab, tab, back}, "alex: ", inputLine, 0, false},
      {"Shift with Tab goes back", inputLine, {a, l, {Qt::Key_Tab, Qt::ShiftModifier}}, "Alice: ", inputLine, 0, false},
      {"Tab completes a channel", inputLine, {{Qt::Key_NumberSign}, {Qt::Key_Z}, tab}, "#zorv ", inputLine, 0, false},
      {"Ctrl+Tab switches windows", inputLine, {{Qt::Key_Tab, Qt::ControlModifier}}, "", nullptr, 0, true},
      {"typing in the text", textPane, {{Qt::Key_A}, {Qt::Key_B}, {Qt::Key_C}}, "abc", inputLine, 0, false},
      {"typing in the nick list", nickList, {{Qt::Key_A}, {Qt::Key_Space}, x}, "a x", inputLine, 0, false},
      {"Ctrl+C in the text", textPane, {{Qt::Key_C, Qt::ControlModifier}}, "", textPane, 0, false},
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

// The find bar over 5,000 lines finds the text as shown, codes and case aside,
// back and on past either end.
TEST_F(InputLineTest, FindBarFindsTextAsShownAcrossFiveThousandLines) {
  TMDIChild* w = activeWindow("#c");
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
               {Qt::ShiftModifier, 10, 7},    {Qt::ShiftModifier, 4990, 10}, {Qt::NoModifier, 10, 7}};
  for (const auto& s : steps) {
    QTest::keyClick(bar->findText, Qt::Key_Return, s.mods);
    EXPECT_EQ(w->textPane->selectionStart(), (TextPane::Pos{s.line, s.offset})) << s.line;
    EXPECT_EQ(w->textPane->selectedText().compare("needle", Qt::CaseInsensitive), 0) << s.line;
    const int top = w->textPane->topLine();
    EXPECT_TRUE(top <= s.line && s.line < top + 30) << s.line << " top " << top;
  }
  bar->findText->setText("nowhere");
  EXPECT_FALSE(bar->Find(true));
  EXPECT_EQ(bar->status->text(), "Not found");
  EXPECT_EQ(w->textPane->selectionStart().line, -1);
  QTest::keyClick(bar->findText, Qt::Key_Escape);
  EXPECT_FALSE(bar->isVisible());
  EXPECT_TRUE(testsupport::waitFor([&] { return QApplication::focusWidget() == w->inputLine; }, 2000));
}

// Pasted lines are sent one by one, after a question when more than five.
TEST_F(InputLineTest, PastedLinesAreSentOneByOneAfterAQuestionAboveFive) {
  TMDIChild* w = activeWindow("#c");
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
      {"say ",
       "one\r\ntwo\n\n   \rthree",
       true,
       {"PRIVMSG #c :say one", "PRIVMSG #c :two", "PRIVMSG #c :three"},
       "",
       false},
      {"", "1\n2\n3\n4\n5\n6\n", false, {}, "", true},  // refused: nothing sent, nothing left
      {"",
       "1\n2\n3\n4\n5\n6\n",
       true,
       {"PRIVMSG #c :1", "PRIVMSG #c :2", "PRIVMSG #c :3", "PRIVMSG #c :4", "PRIVMSG #c :5", "PRIVMSG #c :6"},
       "",
       true},
      {"",
       QString::fromStdString("/me waves\n" + longLine),
       true,
       {"PRIVMSG #c :\001ACTION waves\001", "PRIVMSG #c :" + longLine.substr(0, 418),
        "PRIVMSG #c :" + longLine.substr(418)},
       "",
       false},
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
