// gtest main for every test binary: a QApplication on the offscreen platform
// (unless another platform is asked for), message boxes recorded instead of
// shown, and per-user data in a temporary folder.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>
#include <cstdlib>

#include "TestSupport.h"

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  // Logs and other per-user data of the programs under test go to a folder of
  // this run, never into the home of whoever runs the tests.
  QTemporaryDir dataHome;
  if (dataHome.isValid()) setenv("XDG_DATA_HOME", dataHome.path().toLocal8Bit().constData(), 1);
  ::testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  testsupport::installMessageRecorder();
  return RUN_ALL_TESTS();
}
