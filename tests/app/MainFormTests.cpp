// The main window's connection lifecycle against a scripted loopback server.
#include <QAction>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "AppFixture.h"
#include "Logbook.h"

using namespace apptest;
using testsupport::LoopbackServer;
using testsupport::waitFor;

namespace {

struct ControlState {
  bool connect, disconnect, channel, fields;
};

ControlState controls(TMainForm& f) {
  return {f.connectButton->isEnabled(), f.disconnectButton->isEnabled(), f.channelListButton->isEnabled(),
          f.nickField->isEnabled() && f.serverField->isEnabled() && f.portField->isEnabled()};
}

void expectIdle(TMainForm& f) {
  const ControlState s = controls(f);
  EXPECT_TRUE(s.connect);
  EXPECT_FALSE(s.disconnect);
  EXPECT_FALSE(s.channel);
  EXPECT_TRUE(s.fields);
}

}  // namespace

TEST_F(AppTest, StartsIdleAndRegistersWithNickAndUserAfterConnected) {
  expectIdle(*form);
  EXPECT_EQ(form->windowTitle(), "Zorv 2.9.22R");
  EXPECT_TRUE(form->Children().empty());
  EXPECT_FALSE(form->tabBar->isVisible());
  form->OnDisconnectClicked();  // nothing under way: nothing happens
  QCoreApplication::processEvents();
  EXPECT_TRUE(form->Children().empty());
  expectIdle(*form);
  EXPECT_TRUE(testsupport::shownMessages().isEmpty());

  LoopbackServer server;
  form->nickField->setText("Zed");
  connectTo(server);
  EXPECT_EQ(server.received(), "NICK Zed\r\nUSER Zed * * :Zed\r\n");
  EXPECT_EQ(linesOf(*form, "Server"), std::vector<std::string>{"Connected"});
  const ControlState s = controls(*form);
  EXPECT_FALSE(s.connect);
  EXPECT_TRUE(s.disconnect);
  EXPECT_TRUE(s.channel);
  EXPECT_FALSE(s.fields);
}

TEST_F(AppTest, AConnectionThatFailsSaysWhy) {
  const struct {
    QString server, port;
    std::vector<std::string> lines;
  } cases[] = {
      {"127.0.0.1", QString::number(testsupport::unusedPort()), {"No server available", "Disconnected"}},
      {"no-such-host.invalid", "6667", {"Server name unknown"}},
  };
  for (const auto& c : cases) {
    form->serverField->setText(c.server);
    form->portField->setText(c.port);
    form->OnConnectClicked();
    if (c.lines.size() == 1) EXPECT_TRUE(controls(*form).fields);  // while the lookup runs, fields stay enabled
    ASSERT_TRUE(waitFor([&] { return linesOf(*form, "Server").size() >= c.lines.size(); }, 15000));
    EXPECT_EQ(linesOf(*form, "Server"), c.lines);
    expectIdle(*form);
    window(*form, "Server")->CloseWindow();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
}

// Disconnect, closing the Server window and closing the main window each
// send QUIT; "Disconnected" never makes the Server window again.
TEST_F(AppTest, EveryWayOfLeavingSendsQuit) {
  for (const int way : {0, 1, 2}) {
    LoopbackServer server;
    connectTo(server);
    server.clearReceived();
    if (way == 0) form->OnDisconnectClicked();
    if (way == 1) window(*form, "Server")->CloseWindow();
    if (way == 2) form->close();
    ASSERT_TRUE(server.waitPeerClosed()) << way;
    EXPECT_EQ(server.received(), "QUIT http://zorv.sourceforge.net/\r\n") << way;
    if (way == 2) break;
    EXPECT_EQ(form->session->Socket().State(), wsClosed);
    if (way == 0) {
      EXPECT_EQ(linesOf(*form, "Server"), (std::vector<std::string>{"Connected", "Disconnected"}));
    } else {
      ASSERT_TRUE(waitFor([&] { return window(*form, "Server") == nullptr; }));
      testsupport::pumpFor(20);
      EXPECT_EQ(window(*form, "Server"), nullptr);
    }
    expectIdle(*form);
  }
}

TEST_F(AppTest, ServerCloseKeepsChannelWindowsButEmptiesTheirLists) {
  LoopbackServer server;
  form->nickField->setText("me");
  connectTo(server);
  server.send(":me!m@h JOIN :#chat\r\n:srv 353 me = #chat :@alice bob me\r\n:srv 366 me #chat :End\r\n");
  ASSERT_TRUE(waitFor([&] { return window(*form, "#chat") && window(*form, "#chat")->nickList->model()->rowCount() == 3; }));
  server.closeClient();
  ASSERT_TRUE(waitFor([&] { return form->session->Socket().State() == wsClosed; }));
  TMDIChild* chat = window(*form, "#chat");
  ASSERT_NE(chat, nullptr);
  EXPECT_EQ(chat->nickList->model()->rowCount(), 0);
  EXPECT_TRUE(chat->NamesOpen());
  EXPECT_EQ(linesOf(*form, "Server").back(), "Disconnected");
  expectIdle(*form);

  // Typed now, a line for the server is neither echoed nor logged as said; a
  // purely local command answers as ever; a menu action stays silent.
  const std::pair<const char*, const char*> typed[] = {{"anyone there?", "*** Not sent: not connected"},
                                                       {"/join #two", "*** Not sent: not connected"},
                                                       {"/join", "*** USAGE: /JOIN <channel>"}};
  for (const auto& [text, shown] : typed) {
    chat->inputLine->setText(text);
    chat->OnSendClicked();
    EXPECT_EQ(linesOf(*form, "#chat").back(), shown) << text;
    EXPECT_EQ(chat->history[0], text);
  }
  const size_t count = linesOf(*form, "#chat").size();
  chat->OnChannelSendItem("MODE {channel} +b");  // Show Ban list
  EXPECT_EQ(linesOf(*form, "#chat").size(), count);
  form->logs->flush();
  QFile log(form->logs->pathFor("#chat"));
  ASSERT_TRUE(log.open(QIODevice::ReadOnly));
  EXPECT_FALSE(log.readAll().contains("<me>anyone there?"));
}

TEST_F(AppTest, SendMsgNeverPutsLineBreaksOrNulOnTheWire) {
  LoopbackServer server;
  connectTo(server);
  server.clearReceived();
  form->SendMsg(std::string("PRIVMSG #a :one\r\nQUIT :two\0x", 28));
  form->SendMsg("NOTICE bob :\001PING 1\rJOIN #evil\001");
  ASSERT_TRUE(server.waitReceived("#evil\001\r\n"));
  EXPECT_EQ(server.received(),
            std::string("PRIVMSG #a :oneQUIT :twox\r\nNOTICE bob :\001PING 1JOIN #evil\001\r\n"));
}

TEST_F(AppTest, ConnectWhileConnectedReportsTheSocketError) {
  LoopbackServer server;
  connectTo(server);
  form->serverField->setEnabled(true);
  form->serverField->setText("127.0.0.2");
  // Through the menu, as the user does: the socket's refusal is shown, not thrown.
  form->connectItem->trigger();
  ASSERT_TRUE(waitFor([&] { return !testsupport::shownMessages().isEmpty(); }));
  EXPECT_EQ(testsupport::shownMessages().first(), "Cannot change Addr if not closed");
  EXPECT_EQ(form->session->Socket().State(), wsConnected);
}

// Answers to the user: where the command was typed, in the window named,
// else in the active window; always in Server too.
TEST_F(AppTest, AnswersAreShownWhereTheUserIs) {
  LoopbackServer server;
  form->nickField->setText("me");
  connectTo(server);
  server.send(":me!m@h JOIN :#chat\r\n:srv 366 me #chat :End of /NAMES list.\r\n:srv 353 me = #chat :late\r\n"
              ":carol!c@h PRIVMSG me :hello\r\n");
  ASSERT_TRUE(waitFor([&] { return window(*form, "carol") != nullptr; }));
  TMDIChild* chat = window(*form, "#chat");
  ASSERT_NE(chat, nullptr);
  EXPECT_EQ(chat->Nicks().size(), 0u);  // names after their end are not listed
  chat->inputLine->setText("/nick bob");
  chat->OnSendClicked();
  form->ChildFocus("carol");
  server.send(":srv 001 me :Welcome here\r\n:srv 433 me bob :Nickname is already in use\r\n:srv 482 me #chat :Not an operator\r\n"
              ":srv 401 me nobody :No such nick\r\n");
  ASSERT_TRUE(waitFor([&] { return hasLine(*form, "Server", "nobody :No such nick"); }));
  EXPECT_TRUE(hasLine(*form, "#chat", "bob :Nickname is already in use"));
  EXPECT_EQ(linesOf(*form, "#chat").back(), "#chat :Not an operator");
  EXPECT_EQ(linesOf(*form, "carol").back(), "nobody :No such nick");
}

// The frame's own keys (no extra shortcut of ours: a second Ctrl+F4 would make
// the key ambiguous and then neither would fire).
TEST_F(AppTest, CtrlF4ClosesTheActiveWindowThroughItsCloseHandling) {
  LoopbackServer server;
  connectTo(server);
  form->AddText("#a", "x", true);
  form->AddText("#b", "x", true);
  form->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
  ASSERT_EQ(form->ActiveChild(), window(*form, "#b"));
  server.clearReceived();
  QTest::keyClick(form->ActiveChild()->inputLine, Qt::Key_F4, Qt::ControlModifier);
  ASSERT_TRUE(server.waitReceived("PART #b\r\n"));
  ASSERT_TRUE(waitFor([&] { return window(*form, "#b") == nullptr; }));
  EXPECT_EQ(window(*form, "#b"), nullptr);
  EXPECT_EQ(server.received(), "PART #b\r\n");

}

TEST_F(AppTest, AnEmptyFieldCannotBeLeft) {
  form->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
  for (QLineEdit* field : {form->nickField, form->serverField, form->portField}) {
    field->setFocus(Qt::OtherFocusReason);
    ASSERT_TRUE(waitFor([&] { return field->hasFocus(); }));
    const QString before = field->text();
    field->clear();
    QTest::keyClick(field, Qt::Key_Tab);
    EXPECT_TRUE(waitFor([&] { return field->hasFocus(); }, 1000)) << field->objectName().toStdString();
    // With text in it, the field lets the focus go (a port of letters passes too).
    field->setText(field == form->portField ? "abc" : before);
    QTest::keyClick(field, Qt::Key_Tab);
    waitFor([&] { return !field->hasFocus(); }, 1000);
    EXPECT_FALSE(field->hasFocus()) << field->objectName().toStdString();
  }
}
