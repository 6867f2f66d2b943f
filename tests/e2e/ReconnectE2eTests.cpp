// End to end: Zorv sits in two channels of ngircd when the connection ends,
// and comes back to both.
#include "ConnectionKeeper.h"
#include "E2eWindows.h"

// The connection ends by the server going away (Zorv reconnects by itself)
// or by the user's Disconnect and Connect; either way both channels are
// joined again and a plain client there reads what Zorv says next.
TEST_F(E2e, BothChannelsAreJoinedAgainAfterAServerRestartAndAfterDisconnectConnect) {
  form->session->Keeper().SetTimeScale(50);  // the first wait of 10 seconds lasts half a second
  const std::string welcome = "Welcome to the Internet Relay Network";
  const std::string nick[] = {"zorv", "zorv2"};
  for (const bool byHand : {false, true}) {
    const std::string me = nick[byHand];
    connectZorv(me);
    type("Server", "/join #one");
    type("Server", "/join #two");
    ASSERT_TRUE(waitFor([&] { return listed("#one", "@" + me) && listed("#two", "@" + me); }));

    if (byHand) {
      form->OnDisconnectClicked();
      EXPECT_EQ(count("#one", "*** Disconnected"), 1);
      form->OnConnectClicked();
    } else {
      server->stop();
      ASSERT_TRUE(waitFor([&] { return count("Server", "Reconnecting in ") >= 1; }, 10000));
      // Nothing to join while the server is away.
      EXPECT_FALSE(listed("#one", "@" + me));
      ASSERT_TRUE(server->start());
    }
    ASSERT_TRUE(waitFor([&] { return count("Server", welcome) == 2; }, 20000)) << byHand;
    ASSERT_TRUE(waitFor([&] { return listed("#one", "@" + me) && listed("#two", "@" + me); }, 10000)) << byHand;

    const std::string other = "watcher" + std::to_string(byHand);
    auto watcher = client(other);
    watcher->sendLine("JOIN #one,#two");
    ASSERT_FALSE(watcher->waitLine("366 " + other + " #two").empty()) << byHand;
    ASSERT_TRUE(waitFor([&] { return listed("#two", other); })) << byHand;
    type("#one", "back again");
    type("#two", "here too");
    EXPECT_FALSE(watcher->waitLine("PRIVMSG #one :back again").empty()) << byHand;
    EXPECT_FALSE(watcher->waitLine("PRIVMSG #two :here too").empty()) << byHand;
    for (const char* name : {"#one", "#two"}) EXPECT_EQ(count(name, "*** Disconnected"), 1) << name;
    if (!byHand) EXPECT_EQ(count("Server", "Reconnecting in "), count("Server", "Disconnected"));
    form->OnDisconnectClicked();
    for (const char* name : {"#one", "#two", "Server"}) window(name)->CloseWindow();
    waitFor([&] { return form->Children().empty(); });
  }
}
