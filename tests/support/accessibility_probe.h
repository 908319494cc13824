#pragma once

#include <QAccessible>
#include <QWidget>
#include <string>
#include <vector>

// Qt's platform interfaces, declared here because only their private headers name them: the
// offscreen platform leaves accessibility inactive and drops every event before an update handler
// sees it, so a test switches it on the way Qt's own tests do.
class QPlatformAccessibility {
 public:
  void setActive(bool active);
};
class QPlatformIntegration {
 public:
  QPlatformAccessibility* accessibility() const;
};
class QGuiApplicationPrivate {
 public:
  static QPlatformIntegration* platform_integration;
};

namespace vorncom::testing {

// What a screen reader would be told while it lives: each event with the object's name and
// description at that moment. Needs a QApplication.
class AccessibilityProbe {
 public:
  struct Heard {
    QAccessible::Event type;
    std::string object;  // objectName
    std::string name;
  };

  AccessibilityProbe() {
    QGuiApplicationPrivate::platform_integration->accessibility()->setActive(true);
    Instance() = this;
    QAccessible::installUpdateHandler(&Record);
  }
  ~AccessibilityProbe() {
    QAccessible::installUpdateHandler(nullptr);
    Instance() = nullptr;
  }

  // Events of `type` on the object named `object`, with the name they announced.
  std::vector<std::string> Names(QAccessible::Event type, const std::string& object) const {
    std::vector<std::string> names;
    for (const Heard& h : heard) {
      if (h.type == type && h.object == object) names.push_back(h.name);
    }
    return names;
  }

  // Name and description a screen reader reads for `widget`.
  static std::string NameOf(QWidget* widget) { return Text(widget, QAccessible::Name); }
  static std::string DescriptionOf(QWidget* widget) {
    return Text(widget, QAccessible::Description);
  }

  std::vector<Heard> heard;

 private:
  static AccessibilityProbe*& Instance() {
    static AccessibilityProbe* instance = nullptr;
    return instance;
  }
  static std::string Text(QObject* object, QAccessible::Text text) {
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(object);
    return iface ? iface->text(text).toStdString() : "<no interface>";
  }
  static void Record(QAccessibleEvent* event) {
    AccessibilityProbe* probe = Instance();
    QObject* object = event->object();
    if (probe == nullptr || object == nullptr) return;
    probe->heard.push_back(
        {event->type(), object->objectName().toStdString(), Text(object, QAccessible::Name)});
  }
};

}  // namespace vorncom::testing
