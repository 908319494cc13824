// Shared main of the widget tests: the offscreen platform when there is no display, then one
// application for the whole run, created the way the library creates it.
#include <gtest/gtest.h>

#include <cstdlib>

#include "common/ui/qt_host.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  auto unset = [](const char* name) {
    const char* v = std::getenv(name);
    return v == nullptr || *v == '\0';
  };
  if (unset("DISPLAY") && unset("WAYLAND_DISPLAY") && unset("QT_QPA_PLATFORM")) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
  }
  vorncom::ui::EnsureApplication();
  return RUN_ALL_TESTS();
}
