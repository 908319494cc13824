#pragma once

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <deque>
#include <functional>

namespace vorncom::ui::testing {

// Acts on the modal dialogs a test opens. Each scripted action runs once, on the next modal
// dialog that shows up. A modal dialog with no action left is a stray: it is closed, at most
// `stray_limit` times in the watchdog's life; past that the process ends with an error instead of
// hanging. Needs a QApplication.
class ModalWatchdog : public QObject {
 public:
  using Action = std::function<void(QWidget* dialog)>;

  explicit ModalWatchdog(int stray_limit = 3);
  ~ModalWatchdog() override;

  ModalWatchdog& Then(Action action);
  int Strays() const { return strays_; }
  int Handled() const { return handled_; }
  bool Idle() const { return actions_.empty(); }

 private:
  void Tick();

  QTimer timer_;
  std::deque<Action> actions_;
  QPointer<QWidget> last_;  // a freed dialog reads as null, so its successor is new
  int stray_limit_;
  int strays_ = 0;
  int handled_ = 0;
};

// Common actions.
ModalWatchdog::Action ClickButton(const char* object_name);
ModalWatchdog::Action PressKey(int key);
ModalWatchdog::Action CloseWindow();

// Shows and activates a top-level window and waits for it to be exposed and active.
void ShowActive(QWidget& window);

}  // namespace vorncom::ui::testing
