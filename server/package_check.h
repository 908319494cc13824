#pragma once

#include <cstdint>
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

// Checks that `package` is a form package: every entry expands to its recorded size with a good
// checksum, nothing follows the last entry, and it holds header.cfg. Nothing is written to disk:
// entries expand into a checksum sink and header.cfg (at most 1 MiB) into memory. A package whose
// records claim more than `max_expanded_bytes` in all is refused before anything is expanded. On
// success fills `header` and returns true; otherwise returns false with `reason` set. Never throws
// for bad package contents.
bool InspectPackage(const std::string& package, uint64_t max_expanded_bytes, PackageHeader& header,
                    std::string& reason);

}  // namespace vorncom::server
