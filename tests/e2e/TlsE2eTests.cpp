// End to end over TLS: Zorv (its real main window, in process) connects to
// ngircd's TLS port, trusting the test's CA through SSL_CERT_FILE as any
// OpenSSL program does, registers, joins and talks; a plain client on the
// plain port hears it.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QTemporaryDir>
#include <cstdlib>
#include <memory>

#include "E2eWindows.h"
#include "IrcServer.h"
#include "Main.h"
#include "TestSupport.h"
#include "Text.h"
#include "TextPane.h"

namespace {

using testsupport::IrcClient;
using testsupport::IrcServer;
using testsupport::waitFor;

bool windowHas(TMainForm& form, const std::string& name, const std::string& part) {
  return e2e::countInWindow(form, name, part) > 0;
}

TEST(E2eTls, RegistersJoinsAndTalksOverTls) {
  IrcServer server(true);
  if (!server.running()) GTEST_SKIP() << server.error();
  ::setenv("SSL_CERT_FILE", server.caFile().c_str(), 1);
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  auto form = std::make_unique<TMainForm>(dir.path());
  form->show();

  IrcClient watcher(server.port());
  ASSERT_TRUE(watcher.registerAs("watcher"));
  watcher.sendLine("JOIN #secure");
  ASSERT_FALSE(watcher.waitLine(" 366 ").empty());

  form->nickField->setText("zorvtls");
  form->serverField->setText("127.0.0.1");
  form->portField->setText(QString::number(server.tlsPort()));
  form->tlsBox->setChecked(true);
  form->OnConnectClicked();
  ASSERT_TRUE(waitFor([&] { return windowHas(*form, "Server", "Welcome to the Internet Relay Network"); }, 15000));
  EXPECT_FALSE(windowHas(*form, "Server", "TLS handshake failed"));

  e2e::type(*form, "Server", "/join #secure");
  ASSERT_FALSE(watcher.waitLine(":zorvtls!").empty());
  ASSERT_TRUE(waitFor([&] { return e2e::window(*form, "#secure") != nullptr; }));
  e2e::type(*form, "#secure", "hello over TLS");
  const std::string heard = watcher.waitLine("hello over TLS");
  EXPECT_NE(heard.find(":zorvtls!"), std::string::npos) << heard;
  EXPECT_NE(heard.find("PRIVMSG #secure :hello over TLS"), std::string::npos) << heard;

  watcher.sendLine("PRIVMSG #secure :and back");
  EXPECT_TRUE(waitFor([&] { return windowHas(*form, "#secure", "<watcher>and back"); }));
  form->close();
  form.reset();
  ::unsetenv("SSL_CERT_FILE");
}

}  // namespace
