// Staying connected, against a scripted loopback server with the clock run
// fast: the lag check, the reconnect and its wait, the rejoin, what the user
// does during the wait, and the bound on the send queue.
#include <QApplication>
#include <QFile>
#include <QPushButton>
#include <QTest>
#include <algorithm>

#include "AppFixture.h"
#include "ConnectionKeeper.h"

using namespace apptest;
using testsupport::LoopbackServer;
using testsupport::pumpFor;
using testsupport::waitFor;

namespace {

constexpr int kMsPerSecond = 20;  // a wait of 10 seconds lasts 200 ms

class KeeperTest : public AppTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    form->EditNick->setText("me");
    form->Keeper->SetTimeScale(kMsPerSecond);
    form->Keeper->SetRandomSource([] { return 0u; });  // no spread: the waits read 10, 20, 40 ...
    form->ConnSettings->pingInterval = 3600;           // no lag check unless a test asks for one
  }

  // Connects and has the server welcome us.
  void registerWith(LoopbackServer& server) {
    connectTo(server);
    server.send(":srv 001 me :Welcome to the test\r\n");
    ASSERT_TRUE(waitFor([&] { return hasLine(*form, "Server", "Welcome to the test"); }));
    server.clearReceived();
  }

  // The Server window's lines from the first one equal to `from` on.
  std::vector<std::string> serverLinesFrom(const std::string& from) {
    const auto all = linesOf(*form, "Server");
    const auto it = std::find(all.rbegin(), all.rend(), from);
    return it == all.rend() ? std::vector<std::string>{} : std::vector<std::string>(it.base() - 1, all.end());
  }

  bool serverHasLine(const std::string& line) { return hasLine(*form, "Server", line); }

  int count(const std::string& window, const std::string& line) {
    const auto lines = linesOf(*form, window);
    return static_cast<int>(std::count(lines.begin(), lines.end(), line));
  }

  // Registered, in #a and #b (the key "sesame" given for #b).
  void registerInTwoChannels(LoopbackServer& server) {
    registerWith(server);
    form->SendMsg("JOIN #b sesame");
    server.send(":me!u@h JOIN :#a\r\n:me!u@h JOIN :#b\r\n");
    ASSERT_TRUE(waitFor([&] { return window(*form, "#b") != nullptr; }));
    server.clearReceived();
  }
};

}  // namespace

TEST_F(KeeperTest, ASilentServerIsPingedThenDroppedAndOnlyAWelcomedSessionComesBack) {
  struct Case {
    bool welcomed;
    std::vector<std::string> tail;  // the Server window from "Disconnected" on
  } cases[] = {
      {true, {"Disconnected", "Reconnecting in 10 seconds"}},
      // A server that never answers the registration sends nothing: the lag
      // check drops it, and a first connect that never got in stays dropped.
      {false, {"Disconnected"}},
  };
  for (const Case& c : cases) {
    LoopbackServer server;
    form->ConnSettings->pingInterval = 2;
    form->ConnSettings->pingTimeout = 3;
    form->ConnSettings->reconnect = true;
    if (c.welcomed)
      registerWith(server);
    else
      connectTo(server);
    ASSERT_TRUE(server.waitReceived("PING :zorv-lag-"));
    ASSERT_TRUE(server.waitPeerClosed());
    ASSERT_TRUE(waitFor([&] { return serverHasLine("Disconnected"); }));
    EXPECT_EQ(serverLinesFrom("Ping timeout: no data from the server for 5 seconds").size(), c.tail.size() + 1);
    EXPECT_EQ(serverLinesFrom("Disconnected"), c.tail) << c.welcomed;
    form->BtnDisConnectClick();
    window(*form, "Server")->CloseWindow();
    pumpFor(20);
  }
}

TEST_F(KeeperTest, AnAnsweredPingKeepsTheConnectionAndTheAnswerIsNotShown) {
  LoopbackServer server;
  form->ConnSettings->pingInterval = 2;
  form->ConnSettings->pingTimeout = 3;
  registerWith(server);
  for (int n = 1; n <= 3; ++n) {
    const std::string token = "zorv-lag-" + std::to_string(n);
    ASSERT_TRUE(server.waitReceived("PING :" + token + "\r\n")) << n;
    server.send(":srv PONG srv :" + token + "\r\n");
  }
  // Someone else's PONG is shown as before.
  server.send(":srv PONG srv :not-ours\r\n");
  ASSERT_TRUE(waitFor([&] { return serverHasLine("<srv>PONG srv :not-ours"); }));
  EXPECT_EQ(form->CliWSocket->State(), wsConnected);
  EXPECT_EQ(serverLinesFrom("Welcome to the test"),
            (std::vector<std::string>{"Welcome to the test", "<srv>PONG srv :not-ours"}));
}

TEST_F(KeeperTest, ACloseOrResetIsFollowedByAReconnectAndOneJoinOfTheOpenChannels) {
  struct Case {
    const char* what;
    bool reset;
  } cases[] = {{"clean close", false}, {"reset", true}};
  for (const Case& c : cases) {
    LoopbackServer server;
    registerWith(server);
    form->SendMsg("JOIN #b sesame");
    server.send(":me!u@h JOIN :#a\r\n:me!u@h JOIN :#b\r\n:me!u@h JOIN :#gone\r\n");
    ASSERT_TRUE(waitFor([&] { return window(*form, "#gone") != nullptr; }));
    window(*form, "#gone")->CloseWindow();
    ASSERT_TRUE(server.waitReceived("PART #gone"));
    TMDIChild* a = window(*form, "#a");
    window(*form, "#a")->AddLine("kept line");
    server.send(":carol!c@h PRIVMSG me :hi\r\n");
    ASSERT_TRUE(waitFor([&] { return window(*form, "carol") != nullptr; }));
    server.clearReceived();

    if (c.reset)
      server.resetClient();
    else
      server.closeClient();
    ASSERT_TRUE(waitFor([&] { return serverHasLine("Reconnecting in 10 seconds"); })) << c.what;
    const auto tail = serverLinesFrom("Disconnected");
    ASSERT_EQ(tail.size(), 3u) << c.what;
    EXPECT_EQ(tail[1], c.reset ? "Connection lost, error #10054" : "The server closed the connection") << c.what;
    EXPECT_TRUE(form->Keeper->Waiting());
    EXPECT_TRUE(form->BtnDisConnect->isEnabled());

    ASSERT_TRUE(server.waitReceived("USER ")) << c.what;
    server.send(":srv 001 me :Welcome back\r\n");
    ASSERT_TRUE(server.waitReceived("JOIN ")) << c.what;
    pumpFor(50);
    EXPECT_EQ(server.received(), "NICK me\r\nUSER me * * :me\r\nJOIN #b,#a sesame\r\n") << c.what;
    // The windows go on where they were, each told once of the loss.
    EXPECT_EQ(window(*form, "#a"), a);
    EXPECT_TRUE(hasLine(*form, "#a", "kept line"));
    for (const char* name : {"#a", "#b", "carol"}) EXPECT_EQ(count(name, "*** Disconnected"), 1) << name;
    EXPECT_EQ(count("Server", "*** Disconnected"), 0);
    form->BtnDisConnectClick();
    for (const char* name : {"#a", "#b", "carol", "Server"}) window(*form, name)->CloseWindow();
    pumpFor(20);
  }
}

TEST_F(KeeperTest, WhatTheUserDoesDuringTheWaitCallsTheReconnectOff) {
  struct Case {
    const char* what;
    std::function<void(TMainForm&)> act;
  } cases[] = {
      {"Disconnect", [](TMainForm& f) { f.BtnDisConnectClick(); }},
      {"Server window closed", [](TMainForm& f) { window(f, "Server")->CloseWindow(); }},
      {"Reconnect off", [](TMainForm& f) { f.ConnSettings->reconnect = false; }},
  };
  for (const Case& c : cases) {
    LoopbackServer server;
    form->ConnSettings->reconnect = true;
    registerWith(server);
    if (std::string(c.what) == "Reconnect off") {
      c.act(*form);
      server.closeClient();
      ASSERT_TRUE(waitFor([&] { return form->CliWSocket->State() == wsClosed; }));
      EXPECT_EQ(linesOf(*form, "Server").back(), "Disconnected");
    } else {
      server.closeClient();
      ASSERT_TRUE(waitFor([&] { return form->Keeper->Waiting(); })) << c.what;
      c.act(*form);
    }
    EXPECT_FALSE(form->Keeper->Waiting()) << c.what;
    EXPECT_FALSE(form->BtnDisConnect->isEnabled()) << c.what;
    EXPECT_TRUE(form->BtnConnect->isEnabled()) << c.what;
    // Three times the wait passes and nobody comes.
    pumpFor(600);
    EXPECT_FALSE(server.accept(0)) << c.what;
    if (window(*form, "Server")) window(*form, "Server")->CloseWindow();
    pumpFor(20);
  }
}

TEST_F(KeeperTest, EndingAWelcomedSessionByHandNeverReconnects) {
  struct Case {
    const char* what;
    std::function<void(TMainForm&)> act;
  } cases[] = {
      {"Disconnect", [](TMainForm& f) { f.BtnDisConnectClick(); }},
      {"Server window closed", [](TMainForm& f) { window(f, "Server")->CloseWindow(); }},
  };
  for (const Case& c : cases) {
    LoopbackServer server;
    registerWith(server);
    c.act(*form);
    ASSERT_TRUE(server.waitPeerClosed()) << c.what;
    EXPECT_EQ(server.received(), "QUIT http://zorv.sourceforge.net/\r\n") << c.what;
    server.closeClient();
    pumpFor(600);
    EXPECT_FALSE(form->Keeper->Waiting()) << c.what;
    EXPECT_FALSE(server.accept(0)) << c.what;
    if (window(*form, "Server")) {
      EXPECT_EQ(linesOf(*form, "Server").back(), "Disconnected") << c.what;
      window(*form, "Server")->CloseWindow();
    }
    pumpFor(20);
  }
}

TEST_F(KeeperTest, ClosingTheMainWindowDuringTheWaitNeverReconnects) {
  LoopbackServer server;
  registerWith(server);
  server.closeClient();
  ASSERT_TRUE(waitFor([&] { return form->Keeper->Waiting(); }));
  form->close();
  EXPECT_FALSE(form->Keeper->Waiting());
  pumpFor(600);
  EXPECT_FALSE(server.accept(0));
}

TEST_F(KeeperTest, FailedAttemptsDoubleTheWaitAndAWelcomeStartsItAgain) {
  LoopbackServer server;
  const QString port = QString::number(server.port());
  registerWith(server);
  form->AddText("#a", "open", true);
  server.closeClient();
  ASSERT_TRUE(waitFor([&] { return serverHasLine("Reconnecting in 10 seconds"); }));
  form->EditPort->setText(QString::number(testsupport::unusedPort()));
  ASSERT_TRUE(waitFor([&] { return serverHasLine("Reconnecting in 20 seconds"); }));
  EXPECT_EQ(serverLinesFrom("No server available"),
            (std::vector<std::string>{"No server available", "Disconnected", "Reconnecting in 20 seconds"}));
  ASSERT_TRUE(waitFor([&] { return serverHasLine("Reconnecting in 40 seconds"); }));
  EXPECT_EQ(count("#a", "*** Disconnected"), 1);  // once for the connection, not per attempt
  form->EditPort->setText(port);
  ASSERT_TRUE(server.waitReceived("USER ", 5000));
  server.send(":srv 001 me :Welcome back\r\n");
  ASSERT_TRUE(waitFor([&] { return serverHasLine("Welcome back"); }));
  server.closeClient();
  ASSERT_TRUE(waitFor([&] { return serverLinesFrom("Welcome back").size() >= 4; }));
  EXPECT_EQ(serverLinesFrom("Welcome back").back(), "Reconnecting in 10 seconds");
  EXPECT_EQ(count("#a", "*** Disconnected"), 2);
}

// Every way back to the same server and port joins the open channels again
// (after Disconnect and Connect too); another server or port joins nothing.
// The reconnect, its rejoin and the lag check leave the active window and the
// keyboard to the user; a Connect the user presses brings Server to the front.
TEST_F(KeeperTest, EveryWayBackJoinsTheOpenChannelsAndOnlyTheUsersConnectTakesTheFocus) {
  enum End { Close, Silence, Disconnect };
  const struct {
    const char* what;
    End end;
    bool byUser;         // Connect pressed (during the wait, or after Disconnect)
    const char* server;  // typed into Server before Connect ("" keeps it)
    bool otherPort;
    bool joined;
  } cases[] = {
      {"lost, reconnected", Close, false, "", false, true},
      {"dropped by the lag check, reconnected", Silence, false, "", false, true},
      {"lost, Connect during the wait", Close, true, "", false, true},
      {"Disconnect, Connect", Disconnect, true, "", false, true},
      {"Disconnect, Connect to another server", Disconnect, true, "127.1", false, false},
      {"Disconnect, Connect to another port", Disconnect, true, "", true, false},
  };
  form->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
  for (const auto& c : cases) {
    LoopbackServer first, other;
    form->ConnSettings->pingInterval = c.end == Silence ? 5 : 3600;
    form->ConnSettings->pingTimeout = 5;
    // Connect during the wait goes at once, not when the wait is over.
    form->Keeper->SetTimeScale(c.byUser ? 1000 : kMsPerSecond);
    registerInTwoChannels(first);
    TMDIChild* a = window(*form, "#a");
    form->ChildFocus("#a");
    a->Edit1->setFocus();
    QTest::keyClicks(a->Edit1, "half typed");
    if (c.end == Close) first.closeClient();
    if (c.end == Disconnect) form->BtnDisConnectClick();
    ASSERT_TRUE(waitFor([&] { return form->CliWSocket->State() == wsClosed; })) << c.what;
    EXPECT_EQ(form->Keeper->Waiting(), c.end != Disconnect) << c.what;
    EXPECT_EQ(serverHasLine("Ping timeout: no data from the server for 10 seconds"), c.end == Silence) << c.what;
    for (const char* name : {"#a", "#b"}) EXPECT_EQ(count(name, "*** Disconnected"), 1) << c.what << name;
    form->ConnSettings->pingInterval = 3600;
    first.closeClient();
    LoopbackServer& next = c.otherPort ? other : first;
    if (*c.server) form->EditServer->setText(c.server);
    form->EditPort->setText(QString::number(next.port()));
    if (c.byUser) {
      form->BtnConnectClick();
      EXPECT_FALSE(form->Keeper->Waiting()) << c.what;
    }
    ASSERT_TRUE(next.accept(5000)) << c.what;
    ASSERT_TRUE(next.waitReceived("USER ")) << c.what;
    // What is sent by the end of the welcome: the answer to a PING after it marks the end.
    next.send(":srv 001 me :Welcome back\r\nPING :end\r\n");
    ASSERT_TRUE(next.waitReceived("PONG :end\r\n")) << c.what;
    EXPECT_EQ(next.received(), std::string("NICK me\r\nUSER me * * :me\r\n") +
                                   (c.joined ? "JOIN #b,#a sesame\r\n" : "") + "PONG :end\r\n")
        << c.what;
    if (c.joined) {
      next.send(":me!u@h JOIN :#a\r\n:me!u@h JOIN :#b\r\n");
      ASSERT_TRUE(waitFor([&] { return count("#b", "*** JOIN: me (u@h) #b") == 2; })) << c.what;
    }
    if (c.byUser) {
      EXPECT_EQ(form->ActiveChild(), window(*form, "Server")) << c.what;
    } else {
      EXPECT_EQ(form->ActiveChild(), a) << c.what;
      ASSERT_EQ(QApplication::focusWidget(), a->Edit1) << c.what;
      QTest::keyClicks(a->Edit1, " more");
      EXPECT_EQ(a->Edit1->text(), "half typed more") << c.what;
    }
    form->BtnDisConnectClick();
    for (const char* name : {"#a", "#b", "Server"}) window(*form, name)->CloseWindow();
    form->EditServer->setText("127.0.0.1");
    pumpFor(20);
  }
}

TEST_F(KeeperTest, AServerThatStopsReadingIsDroppedOnceTheQueuePassesOneMebibyte) {
  LoopbackServer server;
  connectTo(server);
  const std::string big(100000, 'x');
  const std::string said = "The server has stopped reading: more than 1 MiB waits to be sent, so the connection is closed";
  int peak = 0;
  for (int i = 0; i < 2000 && !serverHasLine(said); ++i) {
    form->SendMsg("PRIVMSG #a :" + big);
    peak = std::max(peak, form->CliWSocket->BufferedByteCount());
  }
  ASSERT_TRUE(serverHasLine(said));
  EXPECT_LE(peak, static_cast<int>(ConnectionKeeper::kSendQueueLimit));
  ASSERT_TRUE(waitFor([&] { return form->CliWSocket->State() == wsClosed; }));
  EXPECT_EQ(serverLinesFrom(said), (std::vector<std::string>{said, "Disconnected"}));
}

TEST(KeeperSettings, ReadFromTheConnectionSectionWithTheirDefaults) {
  struct Case {
    const char* file;
    int interval, timeout;
    bool reconnect;
  } cases[] = {
      {"", 120, 60, true},
      {"[Connection]\nPingInterval=7\nPingTimeout=9\nReconnect=0\n", 7, 9, false},
      {"[connection]\nreconnect=1\npinginterval=0\n", 0, 60, true},
  };
  for (const Case& c : cases) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QFile ini(dir.filePath("ZORV.INI"));
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write(c.file);
    ini.close();
    TMainForm form(dir.path());
    EXPECT_EQ(form.ConnSettings->pingInterval, c.interval) << c.file;
    EXPECT_EQ(form.ConnSettings->pingTimeout, c.timeout) << c.file;
    EXPECT_EQ(form.ConnSettings->reconnect, c.reconnect) << c.file;
  }
}
