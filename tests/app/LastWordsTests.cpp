// A server that sends its reason and closes at once: the reason is in the
// Server window, between "Connected" and "Disconnected", every time.
#include "AppFixture.h"

using namespace apptest;
using testsupport::LoopbackServer;
using testsupport::waitFor;

TEST_F(AppTest, ServerReasonBeforeAnImmediateCloseIsShownEveryTime) {
  LoopbackServer server;
  form->serverField->setText("127.0.0.1");
  form->portField->setText(QString::number(server.port()));
  // closeAtOnce: the server answers the connection with its reason and closes
  // before Zorv's NICK and USER arrive; otherwise it closes with them unread
  // (a reset).
  for (bool closeAtOnce : {true, false}) {
    for (int run = 0; run < 20; ++run) {
      SCOPED_TRACE(std::string(closeAtOnce ? "closed at once" : "lines unread") + ", run " + std::to_string(run));
      const size_t before = linesOf(*form, "Server").size();
      form->OnConnectClicked();
      ASSERT_TRUE(server.accept(5000));
      if (!closeAtOnce) {
        ASSERT_TRUE(waitFor([&] {
          return form->session->Socket().State() == wsConnected && form->session->Socket().BufferedByteCount() == 0;
        }));
      }
      server.send("ERROR :Closing Link: test (bye)\r\n");
      server.closeClient();
      ASSERT_TRUE(waitFor([&] { return form->connectButton->isEnabled() && form->session->Socket().State() == wsClosed; }));
      testsupport::pumpFor(20);  // nothing else may follow
      const std::vector<std::string> all = linesOf(*form, "Server");
      ASSERT_GE(all.size(), before);
      const std::vector<std::string> session(all.begin() + static_cast<long>(before), all.end());
      ASSERT_EQ(session.size(), 3u) << ::testing::PrintToString(session);
      EXPECT_EQ(session[0], "Connected");
      EXPECT_NE(session[1].find("test (bye)"), std::string::npos) << session[1];
      EXPECT_EQ(session[2], "Disconnected");
    }
  }
}
