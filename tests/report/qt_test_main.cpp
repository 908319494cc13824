// Test main for suites that need Qt: picks the offscreen platform when there is no display, and
// arms a watchdog that closes modal dialogs a test left open (a bounded number of times), so a
// broken test fails instead of hanging.

#include <gtest/gtest.h>

#include <QTimer>
#include <QtGlobal>
#include <cstdio>

#ifdef VORNCOM_TEST_WIDGETS
#include <QApplication>
#include <QWidget>
using TestApplication = QApplication;
#else
#include <QGuiApplication>
using TestApplication = QGuiApplication;
#endif

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
      qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  ::testing::InitGoogleTest(&argc, argv);
  TestApplication app(argc, argv);
#ifdef VORNCOM_TEST_WIDGETS
  QTimer watchdog;
  int closed = 0;
  QObject::connect(&watchdog, &QTimer::timeout, [&] {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal && closed < 20) {
      ++closed;
      std::fprintf(stderr, "watchdog: closing stray dialog %s\n", qPrintable(modal->objectName()));
      modal->close();
    }
  });
  watchdog.start(5000);
#endif
  return RUN_ALL_TESTS();
}
