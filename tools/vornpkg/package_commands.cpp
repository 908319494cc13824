#include "package_commands.h"

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <set>
#include <sstream>

#include "archive/archiver.h"
#include "archive/package_routines.h"
#include "archive/stored_names.h"
#include "common/atomic_file.h"
#include "common/cp1252.h"
#include "common/messages.h"
#include "common/text.h"
#include "common/variant.h"
#include "package/configuration_file.h"
#include "package/configuration_manager.h"
#include "package/control_files.h"
#include "package/file_sent.h"
#include "package/origin_tag.h"
#include "package/validation_manager.h"
#include "rpc/server_list.h"

namespace vorncom::tools {
namespace {

namespace fs = std::filesystem;
using namespace vorncom::package;

constexpr int kYes = 0;
constexpr int kNo = 1;
constexpr int kUsage = 2;

// A failure with its text for the user; a usage error when `usage` is set.
struct CommandError {
  std::string message;
  bool usage = false;
};

// A private folder, removed with its content: under the system's temporary folder, or in
// `parent` (so that what is built there can be renamed out of it).
class ScratchFolder {
 public:
  explicit ScratchFolder(const fs::path& parent = fs::temp_directory_path()) {
    std::string templ = ((parent.empty() ? fs::path(".") : parent) / ".vornpkg-XXXXXX").string();
    if (!mkdtemp(templ.data())) {
      throw CommandError{"cannot create a temporary folder in " +
                         templ.substr(0, templ.rfind('/'))};
    }
    path_ = templ + "/";
  }
  ~ScratchFolder() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

std::string TooLarge(const std::string& what, uintmax_t size) {
  return what + " is " + std::to_string(size) +
         " bytes, too large for a configuration file (at most " +
         std::to_string(TConfigurationFile::kMaxFileSize) + ")";
}

// Configuration files only: larger ones are refused before anything is read.
std::string ReadFile(const std::string& path) {
  std::error_code ec;
  const uintmax_t size = fs::file_size(path, ec);
  if (!ec && size > TConfigurationFile::kMaxFileSize) throw CommandError{TooLarge(path, size)};
  std::ifstream in(path, std::ios::binary);
  if (!in) throw CommandError{"cannot read " + path};
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Windows-1252 file content as UTF-8 lines ending in '\n'.
std::string AsPrintable(const std::string& cp1252) {
  std::string text = Cp1252ToUtf8(cp1252);
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out += text[i];
  }
  if (!out.empty() && out.back() != '\n') out += '\n';
  return out;
}

// The settings file may have been written with CR LF line ends.
std::string Trim(std::string_view s) { return std::string(TrimBlanks(s, kLineBlanks)); }

// ---- create -------------------------------------------------------------------------------

int Create(const std::vector<std::string>& args, std::ostream& out) {
  if (args.size() < 4 || args[2] != "--header") {
    throw CommandError{"usage: create PACKAGE --header FILE DATAFILE...", true};
  }
  const std::string package = args[1];
  const std::string header_source = args[3];
  const std::vector<std::string> data_files(args.begin() + 4, args.end());
  std::error_code ec;
  if (fs::exists(package, ec)) throw CommandError{package + " already exists"};

  std::set<std::string> bare_names = {kHeaderFileName};
  for (const std::string& file : data_files) {
    if (!fs::is_regular_file(file, ec)) throw CommandError{file + " is no file"};
    const std::string bare = FileNameOf(file);
    if (bare == kProtocolFileName) throw CommandError{file + ": only a send writes " + bare};
    if (!bare_names.insert(bare).second) {
      throw CommandError{file + ": the package already gets an entry named " + bare};
    }
  }

  ScratchFolder scratch;
  const std::string header_path = scratch.path() + kHeaderFileName;
  TConfigurationFile header(header_path, false);
  std::istringstream lines(ReadFile(header_source));
  std::string line;
  bool has_origin = false;
  for (int number = 1; std::getline(lines, line); ++number) {
    line = Trim(line);
    if (line.empty() || line.front() == '#') continue;
    const size_t slash = line.find('/');
    const size_t eq = line.find('=', slash == std::string::npos ? 0 : slash);
    if (slash == std::string::npos || eq == std::string::npos || slash == 0 || eq == slash + 1) {
      throw CommandError{header_source + ":" + std::to_string(number) +
                         ": expected Section/Key=value"};
    }
    const std::string section = Trim(line.substr(0, slash));
    const std::string key = Trim(line.substr(slash + 1, eq - slash - 1));
    if (EqualsIgnoreCase(section, ini::kDocumento) &&
        EqualsIgnoreCase(key, ini::kOrigemSolicitacao)) {
      has_origin = true;
    }
    if (!header.WriteValue(section, key, TConfigValueKind::vkString,
                           Variant(line.substr(eq + 1)))) {
      throw CommandError{header_source + ":" + std::to_string(number) +
                         ": cannot be stored in Windows-1252 on one line"};
    }
  }
  if (!has_origin &&
      !header.WriteValue(ini::kDocumento, ini::kOrigemSolicitacao, TConfigValueKind::vkString,
                         Variant(ComputeOriginTag(FileNameOf(package))))) {
    throw CommandError{"the origin tag of " + FileNameOf(package) +
                       " cannot be stored (it would hold a NUL character)"};
  }

  // Built in a private folder beside the target (its short name fits whatever the target's
  // does) and renamed when complete, so no half-made package is ever seen.
  const ScratchFolder building(fs::path(package).parent_path());
  const std::string partial = building.path() + "package";
  // Each file added goes in front of the entries already there: header.cfg, added last,
  // comes first.
  Variant names = Variant::Array(0, data_files.size() + 1);
  for (size_t i = 0; i < data_files.size(); ++i) {
    names.At(static_cast<int32_t>(i)) = Variant(fs::absolute(data_files[i]).string());
  }
  names.At(static_cast<int32_t>(data_files.size())) = Variant(header_path);
  archive::AddFilesToPackage(names, scratch.path(), partial, true);
  // A package made meanwhile by someone else is not replaced.
  if (fs::exists(package, ec)) throw CommandError{package + " already exists"};
  vorncom::MoveFileIntoPlace(partial, package);
  out << "created " << package << " with " << data_files.size() + 1 << " entries\n";
  return kYes;
}

// ---- header -------------------------------------------------------------------------------

int Header(const std::vector<std::string>& args, std::ostream& out) {
  if (args.size() != 2) throw CommandError{"usage: header PACKAGE", true};
  const std::string package = args[1];
  const std::string name = FileNameOf(package);

  // The records say how large header.cfg expands (expansion never passes that): a huge one is
  // refused before it is written anywhere.
  std::vector<archive::ScannedEntry> entries;
  archive::TArchiver().ScanArchiveFile(package, entries);
  for (const archive::ScannedEntry& e : entries) {
    if (archive::SameStoredName(e.name, kHeaderFileName) &&
        static_cast<uintmax_t>(e.info.size) > TConfigurationFile::kMaxFileSize) {
      throw CommandError{TooLarge(package + ": " + e.name, static_cast<uintmax_t>(e.info.size))};
    }
  }

  ScratchFolder scratch;
  TValidationManager manager(scratch.path());
  manager.set_package_path(package);
  manager.set_package_file_name(name);
  manager.ExtractHeader();

  // What the check looks at, shown before the check removes it.
  const std::string header_path = manager.validation_folder() + kHeaderFileName;
  out << AsPrintable(ReadFile(header_path));
  const TConfigurationFile header(header_path, false);
  const std::string stored = header.ReadString(ini::kDocumento, ini::kOrigemSolicitacao);
  std::vector<std::string> problems;
  if (!OriginTagMatches(stored, name)) {
    problems.push_back("origin tag \"" + stored + "\" does not match \"" + ComputeOriginTag(name) +
                       "\" of " + name);
  }
  for (const IniKey& k : kRequiredHeaderKeys) {
    if (!header.KeyExists(k.section, k.key)) {
      problems.push_back(std::string("missing ") + k.section + "/" + k.key);
    }
  }

  const bool passed = manager.ValidateHeader(1);
  out << "--\n";
  for (const std::string& p : problems) out << p << "\n";
  out << (passed ? "header passes the send check\n" : "header fails the send check\n");
  return passed ? kYes : kNo;
}

// ---- receipt ------------------------------------------------------------------------------

int Receipt(const std::vector<std::string>& args, std::ostream& out) {
  if (args.size() != 2) throw CommandError{"usage: receipt PACKAGE", true};
  const std::string package = args[1];
  std::error_code ec;
  if (!fs::is_regular_file(package, ec)) throw CommandError{package + " is no file"};

  ScratchFolder scratch;
  const FileSentOutcome outcome = CheckFileSent(package, NewProtocolData(), scratch.path());
  if (outcome.result_code == ResultCode::kNotSent) {
    out << package << " holds no protocol record\n";
    return kNo;
  }
  if (outcome.result_code != ResultCode::kAlreadySent) {
    throw CommandError{outcome.message ? outcome.message->text : "the record cannot be read"};
  }
  archive::ExtractPackageEntries(SingleNameList(kProtocolFileName), package, scratch.path(), true);
  std::string text = AsPrintable(ReadFile(scratch.path() + kProtocolFileName));
  out << text;
  const Variant& data = *outcome.protocol_data;
  const std::string message = data.At(pd::kRequestMessage).ToString();
  if (!message.empty()) out << "--\n" << message << (message.back() == '\n' ? "" : "\n");
  return kYes;
}

// ---- servers ------------------------------------------------------------------------------

struct ServerSpec {
  std::string host;
  std::optional<int32_t> port;
};

ServerSpec ParseServer(const std::string& text) {
  ServerSpec server{text, std::nullopt};
  const size_t colon = text.rfind(':');
  if (colon != std::string::npos && text.find(':') == colon) {
    const std::string digits = text.substr(colon + 1);
    if (digits.empty() || digits.size() > 5 ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      throw CommandError{"bad port in " + text, true};
    }
    const int port = std::stoi(digits);
    if (port < 1 || port > 65535) throw CommandError{"bad port in " + text, true};
    server = {text.substr(0, colon), port};
  }
  if (server.host.empty()) throw CommandError{"no host in " + text, true};
  return server;
}

bool SameHost(const std::string& a, const std::string& b) {
  auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [&](char x, char y) { return fold(x) == fold(y); });
}

int Servers(const std::vector<std::string>& args, std::ostream& out) {
  if (args.size() < 2)
    throw CommandError{"usage: servers CFGFILE [list | add|remove|enable|disable HOST[:PORT]]",
                       true};
  const std::string file = args[1];
  const std::string action = args.size() > 2 ? args[2] : "list";
  if ((action == "list") != (args.size() <= 3) || args.size() > 4) {
    throw CommandError{"usage: servers CFGFILE [list | add|remove|enable|disable HOST[:PORT]]",
                       true};
  }

  std::vector<rpc::ServerItem> servers;
  std::error_code ec;
  if (fs::exists(file, ec)) {
    TConfigurationManager manager;
    manager.LoadServerList(file);
    const ByteArray& bytes = manager.server_data().AsBytes();
    servers = rpc::DecodeServerList(bytes.bytes);
  } else if (action != "add") {
    throw CommandError{msg::Format(msg::kConfigFileMissing, {file})};
  }

  if (action == "list") {
    for (const rpc::ServerItem& s : servers) {
      out << s.computer_name << ":" << s.port << (s.enabled ? " enabled" : " disabled") << "\n";
    }
    return kYes;
  }

  const ServerSpec server = ParseServer(args[3]);
  auto matches = [&](const rpc::ServerItem& s) {
    return SameHost(s.computer_name, server.host) && (!server.port || s.port == *server.port);
  };
  if (action == "add") {
    const rpc::ServerItem item{server.host, server.port.value_or(211), true};
    if (std::any_of(servers.begin(), servers.end(), [&](const rpc::ServerItem& s) {
          return SameHost(s.computer_name, item.computer_name) && s.port == item.port;
        })) {
      throw CommandError{item.computer_name + ":" + std::to_string(item.port) +
                         " is listed already"};
    }
    servers.push_back(item);
  } else if (action == "remove" || action == "enable" || action == "disable") {
    const size_t hits = static_cast<size_t>(std::count_if(servers.begin(), servers.end(), matches));
    if (hits == 0) {
      out << "no server " << args[3] << " in " << file << "\n";
      return kNo;
    }
    if (action == "remove") {
      servers.erase(std::remove_if(servers.begin(), servers.end(), matches), servers.end());
    } else {
      for (rpc::ServerItem& s : servers) {
        if (matches(s)) s.enabled = action == "enable";
      }
    }
  } else {
    throw CommandError{"unknown servers action " + action, true};
  }

  const std::vector<uint8_t> bytes = rpc::EncodeServerList(servers);
  TConfigurationManager().SaveServerList(file, Variant(ByteArray{1, bytes}));
  out << file << ": " << servers.size() << (servers.size() == 1 ? " server\n" : " servers\n");
  return kYes;
}

}  // namespace

bool IsPackageCommand(const std::string& name) {
  return name == "create" || name == "header" || name == "receipt" || name == "servers";
}

void PrintPackageCommandUsage(std::ostream& out) {
  out << "  create PACKAGE --header FILE DATAFILE...   build a form package with its header.cfg\n"
         "  header PACKAGE                             show header.cfg and run the send check\n"
         "  receipt PACKAGE                            show the protocol record of a sent package\n"
         "  servers CFGFILE [list | add|remove|enable|disable HOST[:PORT]]\n"
         "                                             show or edit a client server list\n";
}

int RunPackageCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  try {
    if (args.empty() || !IsPackageCommand(args[0])) {
      PrintPackageCommandUsage(err);
      return kUsage;
    }
    if (args[0] == "create") return Create(args, out);
    if (args[0] == "header") return Header(args, out);
    if (args[0] == "receipt") return Receipt(args, out);
    return Servers(args, out);
  } catch (const CommandError& e) {
    err << "vornpkg: " << e.message << "\n";
    return e.usage ? kUsage : kNo;
  } catch (const std::exception& e) {
    err << "vornpkg: " << e.what() << "\n";
  }
  return kNo;
}

int RunPackageCommand(const std::vector<std::string>& args) {
  return RunPackageCommand(args, std::cout, std::cerr);
}

}  // namespace vorncom::tools
