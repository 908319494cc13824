#include "transfer/transfer_runner.h"

#include <cstdlib>
#include <memory>

#include "common/environment.h"
#include "common/ui/qt_host.h"
#include "transfer/client_window.h"
#include "transfer/transfer_session.h"
#include "transfer/transfer_view.h"

namespace vorncom::transfer {
namespace {

bool EnvSet(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}

ResultCode RunHidden(const TransferRequest& request, TransferContext& context) {
  HiddenView view;
  TransferSession session(view, context);
  session.SetRequest(request);
  if (request.operation == TransferRequest::Operation::kStatus) {
    return session.RunStatusQuery(request.status);
  }
  session.Start();
  return session.result_code();
}

}  // namespace

bool WindowShown() {
  if (env::UnattendedRequested() && !EnvSet("QT_QPA_PLATFORM")) return false;
  return ui::QtUsable();
}

ResultCode RunTransfer(const TransferRequest& request, TransferContext& context) {
  if (request.operation == TransferRequest::Operation::kStatus || !WindowShown()) {
    return RunHidden(request, context);
  }
  try {
    ui::EnsureApplication();
  } catch (const ui::EQtHostError&) {
    return RunHidden(request, context);
  }
  auto window = std::make_unique<TfVornComClient>(context);
  window->SetRequest(request);
  window->SetEndWithFlow(env::UnattendedRequested());
  window->exec();
  return window->session().result_code();
}

}  // namespace vorncom::transfer
