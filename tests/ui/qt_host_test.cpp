// How the library behaves inside a host that has no Qt application of its own. Every case runs in
// a fresh child process, since a Qt application can be created only once per process.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>

#include "common/message_dialog.h"
#include "common/ui/qt_host.h"
#include "common/ui/qt_message_presenter.h"
#include "modal_watchdog.h"

namespace vorncom::ui {
namespace {

using ChildBody = std::function<std::string()>;

[[noreturn]] void FinishChild(const ChildBody& body) {
  const std::string failure = body();
  if (!failure.empty()) std::fprintf(stderr, "FAILED: %s\n", failure.c_str());
  std::fflush(stderr);
  std::_Exit(failure.empty() ? 0 : 1);
}

// Runs `body` in a child process; it returns an empty string on success or what went wrong.
void ExpectInChild(const ChildBody& body) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(FinishChild(body), ::testing::ExitedWithCode(0), "");
}

void NoDisplay() {
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
  unsetenv("QT_QPA_PLATFORM");
}

// Standard error of `work`, through a temporary file.
template <typename Work>
std::string StderrOf(Work work) {
  std::fflush(stderr);
  FILE* file = std::tmpfile();
  const int saved = dup(fileno(stderr));
  dup2(fileno(file), fileno(stderr));
  work();
  std::fflush(stderr);
  dup2(saved, fileno(stderr));
  close(saved);
  std::string text;
  std::rewind(file);
  for (int c; (c = std::fgetc(file)) != EOF;) text += static_cast<char>(c);
  std::fclose(file);
  return text;
}

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST(QtHost, WithoutDisplayWarnsOnceAndMessagesGoUnattended) {
  ExpectInChild([]() -> std::string {
    NoDisplay();
    unsetenv("VORNCOM_UNATTENDED");
    RegisterQtPresenter();
    bool usable = true, threw = false;
    int result = 0;
    const std::string err = StderrOf([&] {
      usable = QtUsable() || QtUsable();
      try {
        EnsureApplication();
      } catch (const EQtHostError&) {
        threw = true;
      }
      result =
          MostrarMensagem("Sem tela", MessageKind::kConfirmation, buttons::kYes | buttons::kNo);
    });
    if (usable) return "Qt reported usable without a display";
    if (!threw) return "EnsureApplication did not throw";
    if (QCoreApplication::instance() != nullptr) return "an application was created";
    if (result != results::kYes) return "unattended answer " + std::to_string(result);
    if (Count(err, "no display") != 1) return "expected one warning, got: " + err;
    if (Count(err, "Sem tela") != 1) return "the message was not logged: " + err;
    return {};
  });
}

TEST(QtHost, UnreachableDisplayIsNotUsed) {
  ExpectInChild([]() -> std::string {
    NoDisplay();
    setenv("DISPLAY", ":93", 1);  // no X server listens there
    bool usable = true;
    (void)StderrOf([&] { usable = QtUsable(); });
    return usable ? "a display without a server was taken as usable" : "";
  });
}

// Creating an application resets the C locale from the environment. Whichever path creates it,
// the host's own locale stays, also one that differs per category.
TEST(QtHost, KeepsTheHostLocale) {
  struct Row {
    const char* what;
    bool display;
    bool gui_only;  // EnsureGuiApplication rather than EnsureApplication
    bool mixed;     // LC_CTYPE differs from the rest
  };
  const Row rows[] = {
      {"windows", true, false, false},
      {"windows, mixed locale", true, false, true},
      {"layout with a display", true, true, true},
      {"layout without a display", false, true, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    ExpectInChild([row]() -> std::string {
      NoDisplay();
      if (row.display) setenv("QT_QPA_PLATFORM", "offscreen", 1);
      setenv("LC_ALL", "C.UTF-8", 1);
      if (std::setlocale(LC_ALL, "") == nullptr) return "C.UTF-8 is not available";
      std::setlocale(LC_ALL, "C");
      if (row.mixed) std::setlocale(LC_CTYPE, "C.UTF-8");
      const std::string before = std::setlocale(LC_ALL, nullptr);
      if (row.gui_only) {
        bool ready = false;
        (void)StderrOf([&] { ready = EnsureGuiApplication(); });
        if (!ready) return "no application for layout";
        const bool widgets = qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr;
        if (widgets != row.display) return "widgets application: " + std::to_string(widgets);
      } else {
        EnsureApplication();
      }
      const std::string numeric = std::setlocale(LC_NUMERIC, nullptr);
      if (numeric != "C") return "LC_NUMERIC changed to " + numeric;
      const std::string now = std::setlocale(LC_ALL, nullptr);
      return now == before ? "" : "locale changed from " + before + " to " + now;
    });
  }
}

TEST(QtHost, ReusesTheHostApplication) {
  ExpectInChild([]() -> std::string {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    int argc = 1;
    char name[] = "host";
    char* argv[] = {name, nullptr};
    QApplication host(argc, argv);
    return &EnsureApplication() == &host ? "" : "a second application was made";
  });
}

TEST(QtHost, HostWithoutWidgetsGetsUnattendedMessages) {
  ExpectInChild([]() -> std::string {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    unsetenv("VORNCOM_UNATTENDED");
    RegisterQtPresenter();
    int argc = 1;
    char name[] = "host";
    char* argv[] = {name, nullptr};
    QCoreApplication host(argc, argv);
    int result = 0;
    bool threw = false;
    const std::string err = StderrOf([&] {
      result = MostrarMensagem("Sem janelas", MessageKind::kError, buttons::kOk);
      try {
        EnsureApplication();
      } catch (const EQtHostError&) {
        threw = true;
      }
    });
    if (result != results::kOk) return "result " + std::to_string(result);
    if (!threw) return "EnsureApplication did not throw";
    if (Count(err, "without widgets") != 1) return "expected one warning, got: " + err;
    return {};
  });
}

TEST(QtHost, OtherThreadFailsCleanly) {
  ExpectInChild([]() -> std::string {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    EnsureApplication();
    std::string failure;
    std::thread other([&failure] {
      if (QtUsable()) failure = "usable from another thread";
      try {
        EnsureApplication();
        failure = "EnsureApplication did not throw";
      } catch (const EQtHostError&) {
      }
    });
    other.join();
    return failure;
  });
}

TEST(QtHost, TwoDialogsInARowFromAFreshApplication) {
  ExpectInChild([]() -> std::string {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    unsetenv("VORNCOM_UNATTENDED");
    RegisterQtPresenter();
    if (QCoreApplication::instance() != nullptr) return "an application existed already";
    EnsureApplication();
    testing::ModalWatchdog watchdog;
    watchdog.Then(testing::ClickButton("btn_OK")).Then(testing::ClickButton("btn_No"));
    const int first = MostrarMensagem("Primeira", MessageKind::kInformation, buttons::kOk);
    const int second =
        MostrarMensagem("Segunda", MessageKind::kConfirmation, buttons::kYes | buttons::kNo);
    if (first != results::kOk || second != results::kNo) {
      return "results " + std::to_string(first) + ", " + std::to_string(second);
    }
    if (watchdog.Handled() != 2 || watchdog.Strays() != 0) return "not both dialogs were shown";
    return {};
  });
}

}  // namespace
}  // namespace vorncom::ui
