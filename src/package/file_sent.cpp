#include "package/file_sent.h"

#include "common/environment.h"
#include "common/messages.h"
#include "package/failure_codes.h"
#include "package/validation_manager.h"

namespace vorncom::package {
namespace {

FileSentOutcome::Message Error(std::string_view action) {
  return {MessageKind::kError, msg::Format(msg::kErrorDoing, {action})};
}

// Records a failure of the check: its code and the message that goes with it.
void Failed(FileSentOutcome& out, const std::exception& failure) {
  out.result_code = ResultCodeFor(failure, FailedStep::kResendCheck);
  switch (out.result_code) {
    case ResultCode::kWorkFolderFailed:
      out.message = Error(msg::kCreateTempFolder);
      break;
    case ResultCode::kProtocolNotExtracted:
      out.message = Error(msg::kExtractProtocol);
      break;
    case ResultCode::kNotSent:
      break;  // no archive, so no record: nothing to say or know
    default:
      out.message = Error(msg::kSearchProtocol);
      break;
  }
}

}  // namespace

FileSentOutcome CheckFileSent(const std::string& package_path, const Variant& protocol_data) {
  return CheckFileSent(package_path, protocol_data, env::WorkFolder());
}

FileSentOutcome CheckFileSent(const std::string& package_path, const Variant& protocol_data,
                              const std::string& work_folder) {
  FileSentOutcome out;
  TValidationManager manager(work_folder);
  manager.set_package_path(package_path);
  bool found = false;
  try {
    found = manager.HoldsProtocolRecord();
  } catch (const std::exception& e) {
    Failed(out, e);
    return out;
  }
  try {
    if (found) manager.ExtractProtocolRecord();
    out.package_sent = found;
    if (found) {
      Variant data = protocol_data;
      if (manager.ReadProtocolRecord(data)) {
        out.result_code = ResultCode::kAlreadySent;
      } else {
        out.result_code = ResultCode::kProtocolUnreadable;
        out.message =
            FileSentOutcome::Message{MessageKind::kError, std::string(msg::kSentButUnreadable)};
      }
      out.protocol_data = std::move(data);
    }
    out.sent_state_known = true;
  } catch (const std::exception& e) {
    Failed(out, e);
    // An archive that stopped looking like one halfway is a search failure, not "no package".
    if (out.result_code == ResultCode::kNotSent) {
      out.result_code = ResultCode::kProtocolNotSearched;
      out.message = Error(msg::kSearchProtocol);
    }
  }
  return out;
}

}  // namespace vorncom::package
