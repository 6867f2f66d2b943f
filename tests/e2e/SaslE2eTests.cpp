// End to end with a login configured against a server without SASL (ngircd
// answers CAP LS without it): Zorv ends the negotiation, registers without an
// account and works as ever, and its password reaches no window.
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "Childwin.h"
#include "ConnectionSettings.h"
#include "IrcServer.h"
#include "Main.h"
#include "TestSupport.h"
#include "Text.h"
#include "TextPane.h"

using testsupport::IrcClient;
using testsupport::IrcServer;
using testsupport::waitFor;

namespace {

std::vector<std::string> serverLines(TMainForm& form) {
  std::vector<std::string> out;
  for (TMDIChild* c : form.Children())
    if (zorv::equalsIgnoreAsciiCase(c->WindowName(), "Server"))
      for (int i = 0; i < c->textPane->lineCount(); ++i) out.push_back(c->textPane->line(i));
  return out;
}

bool serverHas(TMainForm& form, const std::string& part) {
  for (const auto& l : serverLines(form))
    if (l.find(part) != std::string::npos) return true;
  return false;
}

TEST(E2eSasl, WithoutSaslOnTheServerZorvRegistersAndTalks) {
  IrcServer server;
  if (!server.running()) GTEST_SKIP() << server.error();
  IrcClient watcher(server.port());
  ASSERT_TRUE(watcher.registerAs("watcher"));
  watcher.sendLine("JOIN #login");
  ASSERT_FALSE(watcher.waitLine(" 366 ").empty());

  QTemporaryDir dir;
  TMainForm form(dir.path());
  form.show();
  form.connectionSettings->account = "zorv";
  form.connectionSettings->password = "hunter2-e2e";
  form.nickField->setText("zorv");
  form.serverField->setText("127.0.0.1");
  form.portField->setText(QString::number(server.port()));
  form.OnConnectClicked();
  ASSERT_TRUE(waitFor([&] { return serverHas(form, "Welcome to the Internet Relay Network"); }, 10000));
  EXPECT_TRUE(serverHas(form, "*** The server does not offer SASL PLAIN; going on without logging in"));

  TMDIChild* serverWindow = nullptr;
  for (TMDIChild* c : form.Children())
    if (c->WindowName() == "Server") serverWindow = c;
  ASSERT_NE(serverWindow, nullptr);
  serverWindow->inputLine->setText("/join #login");
  serverWindow->OnSendClicked();
  EXPECT_NE(watcher.waitLine("JOIN").find(":zorv!"), std::string::npos);
  for (const auto& l : serverLines(form)) EXPECT_EQ(l.find("hunter2"), std::string::npos) << l;
  form.close();
}

}  // namespace
