// The command line: what it asks for, and an irc:// link opened in the main
// window (connect, then join once the server's welcome has arrived).
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>

#include "AppFixture.h"
#include "CommandLine.h"

using namespace apptest;
using testsupport::LoopbackServer;
using zorv::StartAction;

namespace {

TEST(CommandLine, WhatTheArgumentsAskFor) {
  struct Case {
    std::vector<std::string> args;
    StartAction action;
    std::string link;
  };
  const std::vector<Case> cases = {
      {{}, StartAction::Run, ""},
      {{"irc://host/zorv"}, StartAction::Run, "irc://host/zorv"},
      {{"IRCS://host"}, StartAction::Run, "IRCS://host"},
      {{"irc://host/zo%0Arv"}, StartAction::Run, "irc://host/zo%0Arv"},  // refused later, in the window
      {{"--help"}, StartAction::PrintHelp, ""},
      {{"-h"}, StartAction::PrintHelp, ""},
      {{"--version"}, StartAction::PrintVersion, ""},
      {{"irc://host", "--version"}, StartAction::PrintVersion, ""},
      {{"--bogus", "--help"}, StartAction::PrintHelp, ""},
      {{"--version", "--help"}, StartAction::PrintVersion, ""},  // the first one given
      {{"--bogus"}, StartAction::Refuse, ""},
      {{"-v"}, StartAction::Refuse, ""},
      {{""}, StartAction::Refuse, ""},
      {{"irc.example.org"}, StartAction::Refuse, ""},
      {{"http://host/zorv"}, StartAction::Refuse, ""},
      {{"irc://a", "irc://b"}, StartAction::Refuse, ""},
      {{"irc://a", "extra"}, StartAction::Refuse, ""},
  };
  for (const Case& c : cases) {
    const zorv::StartRequest r = zorv::ReadCommandLine(c.args);
    const std::string shown = c.args.empty() ? "(none)" : c.args[0];
    EXPECT_EQ(r.action, c.action) << shown;
    EXPECT_EQ(r.link, c.link) << shown;
    EXPECT_EQ(r.error.empty(), c.action != StartAction::Refuse) << shown;
  }
  // ircs:// links connect over TLS; the help must not say otherwise.
  EXPECT_EQ(zorv::HelpText().find("not available"), std::string::npos);
  EXPECT_NE(zorv::HelpText().find("ircs://HOST[:PORT]/CHANNEL  the same over TLS"), std::string::npos);
}

TEST_F(AppTest, LinkConnectsAndJoinsOnceRegistered) {
  LoopbackServer server;
  form->nickField->setText("Zed");
  form->ConnectToLink("irc://127.0.0.1:" + std::to_string(server.port()) + "/%23zorv,other");
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
}

TEST_F(AppTest, LinkJoinsNothingOnAnotherServer) {
  // The link's server refuses; the user then connects elsewhere by hand.
  form->ConnectToLink("irc://127.0.0.1:" + std::to_string(testsupport::unusedPort()) + "/%23zorv");
  ASSERT_TRUE(testsupport::waitFor([&] { return hasLine(*form, "Server", "No server available"); }));
  form->OnDisconnectClicked();
  ASSERT_TRUE(testsupport::waitFor([&] { return form->connectButton->isEnabled(); }));
  LoopbackServer server;
  connectTo(server);
  server.clearReceived();
  server.send(":srv 001 YourNick :Welcome\r\nPING :after\r\n");
  ASSERT_TRUE(server.waitReceived("PONG :after\r\n"));
  EXPECT_EQ(server.received(), "PONG :after\r\n");
}

// An ircs:// link turns TLS on (what TLS sends first is checked with the
// switch itself); an irc:// link turns it off again.
TEST_F(AppTest, AnIrcsLinkConnectsWithTls) {
  for (const bool secure : {true, false}) {
    LoopbackServer server;
    form->ConnectToLink((secure ? "ircs" : "irc") + std::string("://127.0.0.1:") + std::to_string(server.port()) + "/zorv");
    EXPECT_EQ(form->tlsBox->isChecked(), secure);
    ASSERT_TRUE(server.accept(5000));
    if (!secure) EXPECT_TRUE(server.waitReceived("NICK "));
    form->OnDisconnectClicked();
    ASSERT_TRUE(testsupport::waitFor([&] { return form->connectButton->isEnabled(); }));
  }
}

TEST_F(AppTest, LinksThatDoNotConnect) {
  struct Case {
    std::string link;  // "$P" stands for the listening port
    const char* server;
    const char* port;
    std::string line;
  };
  const std::vector<Case> cases = {
      {"irc://127.0.0.1:$P/zo%0D%0AQUIT", "irc.libera.chat", "6667",
       "*** Cannot open the link: a channel name holds a control character, blank, comma or colon"},
      {"irc://127.0.0.1:0/zorv", "irc.libera.chat", "6667",
       "*** Cannot open the link: the port is not a number from 1 to 65535"},
  };
  for (const Case& c : cases) {
    LoopbackServer server;
    QTemporaryDir fresh;  // the defaults, not what the previous case saved
    ASSERT_TRUE(fresh.isValid());
    const std::string port = std::to_string(server.port());
    auto fill = [&](std::string s) {
      for (size_t at; (at = s.find("$P")) != std::string::npos;) s.replace(at, 2, port);
      return s;
    };
    form = std::make_unique<TMainForm>(fresh.path());
    form->show();
    form->ConnectToLink(fill(c.link));
    EXPECT_EQ(form->serverField->text().toStdString(), c.server) << c.link;
    EXPECT_EQ(form->portField->text().toStdString(), fill(c.port)) << c.link;
    EXPECT_EQ(linesOf(*form, "Server"), std::vector<std::string>{fill(c.line)}) << c.link;
    EXPECT_TRUE(form->connectButton->isEnabled()) << c.link;
    testsupport::pumpFor(100);
    EXPECT_FALSE(server.accept(0)) << c.link;
    EXPECT_EQ(form->session->Socket().State(), wsClosed) << c.link;
    form->close();
    form.reset();
  }
}

}  // namespace
