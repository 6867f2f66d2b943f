// End to end: Zorv (its real main window, in process) against a real IRC
// server (ngircd on a free loopback port, plain, over TLS and on ::1) with
// plain test clients talking to it.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QTest>
#include <QTemporaryDir>
#include <algorithm>
#include <memory>

#include "ConnectionSettings.h"
#include "IrcServer.h"
#include "MessageBox.h"
#include "TestSupport.h"
#include "ZorvWindows.h"

using namespace testsupport;

class E2e : public ::testing::Test {
 protected:
  virtual bool tls() const { return false; }
  void SetUp() override {
    server = std::make_unique<IrcServer>(tls());
    if (!server->running()) GTEST_SKIP() << server->error();
    // The test's CA is trusted through SSL_CERT_FILE, as by any OpenSSL program.
    if (tls()) ::setenv("SSL_CERT_FILE", server->caFile().c_str(), 1);
    form = std::make_unique<TMainForm>(dir.path());
    form->show();
  }
  void TearDown() override {
    if (form) form->close();
    form.reset();
    ::unsetenv("SSL_CERT_FILE");
  }
  int count(const std::string& name, const std::string& part) { return countInWindow(*form, name, part); }
  bool waitWindowHas(const std::string& name, const std::string& part, int ms = 5000) {
    return waitFor([&] { return count(name, part) > 0; }, ms);
  }
  bool inList(const std::string& channel, std::initializer_list<const char*> entries) {
    return std::all_of(entries.begin(), entries.end(), [&](const char* e) { return listed(*form, channel, e); });
  }
  void connectZorv(const std::string& nick, int welcomes = 1) {
    form->nickField->setText(QString::fromStdString(nick));
    form->serverField->setText("127.0.0.1");
    form->portField->setText(QString::number(tls() ? server->tlsPort() : server->port()));
    form->tlsBox->setChecked(tls());
    form->OnConnectClicked();
    ASSERT_TRUE(waitFor([&] { return count("Server", "Welcome to the Internet Relay Network") == welcomes; }, 15000));
  }
  // A plain client registered on the plain port, in the channel when one is given.
  std::unique_ptr<IrcClient> client(const std::string& nick, const std::string& channel = "") {
    auto c = std::make_unique<IrcClient>(server->port());
    EXPECT_TRUE(c->registerAs(nick));
    if (!channel.empty()) {
      c->sendLine("JOIN " + channel);
      EXPECT_FALSE(c->waitLine(" 366 ").empty());
    }
    return c;
  }

  std::unique_ptr<IrcServer> server;
  QTemporaryDir dir;
  std::unique_ptr<TMainForm> form;
};

// The QUIT reaches the channel, from Disconnect and from the program's end.
TEST_F(E2e, RegistersAndQuitReachesTheChannel) {
  for (const bool atEnd : {false, true}) {
    auto watcher = client(atEnd ? "watcher2" : "watcher", "#quit");
    connectZorv("zorv", atEnd ? 2 : 1);
    type(*form, "Server", "/join #quit");
    ASSERT_NE(watcher->waitLine("JOIN").find(":zorv!"), std::string::npos);
    atEnd ? (form->close(), form.reset()) : form->OnDisconnectClicked();
    const std::string quit = watcher->waitLine(" QUIT ");
    EXPECT_NE(quit.find(":zorv!"), std::string::npos) << quit;
    EXPECT_NE(quit.find("http://zorv.sourceforge.net/"), std::string::npos) << quit;
    if (!atEnd) EXPECT_TRUE(waitWindowHas("Server", "Disconnected"));
  }
}

// A day in a channel with another user: topic, messages both ways, the
// commands of the input line, CTCP answers with their exact texts, operator
// status, a nick change, a kick and the rejoin, /query.
TEST_F(E2e, ChannelLifeWithAnotherUser) {
  auto owner = client("ann");
  IrcClient& ann = *owner;
  ann.sendLine("JOIN #life");
  ann.sendLine("TOPIC #life :all about life");
  ASSERT_FALSE(ann.waitLine(" TOPIC ").empty());
  connectZorv("zorv");
  type(*form, "Server", "/join #life");
  ASSERT_TRUE(waitFor([&] { return inList("#life", {"@ann", "zorv"}); }));
  EXPECT_EQ(window(*form, "#life")->Caption(), "#life - all about life");

  const std::pair<const char*, const char*> typed[] = {
      {"hello all", "PRIVMSG #life :hello all"},
      {"/msg ann a secret", "PRIVMSG ann :a secret"},
      {"/me waves", "PRIVMSG #life :\001ACTION waves\001"},
      {"/topic #life the day's topic", "TOPIC #life :the day's topic"},
  };
  for (const auto& [text, heard] : typed) {
    type(*form, "#life", text);
    EXPECT_FALSE(ann.waitLine(heard).empty()) << text;
  }
  EXPECT_TRUE(waitFor([&] { return window(*form, "#life")->Caption() == "#life - the day's topic"; }));
  ann.sendLine("PRIVMSG #life :hi zorv");
  EXPECT_TRUE(waitWindowHas("#life", "<ann>hi zorv"));
  ann.sendLine("PRIVMSG zorv :psst");
  EXPECT_TRUE(waitWindowHas("ann", "<ann>psst"));
  type(*form, "ann", "yes?");
  EXPECT_FALSE(ann.waitLine("PRIVMSG ann :yes?").empty());

  const std::pair<const char*, const char*> ctcp[] = {
      {"VERSION", "NOTICE ann :\001VERSION Zorv 2.9.22R [Win95/98/NT]\001"},
      {"PING 12345", "NOTICE ann :\001PING 12345\001"},
      {"CLIENTINFO", "NOTICE ann :\001CLIENTINFO Zorv 2.9.22R You may find lastest version of Zorv at "
                     "Zorv homepage http://zorv.sourceforge.net/\001"},
      {"TIME", "NOTICE ann :\001TIME "},
  };
  for (const auto& [request, answer] : ctcp) {
    ann.sendLine(std::string("PRIVMSG zorv :\001") + request + "\001");
    EXPECT_FALSE(ann.waitLine(answer).empty()) << request;
  }
  EXPECT_TRUE(waitWindowHas("Server", "*** CTCP TIME from ann"));

  ann.sendLine("MODE #life +o zorv");
  ASSERT_TRUE(waitFor([&] { return inList("#life", {"@zorv"}); }));
  type(*form, "#life", "/kick #life ann enough");
  EXPECT_FALSE(ann.waitLine("KICK #life ann :enough").empty());
  ASSERT_TRUE(waitFor([&] { return !listed(*form, "#life", "@ann"); }));
  ann.sendLine("JOIN #life");
  ann.sendLine("NICK anna");
  ASSERT_TRUE(waitFor([&] { return inList("#life", {"anna"}); }));
  EXPECT_TRUE(waitWindowHas("#life", "*** ann is known as anna"));
  EXPECT_NE(window(*form, "anna"), nullptr);
  type(*form, "#life", "/mode #life +o anna");
  ASSERT_TRUE(waitFor([&] { return inList("#life", {"@anna"}); }));
  ann.sendLine("KICK #life zorv :out");
  EXPECT_TRUE(waitWindowHas("#life", "*** KICK: zorv has been kicked from #life by anna because out."));
  // The rejoin fills the list again from the names replies.
  ASSERT_TRUE(waitFor([&] { return inList("#life", {"@anna", "zorv"}); }));

  // /query opens the private window in front with the keyboard in its input line.
  form->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
  type(*form, "Server", "/query anna hello there");
  EXPECT_FALSE(ann.waitLine("PRIVMSG anna :hello there").empty());
  EXPECT_EQ(form->ActiveChild(), window(*form, "anna"));
  EXPECT_TRUE(waitFor([&] { return QApplication::focusWidget() == window(*form, "anna")->inputLine; }));
  EXPECT_EQ(linesOf(*form, "anna").back(), "<zorv>hello there");
  type(*form, "#life", "/part");
  ASSERT_TRUE(waitFor([&] { return window(*form, "#life") == nullptr; }));
}

// A line far longer than a server takes, typed into a channel, reaches the
// others whole in several messages, and Zorv stays connected.
TEST_F(E2e, ALongLineReachesTheChannelInPiecesAndZorvStaysOn) {
  auto watcher = client("watcher");
  connectZorv("zorv");
  type(*form, "Server", "/join #long");
  ASSERT_TRUE(waitFor([&] { return inList("#long", {"@zorv"}); }));
  watcher->sendLine("JOIN #long");
  ASSERT_TRUE(waitFor([&] { return inList("#long", {"watcher"}); }));
  // 1,200 characters: words, and two-byte characters that may fall on a cut.
  QString typed;
  for (int i = 0; typed.size() < 1200; ++i)
    typed += QString::fromUtf8(i % 3 ? "caf\xc3\xa9 " : "mot\xc3\xa9\xc3\xa9s ");
  typed.truncate(1199);
  typed += QLatin1Char('!');
  const std::string expected = zorv::fromInput(typed);
  type(*form, "#long", expected);
  const std::string marker = " PRIVMSG #long :";
  std::string received;
  int pieces = 0;
  ASSERT_TRUE(waitFor([&] {
    const std::string line = watcher->waitLine(marker, 50);
    if (!line.empty()) {
      received += line.substr(line.find(marker) + marker.size());
      ++pieces;
      EXPECT_LE(line.size() + 2, 512u);
    }
    return received.size() >= expected.size();
  }, 10000)) << received.size() << " of " << expected.size() << " in " << pieces;
  EXPECT_EQ(received, expected);
  EXPECT_GE(pieces, 3);
  EXPECT_EQ(count("Server", "Disconnected"), 0);
}

// ngircd listening on ::1 only: Zorv connects by the literal, bare and in
// brackets, and by a name that resolves to ::1, and each time registers,
// joins and talks. The name is one the look-up hook answers with 127.0.0.1
// (refused: nothing listens there) before ::1.
TEST_F(E2e, OverIPv6ByLiteralAndByName) {
  IrcServer six(false, "::1");
  if (!six.running()) GTEST_SKIP() << six.error();
  IrcClient ann(six.port(), "::1");
  ASSERT_TRUE(ann.registerAs("ann"));
  ann.sendLine("JOIN #six");
  ASSERT_FALSE(ann.waitLine(" 366 ").empty());
  form->session->Socket().SetResolver([](const std::string& host) {
    if (host == "six.test") return zorv::TLookupAnswer{0, {"127.0.0.1", "::1"}};
    return zorv::WSocketSystemResolve(host);
  });
  const std::vector<std::string> servers = {"::1", "[::1]", "six.test"};
  for (size_t i = 0; i < servers.size(); ++i) {
    SCOPED_TRACE(servers[i]);
    form->nickField->setText("zorv6");
    form->serverField->setText(QString::fromStdString(servers[i]));
    form->portField->setText(QString::number(six.port()));
    form->OnConnectClicked();
    ASSERT_TRUE(waitFor([&] { return count("Server", "Welcome to the Internet Relay Network") > int(i); }, 10000));
    EXPECT_EQ(form->session->Socket().GetPeerAddr(), "::1");
    type(*form, "Server", "/join #six");
    ASSERT_TRUE(waitFor([&] { return inList("#six", {"zorv6", "@ann"}); }));
    const std::string n = std::to_string(i);
    type(*form, "#six", "hello over IPv6 " + n);
    EXPECT_FALSE(ann.waitLine("PRIVMSG #six :hello over IPv6 " + n).empty());
    ann.sendLine("PRIVMSG #six :hi zorv6 " + n);
    EXPECT_TRUE(waitWindowHas("#six", "<ann>hi zorv6 " + n));
    form->OnDisconnectClicked();
    ASSERT_TRUE(waitFor([&] { return form->session->Socket().State() == wsClosed; }));
    EXPECT_FALSE(ann.waitLine("QUIT").empty());
  }
  EXPECT_EQ(count("Server", "Server name unknown") + count("Server", "No server available"), 0);
}

// Zorv sits in two channels when the connection ends, by the server going
// away (Zorv reconnects by itself) or by the user's Disconnect and Connect;
// either way both channels are joined again, each window told once of the
// loss, and a plain client there reads what Zorv says next.
TEST_F(E2e, BothChannelsAreJoinedAgainAfterAServerRestartAndAfterDisconnectConnect) {
  form->session->Keeper().SetTimeScale(50);  // the first wait of 10 seconds lasts half a second
  for (const bool byHand : {false, true}) {
    const std::string me = byHand ? "zorv2" : "zorv";
    connectZorv(me);
    type(*form, "Server", "/join #one");
    type(*form, "Server", "/join #two");
    auto bothOp = [&] { return listed(*form, "#one", "@" + me) && listed(*form, "#two", "@" + me); };
    ASSERT_TRUE(waitFor(bothOp));
    if (byHand) {
      form->OnDisconnectClicked();
      form->OnConnectClicked();
    } else {
      server->stop();
      ASSERT_TRUE(waitFor([&] { return count("Server", "Reconnecting in ") >= 1; }, 10000));
      EXPECT_FALSE(listed(*form, "#one", "@" + me));  // nothing to join while the server is away
      ASSERT_TRUE(server->start());
    }
    ASSERT_TRUE(waitFor([&] { return count("Server", "Welcome to the Internet Relay Network") == 2; }, 20000));
    ASSERT_TRUE(waitFor(bothOp, 10000)) << byHand;
    const std::string other = "watcher" + std::to_string(byHand);
    auto watcher = client(other);
    watcher->sendLine("JOIN #one,#two");
    ASSERT_FALSE(watcher->waitLine("366 " + other + " #two").empty()) << byHand;
    type(*form, "#one", "back again");
    type(*form, "#two", "here too");
    EXPECT_FALSE(watcher->waitLine("PRIVMSG #one :back again").empty()) << byHand;
    EXPECT_FALSE(watcher->waitLine("PRIVMSG #two :here too").empty()) << byHand;
    for (const char* name : {"#one", "#two"}) EXPECT_EQ(count(name, "*** Disconnected"), 1) << name;
    if (!byHand) EXPECT_EQ(count("Server", "Reconnecting in "), count("Server", "Disconnected"));
    form->OnDisconnectClicked();
    for (const char* name : {"#one", "#two", "Server"}) window(*form, name)->CloseWindow();
    waitFor([&] { return form->Children().empty(); });
  }
}

// Over TLS to ngircd's TLS port: registers, joins and talks; a plain client on
// the plain port hears it.
class E2eTls : public E2e {
  bool tls() const override { return true; }
};

TEST_F(E2eTls, RegistersJoinsAndTalksOverTls) {
  auto watcher = client("watcher", "#secure");
  connectZorv("zorvtls");
  type(*form, "Server", "/join #secure");
  ASSERT_TRUE(waitFor([&] { return window(*form, "#secure") != nullptr; }));
  type(*form, "#secure", "hello over TLS");
  EXPECT_NE(watcher->waitLine("PRIVMSG #secure :hello over TLS").find(":zorvtls!"), std::string::npos);
  watcher->sendLine("PRIVMSG #secure :and back");
  EXPECT_TRUE(waitWindowHas("#secure", "<watcher>and back"));
}

// The channels of the settings are joined once the server has accepted Zorv,
// and a paste of twenty lines reaches another user whole with ngircd's flood
// limits on, without Zorv being thrown off.
TEST_F(E2e, SettingsChannelsJoinedAndATwentyLinePasteArrivesWhole) {
  auto ann = client("ann", "#paste");
  form->connectionSettings->channels = "#paste,#second";
  connectZorv("zorv");
  ASSERT_FALSE(ann->waitLine(":zorv!").empty());
  ASSERT_TRUE(waitFor([&] { return window(*form, "#paste") && window(*form, "#second"); }, 5000));

  const auto previous = zorv::setQuestionAsker([](const QString&, const QString&) { return true; });
  QString paste;
  for (int i = 1; i <= 20; ++i) paste += QStringLiteral("line %1 of the paste\n").arg(i);
  window(*form, "#paste")->Paste(paste);
  zorv::setQuestionAsker(previous);
  EXPECT_TRUE(waitWindowHas("#paste", " lines waiting)"));  // how many depends on what registering used
  ASSERT_FALSE(ann->waitLine("PRIVMSG #paste :line 20 of the paste", 20000).empty());
  std::vector<std::string> said;
  for (const std::string& line : ann->lines())
    if (line.find("PRIVMSG #paste :line ") != std::string::npos) said.push_back(line.substr(line.find(":line ") + 1));
  ASSERT_EQ(said.size(), 20u);
  for (int i = 0; i < 20; ++i) EXPECT_EQ(said[i], "line " + std::to_string(i + 1) + " of the paste");
  EXPECT_EQ(form->session->Socket().State(), wsConnected);  // not thrown off for flooding
  EXPECT_EQ(count("Server", "Flood"), 0);
}
