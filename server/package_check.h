#pragma once

#include <string>

namespace vorncom::server {

// The header.cfg values the server hands back in the protocol data.
struct PackageHeader {
  std::string request_type;     // "Tipo Solicitação"
  std::string request_name;     // "Nome Solicitação"
  std::string request_version;  // "Versão Solicitação"
  std::string requester_id;     // "Identificação Solicitante"
  std::string requester_name;   // "Nome Solicitante"
  std::string agency_id;        // "Identificação Vorn"
  std::string update_date;      // "Data Atualização", as stored
};

// Checks that `package` is a form package: every entry expands with a good checksum and it holds
// header.cfg. Expands into `scratch_folder` (created, and removed again before returning). On
// success fills `header` and returns true; otherwise returns false with `reason` set. Never throws
// for bad package contents.
bool InspectPackage(const std::string& package, const std::string& scratch_folder,
                    PackageHeader& header, std::string& reason);

}  // namespace vorncom::server
