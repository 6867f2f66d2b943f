// The main window against a scripted loopback server: its connection
// lifecycle, where answers and the server's last words are shown, the logs a
// session leaves, and irc:// links given to it.
#include <QAction>
#include <QCheckBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "AppFixture.h"
#include "Formatting.h"
#include "IniOut.h"
#include "Logbook.h"
#include "MessageBox.h"

using namespace apptest;
using testsupport::LoopbackServer;
using testsupport::waitFor;

namespace {

// The connection controls, 1 for enabled: Connect, Disconnect, Channel List
// and the three fields.
std::string controls(TMainForm& f) {
  std::string s;
  for (bool on : {f.connectButton->isEnabled(), f.disconnectButton->isEnabled(), f.channelListButton->isEnabled(),
                  f.nickField->isEnabled() && f.serverField->isEnabled() && f.portField->isEnabled()})
    s += on ? '1' : '0';
  return s;
}
const std::string kIdle = "1001";

// Lines without their time stamps ("[yyyy-MM-dd HH:mm:ss] ").
QByteArrayList logLines(const QString& path) {
  QByteArrayList out;
  for (const QByteArray& l : testsupport::readBytes(path).split('\n'))
    if (!l.isEmpty())
      out << (l.startsWith("****") ? l.left(l.indexOf(" AT ") + 3) : l.mid(22));  // "**** BEGIN LOGGING AT"
  return out;
}

}  // namespace

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
    if (c.lines.size() == 1) EXPECT_EQ(controls(*form).back(), '1');  // while the lookup runs, fields stay enabled
    ASSERT_TRUE(waitFor([&] { return linesOf(*form, "Server").size() >= c.lines.size(); }, 15000));
    EXPECT_EQ(linesOf(*form, "Server"), c.lines);
    EXPECT_EQ(controls(*form), kIdle);
    window(*form, "Server")->CloseWindow();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
}

TEST_F(AppTest, ServerCloseKeepsChannelWindowsButEmptiesTheirLists) {
  EXPECT_EQ(form->windowTitle(), "Zorv 2.9.22R");
  LoopbackServer server;
  form->nickField->setText("me");
  connectTo(server);
  server.send(":me!m@h JOIN :#chat\r\n:srv 353 me = #chat :@alice bob me\r\n:srv 366 me #chat :End\r\n");
  ASSERT_TRUE(
      waitFor([&] { return window(*form, "#chat") && window(*form, "#chat")->nickList->model()->rowCount() == 3; }));
  server.closeClient();
  ASSERT_TRUE(waitFor([&] { return form->session->Socket().State() == wsClosed; }));
  TMDIChild* chat = window(*form, "#chat");
  ASSERT_NE(chat, nullptr);
  EXPECT_EQ(chat->nickList->model()->rowCount(), 0);
  EXPECT_TRUE(chat->NamesOpen());
  EXPECT_EQ(linesOf(*form, "Server").back(), "Disconnected");
  EXPECT_EQ(controls(*form), kIdle);

  // Typed now, a line for the server is neither echoed nor logged as said; a
  // purely local command answers as ever; a menu action stays silent.
  const std::pair<const char*, const char*> typed[] = {{"anyone there?", "*** Not sent: not connected"},
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
  server.send(
      ":srv 001 me :Welcome here\r\n:srv 433 me bob :Nickname is already in use\r\n:srv 482 me #chat :Not an "
      "operator\r\n"
      ":srv 401 me nobody :No such nick\r\n");
  ASSERT_TRUE(waitFor([&] { return hasLine(*form, "Server", "nobody :No such nick"); }));
  EXPECT_TRUE(hasLine(*form, "#chat", "bob :Nickname is already in use"));
  EXPECT_EQ(linesOf(*form, "#chat").back(), "#chat :Not an operator");
  EXPECT_EQ(linesOf(*form, "carol").back(), "nobody :No such nick");
}

// A server that sends its reason and closes at once: the reason is in the
// Server window, between "Connected" and "Disconnected", every time.
TEST_F(AppTest, ServerReasonBeforeAnImmediateCloseIsShownEveryTime) {
  LoopbackServer server;
  form->serverField->setText("127.0.0.1");
  form->portField->setText(QString::number(server.port()));
  // closeAtOnce: the server answers the connection with its reason and closes
  // before Zorv's NICK and USER arrive; otherwise it closes with them unread
  // (a reset).
  for (bool closeAtOnce : {true, false}) {
    for (int run = 0; run < 20; ++run) {
      SCOPED_TRACE(std::string(closeAtOnce ? "closed at once" : "lines unread") + ", run " + std::to_string(run));
      const size_t before = linesOf(*form, "Server").size();
      form->OnConnectClicked();
      ASSERT_TRUE(server.accept(5000));
      if (!closeAtOnce) {
        ASSERT_TRUE(waitFor([&] {
          return form->session->Socket().State() == wsConnected && form->session->Socket().BufferedByteCount() == 0;
        }));
      }
      server.send("ERROR :Closing Link: test (bye)\r\n");
      server.closeClient();
      ASSERT_TRUE(
          waitFor([&] { return form->connectButton->isEnabled() && form->session->Socket().State() == wsClosed; }));
      testsupport::pumpFor(20);  // nothing else may follow
      const std::vector<std::string> all = linesOf(*form, "Server");
      ASSERT_EQ(all.size(), before + 3) << ::testing::PrintToString(all);
      EXPECT_EQ(all[before], "Connected");
      EXPECT_NE(all[before + 1].find("test (bye)"), std::string::npos) << all[before + 1];
      EXPECT_EQ(all[before + 2], "Disconnected");
    }
  }
}

TEST_F(AppTest, ASessionIsLoggedPerWindowAndAClosedWindowsLogIsComplete) {
  testsupport::LoopbackServer server;
  connectTo(server);
  server.send(":srv 001 YourNick :Welcome\r\n:YourNick!u@h JOIN :#Chat\r\n:amy!u@h PRIVMSG #chat :\x02hi\x02 \xe9\r\n");
  ASSERT_TRUE(testsupport::waitFor([&] { return apptest::hasLine(*form, "#chat", "<amy>\x02hi\x02 \xe9"); }));
  const QString chat = form->logs->pathFor("#chat");
  EXPECT_TRUE(chat.startsWith(Logbook::defaultRoot() + "/127.0.0.1/"));
  const std::vector<std::string> shown = apptest::linesOf(*form, "#chat");
  apptest::window(*form, "#chat")->CloseWindow();
  ASSERT_TRUE(testsupport::waitFor([&] { return apptest::window(*form, "#chat") == nullptr; }));
  // Written at the close, without waiting for the next flush.
  EXPECT_EQ(shown.back(), "<amy>\x02hi\x02 \xe9");
  QByteArrayList expected{"**** BEGIN LOGGING AT"};  // the lines as shown, without codes
  for (const std::string& l : shown) expected << QByteArray::fromStdString(zorv::fmt::strip(l));
  EXPECT_EQ(logLines(chat), expected << "**** ENDING LOGGING AT");
  form->logs->flush();
  EXPECT_TRUE(logLines(form->logs->pathFor("Server")).contains("Connected"));
}

// An ircs:// link turns TLS on (what TLS sends first is checked with the
// switch itself); an irc:// link turns it off again, connects, and joins its
// channels once the welcome has come, once. A connection made by hand after a
// link that failed joins nothing.
TEST_F(AppTest, ALinkConnectsAndJoinsOnceRegistered) {
  {
    LoopbackServer secure;
    form->ConnectToLink("ircs://127.0.0.1:" + std::to_string(secure.port()) + "/zorv");
    EXPECT_TRUE(form->tlsBox->isChecked());
    ASSERT_TRUE(secure.accept(5000));
    form->OnDisconnectClicked();
  }
  LoopbackServer server;
  form->nickField->setText("Zed");
  form->ConnectToLink("irc://127.0.0.1:" + std::to_string(server.port()) + "/%23zorv,other");
  EXPECT_FALSE(form->tlsBox->isChecked());
  EXPECT_EQ(form->serverField->text(), "127.0.0.1");
  EXPECT_EQ(form->portField->text(), QString::number(server.port()));
  ASSERT_TRUE(server.accept(5000));
  ASSERT_TRUE(server.waitReceived("USER "));
  testsupport::pumpFor(50);
  EXPECT_EQ(server.received(), "NICK Zed\r\nUSER Zed * * :Zed\r\n");  // nothing joined before the welcome
  server.clearReceived();
  server.send(":srv 001 Zed :Welcome\r\n");
  ASSERT_TRUE(server.waitReceived("JOIN #other\r\n"));
  EXPECT_EQ(server.received(), "JOIN #zorv\r\nJOIN #other\r\n");
  server.clearReceived();
  server.send(":srv 001 Zed :Welcome again\r\nPING :after\r\n");
  ASSERT_TRUE(server.waitReceived("PONG :after\r\n"));
  EXPECT_EQ(server.received(), "PONG :after\r\n");  // joined once only

  form->OnDisconnectClicked();
  form->ConnectToLink("irc://127.0.0.1:" + std::to_string(testsupport::unusedPort()) + "/%23zorv");
  ASSERT_TRUE(waitFor([&] { return hasLine(*form, "Server", "No server available"); }));
  form->OnDisconnectClicked();
  ASSERT_TRUE(waitFor([&] { return form->connectButton->isEnabled(); }));
  LoopbackServer byHand;
  connectTo(byHand);
  byHand.clearReceived();
  byHand.send(":srv 001 Zed :Welcome\r\nPING :after\r\n");
  ASSERT_TRUE(byHand.waitReceived("PONG :after\r\n"));
  EXPECT_EQ(byHand.received(), "PONG :after\r\n");
}

// A link that cannot be opened says why, and leaves the fields and the
// connection as they were.
TEST_F(AppTest, LinksThatDoNotConnect) {
  LoopbackServer server;
  const std::pair<std::string, std::string> cases[] = {
      {"irc://127.0.0.1:" + std::to_string(server.port()) + "/zo%0D%0AQUIT",
       "*** Cannot open the link: a channel name holds a control character, blank, comma or colon"},
      {"irc://127.0.0.1:0/zorv", "*** Cannot open the link: the port is not a number from 1 to 65535"},
  };
  for (const auto& [link, line] : cases) {
    form->ConnectToLink(link);
    EXPECT_EQ(form->serverField->text().toStdString() + ":" + form->portField->text().toStdString(),
              zorv::kDefaultServer + std::string(":6667")) << link;
    EXPECT_EQ(linesOf(*form, "Server").back(), line) << link;
    testsupport::pumpFor(100);
    EXPECT_FALSE(server.accept(0)) << link;
  }
}

// An irc:// link clicked in the text joins on the server and port of the
// connection; a link elsewhere asks first, and connects there only on yes.
TEST_F(AppTest, AnIrcLinkJoinsHereAndAsksBeforeConnectingElsewhere) {
  QStringList asked;
  bool answer = false;
  const zorv::QuestionAsker before = zorv::setQuestionAsker([&](const QString& text, const QString&) {
    asked << text;
    return answer;
  });
  testsupport::LoopbackServer server;
  connectTo(server);
  server.clearReceived();
  form->OpenIrcLink("irc://127.0.0.1:" + std::to_string(server.port()) + "/zorv,#b");
  EXPECT_TRUE(server.waitReceived("JOIN #zorv\r\nJOIN #b\r\n"));
  EXPECT_TRUE(asked.isEmpty());
  const int other = testsupport::unusedPort();
  const std::string elsewhere = "ircs://127.0.0.1:" + std::to_string(other) + "/#c";
  for (const bool yes : {false, true}) {
    answer = yes;
    form->OpenIrcLink(elsewhere);
    EXPECT_EQ(asked.size(), yes ? 2 : 1);
    EXPECT_EQ(asked.last(), QString("Disconnect from 127.0.0.1 and connect to 127.0.0.1:%1?").arg(other));
    EXPECT_EQ(form->portField->text().toInt(), yes ? other : server.port());
  }
  EXPECT_TRUE(server.waitPeerClosed());
  EXPECT_TRUE(form->tlsBox->isChecked());
  zorv::setQuestionAsker(before);
}
