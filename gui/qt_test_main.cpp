// The main function of a test program that drives Qt widgets: every case runs inside one
// QApplication. The tests are registered to run on the offscreen platform; a run without that
// setting (listing the cases, running the program by hand) gets it too, so no display is ever
// needed.

#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  QApplication application(argc, argv);
  return RUN_ALL_TESTS();
}
