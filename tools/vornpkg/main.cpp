// vornpkg: inspects, builds and checks form packages from the command line.
#include <iostream>
#include <string>
#include <vector>

#include "command_table.h"

namespace {

void PrintHelp(std::ostream& out) {
  out << "Usage: vornpkg COMMAND [ARGS...]\n"
         "       vornpkg COMMAND --help\n"
         "       vornpkg --version\n\n"
         "Commands:\n";
  for (const auto& c : vornpkg::CommandTable::All())
    out << "  " << c.usage << "\n      " << c.summary << "\n";
  out << "\nExit status: 0 success, 1 the operation failed or found damage, 2 usage error.\n";
}

void PrintCommandHelp(const vornpkg::Command& c) {
  std::cout << "Usage: vornpkg " << c.usage << "\n\n" << c.summary << "\n";
  if (!c.details.empty()) std::cout << "\n" << c.details;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) {
    PrintHelp(std::cerr);
    return vornpkg::kExitUsage;
  }
  if (args[0] == "--version") {
    std::cout << "vornpkg " VORNCOM_VERSION "\n";
    return vornpkg::kExitOk;
  }
  if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    if (args.size() > 1) {
      if (const auto* c = vornpkg::CommandTable::Find(args[1])) {
        PrintCommandHelp(*c);
        return vornpkg::kExitOk;
      }
    }
    PrintHelp(std::cout);
    return vornpkg::kExitOk;
  }
  const auto* command = vornpkg::CommandTable::Find(args[0]);
  if (!command) {
    vornpkg::PrintError("unknown command '" + args[0] + "'; see vornpkg --help");
    return vornpkg::kExitUsage;
  }
  args.erase(args.begin());
  for (const auto& a : args) {
    if (a == "--") break;
    if (a == "--help" || a == "-h") {
      PrintCommandHelp(*command);
      return vornpkg::kExitOk;
    }
  }
  vornpkg::Invocation invocation;
  if (const auto error = vornpkg::ParseInvocation(*command, args, invocation)) {
    vornpkg::PrintError(*error);
    return vornpkg::kExitUsage;
  }
  return command->run(invocation);
}
