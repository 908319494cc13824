#include "interface/operations.h"

#include <sys/stat.h>

#include "common/environment.h"
#include "common/message_dialog.h"
#include "common/messages.h"
#include "common/text.h"
#include "interface/library_state.h"
#include "interface/receipt_link.h"
#include "interface/text_argument.h"
#include "interface/transfer_call.h"

namespace vorncom::iface {
namespace {

bool FileExists(const std::string& path) {
  struct stat st {};
  return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

constexpr int64_t kMinFreeBytes = 1024;

void ShowError(const std::string& text) {
  MostrarMensagem(text, MessageKind::kError, buttons::kOk);
}

}  // namespace

bool ServerDefinitionUsable() {
  const LibraryState& s = State();
  return (!s.server_name.empty() && s.server_port >= 1) || FileExists(s.config_file);
}

ResultCode SendFileOperation(const std::string& package_path, bool close_after_send) {
  if (!ServerDefinitionUsable()) {
    ShowError(msg::Format(msg::kServerDataIncorrect, {msg::kReceptor}));
    return ResultCode::kNoServerDefinition;
  }
  if (!FileExists(package_path)) {
    ShowError(msg::Format(msg::kFileToSendMissing, {package_path}));
    return ResultCode::kFileMissing;
  }
  // The receipt is written into the package, so its file system needs room. An unusable file
  // system (unreadable, read-only) counts as a full one.
  if (env::FreeSpace(package_path) < kMinFreeBytes) {
    ShowError(
        msg::Format(msg::kNoFreeSpace, {env::MountPointOf(package_path), msg::kWriteReceipt}));
    return ResultCode::kNoFreeSpace;
  }
  transfer::TransferRequest request;
  request.operation = transfer::TransferRequest::Operation::kSend;
  request.file_name = package_path;
  request.close_after_send = close_after_send;
  ResultCode code = ResultCode::kUnexpectedFailure;
  LibraryState& s = State();
  try {
    code = RunTransferCall(request);
  } catch (...) {
    s.sent_state_known = false;
    s.package_sent = false;
    throw;
  }
  s.sent_state_known = false;
  s.package_sent = false;
  return code;
}

ResultCode GetFileOperation(const std::string& file_name, const Variant* client_info) {
  if (!ServerDefinitionUsable()) {
    ShowError(msg::Format(msg::kServerDataIncorrect, {msg::kEmissor}));
    return ResultCode::kNoServerDefinition;
  }
  if (!client_info || !client_info->IsArray() || client_info->UpperBound() != 14) {
    ShowError(std::string(msg::kClientInfoIncorrect));
    return ResultCode::kClientInfoInvalid;
  }
  transfer::TransferRequest request;
  request.operation = transfer::TransferRequest::Operation::kReceive;
  request.file_name = file_name;
  request.client_info = *client_info;
  return RunTransferCall(request);
}

ResultCode GetFormStatusOperation(const std::string& form_type, const std::string& form_version,
                                  uint8_t* status) {
  if (!ServerDefinitionUsable()) return ResultCode::kNoServerDefinition;
  // Blank as the host trims it: blanks and control characters.
  if (TrimControls(form_type).empty() || TrimControls(form_version).empty()) {
    return ResultCode::kFormIdentityEmpty;
  }
  transfer::TransferRequest request;
  request.operation = transfer::TransferRequest::Operation::kStatus;
  request.form_type = form_type;
  request.form_version = form_version;
  request.status = status;
  return RunTransferCall(request);
}

void PrintComReceiptOperation(const std::string& package_path) {
  LibraryState& s = State();
  // Blank as the host trims it: blanks and control characters.
  if (!TrimControls(package_path).empty()) {
    if (!s.sent_state_known) FileSentOperation(package_path);
    if (!s.package_sent) return;
  }
  RunLibraryReceipt();
}

void DefineComServerOperation(const std::string& server, int32_t port, bool fixed) {
  LibraryState& s = State();
  s.server_name = server;
  s.server_port = port;
  s.fixed_server = fixed;
}

void DefineComCfgFileOperation(const std::string& path) {
  State().config_file = CutText(path, kMaxTextLength);
}

void DefineComReceiptFooterOperation(const Variant& lines) {
  LibraryState& s = State();
  if (lines.IsNull()) {
    s.receipt_footer = DefaultReceiptFooter();
    return;
  }
  try {
    for (int32_t i = 1; i <= 12; ++i) s.receipt_footer.At(i) = lines.At(i);
  } catch (const std::exception&) {
    // A short or missing array ends the copy; what was copied stays.
  }
}

}  // namespace vorncom::iface
