// The form-package commands (create, header, receipt, servers) in the command table.
#include <cstdint>

#include "command_table.h"
#include "package_commands.h"

namespace vornpkg {
namespace {

std::vector<std::string> Arguments(const std::string& name, const Invocation& invocation) {
  std::vector<std::string> args = {name};
  args.insert(args.end(), invocation.positional.begin(), invocation.positional.end());
  return args;
}

int Create(const Invocation& invocation) {
  std::vector<std::string> args = {"create", invocation.positional.at(0)};
  if (const auto header = invocation.Value("--header")) {
    args.push_back("--header");
    args.push_back(*header);
  }
  args.insert(args.end(), invocation.positional.begin() + 1, invocation.positional.end());
  return vorncom::tools::RunPackageCommand(args);
}

int Header(const Invocation& invocation) {
  return vorncom::tools::RunPackageCommand(Arguments("header", invocation));
}

int Receipt(const Invocation& invocation) {
  return vorncom::tools::RunPackageCommand(Arguments("receipt", invocation));
}

int Servers(const Invocation& invocation) {
  return vorncom::tools::RunPackageCommand(Arguments("servers", invocation));
}

const CommandRegistrar kCreate({
    .name = "create",
    .usage = "create PACKAGE --header FILE DATAFILE...",
    .summary = "Build a form package: header.cfg from FILE, then the data files, with LH5.",
    .details = "  --header FILE  \"Section/Key=value\" lines in UTF-8 ('#' starts a comment)\n"
               "header.cfg is written in Windows-1252 with the origin tag of PACKAGE's name,\n"
               "unless FILE sets Documento/Origem Solicitação. PACKAGE must not exist.\n",
    .value_options = {"--header"},
    .flag_options = {},
    .min_positional = 1,
    .max_positional = SIZE_MAX,
    .run = Create,
});

const CommandRegistrar kHeader({
    .name = "header",
    .usage = "header PACKAGE",
    .summary = "Show header.cfg and run the check a send runs on it.",
    .details = "Exit status 0 only when the origin tag, the required keys and the update date\n"
               "pass; the problems found are listed.\n",
    .value_options = {},
    .flag_options = {},
    .min_positional = 1,
    .max_positional = 1,
    .run = Header,
});

const CommandRegistrar kReceipt({
    .name = "receipt",
    .usage = "receipt PACKAGE",
    .summary = "Show the protocol record of a sent package.",
    .details = "Exit status 1 when the package holds no protocol record.\n",
    .value_options = {},
    .flag_options = {},
    .min_positional = 1,
    .max_positional = 1,
    .run = Receipt,
});

const CommandRegistrar kServers({
    .name = "servers",
    .usage = "servers CFGFILE [list | add HOST[:PORT] | remove|enable|disable HOST[:PORT]]",
    .summary = "Show or edit the server list of a client configuration file.",
    .details = "  add uses port 211 when none is given; remove, enable and disable without a\n"
               "  port act on every entry of the host. The file is replaced in one step.\n",
    .value_options = {},
    .flag_options = {},
    .min_positional = 1,
    .max_positional = 3,
    .run = Servers,
});

}  // namespace
}  // namespace vornpkg
