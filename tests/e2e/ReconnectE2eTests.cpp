// End to end: Zorv sits in two channels of ngircd when the connection ends,
// and comes back to both.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QListView>
#include <QTemporaryDir>
#include <memory>

#include "Childwin.h"
#include "Session.h"
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
    form->session->Keeper().SetTimeScale(50);  // the first wait of 10 seconds lasts half a second
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

// The connection ends by the server going away (Zorv reconnects by itself)
// or by the user's Disconnect and Connect; either way both channels are
// joined again and a plain client there reads what Zorv says next.
TEST_F(ReconnectE2e, BothChannelsAreJoinedAgainAfterAServerRestartAndAfterDisconnectConnect) {
  const std::string welcome = "Welcome to the Internet Relay Network";
  const std::string nick[] = {"zorv", "zorv2"};
  for (const bool byHand : {false, true}) {
    const std::string me = nick[byHand];
    form->nickField->setText(QString::fromStdString(me));
    form->serverField->setText("127.0.0.1");
    form->portField->setText(QString::number(server->port()));
    form->OnConnectClicked();
    ASSERT_TRUE(waitFor([&] { return countInWindow("Server", welcome) == 1; }, 10000));
    type("Server", "/join #one");
    type("Server", "/join #two");
    ASSERT_TRUE(waitFor([&] { return listed("#one", "@" + me) && listed("#two", "@" + me); }));

    if (byHand) {
      form->OnDisconnectClicked();
      EXPECT_EQ(countInWindow("#one", "*** Disconnected"), 1);
      form->OnConnectClicked();
    } else {
      server->stop();
      ASSERT_TRUE(waitFor([&] { return countInWindow("Server", "Reconnecting in ") >= 1; }, 10000));
      // Nothing to join while the server is away.
      EXPECT_FALSE(listed("#one", "@" + me));
      ASSERT_TRUE(server->start());
    }
    ASSERT_TRUE(waitFor([&] { return countInWindow("Server", welcome) == 2; }, 20000)) << byHand;
    ASSERT_TRUE(waitFor([&] { return listed("#one", "@" + me) && listed("#two", "@" + me); }, 10000)) << byHand;

    IrcClient watcher(server->port());
    ASSERT_TRUE(watcher.registerAs("watcher" + std::to_string(byHand)));
    watcher.sendLine("JOIN #one,#two");
    ASSERT_FALSE(watcher.waitLine("366 watcher" + std::to_string(byHand) + " #two").empty()) << byHand;
    ASSERT_TRUE(waitFor([&] { return listed("#two", "watcher" + std::to_string(byHand)); })) << byHand;
    type("#one", "back again");
    type("#two", "here too");
    EXPECT_FALSE(watcher.waitLine("PRIVMSG #one :back again").empty()) << byHand;
    EXPECT_FALSE(watcher.waitLine("PRIVMSG #two :here too").empty()) << byHand;
    for (const char* name : {"#one", "#two"}) EXPECT_EQ(countInWindow(name, "*** Disconnected"), 1) << name;
    if (!byHand) EXPECT_EQ(countInWindow("Server", "Reconnecting in "), countInWindow("Server", "Disconnected"));
    form->OnDisconnectClicked();
    for (const char* name : {"#one", "#two", "Server"}) window(name)->CloseWindow();
    waitFor([&] { return form->Children().empty(); });
  }
}
