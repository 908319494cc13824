#include "package/protocol_manager.h"

#include <filesystem>
#include <sstream>
#include <system_error>

#include "archive/package_routines.h"
#include "common/date_time.h"
#include "common/environment.h"
#include "common/messages.h"
#include "package/configuration_file.h"
#include "package/control_files.h"
#include "package/ini_document.h"
#include "package/message_table.h"

namespace vorncom::package {
namespace {

std::string ValueText(const Variant& element, RecordValueForm form) {
  switch (form) {
    case RecordValueForm::kDateTime:
      return FormatDateTime(element.ToDate());
    case RecordValueForm::kMessage:
      return EncodeLineBreaks(element.ToString());
    case RecordValueForm::kText:
      break;
  }
  return element.ToString();
}

// protocolo.rec's bytes, as the configuration file would write them value by value. Throws when
// an element cannot be converted or stored on one line.
std::string RecordBytes(const Variant& protocol_data) {
  IniDocument record;
  for (const ProtocolRecordField& f : kProtocolRecordFields) {
    const auto section = ToCp1252Exactly(f.key.section);
    const auto key = ToCp1252Exactly(f.key.key);
    const auto value = ToCp1252Exactly(ValueText(protocol_data.At(f.element), f.form));
    if (!section || !key || !value || !record.Set(*section, *key, *value))
      throw EProtocolError("value refused");
  }
  return record.Serialize();
}

}  // namespace

TVornComProtocolManager::TVornComProtocolManager() = default;

TVornComProtocolManager::TVornComProtocolManager(std::string work_folder, std::string config_folder)
    : work_folder_(std::move(work_folder)), config_folder_(std::move(config_folder)) {}

void TVornComProtocolManager::RecordProtocol(uint8_t operation, uint8_t /*sub_code*/) {
  if (operation != 1 || protocol_data_.IsNull()) return;

  std::string file_name;
  try {
    file_name = protocol_data_.At(pd::kFileName).ToString();
  } catch (const std::exception&) {
  }
  const std::string prefix = msg::Format(msg::kProtocolErrorPrefix, {file_name});
  std::istringstream record;
  try {
    // The record never touches the disk; still, a work folder that cannot be used, where a later
    // FileSent check would have to extract this record, fails the recording before the package
    // is touched.
    const env::PrivateFolder usable(work_folder_ ? *work_folder_ : env::WorkFolder());
    record.str(RecordBytes(protocol_data_));
  } catch (const std::exception&) {
    throw EProtocolError(prefix + std::string(msg::kRecordNotCreated));
  }

  std::error_code ec;
  if (!std::filesystem::is_regular_file(package_path_, ec))
    throw EProtocolError(prefix + std::string(msg::kSentFileMissing));
  // Adding an entry would replace one of the same name (letter case ignored), so a package that
  // already holds a record is refused untouched: its first record stays.
  if (!archive::InsertStreamIntoPackage(record, kProtocolFileName, package_path_))
    throw EProtocolError(prefix + std::string(msg::kRecordNotInserted));

  try {
    std::string config;
    if (config_folder_) {
      config = *config_folder_;
    } else {
      env::InitializeFolders();
      config = env::ConfigFolder();
    }
    StoreRequestMessage(config + kMessageTableFileName,
                        protocol_data_.At(pd::kRequestType).ToString(),
                        protocol_data_.At(pd::kRequestVersion).ToString(),
                        protocol_data_.At(pd::kRequestMessage).ToString());
  } catch (const std::exception& e) {
    throw EProtocolError(prefix + std::string(msg::kMessageTableFailed) + e.what());
  }
}

}  // namespace vorncom::package
