#include "common/ui/qt_host.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QGuiApplication>
#include <QLibraryInfo>
#include <QThread>
#include <atomic>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace vorncom::ui {
namespace {

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

bool ConnectsToUnixSocket(const std::string& path, bool abstract) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const size_t offset = abstract ? 1 : 0;
  if (path.empty() || path.size() + offset >= sizeof(address.sun_path)) return false;
  std::memcpy(address.sun_path + offset, path.data(), path.size());
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const socklen_t length =
      static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset + path.size());
  const bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0;
  ::close(fd);
  return ok;
}

// Qt aborts the whole process when it cannot open its display, so a local X server is probed
// first. Remote displays (host:n) are taken on trust: probing them could stall the host.
bool XDisplayReachable(const std::string& display) {
  if (display.empty()) return false;
  if (display.front() == '/')
    return ConnectsToUnixSocket(display.substr(0, display.rfind(':')), false);
  const size_t colon = display.rfind(':');
  if (colon == std::string::npos) return false;
  const std::string host = display.substr(0, colon);
  if (!host.empty() && host != "unix") return true;
  std::string number = display.substr(colon + 1);
  number = number.substr(0, number.find('.'));
  if (number.empty()) return false;
  const std::string socket = "/tmp/.X11-unix/X" + number;
  return ConnectsToUnixSocket(socket, true) || ConnectsToUnixSocket(socket, false);
}

bool WaylandPluginInstalled() {
  const QDir platforms(QLibraryInfo::path(QLibraryInfo::PluginsPath) +
                       QStringLiteral("/platforms"));
  return !platforms.entryList({QStringLiteral("libqwayland*.so")}, QDir::Files).isEmpty();
}

bool WaylandReachable(const std::string& display) {
  if (display.empty()) return false;
  if (display.front() == '/') return ConnectsToUnixSocket(display, false);
  const std::string runtime = Env("XDG_RUNTIME_DIR");
  return !runtime.empty() && ConnectsToUnixSocket(runtime + "/" + display, false);
}

enum class Platform { kNone, kDefault, kWayland };

Platform ChoosePlatform() {
  if (!Env("QT_QPA_PLATFORM").empty()) return Platform::kDefault;
  if (XDisplayReachable(Env("DISPLAY"))) return Platform::kDefault;
  if (WaylandReachable(Env("WAYLAND_DISPLAY")) && WaylandPluginInstalled())
    return Platform::kWayland;
  return Platform::kNone;
}

std::atomic<bool> warned{false};

void WarnOnce(const char* why) {
  if (!warned.exchange(true)) {
    std::fprintf(stderr, "VornCom: %s; messages are answered without a window.\n", why);
  }
}

// QApplication keeps references to argc and argv for its whole life.
struct Arguments {
  std::vector<std::string> strings;
  std::vector<char*> pointers;
  int argc = 0;

  explicit Arguments(const std::vector<std::string>& options) {
    char exe[4096] = {};
    const ssize_t n = ::readlink("/proc/self/exe", exe, sizeof(exe) - 1);
    strings.push_back(n > 0 ? std::string(exe, static_cast<size_t>(n)) : "vorncom");
    strings.insert(strings.end(), options.begin(), options.end());
    for (std::string& s : strings) pointers.push_back(s.data());
    pointers.push_back(nullptr);
    argc = static_cast<int>(strings.size());
  }
};

// The application the library created, if it did. It lives as long as the process: at exit Qt's
// own global objects are already gone, and deleting the application then crashes.
struct OwnedApplication {
  std::unique_ptr<Arguments> arguments;
  std::unique_ptr<QGuiApplication> application;

  ~OwnedApplication() {
    (void)application.release();
    (void)arguments.release();
  }
};

OwnedApplication& Owned() {
  static OwnedApplication owned;
  return owned;
}

// The one place the library creates an application: `App` with `options` after the program
// name. Creating it resets the C locale from the environment; the host's stays.
template <typename App>
App& CreateApplication(const std::vector<std::string>& options) {
  OwnedApplication& owned = Owned();
  owned.arguments = std::make_unique<Arguments>(options);
  const char* current = std::setlocale(LC_ALL, nullptr);
  const std::string saved = current ? current : "C";
  auto application = std::make_unique<App>(owned.arguments->argc, owned.arguments->pointers.data());
  std::setlocale(LC_ALL, saved.c_str());
  App& created = *application;
  owned.application = std::move(application);
  // The library runs no main loop of its own that closing a window could end.
  QGuiApplication::setQuitOnLastWindowClosed(false);
  return created;
}

std::vector<std::string> PlatformOptions(Platform platform) {
  if (platform == Platform::kWayland) return {"-platform", "wayland"};
  return {};
}

}  // namespace

bool QtUsable() {
  if (const QCoreApplication* app = QCoreApplication::instance()) {
    if (qobject_cast<const QApplication*>(app) == nullptr) {
      WarnOnce("the host runs a Qt application without widgets");
      return false;
    }
    return app->thread() == QThread::currentThread();
  }
  if (ChoosePlatform() == Platform::kNone) {
    WarnOnce("no display (DISPLAY, WAYLAND_DISPLAY) and no QT_QPA_PLATFORM");
    return false;
  }
  return true;
}

QApplication& EnsureApplication() {
  if (QCoreApplication* app = QCoreApplication::instance()) {
    auto* widgets = qobject_cast<QApplication*>(app);
    if (widgets == nullptr) {
      WarnOnce("the host runs a Qt application without widgets");
      throw EQtHostError("The host's Qt application cannot show windows");
    }
    if (app->thread() != QThread::currentThread()) {
      throw EQtHostError("Windows can only be shown from the thread that owns the Qt application");
    }
    return *widgets;
  }
  const Platform platform = ChoosePlatform();
  if (platform == Platform::kNone) {
    WarnOnce("no display (DISPLAY, WAYLAND_DISPLAY) and no QT_QPA_PLATFORM");
    throw EQtHostError("No display is available for windows");
  }
  return CreateApplication<QApplication>(PlatformOptions(platform));
}

bool EnsureGuiApplication() {
  if (const QCoreApplication* app = QCoreApplication::instance()) {
    return qobject_cast<const QGuiApplication*>(app) != nullptr &&
           app->thread() == QThread::currentThread();
  }
  if (QtUsable()) {
    EnsureApplication();
  } else {
    CreateApplication<QGuiApplication>({"-platform", "offscreen"});
  }
  return true;
}

}  // namespace vorncom::ui
