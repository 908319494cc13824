#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "common/exception.h"
#include "common/variant.h"

namespace vorncom::package {

// Recording a transmission on the user's side failed. The message begins with
// "Erro ao protocolar a transmissão do arquivo \"<file name>\". " and names the step.
VORNCOM_EXCEPTION(EProtocolError);

// Records a completed send from a copy of ProtocolData (bounds 1..14): puts protocolo.rec (the
// fourteen values, in order) into the package, which from then on counts as sent, then keeps the
// request's message in the document-type message table.
class TVornComProtocolManager {
 public:
  // Work and configuration folders are the library's, computed when they are needed.
  TVornComProtocolManager();
  // Both folders end with '/'.
  TVornComProtocolManager(std::string work_folder, std::string config_folder);

  const Variant& protocol_data() const { return protocol_data_; }
  void set_protocol_data(Variant data) { protocol_data_ = std::move(data); }
  void set_package_path(std::string path) { package_path_ = std::move(path); }

  // Operation 1 (with any sub-code) records a send; other operations, and null protocol data, do
  // nothing. Throws EProtocolError:
  // - the record cannot be made from the data, or the work folder cannot be used ("Problemas ao
  //   criar o arquivo com os dados da transmissão!"), the package is missing ("O arquivo
  //   transmitido não foi encontrado!") or the record cannot be inserted, for instance because
  //   the package already holds one ("Problemas ao compactar o arquivo com os dados da
  //   transmissão!"): the package is unchanged;
  // - the message table cannot be written ("Problemas ao criar o arquivo de mensagem associado à
  //   solicitação! Erro: " and the reason): the package already holds the record.
  // The record is built in memory and goes into the package in one rewrite, which reads the
  // package once.
  void RecordProtocol(uint8_t operation, uint8_t sub_code);

 private:
  Variant protocol_data_ = Variant::Null();
  std::optional<std::string> work_folder_;
  std::optional<std::string> config_folder_;
  std::string package_path_;
};

}  // namespace vorncom::package
