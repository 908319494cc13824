#include "server/package_check.h"

#include <filesystem>

#include "archive/package_routines.h"
#include "package/configuration_file.h"
#include "package/control_files.h"

namespace vorncom::server {

namespace fs = std::filesystem;

namespace {

// Removes the scratch folder on every way out.
struct ScratchFolder {
  fs::path path;
  ~ScratchFolder() {
    std::error_code ignored;
    fs::remove_all(path, ignored);
  }
};

}  // namespace

bool InspectPackage(const std::string& package, const std::string& scratch_folder,
                    PackageHeader& header, std::string& reason) {
  ScratchFolder scratch{scratch_folder};
  try {
    fs::remove_all(scratch.path);
    fs::create_directories(scratch.path);
    // Expanding every entry is what proves the checksums.
    archive::ExtractAllPackageEntries(package, scratch.path.string() + "/", true);
    const fs::path header_file = scratch.path / package::kHeaderFileName;
    if (!archive::PackageHasEntry(package, package::kHeaderFileName) ||
        !fs::is_regular_file(header_file)) {
      reason = "o pacote não contém header.cfg";
      return false;
    }
    const package::TConfigurationFile cfg(header_file.string(), false);
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
