#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace vorncom::tools {

// The form-package commands of vornpkg, for host developers:
//
//   create PACKAGE --header FILE DATAFILE...
//       FILE holds "Section/Key=value" lines (UTF-8; blank lines and lines starting with '#' are
//       skipped). header.cfg is written from them in Windows-1252, with the origin tag for
//       PACKAGE's file name unless FILE sets "Documento/Origem Solicitação"; then header.cfg and
//       the data files are stored under their bare names with LH5. PACKAGE must not exist yet; it
//       appears only when complete.
//   header PACKAGE
//       Prints header.cfg and runs the check a send runs (origin tag, required keys, update
//       date). Exit 0 only when the package passes.
//   receipt PACKAGE
//       Prints the protocol record. Exit 1 when the package holds none.
//   servers CFGFILE [list | add HOST[:PORT] | remove HOST[:PORT] | enable HOST[:PORT] |
//                    disable HOST[:PORT]]
//       Lists or edits the server list of a client configuration file. "add" without a port uses
//       211; the others without a port act on every entry of that host. Host names compare
//       without regard to A-Z letter case.
//
// Exit codes: 0 success, 1 failure or a "no" (check failed, no record, no such server),
// 2 usage error. Errors are reported on `err` as "vornpkg: <text>".

// True for "create", "header", "receipt" and "servers".
bool IsPackageCommand(const std::string& name);

// `args` starts with the command name. Messages go to `out` and `err`; never throws.
int RunPackageCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int RunPackageCommand(const std::vector<std::string>& args);

void PrintPackageCommandUsage(std::ostream& out);

}  // namespace vorncom::tools
