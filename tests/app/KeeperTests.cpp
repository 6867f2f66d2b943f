// Staying connected. The plain rules (the reconnect wait, the rejoin lines,
// channel keys learnt from sent lines, our keep-alive's answer) as tables;
// then a session under a recording host, without a main window, against a
// scripted loopback server with the clock run fast: the lag check, the
// reconnect and its wait, the rejoin, what the user does during the wait, and
// the bound on the send queue.
#include <gtest/gtest.h>

#include <QStringList>
#include <QTemporaryDir>
#include <algorithm>
#include <memory>
#include <set>

#include "Main.h"
#include "Names.h"
#include "Reconnect.h"
#include "Session.h"
#include "TestSupport.h"
#include "Text.h"

using testsupport::LoopbackServer;
using testsupport::pumpFor;
using testsupport::waitFor;
using Lines = std::vector<std::string>;

TEST(ReconnectDelay, DoublesUpToTheCapLessAtMostTheSpreadAndIsShownInWholeSeconds) {
  const zorv::ReconnectPolicy standard, fast{50, 200, 0};
  const struct {
    zorv::ReconnectPolicy policy;
    int attempt;
    std::uint32_t random;
    int expected;
  } cases[] = {
      {standard, 0, 0, 10000},  {standard, 4, 0, 160000},  {standard, 5, 0, 300000},   {standard, 1000, 0, 300000},
      {standard, -3, 0, 10000}, {standard, 0, 1000, 9000}, {standard, 0, 1001, 10000}, {standard, 5, 30000, 270000},
      {fast, 1, 7, 100},        {fast, 3, 7, 200},         {{0, 0, 10}, 0, 0, 1},      {{5000, 1000, 10}, 0, 0, 1000},
  };
  for (const auto& c : cases)
    EXPECT_EQ(zorv::ReconnectDelayMs(c.attempt, c.random, c.policy), c.expected) << c.attempt << " " << c.random;
  // Whatever the random value, the wait stays within ten per cent below the nominal one.
  for (std::uint32_t r : {1u, 999u, 12345u, 0x7fffffffu, 0xffffffffu}) {
    const int d = zorv::ReconnectDelayMs(5, r);
    EXPECT_TRUE(d <= 300000 && d >= 270000) << r << " " << d;
  }
  const std::pair<int, int> seconds[] = {{0, 1}, {999, 1}, {1000, 1}, {1001, 2}, {9001, 10}, {300000, 300}};
  for (const auto& [ms, s] : seconds) EXPECT_EQ(zorv::DelaySeconds(ms), s) << ms;
}

TEST(JoinLines, KeyedChannelsFirstAndWhatCannotTravelLeftOut) {
  const std::string longest(505, 'x');  // "JOIN " + 505 = 510 bytes
  const struct {
    const char* what;
    std::vector<zorv::ChannelToJoin> channels;
    Lines expected;
  } cases[] = {
      {"none", {}, {}},
      {"plain", {{"#a", ""}, {"#b", ""}}, {"JOIN #a,#b"}},
      {"keyed first", {{"#a", ""}, {"#b", "k2"}, {"&c", ""}, {"#d", "k4"}}, {"JOIN #b,#d,#a,&c k2,k4"}},
      {"bad names", {{"", ""}, {"#x y", ""}, {"#x,y", ""}, {std::string("#c\x01", 3), ""}, {"#ok", ""}}, {"JOIN #ok"}},
      {"bad key joins without it", {{"#a", "se cret"}, {"#b", "k,k"}, {"#c", "k"}}, {"JOIN #c,#a,#b k"}},
      {"a name that fills a line",
       {{"#" + longest.substr(1), ""}, {"#a", ""}},
       {"JOIN #" + longest.substr(1), "JOIN #a"}},
      {"a name longer than a line", {{"#" + longest, ""}, {"#a", ""}}, {"JOIN #a"}},
  };
  for (const auto& c : cases) EXPECT_EQ(zorv::JoinLines(c.channels), c.expected) << c.what;

  // Many channels: full lines within the limit, each channel once, keys with
  // the first (keyed) channels of their line.
  std::vector<zorv::ChannelToJoin> many;
  std::vector<std::string> names;
  for (int i = 0; i < 120; ++i) {
    names.push_back("#channel-number-" + std::to_string(i));
    many.push_back({names.back(), i % 3 ? "" : "k" + std::to_string(i)});
  }
  for (std::size_t limit : {std::size_t{510}, std::size_t{40}}) {
    std::multiset<std::string> joined;
    for (const std::string& line : zorv::JoinLines(many, limit)) {
      ASSERT_LE(line.size(), limit);
      const QStringList parts = QString::fromStdString(line).split(' ');
      const qsizetype keys = parts.size() > 2 ? parts[2].count(',') + 1 : 0;
      qsizetype n = 0;
      for (const QString& name : parts[1].split(',')) {
        joined.insert(name.toStdString());
        EXPECT_EQ(n++ < keys, name.mid(16).toInt() % 3 == 0) << line;
      }
    }
    EXPECT_EQ(joined, std::multiset<std::string>(names.begin(), names.end())) << limit;
  }
}

TEST(ChannelKeys, LearntFromTheJoinLinesSent) {
  const struct {
    Lines sent;
    std::vector<std::pair<std::string, std::string>> expected;  // channel, key
  } cases[] = {
      {{"JOIN #a sesame"}, {{"#a", "sesame"}, {"#A", "sesame"}, {"#b", ""}}},
      {{"join #a,#b,#c k1,,k3"}, {{"#a", "k1"}, {"#B", ""}, {"#c", "k3"}}},
      {{"JOIN  #a   k"}, {{"#a", "k"}}},
      {{"JOIN #a old", "JOIN #a"}, {{"#a", "old"}}},
      {{"JOIN #a old", "JOIN #a new"}, {{"#a", "new"}}},
      {{"PRIVMSG #a :JOIN #a k", "JOINX #a k", "JOIN"}, {{"#a", ""}}},
      {{"JOIN #a :k"}, {{"#a", ":k"}}},
  };
  for (const auto& c : cases) {
    zorv::ChannelKeys keys;
    for (const auto& line : c.sent) keys.NoteSent(line);
    for (const auto& [channel, key] : c.expected)
      EXPECT_EQ(keys.KeyOf(channel), key) << c.sent.front() << " " << channel;
  }
}

TEST(OwnPingReply, OnlyTheServersAnswerWithOurTokenIsRecognised) {
  const struct {
    const char* text;
    const char* token;
    bool own;
  } cases[] = {
      {"<irc.test>PONG irc.test :zorv-lag-1", "zorv-lag-1", true},
      {"<irc.test>pong irc.test zorv-lag-1", "zorv-lag-1", true},
      {"<irc.test>PONG irc.test :zorv-lag-12", "zorv-lag-1", false},
      {"<irc.test>NOTICE irc.test :zorv-lag-1", "zorv-lag-1", false},
      {"<irc.test>PONG irc.test :", "", false},
      {"PONG irc.test :zorv-lag-1", "zorv-lag-1", false},
      {"", "zorv-lag-1", false},
  };
  for (const auto& c : cases) EXPECT_EQ(zorv::IsOwnPingReply(c.text, c.token), c.own) << c.text;
}

namespace {

constexpr int kMsPerSecond = 20;  // a wait of 10 seconds lasts 200 ms

// Keeps what the session shows as windows of lines, in the order they were
// opened, and the state of the connection controls as the main window sets them.
class RecordingHost : public SessionHost {
 public:
  struct Window {
    std::string name;
    Lines lines;
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
  Lines OpenWindows() const override {
    Lines names;
    for (const Window& w : windows) names.push_back(w.name);
    return names;
  }
  bool HasWindow(const std::string& name) const override { return const_cast<RecordingHost*>(this)->find(name); }
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
    ASSERT_TRUE(waitFor([&] { return count("Server", "Welcome to the test"); }));
    server.clearReceived();
  }
  // As a conversation window closes: a channel is left, the Server window disconnects.
  void closeWindow(const std::string& name) {
    if (zorv::isChannelName(name)) session->SendMsg("PART " + name);
    if (name == "Server") session->Disconnect();
    std::erase_if(host.windows, [&](const RecordingHost::Window& w) { return w.name == name; });
  }
  // Ends the session and closes every window.
  void endAll() {
    session->Disconnect();
    while (!host.windows.empty()) closeWindow(host.windows.back().name);
    pumpFor(20);
  }
  Lines linesOf(const std::string& window) {
    const RecordingHost::Window* w = host.find(window);
    return w ? w->lines : Lines{};
  }
  // The Server window's lines from the last one equal to `from` on.
  Lines serverLinesFrom(const std::string& from) {
    const auto all = linesOf("Server");
    const auto it = std::find(all.rbegin(), all.rend(), from);
    return it == all.rend() ? Lines{} : Lines(it.base() - 1, all.end());
  }
  int count(const std::string& window, const std::string& line) {
    const auto lines = linesOf(window);
    return static_cast<int>(std::count(lines.begin(), lines.end(), line));
  }

  RecordingHost host;
  std::unique_ptr<Session> session;
};

}  // namespace

// A silent server is pinged, then dropped; only a welcomed session comes back
// (a first connect that never got in stays dropped). An answered ping keeps the
// connection and is not shown; someone else's PONG is.
TEST_F(KeeperTest, TheLagCheck) {
  session->KeepAlive().pingInterval = 2;
  session->KeepAlive().pingTimeout = 3;
  {
    LoopbackServer server;
    registerWith(server);
    ASSERT_TRUE(server.waitReceived("PING :zorv-lag-1\r\n"));
    server.send(":srv PONG srv :zorv-lag-1\r\n");
    ASSERT_TRUE(server.waitReceived("PING :zorv-lag-2\r\n"));  // answered: the connection stays
    server.send(":srv PONG srv :not-ours\r\n");
    ASSERT_TRUE(waitFor([&] { return count("Server", "<srv>PONG srv :not-ours"); }));
    EXPECT_EQ(session->Socket().State(), wsConnected);
    EXPECT_EQ(serverLinesFrom("Welcome to the test"), (Lines{"Welcome to the test", "<srv>PONG srv :not-ours"}));
    endAll();
  }
  for (const bool welcomed : {true, false}) {
    LoopbackServer server;
    session->KeepAlive().reconnect = true;
    welcomed ? registerWith(server) : connectTo(server);
    ASSERT_TRUE(server.waitReceived("PING :zorv-lag-"));
    ASSERT_TRUE(server.waitPeerClosed());
    ASSERT_TRUE(waitFor([&] { return count("Server", "Disconnected"); }));
    const Lines tail = welcomed ? Lines{"Disconnected", "Reconnecting in 10 seconds"} : Lines{"Disconnected"};
    EXPECT_EQ(serverLinesFrom("Ping timeout: no data from the server for 5 seconds").size(), tail.size() + 1);
    EXPECT_EQ(serverLinesFrom("Disconnected"), tail) << welcomed;
    endAll();
  }
}

// Every way back to the same server and port joins the open channels again,
// once, keys first (after Disconnect and Connect too; a channel left is not
// joined); another server or port joins nothing. Each conversation window is
// told once of the loss. The reconnect leaves the user where they are; a
// Connect the user presses brings Server to the front.
TEST_F(KeeperTest, EveryWayBackJoinsTheOpenChannelsAndOnlyTheUsersConnectTakesTheFocus) {
  enum End { Close, Reset, Silence, Disconnect };
  const struct {
    const char* what;
    End end;
    bool byUser;         // Connect pressed (during the wait, or after Disconnect)
    const char* server;  // typed into Server before Connect ("" keeps it)
    bool otherPort;
    bool joined;
    const char* reason;  // shown in the Server window
  } cases[] = {
      {"closed, reconnected", Close, false, "", false, true, "The server closed the connection"},
      {"reset, reconnected", Reset, false, "", false, true, "Connection lost, error #10054"},
      {"dropped by the lag check", Silence, false, "", false, true,
       "Ping timeout: no data from the server for 10 seconds"},
      {"closed, Connect during the wait", Close, true, "", false, true, "The server closed the connection"},
      {"Disconnect, Connect", Disconnect, true, "", false, true, ""},
      {"Disconnect, Connect to another server", Disconnect, true, "127.1", false, false, ""},
      {"Disconnect, Connect to another port", Disconnect, true, "", true, false, ""},
  };
  for (const auto& c : cases) {
    LoopbackServer first, other;
    session->KeepAlive().pingInterval = c.end == Silence ? 5 : 3600;
    session->KeepAlive().pingTimeout = 5;
    // Connect during the wait goes at once, not when the wait is over.
    session->Keeper().SetTimeScale(c.byUser ? 1000 : kMsPerSecond);
    registerWith(first);
    session->SendMsg("JOIN #b sesame");
    first.send(":me!u@h JOIN :#a\r\n:me!u@h JOIN :#b\r\n:me!u@h JOIN :#gone\r\n:carol!c@h PRIVMSG me :hi\r\n");
    ASSERT_TRUE(waitFor([&] { return host.find("carol") != nullptr; }));
    closeWindow("#gone");
    ASSERT_TRUE(first.waitReceived("PART #gone"));
    host.serverToFront = 0;
    if (c.end == Close) first.closeClient();
    if (c.end == Reset) first.resetClient();
    if (c.end == Disconnect) session->Disconnect();
    ASSERT_TRUE(waitFor([&] { return session->Socket().State() == wsClosed; })) << c.what;
    EXPECT_EQ(session->Keeper().Waiting(), c.end != Disconnect) << c.what;
    EXPECT_EQ(host.disconnectEnabled, c.end != Disconnect) << c.what;
    if (*c.reason) EXPECT_EQ(count("Server", c.reason), 1) << c.what;
    for (const char* name : {"#a", "#b", "carol"}) EXPECT_EQ(count(name, "*** Disconnected"), 1) << c.what << name;
    EXPECT_EQ(count("Server", "*** Disconnected"), 0);
    session->KeepAlive().pingInterval = 3600;
    first.closeClient();
    first.clearReceived();
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
    EXPECT_EQ(host.serverToFront, c.byUser ? 1 : 0) << c.what;
    endAll();
    host.target.server = host.target.host = "127.0.0.1";
  }
}

// Disconnect, or the Server window closed, ends a welcomed session with QUIT;
// after a loss the same or the reconnect switched off calls the reconnect off,
// as does the main window closing. Then nobody comes back.
TEST_F(KeeperTest, WhatTheUserDoesCallsTheReconnectOff) {
  enum When { ByHand, BeforeTheLoss, DuringTheWait };
  const struct {
    const char* what;
    When when;
    std::function<void(KeeperTest&)> act;
  } cases[] = {
      {"Disconnect", ByHand, [](KeeperTest& t) { t.session->Disconnect(); }},
      {"Server window closed", ByHand, [](KeeperTest& t) { t.closeWindow("Server"); }},
      {"Reconnect off", BeforeTheLoss, [](KeeperTest& t) { t.session->KeepAlive().reconnect = false; }},
      {"Disconnect in the wait", DuringTheWait, [](KeeperTest& t) { t.session->Disconnect(); }},
      {"Server window closed in the wait", DuringTheWait, [](KeeperTest& t) { t.closeWindow("Server"); }},
      {"main window closed in the wait", DuringTheWait, [](KeeperTest& t) { t.session->CallOffReconnect(); }},
  };
  for (const auto& c : cases) {
    LoopbackServer server;
    session->KeepAlive().reconnect = true;
    registerWith(server);
    if (c.when != DuringTheWait) c.act(*this);
    if (c.when == ByHand) {
      ASSERT_TRUE(server.waitPeerClosed()) << c.what;
      EXPECT_EQ(server.received(), "QUIT http://zorv.sourceforge.net/\r\n") << c.what;
    }
    server.closeClient();
    ASSERT_TRUE(waitFor([&] { return session->Socket().State() == wsClosed; })) << c.what;
    if (c.when == DuringTheWait) {
      ASSERT_TRUE(waitFor([&] { return session->Keeper().Waiting(); })) << c.what;
      c.act(*this);
    }
    if (c.when != DuringTheWait && host.find("Server")) EXPECT_EQ(linesOf("Server").back(), "Disconnected") << c.what;
    EXPECT_FALSE(session->Keeper().Waiting()) << c.what;
    EXPECT_FALSE(host.disconnectEnabled) << c.what;
    EXPECT_EQ(host.state, ConnectionState::Idle) << c.what;
    pumpFor(600);  // three times the wait
    EXPECT_FALSE(server.accept(0)) << c.what;
    endAll();
  }
}

TEST_F(KeeperTest, FailedAttemptsDoubleTheWaitAndAWelcomeStartsItAgain) {
  LoopbackServer server;
  const std::string port = std::to_string(server.port());
  registerWith(server);
  session->AddText("#a", "open", true);
  server.closeClient();
  ASSERT_TRUE(waitFor([&] { return count("Server", "Reconnecting in 10 seconds"); }));
  host.target.port = std::to_string(testsupport::unusedPort());
  ASSERT_TRUE(waitFor([&] { return count("Server", "Reconnecting in 20 seconds"); }));
  EXPECT_EQ(serverLinesFrom("No server available"),
            (Lines{"No server available", "Disconnected", "Reconnecting in 20 seconds"}));
  ASSERT_TRUE(waitFor([&] { return count("Server", "Reconnecting in 40 seconds"); }));
  EXPECT_EQ(count("#a", "*** Disconnected"), 1);  // once for the connection, not per attempt
  host.target.port = port;
  ASSERT_TRUE(server.waitReceived("USER ", 5000));
  server.send(":srv 001 me :Welcome back\r\n");
  ASSERT_TRUE(waitFor([&] { return count("Server", "Welcome back"); }));
  server.closeClient();
  ASSERT_TRUE(waitFor([&] { return serverLinesFrom("Welcome back").size() >= 4; }));
  EXPECT_EQ(serverLinesFrom("Welcome back").back(), "Reconnecting in 10 seconds");
  EXPECT_EQ(count("#a", "*** Disconnected"), 2);
}

TEST_F(KeeperTest, AServerThatStopsReadingIsDroppedOnceTheQueuePassesOneMebibyte) {
  LoopbackServer server;
  connectTo(server);
  const std::string big(100000, 'x');
  const std::string said =
      "The server has stopped reading: more than 1 MiB waits to be sent, so the connection is closed";
  int peak = 0;
  for (int i = 0; i < 2000 && !count("Server", said); ++i) {
    session->SendMsg("PRIVMSG #a :" + big);
    peak = std::max(peak, session->Socket().BufferedByteCount());
  }
  EXPECT_LE(peak, static_cast<int>(ConnectionKeeper::kSendQueueLimit));
  ASSERT_TRUE(waitFor([&] { return session->Socket().State() == wsClosed; }));
  EXPECT_EQ(serverLinesFrom(said), (Lines{said, "Disconnected"}));
}
