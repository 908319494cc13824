#include "command_table.h"

#include <algorithm>
#include <cstdint>
#include <iostream>

namespace vornpkg {
namespace {

std::vector<Command>& Table() {
  static std::vector<Command> table;
  return table;
}

bool Contains(const std::vector<std::string>& list, const std::string& item) {
  return std::find(list.begin(), list.end(), item) != list.end();
}

}  // namespace

std::optional<std::string> Invocation::Value(const std::string& option) const {
  const auto it = options.find(option);
  if (it == options.end()) return std::nullopt;
  return it->second;
}

void CommandTable::Add(Command command) {
  auto& table = Table();
  const auto at =
      std::lower_bound(table.begin(), table.end(), command,
                       [](const Command& a, const Command& b) { return a.name < b.name; });
  table.insert(at, std::move(command));
}

const std::vector<Command>& CommandTable::All() { return Table(); }

const Command* CommandTable::Find(const std::string& name) {
  for (const auto& c : Table())
    if (c.name == name) return &c;
  return nullptr;
}

std::optional<std::string> ParseInvocation(const Command& command,
                                           const std::vector<std::string>& args,
                                           Invocation& invocation) {
  bool operands_only = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (operands_only || arg.size() < 2 || arg[0] != '-') {
      invocation.positional.push_back(arg);
      continue;
    }
    if (arg == "--") {
      operands_only = true;
      continue;
    }
    std::string name = arg, value;
    const auto eq = arg.find('=');
    const bool inline_value = arg.starts_with("--") && eq != std::string::npos;
    if (inline_value) {
      name = arg.substr(0, eq);
      value = arg.substr(eq + 1);
    }
    if (Contains(command.value_options, name)) {
      if (!inline_value) {
        if (i + 1 >= args.size()) return "option " + name + " needs a value";
        value = args[++i];
      }
      invocation.options[name] = value;
    } else if (Contains(command.flag_options, name) && !inline_value) {
      invocation.options[name] = "";
    } else {
      return "unknown option " + arg + " for '" + command.name + "'";
    }
  }
  const size_t n = invocation.positional.size();
  if (n < command.min_positional) return "missing operand; usage: vornpkg " + command.usage;
  if (command.max_positional != SIZE_MAX && n > command.max_positional)
    return "too many operands; usage: vornpkg " + command.usage;
  return std::nullopt;
}

void PrintError(const std::string& text) { std::cerr << "vornpkg: " << text << "\n"; }

}  // namespace vornpkg
