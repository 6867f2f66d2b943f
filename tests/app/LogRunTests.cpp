// What the conversation windows of a session leave in the logs.
#include <gtest/gtest.h>

#include "AppFixture.h"
#include "Logbook.h"

namespace {

using apptest::AppTest;

// Lines without their time stamps ("[yyyy-MM-dd HH:mm:ss] ").
QByteArrayList logLines(const QString& path) {
  QByteArrayList out;
  for (const QByteArray& l : testsupport::readBytes(path).split('\n'))
    if (!l.isEmpty()) out << l.mid(22);
  return out;
}

TEST_F(AppTest, ASessionIsLoggedPerWindowAndAClosedWindowsLogIsComplete) {
  testsupport::LoopbackServer server;
  connectTo(server);
  server.send(":srv 001 YourNick :Welcome\r\n:YourNick!u@h JOIN :#Chat\r\n:amy!u@h PRIVMSG #chat :\x02hi\x02 \xe9\r\n");
  ASSERT_TRUE(testsupport::waitFor([&] { return apptest::hasLine(*form, "#chat", "<amy>\x02hi\x02 \xe9"); }));
  const QString chat = form->logs->pathFor("#chat");
  EXPECT_TRUE(chat.startsWith(Logbook::defaultRoot() + "/127.0.0.1/"));
  const std::vector<std::string> shown = apptest::linesOf(*form, "#chat");
  apptest::window(*form, "#chat")->CloseWindow();
  ASSERT_TRUE(testsupport::waitFor([&] { return apptest::window(*form, "#chat") == nullptr; }));
  // Written at the close, without waiting for the next flush.
  QByteArrayList expected;
  for (const std::string& l : shown) expected << QByteArray::fromStdString(l);
  EXPECT_EQ(logLines(chat), expected);
  EXPECT_EQ(expected.back(), "<amy>\x02hi\x02 \xe9");
  form->logs->flush();
  EXPECT_TRUE(logLines(form->logs->pathFor("Server")).contains("Connected"));
}

}  // namespace
