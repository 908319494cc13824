#include "transfer/transfer_runner.h"

#include <cstdlib>
#include <memory>

#include "common/environment.h"
#include "common/ui/qt_host.h"
#include "interface/library_state.h"
#include "transfer/client_window.h"
#include "transfer/transfer_session.h"
#include "transfer/transfer_view.h"

namespace vorncom::transfer {
namespace {

bool EnvSet(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}

// Clears the one-window flag on every way out.
class ActiveWindowScope {
 public:
  ActiveWindowScope() { iface::State().window_active = true; }
  ~ActiveWindowScope() { iface::State().window_active = false; }
  ActiveWindowScope(const ActiveWindowScope&) = delete;
  ActiveWindowScope& operator=(const ActiveWindowScope&) = delete;
};

uint8_t RunHidden(const iface::TransferRequest& request) {
  HiddenView view;
  TransferSession session(view);
  session.SetRequest(request);
  session.Start();
  return session.result_code();
}

}  // namespace

bool WindowShown() {
  if (env::UnattendedRequested() && !EnvSet("QT_QPA_PLATFORM")) return false;
  return ui::QtUsable();
}

uint8_t RunTransfer(const iface::TransferRequest& request) {
  if (iface::State().window_active) return 25;
  ActiveWindowScope active;
  if (request.operation == iface::TransferRequest::Operation::kStatus) {
    HiddenView view;
    TransferSession session(view);
    session.SetRequest(request);
    return session.RunStatusQuery(request.status);
  }
  if (!WindowShown()) return RunHidden(request);
  try {
    ui::EnsureApplication();
  } catch (const ui::EQtHostError&) {
    return RunHidden(request);
  }
  auto window = std::make_unique<TfVornComClient>();
  window->SetRequest(request);
  window->SetEndWithFlow(env::UnattendedRequested());
  window->exec();
  return window->FResultCode();
}

void RegisterTransferWindow() { iface::SetTransferRunner(&RunTransfer); }

}  // namespace vorncom::transfer
