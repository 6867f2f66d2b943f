// End to end against the software people meet on real networks: inspircd
// with its IRCv3 modules, atheme-services for accounts, and the znc bouncer,
// each started here on loopback ports the system hands out. Zorv is the real
// main window, in process; plain test clients act beside it.
#include <QAction>
#include <QDateTime>
#include <QLineEdit>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <algorithm>
#include <memory>

#include "ConnectionSettings.h"
#include "IrcServer.h"
#include "RealServers.h"
#include "TestSupport.h"
#include "ZorvWindows.h"

using namespace testsupport;

// A server whose package is missing skips the run; one that is there must start.
#define START_OR_SKIP(server)                                              \
  do {                                                                     \
    if ((server).missing()) GTEST_SKIP() << (server).error();              \
    ASSERT_TRUE((server).running()) << (server).error();                   \
  } while (0)

class RealE2e : public ::testing::Test {
 protected:
  void SetUp() override { freshZorv(); }
  void TearDown() override {
    if (form) form->close();
    form.reset();
  }
  void freshZorv() {
    if (form) form->close();
    form.reset();
    ASSERT_TRUE(dir.isValid());
    form = std::make_unique<TMainForm>(dir.path());
    form->show();
  }
  // Connects Zorv as nick to the loopback port and waits for its welcome.
  void connectZorv(int port, const std::string& nick) {
    form->nickField->setText(QString::fromStdString(nick));
    form->serverField->setText("127.0.0.1");
    form->portField->setText(QString::number(port));
    form->OnConnectClicked();
    ASSERT_TRUE(waitFor([&] { return count("Server", "Welcome to the ZorvTest IRC Network") == 1; }, 15000))
        << ::testing::PrintToString(linesOf(*form, "Server"));
  }
  void stampLines() {
    form->timestampsItem->setChecked(true);
    form->OnTimestampsClicked();
  }
  // The lines of a window as shown, time stamps included.
  std::vector<std::string> shown(const std::string& name) {
    std::vector<std::string> out;
    const TMDIChild* c = window(*form, name);
    for (int i = 0; c && i < c->textPane->lineCount(); ++i) out.push_back(c->textPane->shownText(i).toStdString());
    return out;
  }
  // The tool tip of a nick list entry.
  std::string tip(const std::string& channel, const std::string& entry) {
    const QAbstractItemModel* m = window(*form, channel) ? window(*form, channel)->nickList->model() : nullptr;
    for (int i = 0; m && i < m->rowCount(); ++i)
      if (m->index(i, 0).data().toString().toStdString() == entry)
        return m->index(i, 0).data(Qt::ToolTipRole).toString().toStdString();
    return "<not listed>";
  }
  // The time on the clock of a server started with clockBehindHours = kBehind.
  static constexpr int kBehind = 2;
  static QDateTime serverNow() { return QDateTime::currentDateTime().addSecs(-kBehind * 3600); }
  // Where the window shows text stamped with the minute of from or of to (-1: nowhere).
  int shownAt(const std::string& name, const std::string& text, const QDateTime& from, const QDateTime& to) {
    const std::vector<std::string> lines = shown(name);
    for (const QDateTime& t : {from, to}) {
      const auto at = std::find(lines.begin(), lines.end(), "[" + t.toString("HH:mm").toStdString() + "] " + text);
      if (at != lines.end()) return static_cast<int>(at - lines.begin());
    }
    return -1;
  }
  int count(const std::string& window, const std::string& part) { return countInWindow(*form, window, part); }
  bool waitShown(const std::string& window, const std::string& part, int ms = 5000) {
    return waitFor([&] { return count(window, part) > 0; }, ms);
  }
  // A plain client registered on port, in the channel when one is given.
  static std::unique_ptr<IrcClient> client(int port, const std::string& nick, const std::string& channel = "") {
    auto c = std::make_unique<IrcClient>(port);
    EXPECT_TRUE(c->registerAs(nick)) << nick << ::testing::PrintToString(c->lines());
    if (!channel.empty()) {
      c->sendLine("JOIN " + channel);
      EXPECT_FALSE(c->waitLine(" 366 ").empty()) << nick;
    }
    return c;
  }

  QTemporaryDir dir;
  std::unique_ptr<TMainForm> form;
};

// Zorv registers with the capabilities inspircd offers while a plain client
// acts in a channel: both of its prefixes show in the nick list and stay
// with its new nick, its going away shows there, its host change makes no
// quit and join; Zorv's own line comes back from the server once, and the
// stamps are the server's times (its clock runs two hours behind).
TEST_F(RealE2e, CapabilitiesAgainstInspircd) {
  Inspircd ircd({.clockBehindHours = kBehind});
  START_OR_SKIP(ircd);
  auto ann = client(ircd.port(), "ann", "#v3");
  ann->sendLine("MODE #v3 +v ann");
  ann->sendLine(std::string("OPER ") + Inspircd::kOper + " " + Inspircd::kOperPassword);
  ASSERT_FALSE(ann->waitLine(" 381 ann ").empty());
  stampLines();
  connectZorv(ircd.port(), "zorv");
  EXPECT_EQ(count("Server", "multi-prefix"), 0);  // the negotiation is not shown
  type(*form, "Server", "/join #v3");
  ASSERT_TRUE(waitFor([&] { return listed(*form, "#v3", "@+ann"); })) << ::testing::PrintToString(nicks(*form, "#v3"));

  const QDateTime said = serverNow();
  type(*form, "#v3", "hello v3");
  EXPECT_FALSE(ann->waitLine("PRIVMSG #v3 :hello v3").empty());
  ann->sendLine("CHGHOST ann moved.zorv.test");
  ann->sendLine("NICK anna");
  ann->sendLine("AWAY :lunch");
  ann->sendLine("PRIVMSG #v3 :after");
  // The server echoes Zorv's line before it relays what ann said next.
  ASSERT_TRUE(waitShown("#v3", "<anna>after"));
  const QDateTime saidEnd = serverNow();
  EXPECT_EQ(count("#v3", "hello v3"), 1);
  EXPECT_NE(tip("#v3", "@+anna").find("Away"), std::string::npos) << ::testing::PrintToString(nicks(*form, "#v3"));
  EXPECT_EQ(count("#v3", "*** QUIT: ann") + count("#v3", "*** JOIN: ann"), 0);
  for (const char* text : {"<zorv>hello v3", "<anna>after"})
    EXPECT_GE(shownAt("#v3", text, said, saidEnd), 0) << text << ::testing::PrintToString(shown("#v3"));
}

// An account registered with NickServ; a fresh Zorv logs in to it with SASL
// PLAIN (the server then names the account in WHOIS, and Zorv shows the
// account of a nick that joins), and with a wrong
// password the server refuses and Zorv goes on without an account. The
// password reaches no window either way.
TEST_F(RealE2e, SaslPlainAgainstAtheme) {
  Inspircd ircd({.services = true});
  START_OR_SKIP(ircd);
  Atheme services(ircd);
  START_OR_SKIP(services);
  auto owner = client(ircd.port(), "owner");
  owner->sendLine("PRIVMSG NickServ :REGISTER sesame-e2e owner@zorv.test");
  ASSERT_NE(owner->waitLine("NickServ!").find("registered"), std::string::npos);

  for (const bool wrong : {false, true}) {
    const std::string nick = wrong ? "guest" : "zorv";
    const std::string password = wrong ? "not-sesame" : "sesame-e2e";
    freshZorv();
    form->connectionSettings->account = "owner";
    form->connectionSettings->password = QString::fromStdString(password);
    connectZorv(ircd.port(), nick);
    owner->sendLine("WHOIS " + nick);
    ASSERT_FALSE(owner->waitLine(" 318 owner " + nick + " ").empty());
    // The server's word on the account Zorv is logged in to.
    const auto account = std::count_if(owner->lines().begin(), owner->lines().end(), [&](const std::string& l) {
      return l.find(" 330 owner " + nick + " owner :") != std::string::npos;
    });
    EXPECT_EQ(account, wrong ? 0 : 1);
    if (wrong) {
      EXPECT_EQ(count("Server", "SASL authentication failed"), 1);
      EXPECT_EQ(count("Server", "*** SASL login failed; going on without logging in"), 1);
    } else {
      EXPECT_EQ(count("Server", "You are now logged in as owner"), 1);
      EXPECT_EQ(count("Server", "SASL authentication successful"), 1);
      // The account someone joins with shows in the nick list's tool tip.
      type(*form, "Server", "/join #acct");
      ASSERT_TRUE(waitFor([&] { return listed(*form, "#acct", "@zorv"); }));
      owner->sendLine("JOIN #acct");
      EXPECT_TRUE(waitFor([&] { return tip("#acct", "owner").find("Account: owner") != std::string::npos; }))
          << tip("#acct", "owner");
    }
    EXPECT_EQ(count("Server", "sesame"), 0);
  }
}

// Zorv connects to znc with its password while someone talks in the channel
// it sits in; znc plays back what was said. The server's clock runs two hours
// behind, so the stamps show whether they come from the lines' own times.
TEST_F(RealE2e, BouncerPlaysBackWhatWasSaidWithItsTimes) {
  Inspircd ircd({.clockBehindHours = kBehind});
  START_OR_SKIP(ircd);
  auto bob = client(ircd.port(), "bob", "#away");
  Znc znc(ircd.port(), "zorv", "bouncer-e2e", "#away");
  START_OR_SKIP(znc);
  ASSERT_FALSE(bob->waitLine(":zorv!", 10000).empty()) << "znc did not join #away";
  const QDateTime said = serverNow();
  bob->sendLine("PRIVMSG #away :first while you were away");
  bob->sendLine("PRIVMSG #away :second while you were away");
  // znc answers a version request itself while no client is attached, after
  // the lines before it have gone into its buffer.
  bob->sendLine("PRIVMSG zorv :\001VERSION\001");
  ASSERT_FALSE(bob->waitLine("NOTICE bob :\001VERSION").empty());
  const QDateTime saidEnd = serverNow();

  stampLines();
  form->connectionSettings->serverPassword = "zorv/net:bouncer-e2e";
  connectZorv(znc.port(), "zorv");
  ASSERT_TRUE(waitShown("#away", "second while you were away"));
  EXPECT_EQ(count("#away", "first while you were away"), 1);
  EXPECT_EQ(count("Server", "bouncer-e2e"), 0);

  const int first = shownAt("#away", "<bob>first while you were away", said, saidEnd);
  EXPECT_GE(first, 0) << ::testing::PrintToString(shown("#away"));
  EXPECT_GT(shownAt("#away", "<bob>second while you were away", said, saidEnd), first);
}
