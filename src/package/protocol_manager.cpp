#include "package/protocol_manager.h"

#include <filesystem>
#include <system_error>

#include "archive/package_routines.h"
#include "common/date_time.h"
#include "common/environment.h"
#include "package/control_files.h"
#include "package/message_table.h"

namespace vorncom::package {
namespace fs = std::filesystem;
namespace {

// The archive matches entry names with A-Z folded, and only those letters.
bool EqualsIgnoreCaseAscii(std::string_view a, std::string_view b) {
  auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (fold(a[i]) != fold(b[i])) return false;
  }
  return true;
}

void RemoveQuietly(const std::string& path) {
  std::error_code ec;
  fs::remove(path, ec);
}

std::string RecordText(const Variant& element, RecordValueForm form) {
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

bool PackageHoldsRecord(const std::string& package) {
  try {
    const Variant entries = archive::ListPackageEntries(package);
    if (!entries.IsArray()) return false;
    for (const Variant& name : entries.AsArray().items) {
      if (EqualsIgnoreCaseAscii(name.ToString(), kProtocolFileName)) return true;
    }
  } catch (const std::exception&) {
    // An unreadable package fails the insertion itself.
  }
  return false;
}

}  // namespace

TVornComProtocolManager::TVornComProtocolManager() = default;

TVornComProtocolManager::TVornComProtocolManager(std::string work_folder, std::string config_folder)
    : work_folder_(std::move(work_folder)), config_folder_(std::move(config_folder)) {}

void TVornComProtocolManager::WriteRecord(const std::string& path) {
  record_ = std::make_unique<TConfigurationFile>(path, true);
  for (const ProtocolRecordField& f : kProtocolRecordFields) {
    const std::string text = RecordText(protocol_data_.At(f.element), f.form);
    if (!record_->WriteValue(f.key.section, f.key.key, TConfigValueKind::vkString, Variant(text))) {
      throw EProtocolError("write refused");
    }
  }
  record_.reset();
}

void TVornComProtocolManager::RecordProtocol(uint8_t operation, uint8_t /*sub_code*/) {
  if (operation != 1 || protocol_data_.IsNull()) return;

  std::string file_name;
  try {
    file_name = protocol_data_.At(pd::kFileName).ToString();
  } catch (const std::exception&) {
  }
  const std::string prefix = "Erro ao protocolar a transmissão do arquivo \"" + file_name + "\". ";
  const std::string work = work_folder_ ? *work_folder_ : env::WorkFolder();
  // The record is written in a folder of this recording's own, so that other sends sharing the
  // work folder never read or remove it; the folder goes on every way out.
  std::unique_ptr<env::PrivateFolder> folder;
  std::string record_path;
  try {
    folder = std::make_unique<env::PrivateFolder>(work);
    record_path = folder->path() + kProtocolFileName;
    WriteRecord(record_path);
  } catch (const std::exception&) {
    record_.reset();
    throw EProtocolError(prefix + "Problemas ao criar o arquivo com os dados da transmissão!");
  }

  try {
    std::error_code ec;
    if (!fs::is_regular_file(record_path, ec)) {
      throw EProtocolError(prefix + "Problemas ao criar o arquivo com os dados da transmissão!");
    }
    if (!fs::is_regular_file(package_path_, ec)) {
      throw EProtocolError(prefix + "O arquivo transmitido não foi encontrado!");
    }
    // Adding a file replaces an entry of the same name (letter case ignored), so a package that
    // already holds a record is refused before it is touched: its first record stays.
    if (PackageHoldsRecord(package_path_) ||
        !archive::InsertFilesIntoPackage(SingleNameList(record_path), package_path_)) {
      throw EProtocolError(prefix +
                           "Problemas ao compactar o arquivo com os dados da transmissão!");
    }
  } catch (...) {
    RemoveQuietly(record_path);
    throw;
  }
  RemoveQuietly(record_path);

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
    throw EProtocolError(
        prefix +
        "Problemas ao criar o arquivo de mensagem associado à solicitação! Erro: " + e.what());
  }
}

}  // namespace vorncom::package
