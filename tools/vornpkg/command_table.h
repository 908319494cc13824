#pragma once

// The commands of vornpkg. A command group is one source file that registers its commands with a
// static CommandRegistrar; main() only parses the command line and dispatches.

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace vornpkg {

// Exit codes shared by every command.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;  // the operation failed or found damage
inline constexpr int kExitUsage = 2;   // the command line was wrong

struct Invocation {
  std::vector<std::string> positional;
  std::map<std::string, std::string> options;  // "--key" -> "12"; flags map to ""

  bool Has(const std::string& option) const { return options.count(option) > 0; }
  std::optional<std::string> Value(const std::string& option) const;
};

struct Command {
  std::string name;
  std::string usage;                       // the synopsis after "vornpkg "
  std::string summary;                     // one line
  std::string details;                     // further help lines, may be empty
  std::vector<std::string> value_options;  // options followed by a value
  std::vector<std::string> flag_options;
  size_t min_positional = 0;
  size_t max_positional = 0;  // SIZE_MAX for no limit
  int (*run)(const Invocation&) = nullptr;
};

class CommandTable {
 public:
  static void Add(Command command);
  static const std::vector<Command>& All();
  static const Command* Find(const std::string& name);
};

struct CommandRegistrar {
  explicit CommandRegistrar(Command command) { CommandTable::Add(std::move(command)); }
};

// Splits `args` by the command's option lists. Returns an error text on unknown options, missing
// values or a wrong number of operands.
std::optional<std::string> ParseInvocation(const Command& command,
                                           const std::vector<std::string>& args,
                                           Invocation& invocation);

// Reports an error on stderr as "vornpkg: <text>".
void PrintError(const std::string& text);

}  // namespace vornpkg
