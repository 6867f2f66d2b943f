// End to end: Zorv (its real main window, in process) against a real IRC
// server (ngircd on a free loopback port) with a plain test client watching.
#include <QApplication>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <algorithm>

#include "Channel.h"
#include "E2eWindows.h"

// The QUIT reaches the channel, from Disconnect and from the program's end.
TEST_F(E2e, RegistersAndQuitReachesTheChannel) {
  for (const bool atEnd : {false, true}) {
    auto watcher = client(atEnd ? "watcher2" : "watcher", "#quit");
    connectZorv("zorv", atEnd ? 2 : 1);
    EXPECT_TRUE(windowHas("Server", "Connected"));
    type("Server", "/join #quit");
    ASSERT_FALSE(watcher->waitLine("JOIN").empty());
    if (atEnd) {
      form->close();
      form.reset();
    } else {
      form->OnDisconnectClicked();
    }
    const std::string quit = watcher->waitLine(" QUIT ");
    EXPECT_NE(quit.find(":zorv!"), std::string::npos) << quit;
    EXPECT_NE(quit.find("http://zorv.sourceforge.net/"), std::string::npos) << quit;
    if (!atEnd) EXPECT_TRUE(waitWindowHas("Server", "Disconnected"));
  }
}

TEST_F(E2e, ChannelLifeWithAnotherUser) {
  auto owner = client("ann");
  IrcClient& ann = *owner;
  ann.sendLine("JOIN #life");
  ann.sendLine("TOPIC #life :all about life");
  ASSERT_FALSE(ann.waitLine(" TOPIC ").empty());

  connectZorv("zorv");
  type("Server", "/join #life");
  ASSERT_TRUE(waitFor([&] { return listed("#life", "@ann") && listed("#life", "zorv"); }));
  EXPECT_EQ(window("#life")->Caption(), "#life - all about life");

  // Channel and private messages both ways.
  type("#life", "hello all");
  EXPECT_FALSE(ann.waitLine("PRIVMSG #life :hello all").empty());
  ann.sendLine("PRIVMSG #life :hi zorv");
  EXPECT_TRUE(waitWindowHas("#life", "<ann>hi zorv"));
  ann.sendLine("PRIVMSG zorv :psst");
  EXPECT_TRUE(waitWindowHas("ann", "<ann>psst"));
  type("ann", "yes?");
  EXPECT_FALSE(ann.waitLine("PRIVMSG ann :yes?").empty());

  // CTCP answers with their exact texts.
  ann.sendLine("PRIVMSG zorv :\001VERSION\001");
  EXPECT_FALSE(ann.waitLine("NOTICE ann :\001VERSION Zorv 2.9.22R [Win95/98/NT]\001").empty());
  ann.sendLine("PRIVMSG zorv :\001PING 12345\001");
  EXPECT_FALSE(ann.waitLine("NOTICE ann :\001PING 12345\001").empty());
  ann.sendLine("PRIVMSG zorv :\001CLIENTINFO\001");
  EXPECT_FALSE(ann.waitLine("NOTICE ann :\001CLIENTINFO Zorv 2.9.22R You may find lastest version of Zorv at "
                            "Zorv homepage http://zorv.sourceforge.net/\001")
                   .empty());
  ann.sendLine("PRIVMSG zorv :\001TIME\001");
  EXPECT_FALSE(ann.waitLine("NOTICE ann :\001TIME ").empty());
  EXPECT_TRUE(waitWindowHas("Server", "*** CTCP TIME from ann"));

  // Operator status, a nick change, a kick with the rejoin.
  ann.sendLine("MODE #life +o zorv");
  ASSERT_TRUE(waitFor([&] { return listed("#life", "@zorv"); }));
  ann.sendLine("NICK anna");
  ASSERT_TRUE(waitFor([&] { return listed("#life", "@anna"); }));
  EXPECT_TRUE(windowHas("#life", "*** ann is known as anna"));
  EXPECT_NE(window("anna"), nullptr);
  ann.sendLine("KICK #life zorv :out");
  EXPECT_TRUE(waitWindowHas("#life", "*** KICK: zorv has been kicked from #life by anna because out."));
  // The rejoin fills the list again from the names replies.
  ASSERT_TRUE(waitFor([&] { return listed("#life", "@anna") && listed("#life", "zorv"); }));
}

TEST_F(E2e, UsersDayFromTheInputLine) {
  auto owner = client("bob");
  IrcClient& bob = *owner;
  connectZorv("zorv");
  type("Server", "/join #day");
  ASSERT_TRUE(waitFor([&] { return listed("#day", "@zorv"); }));
  bob.sendLine("JOIN #day");
  ASSERT_TRUE(waitFor([&] { return listed("#day", "bob"); }));
  EXPECT_TRUE(windowHas("#day", "*** JOIN: bob ("));

  type("#day", "good morning");
  EXPECT_FALSE(bob.waitLine("PRIVMSG #day :good morning").empty());
  type("#day", "/msg bob a secret");
  EXPECT_FALSE(bob.waitLine("PRIVMSG bob :a secret").empty());
  type("#day", "/topic #day the day's topic");
  EXPECT_FALSE(bob.waitLine("TOPIC #day :the day's topic").empty());
  EXPECT_TRUE(waitFor([&] { return window("#day") && window("#day")->Caption() == "#day - the day's topic"; }));
  type("#day", "/me waves");
  EXPECT_FALSE(bob.waitLine("PRIVMSG #day :\001ACTION waves\001").empty());
  type("#day", "/kick #day bob enough");
  EXPECT_FALSE(bob.waitLine("KICK #day bob :enough").empty());
  ASSERT_TRUE(waitFor([&] { return !listed("#day", "bob"); }));
  type("#day", "/part");
  ASSERT_TRUE(waitFor([&] { return window("#day") == nullptr; }));
  type("Server", "/quit");
  EXPECT_TRUE(waitWindowHas("Server", "Disconnected"));
}

TEST_F(E2e, ChannelListFillsTheGridAndJoins) {
  auto owner = client("ann");
  IrcClient& ann = *owner;
  for (const char* c : {"#one", "#two", "#three"}) ann.sendLine(std::string("JOIN ") + c);
  ann.sendLine("TOPIC #two :second: topic");
  ASSERT_FALSE(ann.waitLine(" TOPIC ").empty());
  connectZorv("zorv");
  form->OnChannelListClicked();
  // The listing is complete once the placeholder row has gone (the server may
  // list channels of its own besides ours).
  auto complete = [&] {
    const int rows = form->channelList->RowCount();
    return form->channelList->isVisible() && rows >= 3 &&
           form->channelList->Cell(0, rows - 1) != "Uncomplete listing.";
  };
  ASSERT_TRUE(waitFor(complete));
  int two = -1;
  for (int r = 0; r < form->channelList->RowCount(); ++r)
    if (form->channelList->Cell(0, r) == "#two") two = r;
  ASSERT_GE(two, 0);
  EXPECT_EQ(form->channelList->Cell(1, two), "1");
  EXPECT_EQ(form->channelList->Cell(2, two), "second: topic");
  form->channelList->grid->selectRow(two);
  form->channelList->OnJoinClicked();
  EXPECT_FALSE(form->channelList->isVisible());
  ASSERT_TRUE(waitFor([&] { return listed("#two", "@ann") && listed("#two", "zorv"); }));
}

// A line far longer than a server takes, typed into a channel, reaches the
// others whole in several messages, and Zorv stays connected.
TEST_F(E2e, ALongLineReachesTheChannelInPiecesAndZorvStaysOn) {
  auto owner = client("watcher");
  IrcClient& watcher = *owner;
  connectZorv("zorv");
  type("Server", "/join #long");
  ASSERT_TRUE(waitFor([&] { return listed("#long", "@zorv"); }));
  watcher.sendLine("JOIN #long");
  ASSERT_TRUE(waitFor([&] { return listed("#long", "watcher"); }));

  // 1,200 characters: words, and two-byte characters that may fall on a cut.
  QString typed;
  for (int i = 0; typed.size() < 1200; ++i) typed += QString::fromUtf8(i % 3 ? "caf\xc3\xa9 " : "mot\xc3\xa9\xc3\xa9s ");
  typed.truncate(1199);
  typed += QLatin1Char('!');
  const std::string expected = zorv::fromInput(typed);
  TMDIChild* chan = window("#long");
  chan->inputLine->setText(typed);
  chan->OnSendClicked();

  const std::string marker = " PRIVMSG #long :";
  std::string received;
  int pieces = 0;
  std::size_t seen = 0;
  ASSERT_TRUE(waitFor([&] {
    watcher.poll();
    for (; seen < watcher.lines().size(); ++seen) {
      const std::string& line = watcher.lines()[seen];
      const auto at = line.find(marker);
      if (at == std::string::npos) continue;
      received += line.substr(at + marker.size());
      ++pieces;
      EXPECT_LE(line.size() + 2, 512u);
    }
    return received.size() >= expected.size();
  }, 10000)) << received.size() << " of " << expected.size() << " in " << pieces;
  EXPECT_EQ(received, expected);
  EXPECT_GE(pieces, 3);
  EXPECT_TRUE(zorv::isValidUtf8(received));

  // Still connected: the channel goes on both ways.
  watcher.sendLine("PRIVMSG #long :still there?");
  EXPECT_TRUE(waitWindowHas("#long", "<watcher>still there?"));
  type("#long", "yes");
  EXPECT_FALSE(watcher.waitLine("PRIVMSG #long :yes").empty());
  EXPECT_FALSE(windowHas("Server", "Disconnected"));
}

// /query opens the private window in front with the keyboard in its input
// line, and the text goes to the other user.
TEST_F(E2e, QueryOpensTheWindowInFrontAndSends) {
  auto owner = client("watcher");
  IrcClient& watcher = *owner;
  connectZorv("zorv");
  form->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
  type("Server", "/query watcher hello there");
  EXPECT_FALSE(watcher.waitLine("PRIVMSG watcher :hello there").empty());
  TMDIChild* query = window("watcher");
  ASSERT_NE(query, nullptr);
  EXPECT_EQ(form->ActiveChild(), query);
  EXPECT_TRUE(waitFor([&] { return QApplication::focusWidget() == query->inputLine; }));
  EXPECT_EQ(paneLines("watcher"), std::vector<std::string>{"<zorv>hello there"});
  type("Server", "/away out for lunch");
  EXPECT_TRUE(waitWindowHas("Server", "You have been marked as being away"));
}

// ngircd listening on ::1 only: Zorv connects by the literal, bare and in
// brackets, and by a name that resolves to ::1, and each time registers,
// joins and talks. The hosts file here maps localhost to 127.0.0.1 only, so
// the name is one the look-up hook answers with 127.0.0.1 (refused: nothing
// listens there) before ::1; localhost is used as well where it maps to ::1.
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
  std::vector<std::string> servers = {"::1", "[::1]", "six.test"};
  const auto local = zorv::WSocketSystemResolve("localhost").Addrs;
  if (std::find(local.begin(), local.end(), "::1") != local.end()) servers.push_back("localhost");

  for (size_t i = 0; i < servers.size(); ++i) {
    SCOPED_TRACE(servers[i]);
    const int n = static_cast<int>(i);
    form->nickField->setText("zorv6");
    form->serverField->setText(QString::fromStdString(servers[i]));
    form->portField->setText(QString::number(six.port()));
    form->OnConnectClicked();
    ASSERT_TRUE(waitFor([&] { return count("Server", "Welcome to the Internet Relay Network") > n; }, 10000));
    EXPECT_EQ(form->session->Socket().GetPeerAddr(), "::1");
    type("Server", "/join #six");
    ASSERT_TRUE(waitFor([&] { return listed("#six", "zorv6") && listed("#six", "@ann"); }));
    const std::string said = "hello over IPv6 " + std::to_string(i);
    type("#six", said);
    EXPECT_FALSE(ann.waitLine("PRIVMSG #six :" + said).empty());
    ann.sendLine("PRIVMSG #six :hi zorv6 " + std::to_string(i));
    EXPECT_TRUE(waitWindowHas("#six", "<ann>hi zorv6 " + std::to_string(i)));
    form->OnDisconnectClicked();
    ASSERT_TRUE(waitFor([&] { return form->session->Socket().State() == wsClosed; }));
    EXPECT_FALSE(ann.waitLine("QUIT").empty());
  }
  EXPECT_EQ(count("Server", "Server name unknown") + count("Server", "No server available"), 0);
}
