#pragma once

#include <string>

#include "journal/send_journal.h"
#include "support/temp_dir.h"

namespace vorncom::journal {

inline const std::string kPackageSha(64, 'a');

inline SendRecord PackageSend(const std::string& name = "DIRF2026.qev", int64_t size = 4096) {
  SendRecord r;
  r.sha256 = kPackageSha;
  r.size = size;
  r.file_name = name;
  r.package_path = "/home/ana/Trabalho/" + name;
  return r;
}

inline Attempt SendAttempt(int n) {
  return Attempt{"2026-12-09 10:00:0" + std::to_string(n % 10),
                 "envio",
                 "DIRF2026.qev",
                 kPackageSha,
                 "recepcao.vorn.gov:211",
                 n % 2 ? "TLSv1.3" : "",
                 1000 * n,
                 37 * n,
                 n % 3,
                 n % 3 ? "Servidor ocupado" : ""};
}

}  // namespace vorncom::journal
