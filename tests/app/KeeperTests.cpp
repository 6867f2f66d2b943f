// Staying connected, against a scripted loopback server with the clock run
// fast: the lag check, the reconnect and its wait, the rejoin, what the user
// does during the wait, and the bound on the send queue. The session runs
// under a recording host, without a main window.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <memory>

#include "Main.h"
#include "Names.h"
#include "Session.h"
#include "TestSupport.h"
#include "Text.h"

using testsupport::LoopbackServer;
using testsupport::pumpFor;
using testsupport::waitFor;

namespace {

constexpr int kMsPerSecond = 20;  // a wait of 10 seconds lasts 200 ms

// Keeps what the session shows as windows of lines, in the order they were
// opened, and the state of the connection controls as the main window sets them.
class RecordingHost : public SessionHost {
 public:
  struct Window {
    std::string name;
    std::vector<std::string> lines;
  };
  std::vector<Window> windows;
  ConnectTarget target{"me", "127.0.0.1", "127.0.0.1", "6667", false};
  ConnectionState state = ConnectionState::Idle;
  bool disconnectEnabled = false;  // as the main window's Disconnect button
  int serverToFront = 0;           // times the Server window was brought to the front

  Window* find(const std::string& name) {
    for (Window& w : windows)
      if (zorv::equalsIgnoreAsciiCase(w.name, name)) return &w;
    return nullptr;
  }
  void Show(const std::string& window, const std::string& text, bool create) override {
    Window* w = find(window);
    if (!w && create) w = &windows.emplace_back(Window{window, {}});
    if (w) w->lines.push_back(text);
  }
  void ShowInConversations(const std::string& text) override {
    for (Window& w : windows)
      if (!zorv::equalsIgnoreAsciiCase(w.name, "Server")) w.lines.push_back(text);
  }
  void BringServerWindowToFront() override { ++serverToFront; }
  std::vector<std::string> OpenWindows() const override {
    std::vector<std::string> names;
    for (const Window& w : windows) names.push_back(w.name);
    return names;
  }
  bool HasWindow(const std::string& name) const override {
    return const_cast<RecordingHost*>(this)->find(name) != nullptr;
  }
  std::string ActiveWindow() const override { return {}; }
  void ConnectionChanged(ConnectionState s) override {
    state = s;
    disconnectEnabled = s != ConnectionState::Idle;
  }
  void ConnectionClosed() override {}
  void NetworkChosen(const std::string&) override {}
  void ReconnectWaiting(bool waiting) override { disconnectEnabled = waiting; }
  zorv::CertAnswer AskCertificate(const TSslPeer&) override { return {}; }
  ConnectTarget Target() const override { return target; }
  zorv::SaslConfig Login() const override { return {}; }
  std::string OwnNick() const override { return target.nick; }
  void SetOwnNick(const std::string& nick) override { target.nick = nick; }
  void SetTopic(const std::string&, const std::string&, bool) override {}
  void FillNames(const std::string&) override {}
  void EndNames(const std::string&) override {}
  void AddNick(const std::string&, const std::string&) override {}
  void DelNick(const std::string&, const std::string&) override {}
  void QuitNick(const std::string&, const std::string&) override {}
  void ChangeNick(const std::string&, const std::string&) override {}
  void ModeNick(const std::string&, const std::string&, bool) override {}
  void ResetNames(const std::string&) override {}
  void ChannelListStart() override {}
  void AddChannelRow(const std::string&) override {}
  void ChannelListEnd() override {}
  void Alert() override {}
};

class KeeperTest : public ::testing::Test {
 public:
  void SetUp() override {
    session = std::make_unique<Session>(host);
    session->Keeper().SetTimeScale(kMsPerSecond);
    session->Keeper().SetRandomSource([] { return 0u; });  // no spread: the waits read 10, 20, 40 ...
    session->KeepAlive().pingInterval = 3600;               // no lag check unless a test asks for one
  }
  void TearDown() override { session.reset(); }

  void connectTo(LoopbackServer& server) {
    host.target.server = host.target.host = "127.0.0.1";
    host.target.port = std::to_string(server.port());
    session->Connect();
    ASSERT_TRUE(server.accept(5000));
    ASSERT_TRUE(server.waitReceived("USER "));
    ASSERT_TRUE(waitFor([&] { return session->IsConnected(); }));
  }

  // Connects and has the server welcome us.
  void registerWith(LoopbackServer& server) {
    connectTo(server);
    server.send(":srv 001 me :Welcome to the test\r\n");
    ASSERT_TRUE(waitFor([&] { return serverHasLine("Welcome to the test"); }));
    server.clearReceived();
  }

  // As a conversation window closes: a channel is left, the Server window disconnects.
  void closeWindow(const std::string& name) {
    if (zorv::isChannelName(name)) session->SendMsg("PART " + name);
    if (name == "Server") session->Disconnect();
    std::erase_if(host.windows, [&](const RecordingHost::Window& w) { return w.name == name; });
  }

  std::vector<std::string> linesOf(const std::string& window) {
    const RecordingHost::Window* w = host.find(window);
    return w ? w->lines : std::vector<std::string>{};
  }

  // The Server window's lines from the first one equal to `from` on.
  std::vector<std::string> serverLinesFrom(const std::string& from) {
    const auto all = linesOf("Server");
    const auto it = std::find(all.rbegin(), all.rend(), from);
    return it == all.rend() ? std::vector<std::string>{} : std::vector<std::string>(it.base() - 1, all.end());
  }

  bool serverHasLine(const std::string& line) { return count("Server", line) > 0; }

  int count(const std::string& window, const std::string& line) {
    const auto lines = linesOf(window);
    return static_cast<int>(std::count(lines.begin(), lines.end(), line));
  }

  // Registered, in #a and #b (the key "sesame" given for #b).
  void registerInTwoChannels(LoopbackServer& server) {
    registerWith(server);
    session->SendMsg("JOIN #b sesame");
    server.send(":me!u@h JOIN :#a\r\n:me!u@h JOIN :#b\r\n");
    ASSERT_TRUE(waitFor([&] { return host.find("#b") != nullptr; }));
    server.clearReceived();
  }

  RecordingHost host;
  std::unique_ptr<Session> session;
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
    session->KeepAlive().pingInterval = 2;
    session->KeepAlive().pingTimeout = 3;
    session->KeepAlive().reconnect = true;
    if (c.welcomed)
      registerWith(server);
    else
      connectTo(server);
    ASSERT_TRUE(server.waitReceived("PING :zorv-lag-"));
    ASSERT_TRUE(server.waitPeerClosed());
    ASSERT_TRUE(waitFor([&] { return serverHasLine("Disconnected"); }));
    EXPECT_EQ(serverLinesFrom("Ping timeout: no data from the server for 5 seconds").size(), c.tail.size() + 1);
    EXPECT_EQ(serverLinesFrom("Disconnected"), c.tail) << c.welcomed;
    session->Disconnect();
    closeWindow("Server");
    pumpFor(20);
  }
}

TEST_F(KeeperTest, AnAnsweredPingKeepsTheConnectionAndTheAnswerIsNotShown) {
  LoopbackServer server;
  session->KeepAlive().pingInterval = 2;
  session->KeepAlive().pingTimeout = 3;
  registerWith(server);
  for (int n = 1; n <= 3; ++n) {
    const std::string token = "zorv-lag-" + std::to_string(n);
    ASSERT_TRUE(server.waitReceived("PING :" + token + "\r\n")) << n;
    server.send(":srv PONG srv :" + token + "\r\n");
  }
  // Someone else's PONG is shown as before.
  server.send(":srv PONG srv :not-ours\r\n");
  ASSERT_TRUE(waitFor([&] { return serverHasLine("<srv>PONG srv :not-ours"); }));
  EXPECT_EQ(session->Socket().State(), wsConnected);
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
    session->SendMsg("JOIN #b sesame");
    server.send(":me!u@h JOIN :#a\r\n:me!u@h JOIN :#b\r\n:me!u@h JOIN :#gone\r\n");
    ASSERT_TRUE(waitFor([&] { return host.find("#gone") != nullptr; }));
    closeWindow("#gone");
    ASSERT_TRUE(server.waitReceived("PART #gone"));
    server.send(":carol!c@h PRIVMSG me :hi\r\n");
    ASSERT_TRUE(waitFor([&] { return host.find("carol") != nullptr; }));
    server.clearReceived();

    if (c.reset)
      server.resetClient();
    else
      server.closeClient();
    ASSERT_TRUE(waitFor([&] { return serverHasLine("Reconnecting in 10 seconds"); })) << c.what;
    const auto tail = serverLinesFrom("Disconnected");
    ASSERT_EQ(tail.size(), 3u) << c.what;
    EXPECT_EQ(tail[1], c.reset ? "Connection lost, error #10054" : "The server closed the connection") << c.what;
    EXPECT_TRUE(session->Keeper().Waiting());
    EXPECT_TRUE(host.disconnectEnabled);

    ASSERT_TRUE(server.waitReceived("USER ")) << c.what;
    server.send(":srv 001 me :Welcome back\r\n");
    ASSERT_TRUE(server.waitReceived("JOIN ")) << c.what;
    pumpFor(50);
    EXPECT_EQ(server.received(), "NICK me\r\nUSER me * * :me\r\nJOIN #b,#a sesame\r\n") << c.what;
    // The windows are each told once of the loss.
    for (const char* name : {"#a", "#b", "carol"}) EXPECT_EQ(count(name, "*** Disconnected"), 1) << name;
    EXPECT_EQ(count("Server", "*** Disconnected"), 0);
    session->Disconnect();
    for (const char* name : {"#a", "#b", "carol", "Server"}) closeWindow(name);
    pumpFor(20);
  }
}

TEST_F(KeeperTest, WhatTheUserDoesDuringTheWaitCallsTheReconnectOff) {
  struct Case {
    const char* what;
    std::function<void(KeeperTest&)> act;
  } cases[] = {
      {"Disconnect", [](KeeperTest& t) { t.session->Disconnect(); }},
      {"Server window closed", [](KeeperTest& t) { t.closeWindow("Server"); }},
      {"Reconnect off", [](KeeperTest& t) { t.session->KeepAlive().reconnect = false; }},
  };
  for (const Case& c : cases) {
    LoopbackServer server;
    session->KeepAlive().reconnect = true;
    registerWith(server);
    if (std::string(c.what) == "Reconnect off") {
      c.act(*this);
      server.closeClient();
      ASSERT_TRUE(waitFor([&] { return session->Socket().State() == wsClosed; }));
      EXPECT_EQ(linesOf("Server").back(), "Disconnected");
    } else {
      server.closeClient();
      ASSERT_TRUE(waitFor([&] { return session->Keeper().Waiting(); })) << c.what;
      c.act(*this);
    }
    EXPECT_FALSE(session->Keeper().Waiting()) << c.what;
    EXPECT_FALSE(host.disconnectEnabled) << c.what;
    EXPECT_EQ(host.state, ConnectionState::Idle) << c.what;
    // Three times the wait passes and nobody comes.
    pumpFor(600);
    EXPECT_FALSE(server.accept(0)) << c.what;
    if (host.find("Server")) closeWindow("Server");
    pumpFor(20);
  }
}

TEST_F(KeeperTest, EndingAWelcomedSessionByHandNeverReconnects) {
  struct Case {
    const char* what;
    std::function<void(KeeperTest&)> act;
  } cases[] = {
      {"Disconnect", [](KeeperTest& t) { t.session->Disconnect(); }},
      {"Server window closed", [](KeeperTest& t) { t.closeWindow("Server"); }},
  };
  for (const Case& c : cases) {
    LoopbackServer server;
    registerWith(server);
    c.act(*this);
    ASSERT_TRUE(server.waitPeerClosed()) << c.what;
    EXPECT_EQ(server.received(), "QUIT http://zorv.sourceforge.net/\r\n") << c.what;
    server.closeClient();
    pumpFor(600);
    EXPECT_FALSE(session->Keeper().Waiting()) << c.what;
    EXPECT_FALSE(server.accept(0)) << c.what;
    if (host.find("Server")) {
      EXPECT_EQ(linesOf("Server").back(), "Disconnected") << c.what;
      closeWindow("Server");
    }
    pumpFor(20);
  }
}

TEST_F(KeeperTest, ClosingTheMainWindowDuringTheWaitNeverReconnects) {
  LoopbackServer server;
  registerWith(server);
  server.closeClient();
  ASSERT_TRUE(waitFor([&] { return session->Keeper().Waiting(); }));
  session->CallOffReconnect();  // what the main window does as it closes
  EXPECT_FALSE(session->Keeper().Waiting());
  pumpFor(600);
  EXPECT_FALSE(server.accept(0));
}

TEST_F(KeeperTest, FailedAttemptsDoubleTheWaitAndAWelcomeStartsItAgain) {
  LoopbackServer server;
  const std::string port = std::to_string(server.port());
  registerWith(server);
  session->AddText("#a", "open", true);
  server.closeClient();
  ASSERT_TRUE(waitFor([&] { return serverHasLine("Reconnecting in 10 seconds"); }));
  host.target.port = std::to_string(testsupport::unusedPort());
  ASSERT_TRUE(waitFor([&] { return serverHasLine("Reconnecting in 20 seconds"); }));
  EXPECT_EQ(serverLinesFrom("No server available"),
            (std::vector<std::string>{"No server available", "Disconnected", "Reconnecting in 20 seconds"}));
  ASSERT_TRUE(waitFor([&] { return serverHasLine("Reconnecting in 40 seconds"); }));
  EXPECT_EQ(count("#a", "*** Disconnected"), 1);  // once for the connection, not per attempt
  host.target.port = port;
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
// The reconnect, its rejoin and the lag check leave the user where they are;
// a Connect the user presses brings Server to the front.
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
  for (const auto& c : cases) {
    LoopbackServer first, other;
    session->KeepAlive().pingInterval = c.end == Silence ? 5 : 3600;
    session->KeepAlive().pingTimeout = 5;
    // Connect during the wait goes at once, not when the wait is over.
    session->Keeper().SetTimeScale(c.byUser ? 1000 : kMsPerSecond);
    registerInTwoChannels(first);
    host.serverToFront = 0;
    if (c.end == Close) first.closeClient();
    if (c.end == Disconnect) session->Disconnect();
    ASSERT_TRUE(waitFor([&] { return session->Socket().State() == wsClosed; })) << c.what;
    EXPECT_EQ(session->Keeper().Waiting(), c.end != Disconnect) << c.what;
    EXPECT_EQ(serverHasLine("Ping timeout: no data from the server for 10 seconds"), c.end == Silence) << c.what;
    for (const char* name : {"#a", "#b"}) EXPECT_EQ(count(name, "*** Disconnected"), 1) << c.what << name;
    session->KeepAlive().pingInterval = 3600;
    first.closeClient();
    LoopbackServer& next = c.otherPort ? other : first;
    if (*c.server) host.target.server = host.target.host = c.server;
    host.target.port = std::to_string(next.port());
    if (c.byUser) {
      session->Connect();
      EXPECT_FALSE(session->Keeper().Waiting()) << c.what;
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
    EXPECT_EQ(host.serverToFront, c.byUser ? 1 : 0) << c.what;
    session->Disconnect();
    for (const char* name : {"#a", "#b", "Server"}) closeWindow(name);
    host.target.server = host.target.host = "127.0.0.1";
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
    session->SendMsg("PRIVMSG #a :" + big);
    peak = std::max(peak, session->Socket().BufferedByteCount());
  }
  ASSERT_TRUE(serverHasLine(said));
  EXPECT_LE(peak, static_cast<int>(ConnectionKeeper::kSendQueueLimit));
  ASSERT_TRUE(waitFor([&] { return session->Socket().State() == wsClosed; }));
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
    EXPECT_EQ(form.session->KeepAlive().pingInterval, c.interval) << c.file;
    EXPECT_EQ(form.session->KeepAlive().pingTimeout, c.timeout) << c.file;
    EXPECT_EQ(form.session->KeepAlive().reconnect, c.reconnect) << c.file;
  }
}
