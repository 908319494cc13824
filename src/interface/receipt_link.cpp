#include "interface/receipt_link.h"

#include "common/environment.h"
#include "interface/library_state.h"
#include "receipt/receipt_runner.h"
#include "receipt/receipt_window.h"

namespace vorncom::iface {
namespace {

ReceiptPresenter& Presenter() {
  static ReceiptPresenter presenter;
  return presenter;
}

void Present(const receipt::ReceiptData& data) {
  if (Presenter()) {
    Presenter()(data);
  } else {
    receipt::PrintComReceipt(data);
  }
}

}  // namespace

void SetReceiptPresenter(ReceiptPresenter presenter) { Presenter() = std::move(presenter); }

void RunLibraryReceipt() {
  LibraryState& s = State();
  receipt::ReceiptData data;
  data.protocol_data = s.protocol_data;
  data.footer = s.receipt_footer;
  data.institution_name = s.institution_name;
  data.institution_logo = s.institution_logo;
  data.images_folder = env::ImagesFolder();

  const bool window_alive = s.window_active || receipt::ActiveReceiptWindow() != nullptr;
  if (window_alive) {
    Present(data);
    return;
  }
  // The call stands in for a window of its own, which ends with the call, also on failure.
  struct CallWindow {
    LibraryState& state;
    explicit CallWindow(LibraryState& s) : state(s) { state.window_active = true; }
    ~CallWindow() { state.window_active = false; }
  } call_window(s);
  Present(data);
}

}  // namespace vorncom::iface
