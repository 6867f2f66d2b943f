// gtest main for every test binary: a QApplication on the offscreen platform
// (unless another platform is asked for), and message boxes recorded instead
// of shown.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

#include "TestSupport.h"

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  ::testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  testsupport::installMessageRecorder();
  return RUN_ALL_TESTS();
}
