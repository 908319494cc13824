#include "modal_watchdog.h"

#include <QApplication>
#include <QTest>
#include <QWidget>
#include <cstdio>
#include <cstdlib>

#include "common/ui/qev_button.h"

namespace vorncom::ui::testing {

ModalWatchdog::ModalWatchdog(int stray_limit) : stray_limit_(stray_limit) {
  timer_.setInterval(20);
  QObject::connect(&timer_, &QTimer::timeout, this, &ModalWatchdog::Tick);
  timer_.start();
}

ModalWatchdog::~ModalWatchdog() = default;

ModalWatchdog& ModalWatchdog::Then(Action action) {
  actions_.push_back(std::move(action));
  return *this;
}

void ModalWatchdog::Tick() {
  QWidget* dialog = QApplication::activeModalWidget();
  // One action per appearance: wait until the dialog that was acted on is gone.
  if (dialog == nullptr || dialog == last_ || !dialog->isVisible()) return;
  last_ = dialog;
  if (!actions_.empty()) {
    Action action = std::move(actions_.front());
    actions_.pop_front();
    ++handled_;
    ShowActive(*dialog);
    action(dialog);
    return;
  }
  if (++strays_ > stray_limit_) {
    std::fprintf(stderr, "ModalWatchdog: more than %d stray modal dialogs\n", stray_limit_);
    std::_Exit(3);
  }
  std::fprintf(stderr, "ModalWatchdog: closing a stray modal dialog\n");
  dialog->close();
}

ModalWatchdog::Action ClickButton(const char* object_name) {
  return [object_name](QWidget* dialog) {
    auto* button = dialog->findChild<TqevButton*>(QString::fromLatin1(object_name));
    if (button == nullptr) {
      std::fprintf(stderr, "ModalWatchdog: no button %s; closing\n", object_name);
      dialog->close();
      return;
    }
    QTest::mouseClick(button->InnerButton(), Qt::LeftButton);
  };
}

ModalWatchdog::Action PressKey(int key) {
  return [key](QWidget* dialog) {
    QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : dialog;
    QTest::keyClick(target, static_cast<Qt::Key>(key));
  };
}

ModalWatchdog::Action CloseWindow() {
  return [](QWidget* dialog) { dialog->close(); };
}

void ShowActive(QWidget& window) {
  window.show();
  window.activateWindow();
  QApplication::setActiveWindow(&window);
  (void)QTest::qWaitForWindowExposed(&window, 2000);
  (void)QTest::qWaitForWindowActive(&window, 2000);
}

}  // namespace vorncom::ui::testing
