// Capabilities through the real window: the registration with and without
// them, a line's own time in the pane and the log, and the own line shown
// once when the server echoes it.
#include <gtest/gtest.h>

#include <QDateTime>

#include "AppFixture.h"
#include "ClientOptions.h"
#include "ConnectionSettings.h"
#include "Logbook.h"

namespace {

using apptest::AppTest;
using testsupport::LoopbackServer;

TEST_F(AppTest, RegistrationOpensWithCapLsUnlessTurnedOff) {
  for (const bool on : {true, false}) {
    LoopbackServer server;
    form->connectionSettings->capabilities = on;
    form->nickField->setText("Zed");
    connectTo(server);
    EXPECT_EQ(server.capLs, on ? 1 : 0);
    EXPECT_EQ(server.received(), "NICK Zed\r\nUSER Zed * * :Zed\r\n");
    // A server that knows nothing of CAP welcomes at once: nothing more about CAP.
    server.send(":srv 001 Zed :Welcome here\r\n");
    const int welcomes = on ? 1 : 2;
    ASSERT_TRUE(testsupport::waitFor([&] { return testsupport::countInWindow(*form, "Server", "Welcome here") == welcomes; }));
    form->OnDisconnectClicked();
    ASSERT_TRUE(server.waitPeerClosed());
    EXPECT_EQ(server.received().find("CAP"), std::string::npos);
  }
}

TEST_F(AppTest, PlaybackKeepsItsTimeAndOwnLinesShowOnceWhenEchoed) {
  LoopbackServer server;
  form->options->timestamps = true;
  form->nickField->setText("Zed");
  connectTo(server);
  server.send(":srv CAP * LS :server-time echo-message batch\r\n");
  ASSERT_TRUE(server.waitReceived("CAP REQ :server-time echo-message batch\r\n"));
  server.send(":srv CAP Zed ACK :server-time echo-message batch\r\n");
  ASSERT_TRUE(server.waitReceived("CAP END\r\n"));
  server.send(":srv 001 Zed :Welcome\r\n:Zed!z@h JOIN :#c\r\nBATCH +b znc.in/playback #c\r\n"
              "@batch=b;time=2020-01-02T03:04:05.000Z :amy!a@h PRIVMSG #c :said earlier\r\nBATCH -b\r\n");
  ASSERT_TRUE(testsupport::waitFor([&] { return apptest::hasLine(*form, "#c", "<amy>said earlier"); }));
  const QDateTime said = QDateTime::fromString("2020-01-02T03:04:05Z", Qt::ISODate).toLocalTime();
  TMDIChild* c = apptest::window(*form, "#c");
  EXPECT_EQ(c->textPane->shownText(c->textPane->lineCount() - 1),
            said.toString("[HH:mm] ") + "<amy>said earlier");
  form->logs->flush();
  EXPECT_TRUE(testsupport::readBytes(form->logs->pathFor("#c"))
                  .contains(said.toString("[yyyy-MM-dd HH:mm:ss] ").toUtf8() + "<amy>said earlier"));

  testsupport::type(*form, "#c", "hello");
  ASSERT_TRUE(server.waitReceived("PRIVMSG #c :hello\r\n"));
  EXPECT_EQ(testsupport::countInWindow(*form, "#c", "hello"), 0);
  server.send(":Zed!z@h PRIVMSG #c :hello\r\n");
  ASSERT_TRUE(testsupport::waitFor([&] { return apptest::hasLine(*form, "#c", "<Zed>hello"); }));
  EXPECT_EQ(testsupport::countInWindow(*form, "#c", "hello"), 1);
}

}  // namespace
