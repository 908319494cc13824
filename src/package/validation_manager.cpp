#include "package/validation_manager.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "archive/package_routines.h"
#include "common/date_time.h"
#include "common/environment.h"
#include "common/messages.h"
#include "package/control_files.h"
#include "package/origin_tag.h"

namespace vorncom::package {
namespace fs = std::filesystem;
namespace {

struct HeaderField {
  const char* section;
  const char* key;
  std::string HeaderValues::*field;
};

// Every value of header.cfg, in the order of the fields.
constexpr HeaderField kHeaderFields[] = {
    {ini::kDocumento, ini::kCodigoSistema, &HeaderValues::system_code},
    {ini::kDocumento, ini::kVersaoSistema, &HeaderValues::system_version},
    {ini::kDocumento, ini::kMeioEnvio, &HeaderValues::send_medium},
    {ini::kDocumento, ini::kDataAtualizacao, &HeaderValues::update_date},
    {ini::kDocumento, ini::kEnderecoHost, &HeaderValues::host_address},
    {ini::kDocumento, ini::kNomeHost, &HeaderValues::host_name},
    {ini::kDocumento, ini::kTipoSolicitacao, &HeaderValues::request_type},
    {ini::kDocumento, ini::kNomeSolicitacao, &HeaderValues::request_name},
    {ini::kDocumento, ini::kOrigemSolicitacao, &HeaderValues::origin},
    {ini::kDocumento, ini::kVersaoSolicitacao, &HeaderValues::request_version},
    {ini::kUsuario, ini::kTipoSolicitante, &HeaderValues::requester_type},
    {ini::kUsuario, ini::kIdentificacaoSolicitante, &HeaderValues::requester_id},
    {ini::kUsuario, ini::kIdentificacaoVorn, &HeaderValues::agency_id},
    {ini::kUsuario, ini::kNomeSolicitante, &HeaderValues::requester_name},
    {ini::kDocumento, ini::kNomeArquivo, &HeaderValues::data_file_name},
    {ini::kControles, ini::kCodigo, &HeaderValues::control_code},
    {ini::kDocumento, ini::kSistemaOperacional, &HeaderValues::operating_system},
    {ini::kDocumento, ini::kConfiguracoesComputador, &HeaderValues::computer_configuration},
};

bool IsFile(const std::string& path) {
  std::error_code ec;
  return fs::is_regular_file(path, ec);
}

void RemoveQuietly(const std::string& path) {
  std::error_code ec;
  fs::remove(path, ec);
}

}  // namespace

TValidationManager::TValidationManager() : TValidationManager(env::WorkFolder()) {}

TValidationManager::TValidationManager(std::string work_folder)
    : work_folder_(std::move(work_folder)) {}

TValidationManager::~TValidationManager() = default;

std::string TValidationManager::ProtocolRecordPath() const {
  return own_folder_ ? own_folder_->path() + kProtocolFileName : std::string();
}

const std::string& TValidationManager::OwnFolder() {
  if (!own_folder_) own_folder_ = std::make_unique<env::PrivateFolder>(work_folder_);
  return own_folder_->path();
}

bool TValidationManager::HoldsProtocolRecord() const {
  return archive::PackageHasEntry(package_path_, kProtocolFileName);
}

bool TValidationManager::FindProtocolRecord() {
  bool found = false;
  try {
    found = HoldsProtocolRecord();
  } catch (const std::exception& e) {
    throw ECompressSearchError(std::string(msg::kSearchProtocolFailed) + e.what());
  }
  if (!found) return false;
  ExtractProtocolRecord();
  return true;
}

void TValidationManager::ExtractProtocolRecord() {
  std::string folder;
  try {
    folder = OwnFolder();
  } catch (const std::exception&) {
    throw ECreateDirectoryError(std::string(msg::kWorkFolderFailed));
  }

  const std::string message = msg::Format(msg::kExtractProtocolFailed, {package_path_});
  // A copy left by an earlier call on this manager must not pass for this package's record.
  RemoveQuietly(ProtocolRecordPath());
  try {
    archive::ExtractPackageEntries(SingleNameList(kProtocolFileName), package_path_, folder, true);
  } catch (const std::exception&) {
    env::DeleteFilesByMask(folder + "*.rec");
    // Records left in the shared folder itself are only ever leftovers of a crashed run.
    env::DeleteFilesByMask(work_folder_ + "*.rec");
    throw EExpandFileError(message);
  }
  if (!IsFile(ProtocolRecordPath())) throw EExpandFileError(message);
}

bool TValidationManager::ReadProtocolRecord(Variant& protocol_data) {
  bool ok = false;
  try {
    const TConfigurationFile record(ProtocolRecordPath(), false);
    for (const ProtocolRecordField& f : kProtocolRecordReadBack) {
      std::string value = record.ReadString(f.key.section, f.key.key);
      if (f.form == RecordValueForm::kMessage) value = DecodeLineBreaks(value);
      protocol_data.At(f.element) = Variant(std::move(value));
    }
    ok = true;
  } catch (const std::exception&) {
    ok = false;
  }
  RemoveQuietly(ProtocolRecordPath());
  return ok;
}

void TValidationManager::ExtractHeader() {
  try {
    validation_folder_ = ValidationFolderName(OwnFolder(), package_file_name_, Now());
    std::error_code ec;
    fs::create_directories(validation_folder_, ec);
    if (!fs::is_directory(validation_folder_, ec)) throw ECreateDirectoryError("");
  } catch (const std::exception&) {
    throw ECreateDirectoryError(std::string(msg::kValidationFolderFailed));
  }

  const std::string header_path = validation_folder_ + kHeaderFileName;
  header_too_large_ = false;
  try {
    // A header no check could open is refused from its record, not written out first.
    header_too_large_ =
        !archive::ExtractPackageEntry(kHeaderFileName, package_path_, validation_folder_,
                                      static_cast<int64_t>(TConfigurationFile::kMaxFileSize));
    if (header_too_large_) return;
  } catch (const std::exception& e) {
    RemoveQuietly(header_path);
    try {
      RemoveValidationFolder();
    } catch (const std::exception&) {
    }
    throw EExpandFileError(msg::Format(msg::kExtractHeaderFailed, {package_path_, e.what()}));
  }
  if (!IsFile(header_path)) {
    try {
      RemoveValidationFolder();
    } catch (const std::exception&) {
    }
    throw ERenameFileError(msg::Format(msg::kHeaderMissing, {package_path_, kHeaderFileName}));
  }
}

bool TValidationManager::ValidateHeader(uint8_t mode) {
  bool answer = false;
  try {
    try {
      if (!header_too_large_)
        header_ = std::make_unique<TConfigurationFile>(validation_folder_ + kHeaderFileName, false);
    } catch (const EIniFileError&) {
      // A header too large or unreadable to open holds no key the check could find.
      header_.reset();
    }
    if (header_ && mode == 1) {
      const std::string stored = header_->ReadString(ini::kDocumento, ini::kOrigemSolicitacao);
      bool passed = OriginTagMatches(stored, package_file_name_);
      for (const IniKey& k : kRequiredHeaderKeys) {
        if (!passed) break;
        passed = header_->KeyExists(k.section, k.key);
      }
      if (passed) answer = ReadHeader();
    }
  } catch (...) {
    header_.reset();
    try {
      RemoveValidationFolder();
    } catch (const std::exception&) {
      // The first failure is the one to report.
    }
    throw;
  }
  header_.reset();
  RemoveValidationFolder();
  return answer;
}

bool TValidationManager::ReadHeader() {
  std::unique_ptr<TConfigurationFile> own;
  const TConfigurationFile* header = header_.get();
  if (!header) {
    own = std::make_unique<TConfigurationFile>(validation_folder_ + kHeaderFileName, false);
    header = own.get();
  }
  for (const HeaderField& f : kHeaderFields) {
    header_values_.*f.field = header->ReadString(f.section, f.key);
  }
  std::string& update = header_values_.update_date;
  if (!update.empty()) {
    const auto date = ParseDateTime(update);
    if (!date) throw EConvertError("'" + update + "' is not a valid date and time");
    const OleDate now = Now();
    if (now.value < date->value) update = FormatDateTime(now);
  }
  return true;
}

void TValidationManager::RemoveValidationFolder() {
  if (validation_folder_.empty()) return;
  std::error_code ec;
  if (!fs::exists(validation_folder_, ec)) return;
  for (const auto& entry : fs::directory_iterator(validation_folder_, ec)) {
    std::error_code entry_ec;
    const auto type = entry.symlink_status(entry_ec).type();
    if (type == fs::file_type::directory) continue;
    // Read-only files go too; a link is removed, never its target changed.
    if (type == fs::file_type::regular) chmod(entry.path().c_str(), S_IRUSR | S_IWUSR);
    fs::remove(entry.path(), entry_ec);
  }
  const std::string folder = validation_folder_;
  if (::rmdir(folder.c_str()) != 0) {
    const int error = errno;
    throw EInOutError("I/O error " + std::to_string(error) + ": " + std::strerror(error));
  }
}

}  // namespace vorncom::package
