#pragma once
// The end-to-end set-up: ngircd on a free loopback port and Zorv's real main
// window in process, with what the tests read from and type into its windows.
#include <QAbstractItemModel>
#include <QCheckBox>
#include <QLineEdit>
#include <QListView>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "Childwin.h"
#include "IrcServer.h"
#include "Main.h"
#include "Session.h"
#include "TestSupport.h"
#include "Text.h"
#include "TextPane.h"

using testsupport::IrcClient;
using testsupport::IrcServer;
using testsupport::waitFor;

class E2e : public ::testing::Test {
 protected:
  virtual bool tls() const { return false; }
  void SetUp() override {
    server = std::make_unique<IrcServer>(tls());
    if (!server->running()) GTEST_SKIP() << server->error();
    // The test's CA is trusted through SSL_CERT_FILE, as by any OpenSSL program.
    if (tls()) ::setenv("SSL_CERT_FILE", server->caFile().c_str(), 1);
    ASSERT_TRUE(dir.isValid());
    form = std::make_unique<TMainForm>(dir.path());
    form->show();
  }
  void TearDown() override {
    if (form) form->close();
    form.reset();
    ::unsetenv("SSL_CERT_FILE");
  }

  TMDIChild* window(const std::string& name) {
    for (TMDIChild* c : form->Children())
      if (zorv::equalsIgnoreAsciiCase(c->WindowName(), name)) return c;
    return nullptr;
  }
  std::vector<std::string> paneLines(const std::string& name) {
    std::vector<std::string> out;
    TMDIChild* c = window(name);
    for (int i = 0; c && i < c->textPane->lineCount(); ++i) out.push_back(c->textPane->line(i));
    return out;
  }
  // Lines of the window that contain part.
  int count(const std::string& name, const std::string& part) {
    int n = 0;
    for (const auto& l : paneLines(name)) n += l.find(part) != std::string::npos;
    return n;
  }
  bool windowHas(const std::string& name, const std::string& part) { return count(name, part) > 0; }
  bool waitWindowHas(const std::string& name, const std::string& part, int ms = 5000) {
    return waitFor([&] { return windowHas(name, part); }, ms);
  }
  bool listed(const std::string& channel, const std::string& entry) {
    TMDIChild* c = window(channel);
    if (!c) return false;
    auto* m = c->nickList->model();
    for (int i = 0; i < m->rowCount(); ++i)
      if (m->index(i, 0).data().toString().toStdString() == entry) return true;
    return false;
  }
  // Types a line into a window's input line and sends it.
  void type(const std::string& name, const std::string& text) {
    TMDIChild* c = window(name);
    ASSERT_NE(c, nullptr) << name;
    c->inputLine->setText(QString::fromStdString(text));
    c->OnSendClicked();
  }
  void connectZorv(const std::string& nick, int welcomes = 1) {
    form->nickField->setText(QString::fromStdString(nick));
    form->serverField->setText("127.0.0.1");
    form->portField->setText(QString::number(tls() ? server->tlsPort() : server->port()));
    form->tlsBox->setChecked(tls());
    form->OnConnectClicked();
    ASSERT_TRUE(waitFor([&] { return count("Server", "Welcome to the Internet Relay Network") == welcomes; }, 15000));
  }
  // A plain client registered on the plain port, in the channel when one is given.
  std::unique_ptr<IrcClient> client(const std::string& nick, const std::string& channel = "") {
    auto c = std::make_unique<IrcClient>(server->port());
    EXPECT_TRUE(c->registerAs(nick));
    if (!channel.empty()) {
      c->sendLine("JOIN " + channel);
      EXPECT_FALSE(c->waitLine(" 366 ").empty());
    }
    return c;
  }

  std::unique_ptr<IrcServer> server;
  QTemporaryDir dir;
  std::unique_ptr<TMainForm> form;
};
