#include "interface/transfer_call.h"

#include "interface/library_state.h"
#include "interface/operations.h"
#include "interface/receipt_link.h"
#include "interface/text_argument.h"
#include "transfer/transfer_runner.h"

namespace vorncom::iface {
namespace {

transfer::TransferContext ContextFrom(LibraryState& s) {
  transfer::TransferContext context;
  context.settings.server_name = s.server_name;
  context.settings.server_port = s.server_port;
  context.settings.fixed_server = s.fixed_server;
  context.settings.config_file = s.config_file;
  context.settings.institution_name = s.institution_name;
  context.settings.help_file = s.help_file;
  context.results.last_host = s.last_host;
  context.results.last_port = s.last_port;
  context.results.packet_size = s.packet_size;
  context.results.protocol_data = s.protocol_data;
  // The services read and write the state itself: FileSent keeps its answer there, and the
  // receipt shows what the state holds.
  context.file_sent = [&s](const std::string& package_path, Variant& protocol_data) {
    s.protocol_data = protocol_data;
    const ResultCode code = FileSentOperation(CutText(package_path, kMaxTextLength));
    protocol_data = s.protocol_data;
    return code;
  };
  context.show_receipt = [&s](const Variant& protocol_data) {
    s.protocol_data = protocol_data;
    RunLibraryReceipt();
  };
  return context;
}

// Marks the one live window and takes the transfer's results into the state on every way out.
class TransferScope {
 public:
  TransferScope(LibraryState& state, const transfer::TransferContext& context)
      : state_(state), context_(context) {
    state_.window_active = true;
  }
  ~TransferScope() {
    const transfer::TransferResults& r = context_.results;
    state_.last_host = r.last_host;
    state_.last_port = r.last_port;
    state_.packet_size = r.packet_size;
    state_.protocol_data = r.protocol_data;
    state_.window_active = false;
  }
  TransferScope(const TransferScope&) = delete;
  TransferScope& operator=(const TransferScope&) = delete;

 private:
  LibraryState& state_;
  const transfer::TransferContext& context_;
};

}  // namespace

ResultCode RunTransferCall(const transfer::TransferRequest& request) {
  LibraryState& s = State();
  if (s.window_active) return ResultCode::kUnexpectedFailure;
  transfer::TransferContext context = ContextFrom(s);
  TransferScope scope(s, context);
  return transfer::RunTransfer(request, context);
}

}  // namespace vorncom::iface
