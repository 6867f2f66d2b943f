// End to end over TLS: Zorv connects to ngircd's TLS port, registers, joins
// and talks; a plain client on the plain port hears it.
#include "E2eWindows.h"

class E2eTls : public E2e {
  bool tls() const override { return true; }
};

TEST_F(E2eTls, RegistersJoinsAndTalksOverTls) {
  auto watcher = client("watcher", "#secure");
  connectZorv("zorvtls");
  EXPECT_FALSE(windowHas("Server", "TLS handshake failed"));
  type("Server", "/join #secure");
  ASSERT_FALSE(watcher->waitLine(":zorvtls!").empty());
  ASSERT_TRUE(waitFor([&] { return window("#secure") != nullptr; }));
  type("#secure", "hello over TLS");
  const std::string heard = watcher->waitLine("hello over TLS");
  EXPECT_NE(heard.find(":zorvtls!"), std::string::npos) << heard;
  EXPECT_NE(heard.find("PRIVMSG #secure :hello over TLS"), std::string::npos) << heard;
  watcher->sendLine("PRIVMSG #secure :and back");
  EXPECT_TRUE(waitWindowHas("#secure", "<watcher>and back"));
}
