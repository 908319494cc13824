// The thirteen exported functions: read the C argument forms, run the operation, and never let a
// failure cross into the host.
#include <exception>
#include <iostream>

#include "VornComClient.h"
#include "common/message_dialog.h"
#include "common/messages.h"
#include "common/result_code.h"
#include "interface/library_state.h"
#include "interface/ole_variant.h"
#include "interface/operations.h"
#include "interface/text_argument.h"
#include "package/failure_codes.h"

namespace vorncom::iface {
namespace {

// Last line of defence for exports with a result: a failure that escaped its operation is shown
// like an interrupted transfer and gives its code. Showing it may fail too; then the code still
// returns.
template <typename Operation>
uint8_t GuardCode(Operation&& operation) noexcept {
  try {
    return ToByte(operation());
  } catch (const std::exception& e) {
    const ResultCode code = package::ResultCodeFor(e, package::FailedStep::kUnexpected);
    try {
      const std::string& inst = State().institution_name;
      MostrarMensagemDetalhes(
          msg::Format(msg::kCommunicationFailed, {inst, msg::kSendAborted}), MessageKind::kError,
          buttons::kOk, 0,
          msg::Format(msg::kCommunicationFailedDetails, {inst, inst, inst, e.what()}));
    } catch (...) {
    }
    return ToByte(code);
  } catch (...) {
  }
  return ToByte(ResultCode::kUnexpectedFailure);
}

template <typename Operation>
void GuardVoid(Operation&& operation) noexcept {
  try {
    operation();
  } catch (const std::exception& e) {
    try {
      std::cerr << "[VornCom] " << e.what() << '\n';
    } catch (...) {
    }
  } catch (...) {
  }
}

// Runs start-up when the library is loaded; a failure must not take the host down with it.
__attribute__((constructor)) void LoadLibrary() noexcept {
  GuardVoid([] { Startup(); });
}

}  // namespace
}  // namespace vorncom::iface

using namespace vorncom::iface;

extern "C" {

VORNCOM_API uint8_t VORNCOM_CALL SendFile(const unsigned char* package_path,
                                          uint8_t close_after_send) {
  return GuardCode(
      [&] { return SendFileOperation(ReadText(package_path), close_after_send != 0); });
}

VORNCOM_API uint8_t VORNCOM_CALL FileSent(const unsigned char* package_path) {
  return GuardCode([&] { return FileSentOperation(ReadText(package_path)); });
}

VORNCOM_API uint8_t VORNCOM_CALL GetFile(const unsigned char* file_name, VARIANT* client_info) {
  return GuardCode([&]() -> vorncom::ResultCode {
    vorncom::Variant info;
    bool readable = client_info != nullptr;
    if (readable) {
      try {
        info = FromOle(*client_info);
      } catch (const vorncom::EVariantError&) {
        readable = false;  // not a variant the library can read: not a usable array either
      }
    }
    return GetFileOperation(ReadText(file_name), readable ? &info : nullptr);
  });
}

VORNCOM_API uint8_t VORNCOM_CALL GetFormStatus(const unsigned char* form_type,
                                               const unsigned char* form_version, uint8_t* status) {
  return GuardCode(
      [&] { return GetFormStatusOperation(ReadText(form_type), ReadText(form_version), status); });
}

VORNCOM_API void VORNCOM_CALL GetComLastConnectionInfo(unsigned char* host, int32_t capacity,
                                                       int32_t* port) {
  GuardVoid([&] {
    const LibraryState& s = State();
    WriteText(host, capacity, s.last_host);
    if (port) *port = s.last_port;
  });
}

VORNCOM_API void VORNCOM_CALL DefineComServer(const unsigned char* server, int32_t port,
                                              uint8_t fixed_server) {
  GuardVoid([&] { DefineComServerOperation(ReadText(server), port, fixed_server != 0); });
}

VORNCOM_API void VORNCOM_CALL DefineComCfgFile(const unsigned char* path) {
  GuardVoid([&] { DefineComCfgFileOperation(ReadText(path)); });
}

VORNCOM_API void VORNCOM_CALL DefineComProtocolData(VARIANT data) {
  GuardVoid([&] { DefineComProtocolDataOperation(FromOle(data)); });
}

VORNCOM_API void VORNCOM_CALL DefineComInstitutionName(const unsigned char* name) {
  GuardVoid([&] { State().institution_name = ReadText(name); });
}

VORNCOM_API void VORNCOM_CALL DefineComInstitutionLogo(const unsigned char* path) {
  GuardVoid([&] { State().institution_logo = ReadText(path); });
}

VORNCOM_API void VORNCOM_CALL DefineComHelpFile(const unsigned char* path) {
  GuardVoid([&] { State().help_file = ReadText(path); });
}

VORNCOM_API void VORNCOM_CALL DefineComReceiptFooter(VARIANT lines) {
  GuardVoid([&] { DefineComReceiptFooterOperation(FromOle(lines)); });
}

VORNCOM_API void VORNCOM_CALL PrintComReceipt(const unsigned char* package_path) {
  GuardVoid([&] { PrintComReceiptOperation(ReadText(package_path)); });
}

}  // extern "C"
