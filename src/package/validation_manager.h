#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "common/environment.h"
#include "common/exception.h"
#include "common/variant.h"
#include "package/configuration_file.h"

namespace vorncom::package {

// The package or its control files could not be handled; each carries the user-facing text.
VORNCOM_EXCEPTION(ECreateDirectoryError);  // work or validation folder cannot be created
VORNCOM_EXCEPTION(EExpandFileError);       // a control file cannot be extracted
VORNCOM_EXCEPTION(ERenameFileError);       // the package holds no header.cfg
VORNCOM_EXCEPTION(ECompressSearchError);   // the package cannot be searched (FindProtocolRecord)
// "Data Atualização" in header.cfg is no valid date-time: "'<text>' is not a valid date and time".
VORNCOM_EXCEPTION(EConvertError);
// The validation folder could not be removed after a check: "I/O error <n>: <reason>".
VORNCOM_EXCEPTION(EInOutError);

// The values of header.cfg, one field per key (UTF-8; empty when the key is missing).
struct HeaderValues {
  std::string system_code;             // Documento / Código Sistema
  std::string system_version;          // Documento / Versão Sistema
  std::string send_medium;             // Documento / Meio Envio
  std::string update_date;             // Documento / Data Atualização
  std::string host_address;            // Documento / Endereço Host
  std::string host_name;               // Documento / Nome Host
  std::string request_type;            // Documento / Tipo Solicitação
  std::string request_name;            // Documento / Nome Solicitação
  std::string origin;                  // Documento / Origem Solicitação
  std::string request_version;         // Documento / Versão Solicitação
  std::string requester_type;          // Usuário / Tipo Solicitante
  std::string requester_id;            // Usuário / Identificação Solicitante
  std::string agency_id;               // Usuário / Identificação Vorn
  std::string requester_name;          // Usuário / Nome Solicitante
  std::string data_file_name;          // Documento / Nome Arquivo
  std::string control_code;            // Controles / Código
  std::string operating_system;        // Documento / Sistema Operacional
  std::string computer_configuration;  // Documento / Configurações Computador
};

// Answers questions about one form package: was it already sent (does it hold protocolo.rec,
// and what does that record say), and is it fit to be sent (its header.cfg's origin tag and
// required keys). One instance per question; the caller sets the package's file name and path.
//
// Control files are extracted into a folder of the manager's own inside the work folder
// (protocolo.rec) or a validation folder inside that one (header.cfg), and removed again by the
// operation that reads them, also when it fails; the manager's folder goes with the manager. So
// any number of managers, in any number of processes sharing the work folder, never see each
// other's files.
class TValidationManager {
 public:
  // The work folder is the library's ("Trabalho/" under the host's folder).
  TValidationManager();
  // `work_folder` ends with '/'; only its last level is created when missing.
  explicit TValidationManager(std::string work_folder);
  ~TValidationManager();
  TValidationManager(const TValidationManager&) = delete;
  TValidationManager& operator=(const TValidationManager&) = delete;

  void set_package_file_name(std::string name) { package_file_name_ = std::move(name); }
  void set_package_path(std::string path) { package_path_ = std::move(path); }

  // True when the package holds an entry named exactly "protocolo.rec", which is then extracted
  // into the work folder: HoldsProtocolRecord, then ExtractProtocolRecord. Throws
  // ECompressSearchError, carrying the archive's message, when the package cannot be searched.
  bool FindProtocolRecord();
  // The search alone. The package's own failure passes unchanged: std::system_error when it
  // cannot be opened, archive::EInvalidHeader when it is no archive (or its directory is
  // damaged), another archive exception when it cannot be read.
  bool HoldsProtocolRecord() const;
  // Extracts the package's "protocolo.rec" into the work folder. Throws
  // ECreateDirectoryError when the work folder cannot be created, EExpandFileError when the
  // entry cannot be extracted (every "*.rec" in the work folder is then deleted).
  void ExtractProtocolRecord();

  // Reads the protocolo.rec FindProtocolRecord extracted into elements 1 to 8 and 14 of
  // `protocol_data` (bounds 1..14; the others keep their values) and deletes the file, whatever the
  // answer. False when the record cannot be opened or read; elements read before the failure keep
  // their new values.
  bool ReadProtocolRecord(Variant& protocol_data);

  // Creates the validation folder and extracts header.cfg into it. Throws ECreateDirectoryError,
  // EExpandFileError (extraction failed) or ERenameFileError (the package has no header.cfg);
  // the validation folder is removed again on every failure.
  void ExtractHeader();

  // Mode 1, the sending-side check: the origin tag stored in the header must match the one
  // computed from the package file name (letter case ignored) and every required key must be
  // present; then the fields are filled. A header that cannot be read at all (larger than a
  // configuration file may be, unreadable) fails the check. Other modes check nothing and
  // answer false. In every
  // case the validation folder is removed afterwards (read-only files too); a folder that cannot
  // be removed throws EInOutError, unless another exception is already on its way. Throws
  // EConvertError, after the clean-up, when "Data Atualização" is no valid date-time.
  bool ValidateHeader(uint8_t mode);

  // Copies every header.cfg value into the fields; a "Data Atualização" later than now becomes
  // now ("dd/mm/yyyy hh:nn:ss"). Needs the header opened by ValidateHeader, else reads the
  // extracted file. Always true; throws EConvertError as ValidateHeader does.
  bool ReadHeader();

  const HeaderValues& header() const { return header_values_; }
  const std::string& validation_folder() const { return validation_folder_; }
  const std::string& work_folder() const { return work_folder_; }
  // Where FindProtocolRecord puts protocolo.rec; empty before the manager's folder is made.
  std::string ProtocolRecordPath() const;

 private:
  // The manager's own folder inside the work folder, made at first need. Throws what
  // env::PrivateFolder throws.
  const std::string& OwnFolder();
  void RemoveValidationFolder();

  std::string work_folder_;
  std::unique_ptr<env::PrivateFolder> own_folder_;
  std::string validation_folder_;
  bool header_too_large_ = false;  // ExtractHeader refused it from its record
  HeaderValues header_values_;
  std::unique_ptr<TConfigurationFile> header_;
  std::string package_file_name_;
  std::string package_path_;
};

}  // namespace vorncom::package
