// End to end: the IRC server (ngircd) goes away while Zorv sits in two
// channels and comes back on the same port; Zorv reconnects by itself, joins
// both channels again, and a plain client there reads what Zorv says next.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QListView>
#include <QTemporaryDir>
#include <memory>

#include "Childwin.h"
#include "ConnectionKeeper.h"
#include "E2eWindows.h"
#include "IrcServer.h"
#include "Main.h"
#include "TestSupport.h"
#include "Text.h"
#include "TextPane.h"

using testsupport::IrcClient;
using testsupport::IrcServer;
using testsupport::waitFor;

namespace {

class ReconnectE2e : public ::testing::Test {
 protected:
  void SetUp() override {
    server = std::make_unique<IrcServer>();
    if (!server->running()) GTEST_SKIP() << server->error();
    ASSERT_TRUE(dir.isValid());
    form = std::make_unique<TMainForm>(dir.path());
    form->Keeper->SetTimeScale(50);  // the first wait of 10 seconds lasts half a second
    form->show();
  }
  void TearDown() override {
    if (form) form->close();
    form.reset();
  }

  TMDIChild* window(const std::string& name) { return e2e::window(*form, name); }
  int countInWindow(const std::string& name, const std::string& part) {
    return e2e::countInWindow(*form, name, part);
  }
  bool listed(const std::string& channel, const std::string& entry) { return e2e::listed(*form, channel, entry); }
  void type(const std::string& windowName, const std::string& text) { e2e::type(*form, windowName, text); }

  std::unique_ptr<IrcServer> server;
  QTemporaryDir dir;
  std::unique_ptr<TMainForm> form;
};

}  // namespace

TEST_F(ReconnectE2e, ServerRestartIsFollowedByReconnectAndRejoinOfBothChannels) {
  form->EditNick->setText("zorv");
  form->EditServer->setText("127.0.0.1");
  form->EditPort->setText(QString::number(server->port()));
  form->BtnConnectClick();
  const std::string welcome = "Welcome to the Internet Relay Network";
  ASSERT_TRUE(waitFor([&] { return countInWindow("Server", welcome) == 1; }, 10000));
  type("Server", "/join #one");
  type("Server", "/join #two");
  ASSERT_TRUE(waitFor([&] { return listed("#one", "@zorv") && listed("#two", "@zorv"); }));

  server->stop();
  ASSERT_TRUE(waitFor([&] { return countInWindow("Server", "Reconnecting in ") >= 1; }, 10000));
  // Nothing to join while the server is away.
  EXPECT_FALSE(listed("#one", "@zorv"));
  ASSERT_TRUE(server->start());

  ASSERT_TRUE(waitFor([&] { return countInWindow("Server", welcome) == 2; }, 20000));
  ASSERT_TRUE(waitFor([&] { return listed("#one", "@zorv") && listed("#two", "@zorv"); }, 10000));

  IrcClient watcher(server->port());
  ASSERT_TRUE(watcher.registerAs("watcher"));
  watcher.sendLine("JOIN #one,#two");
  ASSERT_FALSE(watcher.waitLine("366 watcher #two").empty());
  ASSERT_TRUE(waitFor([&] { return listed("#two", "watcher"); }));
  type("#one", "back again");
  type("#two", "here too");
  EXPECT_FALSE(watcher.waitLine("PRIVMSG #one :back again").empty());
  EXPECT_FALSE(watcher.waitLine("PRIVMSG #two :here too").empty());
  EXPECT_EQ(countInWindow("Server", "Reconnecting in "), countInWindow("Server", "Disconnected"));
}
