#include "package/file_sent.h"

#include "archive/errors.h"
#include "common/environment.h"
#include "common/messages.h"
#include "package/validation_manager.h"

namespace vorncom::package {
namespace {

FileSentOutcome::Message Error(std::string_view action) {
  return {MessageKind::kError, msg::Format(msg::kErrorDoing, {action})};
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
  } catch (const archive::EInvalidHeader&) {
    // No archive (or a directory no archive could hold), so no record: nothing to say or know.
    return out;
  } catch (const std::exception&) {
    out.result_code = 20;
    out.message = Error(msg::kSearchProtocol);
    return out;
  }
  try {
    if (found) manager.ExtractProtocolRecord();
    out.package_sent = found;
    if (found) {
      Variant data = protocol_data;
      if (manager.ReadProtocolRecord(data)) {
        out.result_code = 3;
      } else {
        out.result_code = 21;
        out.message =
            FileSentOutcome::Message{MessageKind::kError, std::string(msg::kSentButUnreadable)};
      }
      out.protocol_data = std::move(data);
    }
    out.sent_state_known = true;
  } catch (const ECreateDirectoryError&) {
    out.result_code = 16;
    out.message = Error(msg::kCreateTempFolder);
  } catch (const EExpandFileError&) {
    out.result_code = 19;
    out.message = Error(msg::kExtractProtocol);
  } catch (const std::exception&) {
    out.result_code = 20;
    out.message = Error(msg::kSearchProtocol);
  }
  return out;
}

}  // namespace vorncom::package
