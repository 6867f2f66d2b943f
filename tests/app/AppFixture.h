#pragma once
// A main window in a temporary program directory, shown on the offscreen
// platform, plus helpers to read what its conversation windows hold.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QLineEdit>
#include <QListView>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QTemporaryDir>
#include <memory>
#include <string>
#include <vector>

#include "Childwin.h"
#include "HeaderBar.h"
#include "Main.h"
#include "Session.h"
#include "TestSupport.h"
#include "Text.h"
#include "TextPane.h"

namespace apptest {

inline std::vector<std::string> paneLines(const TMDIChild* c) {
  std::vector<std::string> out;
  for (int i = 0; i < c->textPane->lineCount(); ++i) out.push_back(c->textPane->line(i));
  return out;
}

inline TMDIChild* window(TMainForm& f, const std::string& name) {
  for (TMDIChild* c : f.Children())
    if (zorv::equalsIgnoreAsciiCase(c->WindowName(), name)) return c;
  return nullptr;
}

inline std::vector<std::string> linesOf(TMainForm& f, const std::string& name) {
  TMDIChild* c = window(f, name);
  return c ? paneLines(c) : std::vector<std::string>{};
}

inline bool hasLine(TMainForm& f, const std::string& name, const std::string& line) {
  for (const auto& l : linesOf(f, name))
    if (l == line) return true;
  return false;
}

class AppTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    testsupport::shownMessages().clear();
    form = std::make_unique<TMainForm>(dir.path());
    form->show();
    ASSERT_TRUE(testsupport::waitFor([&] { return form->isVisible() && form->isActiveWindow(); }));
  }
  void TearDown() override {
    if (form) form->close();
    form.reset();
    // Whatever the closed windows left to be deleted goes now.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }

  // Connects the form to a scripted loopback server and waits for registration.
  void connectTo(testsupport::LoopbackServer& server) {
    form->serverField->setText("127.0.0.1");
    form->portField->setText(QString::number(server.port()));
    form->OnConnectClicked();
    ASSERT_TRUE(server.accept(5000));
    ASSERT_TRUE(server.waitReceived("USER "));
    ASSERT_TRUE(testsupport::waitFor([&] { return form->session->Socket().State() == wsConnected; }));
  }

  QTemporaryDir dir;
  std::unique_ptr<TMainForm> form;
};

}  // namespace apptest
