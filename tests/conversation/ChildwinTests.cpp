// The conversation window under the offscreen platform, against a recording
// main window.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QScrollBar>
#include <QTest>
#include <functional>
#include <map>

#include "ConversationFixtures.h"
#include "TestSupport.h"

namespace {

using Lines = std::vector<std::string>;
const std::string C1 = "\x01";

// Frees windows whose deletion was deferred by a close made from the test body.
void flushDeletes() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

class ChildwinTest : public ::testing::Test {
 protected:
  void SetUp() override { testsupport::shownMessages().clear(); }
  void TearDown() override {
    for (auto& c : host.children) delete c.data();
    area.reset();
    flushDeletes();
  }
  void select(TMDIChild* w, const std::vector<int>& rows) {
    w->ListBox1->clearSelection();
    for (int row : rows)
      w->ListBox1->selectionModel()->select(w->NickModel()->index(row), QItemSelectionModel::Select);
  }
  void type(TMDIChild* w, const QString& text) {
    w->Edit1->setText(text);
    QTest::keyClick(w->Edit1, Qt::Key_Return);
  }
  // Every action of a menu tree by its caption path, e.g. "Channel si&ze/&Unlimited".
  static void collect(QMenu* menu, const QString& prefix, std::map<QString, QAction*>& out) {
    for (QAction* a : menu->actions()) {
      if (a->isSeparator()) continue;
      const QString path = prefix.isEmpty() ? a->text() : prefix + "/" + a->text();
      if (a->menu()) {
        collect(a->menu(), path, out);
      } else {
        out[path] = a;
      }
    }
  }

  RecordingHost host;
  std::unique_ptr<QMdiArea> area;
};

TEST_F(ChildwinTest, UnreadMarkOnABackgroundWindowAndItsRemovalOnActivation) {
  TMDIChild* w = host.make("#a - news");
  w->AddLine("one");
  w->AddLine("two");
  EXPECT_EQ(w->Caption(), "*#a - news");
  ASSERT_EQ(host.topics.size(), 1u);  // further lines leave the mark as it is
  EXPECT_EQ(host.topics[0], std::make_tuple(std::string("#a"), std::string("*#a - news"), true));
  EXPECT_EQ(w->WindowName(), "#a");

  host.active = w;
  w->FormActivate();
  EXPECT_EQ(w->Caption(), "#a - news");
  w->AddLine("three");  // the active window is never marked
  EXPECT_EQ(w->Caption(), "#a - news");
  EXPECT_EQ(host.topics.size(), 2u);
  w->FormActivate();  // nothing to clear
  EXPECT_EQ(host.topics.size(), 2u);
}

TEST_F(ChildwinTest, BackgroundWindowsKeepTheirLast300Lines) {
  TMDIChild* bg = host.make("#bg");
  TMDIChild* fg = host.make("#fg");
  host.active = fg;
  for (int i = 0; i < 1000; ++i) {
    bg->AddLine("line " + std::to_string(i));
    fg->AddLine("line " + std::to_string(i));
    if (i == 299) {
      EXPECT_EQ(bg->LineCount(), 300);
    }
    if (i == 300) {
      EXPECT_EQ(bg->LineCount(), 300);
      EXPECT_EQ(bg->Memo1->line(0), "line 1");
    }
  }
  EXPECT_EQ(bg->LineCount(), 300);
  EXPECT_EQ(bg->Memo1->line(0), "line 700");
  EXPECT_EQ(bg->Memo1->line(299), "line 999");
  EXPECT_EQ(fg->LineCount(), 1000);  // the active window is not trimmed
}

TEST_F(ChildwinTest, ClosingSendsPartOnceDisconnectsTheServerWindowAndFreesTheWindow) {
  area = std::make_unique<QMdiArea>();
  area->show();
  struct Case {
    std::string caption;
    std::function<void(TMDIChild*)> close;
    Lines sent;
    int disconnects;
    std::string bar;
  };
  const Case cases[] = {
      {"#a", [](TMDIChild* w) { qobject_cast<QMdiSubWindow*>(w->parentWidget())->close(); }, {"PART #a"}, 0, "#a"},
      {"&b - topic", [](TMDIChild* w) { w->CloseWindow(); w->CloseWindow(); }, {"PART &b"}, 0, "&b"},
      {"#c", [this](TMDIChild*) { host.CloseChild("#C"); }, {"PART #c"}, 0, "#c"},
      {"#d", [](TMDIChild* w) { w->PartChannel1Click(); }, {"PART #d"}, 0, "#d"},
      {"Server", [](TMDIChild* w) { w->CloseWindow(); }, {}, 1, "Server"},
      {"carol", [](TMDIChild* w) { w->CloseWindow(); }, {}, 0, "carol"},
      {"*#e", [](TMDIChild* w) { w->CloseWindow(); }, {}, 0, "#e"},  // marked: the caption test finds no "#"
  };
  for (const auto& c : cases) {
    host.sent.clear();
    host.removedBars.clear();
    host.disconnects = 0;
    QPointer<TMDIChild> w = host.make(c.caption, area.get());
    c.close(w);
    EXPECT_TRUE(w->IsClosing()) << c.caption;
    flushDeletes();
    EXPECT_TRUE(w.isNull()) << c.caption;
    EXPECT_EQ(host.sent, c.sent) << c.caption;
    EXPECT_EQ(host.disconnects, c.disconnects) << c.caption;
    EXPECT_EQ(host.removedBars, Lines{c.bar}) << c.caption;
  }
}

TEST_F(ChildwinTest, PartCommandsCloseWindowsBeforeTheirOwnPart) {
  area = std::make_unique<QMdiArea>();
  QPointer<TMDIChild> a = host.make("#a", area.get());
  type(a, "/part #a");
  EXPECT_EQ(host.sent, (Lines{"PART #a", "PART #a"}));
  EXPECT_TRUE(a->Edit1->text().isEmpty());
  flushDeletes();
  EXPECT_TRUE(a.isNull());

  // A marked window closed by name from the Server window: only the command's PART.
  host.sent.clear();
  TMDIChild* server = host.make("Server", area.get());
  QPointer<TMDIChild> b = host.make("#b", area.get());
  host.active = server;
  b->AddLine("unread");
  ASSERT_EQ(b->Caption(), "*#b");
  type(server, "/part #b");
  EXPECT_EQ(host.sent, Lines{"PART #b"});
  EXPECT_TRUE(b->IsClosing());
  EXPECT_FALSE(server->IsClosing());

  // A bare /part in the Server window disconnects through its close handler.
  host.sent.clear();
  type(server, "/part");
  EXPECT_TRUE(host.sent.empty());
  EXPECT_EQ(host.disconnects, 1);
}

TEST_F(ChildwinTest, EnterRunsTheInterpreterAndEmptiesTheInputLine) {
  TMDIChild* w = host.make("#a - topic");
  TMDIChild* server = host.make("Server");
  type(w, QString::fromUtf8("caf\xc3\xa9\nau lait"));  // pasted: one line, sent as UTF-8
  type(server, "hello");
  EXPECT_EQ(host.sent, Lines{"PRIVMSG #a :caf\xc3\xa9 au lait"});
  EXPECT_EQ(w->Memo1->line(0), "<bob>caf\xc3\xa9 au lait");
  EXPECT_EQ(server->Memo1->line(0), "*** You are not on any channel!");
  EXPECT_TRUE(w->Edit1->text().isEmpty());
  EXPECT_TRUE(server->Edit1->text().isEmpty());
}

TEST_F(ChildwinTest, SendButtonOfAWindowWithoutTheFocusSendsNothing) {
  area = std::make_unique<QMdiArea>();
  area->show();
  QApplication::setActiveWindow(area.get());
  TMDIChild* a = host.make("#a", area.get());
  TMDIChild* b = host.make("#b", area.get());
  b->Edit1->setText("old text in b");
  a->Edit1->setFocus();
  ASSERT_TRUE(testsupport::waitFor([&] { return QApplication::focusWidget() == a->Edit1; }, 2000));
  b->Button1->click();  // as the access key does when only b's button matches
  EXPECT_TRUE(host.sent.empty());
  EXPECT_EQ(b->Edit1->text(), "old text in b");
  a->Edit1->setText("hi");
  a->Button1->click();
  EXPECT_EQ(host.sent, Lines{"PRIVMSG #a :hi"});
}

TEST_F(ChildwinTest, HistoryKeys) {
  TMDIChild* w = host.make("#a");
  auto key = [&](Qt::Key k) {
    QTest::keyClick(w->Edit1, k);
    return w->Edit1->text().toStdString();
  };
  type(w, "L1");
  type(w, "L2");
  EXPECT_EQ(key(Qt::Key_Up), "L2");
  EXPECT_EQ(w->Edit1->cursorPosition(), 2);
  EXPECT_EQ(key(Qt::Key_Up), "L1");
  EXPECT_EQ(key(Qt::Key_Up), "");
  EXPECT_EQ(w->HistoryIndex, 3);
  EXPECT_EQ(key(Qt::Key_Down), "");  // the entry the last Up moved to
  EXPECT_EQ(key(Qt::Key_Down), "");
  EXPECT_EQ(key(Qt::Key_Down), "L1");
  EXPECT_EQ(w->HistoryIndex, 0);
  EXPECT_EQ(key(Qt::Key_Escape), "");
  EXPECT_EQ(w->HistoryIndex, 0);
  EXPECT_EQ(key(Qt::Key_Up), "L2");

  type(w, "L3");
  EXPECT_EQ(key(Qt::Key_Down), "L3");  // newest, then the position wraps to 9
  EXPECT_EQ(w->HistoryIndex, 9);
  EXPECT_EQ(key(Qt::Key_Down), "");
  EXPECT_EQ(w->HistoryIndex, 8);
  for (int i = 0; i < 7; ++i) key(Qt::Key_Up);  // 8 -> 9 -> 0 ... wraps from 9 to 0
  EXPECT_EQ(w->HistoryIndex, 5);

  // Empty and blank Enters still move the history; eleven presses drop the oldest.
  type(w, "   ");
  EXPECT_EQ(w->History[0], "");
  EXPECT_EQ(w->History[1], "L3");
  for (int i = 1; i <= 11; ++i) type(w, QString("m%1  ").arg(i));
  EXPECT_EQ(w->History[0], "m11");
  EXPECT_EQ(w->History[9], "m2");
}

TEST_F(ChildwinTest, OpAndDeOpGoInBatchesOfFour) {
  TMDIChild* w = host.make("#x - topic");
  w->setnamelist("@ann ben cal dan eve fay gus hal ");
  struct {
    std::vector<int> rows;
    bool op;
    Lines sent;
  } cases[] = {
      {{0, 1, 2, 3}, true, {"MODE #x +oooo  ann ben cal dan"}},
      {{0, 1, 2, 3, 4}, true, {"MODE #x +oooo  ann ben cal dan", "MODE #x +o  eve"}},
      {{7, 6, 5, 4, 3, 2, 1, 0}, false, {"MODE #x -oooo  ann ben cal dan", "MODE #x -oooo  eve fay gus hal"}},
      {{2}, false, {"MODE #x -o  cal"}},
      {{}, true, {}},
  };
  for (const auto& c : cases) {
    host.sent.clear();
    select(w, c.rows);
    c.op ? w->Op1Click() : w->DeOp1Click();
    EXPECT_EQ(host.sent, c.sent);
  }
}

TEST_F(ChildwinTest, NickListMenuSendsOneLinePerSelectedNick) {
  TMDIChild* w = host.make("*#x - news");
  w->setnamelist("@carol dave ann ");
  select(w, {2, 0});  // @carol and dave, sent in list order
  std::map<QString, QAction*> items;
  collect(w->PopupMenu1, "", items);
  const std::map<QString, Lines> expected = {
      {"&Whois", {"WHOIS carol", "WHOIS dave"}},
      {"&Kick!", {"KICK #x carol :Nothing, Just kicking!", "KICK #x dave :Nothing, Just kicking!"}},
      {"CTCP/&Version", {"PRIVMSG carol :" + C1 + "VERSION" + C1, "PRIVMSG dave :" + C1 + "VERSION" + C1}},
      {"CTCP/&Ping", {"PRIVMSG carol :" + C1 + "PING 1000" + C1, "PRIVMSG dave :" + C1 + "PING 1001" + C1}},
      {"CTCP/&Client Info", {"PRIVMSG carol :" + C1 + "CLIENTINFO" + C1, "PRIVMSG dave :" + C1 + "CLIENTINFO" + C1}},
      {"CTCP/&User Info", {"PRIVMSG carol :" + C1 + "USERINFO" + C1, "PRIVMSG dave :" + C1 + "USERINFO" + C1}},
      {"CTCP/&Time", {"PRIVMSG carol :" + C1 + "TIME" + C1, "PRIVMSG dave :" + C1 + "TIME" + C1}},
  };
  ASSERT_EQ(items.size(), expected.size() + 2);  // and "&Op", "&DeOp"
  EXPECT_TRUE(items.count("&Op") && items.count("&DeOp"));
  for (const auto& [path, lines] : expected) {
    ASSERT_TRUE(items.count(path)) << path.toStdString();
    host.sent.clear();
    items[path]->trigger();
    EXPECT_EQ(host.sent, lines) << path.toStdString();
  }
  EXPECT_TRUE(host.newChildren.empty());
}

TEST_F(ChildwinTest, DoubleClickOpensPrivateWindowsInListOrder) {
  TMDIChild* w = host.make("#x");
  w->setnamelist("@carol dave ann ");
  w->ListBox1DblClick();
  EXPECT_TRUE(host.newChildren.empty());
  select(w, {2, 0});  // dave and @carol
  w->ListBox1DblClick();
  EXPECT_EQ(host.newChildren, (Lines{"carol", "dave"}));
  EXPECT_TRUE(host.sent.empty());
}

TEST_F(ChildwinTest, EveryChannelModeItem) {
  TMDIChild* w = host.make("*#x - news");
  std::map<QString, QAction*> items;
  collect(w->PopupMenu2, "", items);
  const std::map<QString, std::string> sends = {
      {"Show &Ban list", "MODE #x +b"},
      {"&External message/&Not allow", "MODE #x +n"},
      {"&External message/&Allow", "MODE #x -n"},
      {"Channel &Topic mode/&Moderated", "MODE #x +t"},
      {"Channel &Topic mode/&Unmoderated", "MODE #x -t"},
      {"Channel &Security/&Invite only", "MODE #x +i"},
      {"Channel &Security/&Anyone can join", "MODE #x -i"},
      {"Channel &Security/&Private (obsolate)", "MODE #x +p"},
      {"Channel &Security/P&ublic", "MODE #x -p"},
      {"Channel &Security/&Secret", "MODE #x +s"},
      {"Channel &Security/&non-Secret", "MODE #x -s"},
      {"Channel &Discussion mode/&Moderated", "MODE #x +v"},
      {"Channel &Discussion mode/&Unmoderated", "MODE #x -v"},
      {"Channel si&ze/&Limited/5 persons", "MODE #x +l 5"},
      {"Channel si&ze/&Limited/10 persons", "MODE #x +l 10"},
      {"Channel si&ze/&Limited/15 persons", "MODE #x +l 15"},
      {"Channel si&ze/&Limited/20 persons", "MODE #x +l 20"},
      {"Channel si&ze/&Limited/30 persons", "MODE #x +l 30"},
      {"Channel si&ze/&Limited/40 persons", "MODE #x +l 40"},
      {"Channel si&ze/&Limited/50 persons", "MODE #x +l 50"},
      {"Channel si&ze/&Unlimited", "MODE #x -l"},
  };
  const std::map<QString, QString> prepared = {
      {"&Channel Topic", "/TOPIC #x  "},
      {"Channel &Key/&Set", "/MODE #x +k  "},
      {"Channel &Key/&Unset", "/MODE #x -k  "},
      {"Channel si&ze/&Limited/&Custom", "/MODE #x +l  "},
  };
  EXPECT_EQ(items.size(), sends.size() + prepared.size() + 1);  // and "&Part Channel"
  EXPECT_TRUE(items.count("&Part Channel"));
  for (const auto& [path, line] : sends) {
    ASSERT_TRUE(items.count(path)) << path.toStdString();
    host.sent.clear();
    items[path]->trigger();
    EXPECT_EQ(host.sent, Lines{line}) << path.toStdString();
    EXPECT_TRUE(w->Edit1->text().isEmpty());
  }
  host.sent.clear();
  for (const auto& [path, text] : prepared) {
    ASSERT_TRUE(items.count(path)) << path.toStdString();
    w->Edit1->setText("old text");
    w->Edit1->setCursorPosition(0);
    items[path]->trigger();
    EXPECT_EQ(w->Edit1->text(), text) << path.toStdString();
    EXPECT_EQ(w->Edit1->cursorPosition(), text.size()) << path.toStdString();
  }
  EXPECT_TRUE(host.sent.empty());
}

TEST_F(ChildwinTest, PreparedCommandsCompletedByTheUser) {
  TMDIChild* w = host.make("#x");
  w->ChannelTopic1Click();
  QTest::keyClicks(w->Edit1, "new");
  QTest::keyClick(w->Edit1, Qt::Key_Return);
  w->Set1Click();
  QTest::keyClick(w->Edit1, Qt::Key_Return);
  w->Set1Click();
  QTest::keyClicks(w->Edit1, "sesame");
  QTest::keyClick(w->Edit1, Qt::Key_Return);
  EXPECT_EQ(host.sent, (Lines{"TOPIC #x : new", "MODE #x +k", "MODE #x +k  sesame"}));
}

TEST_F(ChildwinTest, FontSizeThatIsNotAWholeNumberFallsBackAndFinishesSetUp) {
  host.fontSize = "8.5x";
  TMDIChild* first = host.make("#a");
  TMDIChild* second = host.make("bob");
  EXPECT_EQ(testsupport::shownMessages(), QStringList{"'8.5x' is not a valid integer value"});
  for (TMDIChild* w : {first, second}) {
    EXPECT_EQ(w->Memo1->font().pointSize(), 8);
    EXPECT_EQ(w->Edit1->font(), w->Memo1->font());
    EXPECT_TRUE(w->nameliststatus());
  }
  first->setnamelist("x y ");
  EXPECT_EQ(first->Nicks().size(), 2u);

  host.fontSize = " 12";
  host.fontName = "DejaVu Serif";
  TMDIChild* good = host.make("#b");
  EXPECT_EQ(good->Memo1->font().pointSize(), 12);
  EXPECT_EQ(good->Memo1->font().family(), "DejaVu Serif");
  EXPECT_EQ(good->Edit1->font(), good->Memo1->font());
  EXPECT_EQ(testsupport::shownMessages().size(), 1);

  // A size no screen font has comes from a damaged file: the default again.
  host.fontSize = "1000000";
  TMDIChild* huge = host.make("#c");
  EXPECT_EQ(huge->Memo1->font().pointSize(), 8);
  EXPECT_EQ(testsupport::shownMessages().last(), "'1000000' is not a usable font size; 8 is used");
}

TEST_F(ChildwinTest, NickListOperationsWriteIntoThePane) {
  TMDIChild* w = host.make("#a");
  host.active = w;
  w->setnamelist("@bob carol ");
  w->delnamelist("zed", "*** QUIT: zed (z) bye");
  w->delnamelist("carol", "*** QUIT: carol (c) bye");
  w->changenamelist("bob", "robert");
  EXPECT_EQ(w->LineCount(), 2);
  EXPECT_EQ(w->Memo1->line(0), "*** QUIT: carol (c) bye");
  EXPECT_EQ(w->Memo1->line(1), "*** bob is known as robert");
  EXPECT_EQ(w->NickModel()->data(w->NickModel()->index(0)).toString(), "@robert");
}

TEST_F(ChildwinTest, TextPaneFollowsTheBottomOnlyWhenThere) {
  TMDIChild* w = host.make("#a");
  host.active = w;
  w->resize(512, 315);
  w->show();
  TextPane* pane = w->Memo1;
  QScrollBar* v = pane->verticalScrollBar();
  for (int i = 0; i < 200; ++i) w->AddLine("line " + std::to_string(i));
  ASSERT_TRUE(testsupport::waitFor([&] { return v->maximum() > 0 && v->value() == v->maximum(); }, 2000));
  v->setValue(10);
  for (int i = 0; i < 50; ++i) w->AddLine("more");
  pane->flushLayout();
  EXPECT_EQ(v->value(), 10);
  v->setValue(v->maximum());
  w->AddLine("tail");
  pane->flushLayout();
  EXPECT_EQ(v->value(), v->maximum());
  EXPECT_EQ(pane->topLine() + pane->viewport()->height() / pane->fontMetrics().lineSpacing(), 251);

  // Scrolled up in a background window, the lines read stay in view as old ones go.
  host.active = nullptr;
  for (int i = 0; i < 100; ++i) w->AddLine("x");  // trims to 300
  pane->flushLayout();
  v->setValue(100);
  const std::string shown = pane->line(pane->topLine());
  w->AddLine("y");
  pane->flushLayout();
  EXPECT_EQ(pane->line(pane->topLine()), shown);

  // A line wider than the view can be scrolled to sideways once it is shown.
  EXPECT_EQ(pane->horizontalScrollBar()->maximum(), 0);
  v->setValue(v->maximum());
  w->AddLine(std::string(400, 'W'));
  EXPECT_TRUE(testsupport::waitFor([&] { return pane->horizontalScrollBar()->maximum() > 0; }, 2000));
}

TEST_F(ChildwinTest, TextPaneSelectsAndCopiesLines) {
  TMDIChild* w = host.make("#a");
  host.active = w;
  w->show();
  for (const char* l : {"first", "second", "caf\xc3\xa9", "last"}) w->AddLine(l);
  TextPane* pane = w->Memo1;
  pane->verticalScrollBar()->setValue(0);
  const int lh = pane->fontMetrics().lineSpacing();
  QTest::mousePress(pane->viewport(), Qt::LeftButton, {}, QPoint(5, lh + 2));
  QTest::mouseMove(pane->viewport(), QPoint(5, 2 * lh + 2));
  QMouseEvent move(QEvent::MouseMove, QPointF(5, 2 * lh + 2), pane->viewport()->mapToGlobal(QPointF(5, 2 * lh + 2)),
                   Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(pane->viewport(), &move);
  QTest::mouseRelease(pane->viewport(), Qt::LeftButton, {}, QPoint(5, 2 * lh + 2));
  EXPECT_EQ(pane->selectionFirst(), 1);
  EXPECT_EQ(pane->selectionLast(), 2);
  QApplication::clipboard()->clear();
  QTest::keyClick(pane, Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(QApplication::clipboard()->text(), QString::fromUtf8("second\ncaf\xc3\xa9"));
  // Painted on silver, the selected lines highlighted.
  const QImage image = pane->viewport()->grab().toImage();
  const int right = pane->viewport()->width() - 3;
  EXPECT_EQ(QColor(image.pixel(right, lh / 2)), QColor(192, 192, 192));
  EXPECT_EQ(QColor(image.pixel(right, 4 * lh + 2)), QColor(192, 192, 192));
  EXPECT_EQ(QColor(image.pixel(right, lh + lh / 2)), pane->palette().color(QPalette::Highlight));
  pane->deleteFirstLine();  // the selection follows its lines
  EXPECT_EQ(pane->selectedText(), QString::fromUtf8("second\ncaf\xc3\xa9"));
}

TEST_F(ChildwinTest, ManyLinesStayCheap) {
  TMDIChild* fg = host.make("#fg");
  TMDIChild* bg = host.make("#bg");
  host.active = fg;
  fg->show();
  QElapsedTimer t;
  t.start();
  for (int i = 0; i < 100000; ++i) {
    const std::string line = "<nick" + std::to_string(i % 500) + ">message number " + std::to_string(i);
    fg->AddLine(line);
    bg->AddLine(line);
    if (i % 1000 == 0) QCoreApplication::processEvents();
  }
  QCoreApplication::processEvents();
  EXPECT_EQ(fg->LineCount(), 100000);
  EXPECT_EQ(bg->LineCount(), 300);
  EXPECT_EQ(fg->Memo1->line(99999), "<nick499>message number 99999");
  // Linear work takes well under this even with sanitizers; quadratic work would not.
  EXPECT_LT(t.elapsed(), 60000);
}

TEST_F(ChildwinTest, LargeNamesBurstIntoAShownList) {
  TMDIChild* w = host.make("#big");
  host.active = w;
  w->show();
  QElapsedTimer t;
  t.start();
  int n = 0;
  for (int reply = 0; reply < 400; ++reply) {
    std::string names;
    for (int i = 0; i < 50; ++i, ++n) names += (n % 10 == 0 ? "@user" : "user") + std::to_string(n * 7 % 20000) + " ";
    w->setnamelist(names);
    QCoreApplication::processEvents();
  }
  ASSERT_EQ(w->NickModel()->rowCount(), 20000);
  EXPECT_EQ(w->Nicks().at(0), "@user0");
  EXPECT_EQ(w->Nicks().at(19999), "user9999");
  EXPECT_LT(t.elapsed(), 60000);
}

}  // namespace
