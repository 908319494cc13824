#include "package/configuration_manager.h"

#include <filesystem>
#include <system_error>

#include "common/messages.h"
#include "package/binary_file.h"

namespace vorncom::package {

void TConfigurationManager::LoadServerList(const std::string& file_name) {
  server_data_ = Variant::Null();
  std::error_code ec;
  if (!std::filesystem::is_regular_file(file_name, ec)) {
    throw EConfigurationError(msg::Format(msg::kConfigFileMissing, {file_name}));
  }
  const std::string unreadable = msg::Format(msg::kConfigFileUnreadable, {file_name});
  const auto size = std::filesystem::file_size(file_name, ec);
  if (ec || size > kMaxServerListFileSize) throw EConfigurationError(unreadable);
  TBinaryFile file(file_name, TBinaryFile::kModeRead);
  Variant data;
  try {
    file.ReadData(data);
  } catch (const std::exception&) {
    throw EConfigurationError(unreadable);
  }
  server_data_ = std::move(data);
}

void TConfigurationManager::SaveServerList(const std::string& file_name, const Variant& data) {
  const std::string message = msg::Format(msg::kConfigFileNotCreated, {file_name});
  try {
    TBinaryFile file(file_name, TBinaryFile::kModeCreate);
    if (!file.WriteData(data)) throw EConfigurationError(message);
  } catch (const EConfigurationError&) {
    throw;
  } catch (const std::exception&) {
    throw EConfigurationError(message);
  }
}

}  // namespace vorncom::package
