#include "package/file_sent.h"
#include "common/message_dialog.h"
#include "interface/library_state.h"
#include "interface/operations.h"

namespace vorncom::iface {

ResultCode FileSentOperation(const std::string& package_path) {
  LibraryState& s = State();
  package::FileSentOutcome outcome = package::CheckFileSent(package_path, s.protocol_data);
  if (outcome.package_sent) s.package_sent = *outcome.package_sent;
  if (outcome.protocol_data) s.protocol_data = std::move(*outcome.protocol_data);
  if (outcome.sent_state_known) s.sent_state_known = true;
  if (outcome.message) MostrarMensagem(outcome.message->text, outcome.message->kind, buttons::kOk);
  return outcome.result_code;
}

}  // namespace vorncom::iface
