// End to end with a login configured against a server without SASL (ngircd
// answers CAP LS without it): Zorv ends the negotiation, registers without an
// account and works as ever, and its password reaches no window.
#include "ConnectionSettings.h"
#include "E2eWindows.h"

TEST_F(E2e, WithoutSaslOnTheServerZorvRegistersAndTalks) {
  auto watcher = client("watcher", "#login");
  form->connectionSettings->account = "zorv";
  form->connectionSettings->password = "hunter2-e2e";
  connectZorv("zorv");
  EXPECT_TRUE(windowHas("Server", "*** The server does not offer SASL PLAIN; going on without logging in"));
  type("Server", "/join #login");
  EXPECT_NE(watcher->waitLine("JOIN").find(":zorv!"), std::string::npos);
  EXPECT_EQ(count("Server", "hunter2"), 0);
}
