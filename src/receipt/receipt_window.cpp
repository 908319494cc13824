#include "receipt/receipt_window.h"

#include "receipt/receipt_report.h"

namespace vorncom::receipt {
namespace {

struct LiveWindow {
  ReceiptWindowHooks* hooks = nullptr;
  std::shared_ptr<ReceiptReport> report;
};

LiveWindow& Live() {
  static LiveWindow live;
  return live;
}

}  // namespace

ReceiptWindowRegistration::ReceiptWindowRegistration(ReceiptWindowHooks& hooks)
    : previous_hooks_(Live().hooks), previous_report_(std::move(Live().report)) {
  Live().hooks = &hooks;
  Live().report = std::make_shared<ReceiptReport>();
}

ReceiptWindowRegistration::~ReceiptWindowRegistration() {
  Live().hooks = previous_hooks_;
  Live().report = std::move(previous_report_);
}

ReceiptWindowHooks* ActiveReceiptWindow() { return Live().hooks; }

std::shared_ptr<ReceiptReport> ActiveWindowReport() { return Live().report; }

}  // namespace vorncom::receipt
