#include "server/package_check.h"

#include <algorithm>

#include "archive/archive_check.h"
#include "package/configuration_file.h"
#include "package/control_files.h"

namespace vorncom::server {

bool InspectPackage(const std::string& package, uint64_t max_expanded_bytes, PackageHeader& header,
                    std::string& reason) {
  try {
    archive::ArchiveCheckOptions options;
    options.max_expanded_bytes =
        static_cast<int64_t>(std::min<uint64_t>(max_expanded_bytes, INT64_MAX));
    options.capture = package::kHeaderFileName;
    options.stop_at_first_failure = true;
    const archive::ArchiveCheck check = archive::CheckArchiveFile(package, options);
    if (!check.sound()) {
      reason = check.Problem();
      return false;
    }
    if (!check.captured) {
      reason = "o pacote não contém header.cfg";
      return false;
    }
    const auto cfg = package::TConfigurationFile::FromText(*check.captured);
    namespace ini = package::ini;
    header.request_type = cfg.ReadString(ini::kDocumento, ini::kTipoSolicitacao);
    header.request_name = cfg.ReadString(ini::kDocumento, ini::kNomeSolicitacao);
    header.request_version = cfg.ReadString(ini::kDocumento, ini::kVersaoSolicitacao);
    header.update_date = cfg.ReadString(ini::kDocumento, ini::kDataAtualizacao);
    header.requester_id = cfg.ReadString(ini::kUsuario, ini::kIdentificacaoSolicitante);
    header.requester_name = cfg.ReadString(ini::kUsuario, ini::kNomeSolicitante);
    header.agency_id = cfg.ReadString(ini::kUsuario, ini::kIdentificacaoVorn);
    return true;
  } catch (const std::exception& e) {
    reason = e.what();
    return false;
  }
}

}  // namespace vorncom::server
