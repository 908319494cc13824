#pragma once

#include <QString>
#include <memory>

class QWidget;

namespace vorncom::receipt {

class ReceiptReport;

// What the receipt needs from a live transfer window: the owner of its preview, the first panel
// of its status bar and its Receipt button. The window implements this and keeps a
// ReceiptWindowRegistration for as long as it lives; a receipt printed while one is registered
// runs "from the window" (status text, button disabled during the run) and reuses its report.
class ReceiptWindowHooks {
 public:
  virtual ~ReceiptWindowHooks() = default;
  // Parent of the preview window; may be null.
  virtual QWidget* ReceiptOwner() = 0;
  // Sets the first status panel; an empty text clears it.
  virtual void SetReceiptStatus(const QString& text) = 0;
  // Enables or disables btnRecibo.
  virtual void SetReceiptEnabled(bool enabled) = 0;
};

// Registers `hooks` as the live window for its own lifetime. At most one window is live: a
// second registration replaces the first until it ends. `hooks` must outlive the registration.
class ReceiptWindowRegistration {
 public:
  explicit ReceiptWindowRegistration(ReceiptWindowHooks& hooks);
  ~ReceiptWindowRegistration();
  ReceiptWindowRegistration(const ReceiptWindowRegistration&) = delete;
  ReceiptWindowRegistration& operator=(const ReceiptWindowRegistration&) = delete;

 private:
  ReceiptWindowHooks* previous_hooks_;
  std::shared_ptr<ReceiptReport> previous_report_;
};

// The registered window's hooks, or null when no window is live.
ReceiptWindowHooks* ActiveReceiptWindow();
// The receipt report that belongs to the live window (its paper choice lives as long as the
// window), or null when no window is live.
std::shared_ptr<ReceiptReport> ActiveWindowReport();

}  // namespace vorncom::receipt
