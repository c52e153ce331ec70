// Shared main of every test program: a QApplication on the offscreen platform (unless the
// environment chooses another, e.g. xcb under Xvfb) so windows, timers and messages work.
#include <QApplication>

#include <gtest/gtest.h>

// PV_TEST_NO_APP=1 leaves the application object to the test itself (tests of start-up and
// shutdown run that way in a child process).
int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  ::testing::InitGoogleTest(&argc, argv);
  if (qEnvironmentVariableIntValue("PV_TEST_NO_APP") == 1) return RUN_ALL_TESTS();
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
