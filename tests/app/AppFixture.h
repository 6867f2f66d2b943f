#pragma once
// A main window in a temporary program directory, shown on the offscreen
// platform, and what its conversation windows hold.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QTemporaryDir>
#include <memory>

#include "HeaderBar.h"
#include "TestSupport.h"
#include "ZorvWindows.h"

namespace apptest {

using testsupport::hasLine;
using testsupport::linesOf;
using testsupport::window;

class AppTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    qputenv("XDG_DATA_HOME", QFile::encodeName(dir.filePath("data")));  // logs of this test alone
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
