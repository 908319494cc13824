// vorncom: a command-line host for libVornComClient. It loads the library with dlopen and calls
// its exports exactly as a desktop form-filling program would, so the library can be driven from
// scripts and its results seen without a host application.
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "VornComClient.h"
#include "common/cp1252.h"
#include "journal/send_journal.h"
#include "journal_command.h"

namespace {

const char* kUsage = R"(usage: vorncom [OPTIONS] COMMAND [ARGS]

Commands:
  send PACKAGE [--close]        send a form package (SendFile)
  sent PACKAGE                  tell whether a package was already sent (FileSent)
  get NAME [FIELD=VALUE...]     download NAME; FIELD is 1..14 of the client information (GetFile)
  status TYPE VERSION           ask whether the server takes a form type and version (GetFormStatus)
  receipt [PACKAGE]             preview and print the transmission receipt (PrintComReceipt)
  last                          host and port of the last connection (GetComLastConnectionInfo)
  journal [--journal FILE]      list the send journal (sends and attempts) and check the chain
                                of attempts; FILE defaults to Configuracoes/envios.db under the
                                base folder (VORNCOM_BASE_DIR, else this program's folder)

Options (each calls the matching setting export before the command):
  --server HOST[:PORT]          DefineComServer (port 211 when left out)
  --fixed                       with --server: never use the server list
  --config FILE                 DefineComCfgFile: the client configuration with the server list
  --institution NAME            DefineComInstitutionName (with its article, e.g. "o Vorn")
  --logo FILE                   DefineComInstitutionLogo
  --help-file FILE              DefineComHelpFile
  --footer FILE                 DefineComReceiptFooter: up to 12 lines of FILE (UTF-8)
  --footer-default              DefineComReceiptFooter with Null: the default lines
  --protocol FIELD=VALUE        DefineComProtocolData element 1..14 (repeatable)
  --library PATH                the library to load (default: libVornComClient.so.1, found
                                by the system's library search path)
  --unattended                  answer every message with its default button (no windows)
  --journal FILE                the journal that the journal command lists
  --version                     print the version and exit

The exit code is the export's result code (0 for commands without one). The journal command
exits with 1 when the chain of attempts was altered, and 125 when the journal cannot be read.
)";

const std::map<int, const char*> kCodeMeanings = {
    {0, "success"},
    {1, "the data transfer failed"},
    {2, "cancelled by the user"},
    {3, "the package already holds a protocol record"},
    {4, "the package holds no protocol record"},
    {5, "the server is not sending files now"},
    {6, "the server is not receiving files now"},
    {7, "the package does not exist, or the file to download is empty"},
    {8, "no connection could be established"},
    {9, "the server is not accepting connections"},
    {10, "the package failed the sending-side validation"},
    {11, "the transferred file failed validation"},
    {12, "remote protocolation failed"},
    {13, "local protocolation failed"},
    {15, "the server does not take or give this form now"},
    {16, "the temporary work folder could not be created"},
    {17, "the header could not be extracted"},
    {18, "the header could not be processed"},
    {19, "the protocol record could not be extracted"},
    {20, "the protocol record could not be searched"},
    {21, "already sent, but the protocol record could not be read"},
    {22, "the server settings could not be loaded"},
    {23, "the client configuration could not be updated"},
    {24, "too little free space for the package"},
    {25, "an unexpected failure ended the transfer"},
    {26, "socket support is missing"},
    {27, "no usable server definition"},
    {28, "the client information is not a 14-element array"},
    {29, "form type or version empty"},
    {30, "the server is congested"},
    {31, "the server does not take or give this form now"},
    {32, "the form's availability could not be determined"},
    {33, "the form's availability could not be determined"},
};

// A length-prefixed Windows-1252 text argument built from UTF-8.
class Text {
 public:
  explicit Text(const std::string& utf8) {
    std::string bytes = vorncom::Utf8ToCp1252(utf8);
    if (bytes.size() > 255) {
      std::cerr << "vorncom: text longer than 255 characters is cut: " << utf8 << '\n';
      bytes.resize(255);
    }
    data_[0] = static_cast<unsigned char>(bytes.size());
    std::memcpy(data_ + 1, bytes.data(), bytes.size());
  }
  const unsigned char* get() const { return data_; }

 private:
  unsigned char data_[256] = {};
};

struct Library {
  void* handle = nullptr;
  template <typename F>
  F Get(const char* name) {
    void* f = dlsym(handle, name);
    if (!f) {
      std::cerr << "vorncom: the library lacks " << name << '\n';
      std::exit(125);
    }
    return reinterpret_cast<F>(f);
  }
};

// Parses "1=value" into (1, "value") with 1 <= field <= 14.
bool ParseField(const std::string& arg, int& field, std::string& value) {
  const size_t eq = arg.find('=');
  if (eq == std::string::npos) return false;
  char* end = nullptr;
  const long n = std::strtol(arg.substr(0, eq).c_str(), &end, 10);
  if (*end != '\0' || n < 1 || n > 14) return false;
  field = static_cast<int>(n);
  value = arg.substr(eq + 1);
  return true;
}

void SetTextOrBool(VARIANT* element, const std::string& value) {
  if (value == "true" || value == "false") {
    VornComVariantSetBool(element, value == "true");
  } else {
    VornComVariantSetString(element, value.c_str());
  }
}

int Report(const char* what, int code) {
  const auto it = kCodeMeanings.find(code);
  std::cout << what << ": " << code << " (" << (it != kCodeMeanings.end() ? it->second : "?")
            << ")\n";
  return code;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  std::string library = VORNCOM_DEFAULT_LIBRARY;
  std::string server, config, institution, logo, help_file, footer, journal;
  int port = 211;
  bool fixed = false, footer_default = false;
  std::vector<std::pair<int, std::string>> protocol;
  size_t i = 0;
  auto need = [&](const std::string& option) -> std::string {
    if (i + 1 >= args.size()) {
      std::cerr << "vorncom: " << option << " needs a value\n";
      std::exit(125);
    }
    return args[++i];
  };
  for (; i < args.size() && args[i].rfind("--", 0) == 0; ++i) {
    const std::string& a = args[i];
    if (a == "--help") {
      std::cout << kUsage;
      return 0;
    } else if (a == "--version") {
      std::cout << "vorncom " VORNCOM_VERSION "\n";
      return 0;
    } else if (a == "--server") {
      server = need(a);
      if (const size_t colon = server.rfind(':'); colon != std::string::npos) {
        port = std::atoi(server.c_str() + colon + 1);
        server.resize(colon);
      }
    } else if (a == "--fixed") {
      fixed = true;
    } else if (a == "--config") {
      config = need(a);
    } else if (a == "--institution") {
      institution = need(a);
    } else if (a == "--logo") {
      logo = need(a);
    } else if (a == "--help-file") {
      help_file = need(a);
    } else if (a == "--footer") {
      footer = need(a);
    } else if (a == "--footer-default") {
      footer_default = true;
    } else if (a == "--protocol") {
      int field = 0;
      std::string value;
      if (!ParseField(need(a), field, value)) {
        std::cerr << "vorncom: --protocol takes FIELD=VALUE with FIELD 1..14\n";
        return 125;
      }
      protocol.emplace_back(field, value);
    } else if (a == "--library") {
      library = need(a);
    } else if (a == "--journal") {
      journal = need(a);
    } else if (a == "--unattended") {
      setenv("VORNCOM_UNATTENDED", "1", 1);
    } else {
      std::cerr << "vorncom: unknown option " << a << "\n" << kUsage;
      return 125;
    }
  }
  if (i >= args.size()) {
    std::cerr << kUsage;
    return 125;
  }
  const std::string command = args[i++];
  const std::vector<std::string> rest(args.begin() + static_cast<long>(i), args.end());

  // The journal is read directly: listing it needs no library, and no host's settings.
  if (command == "journal") {
    if (rest.size() == 2 && rest[0] == "--journal") {
      journal = rest[1];
    } else if (!rest.empty()) {
      std::cerr << "vorncom: bad command line\n" << kUsage;
      return 125;
    }
    if (journal.empty()) journal = vorncom::journal::SendJournal::DefaultPath();
    return vorncom::tool::PrintJournal(journal, std::cout, std::cerr);
  }

  Library lib;
  lib.handle = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!lib.handle) {
    std::cerr << "vorncom: cannot load " << library << ": " << dlerror() << '\n';
    return 125;
  }

  if (!server.empty()) {
    lib.Get<void (*)(const unsigned char*, int32_t, uint8_t)>("DefineComServer")(
        Text(server).get(), port, fixed ? 1 : 0);
  }
  using DefineText = void (*)(const unsigned char*);
  if (!config.empty()) lib.Get<DefineText>("DefineComCfgFile")(Text(config).get());
  if (!institution.empty()) {
    lib.Get<DefineText>("DefineComInstitutionName")(Text(institution).get());
  }
  if (!logo.empty()) lib.Get<DefineText>("DefineComInstitutionLogo")(Text(logo).get());
  if (!help_file.empty()) lib.Get<DefineText>("DefineComHelpFile")(Text(help_file).get());
  using DefineVariant = void (*)(VARIANT);
  if (footer_default || !footer.empty()) {
    VARIANT v;
    VornComVariantInit(&v);
    if (footer_default) {
      VornComVariantSetNull(&v);
    } else {
      std::ifstream in(footer);
      if (!in) {
        std::cerr << "vorncom: cannot read " << footer << '\n';
        return 125;
      }
      VornComVariantSetArray(&v, 1, 12);
      std::string line;
      for (int n = 1; n <= 12 && std::getline(in, line); ++n) {
        VornComVariantSetString(VornComVariantArrayAt(&v, n), line.c_str());
      }
    }
    lib.Get<DefineVariant>("DefineComReceiptFooter")(v);
    VornComVariantClear(&v);
  }
  if (!protocol.empty()) {
    VARIANT v;
    VornComVariantInit(&v);
    VornComVariantSetArray(&v, 1, 14);
    for (const auto& [field, value] : protocol) {
      SetTextOrBool(VornComVariantArrayAt(&v, field), value);
    }
    lib.Get<DefineVariant>("DefineComProtocolData")(v);
    VornComVariantClear(&v);
  }

  // The library's state lives as long as the process, so the connection a command made is shown
  // by that command; `last` on its own only shows the state at start-up.
  auto PrintLastConnection = [&lib](bool only_when_connected) {
    unsigned char host[256] = {};
    int32_t last_port = 0;
    lib.Get<void (*)(unsigned char*, int32_t, int32_t*)>("GetComLastConnectionInfo")(host, 255,
                                                                                     &last_port);
    const std::string name =
        vorncom::Cp1252ToUtf8(std::string(reinterpret_cast<char*>(host + 1), host[0]));
    if (only_when_connected && name.empty()) return;
    std::cout << "last connection: " << (name.empty() ? "(none)" : name) << " port " << last_port
              << '\n';
  };

  if (command == "send" && !rest.empty()) {
    const bool close = rest.size() > 1 && rest[1] == "--close";
    const int code = Report("SendFile", lib.Get<uint8_t (*)(const unsigned char*, uint8_t)>(
                                            "SendFile")(Text(rest[0]).get(), close ? 1 : 0));
    PrintLastConnection(true);
    return code;
  }
  if (command == "sent" && rest.size() == 1) {
    return Report("FileSent",
                  lib.Get<uint8_t (*)(const unsigned char*)>("FileSent")(Text(rest[0]).get()));
  }
  if (command == "get" && !rest.empty()) {
    VARIANT info;
    VornComVariantInit(&info);
    VornComVariantSetArray(&info, 1, 14);
    for (size_t k = 1; k < rest.size(); ++k) {
      int field = 0;
      std::string value;
      if (!ParseField(rest[k], field, value)) {
        std::cerr << "vorncom: client information takes FIELD=VALUE with FIELD 1..14\n";
        return 125;
      }
      SetTextOrBool(VornComVariantArrayAt(&info, field), value);
    }
    const int code =
        lib.Get<uint8_t (*)(const unsigned char*, VARIANT*)>("GetFile")(Text(rest[0]).get(), &info);
    VornComVariantClear(&info);
    Report("GetFile", code);
    PrintLastConnection(true);
    return code;
  }
  if (command == "status" && rest.size() == 2) {
    uint8_t status = 255;
    const int code = lib.Get<uint8_t (*)(const unsigned char*, const unsigned char*, uint8_t*)>(
        "GetFormStatus")(Text(rest[0]).get(), Text(rest[1]).get(), &status);
    Report("GetFormStatus", code);
    if (status != 255) std::cout << "form status: " << int{status} << '\n';
    PrintLastConnection(true);
    return code;
  }
  if (command == "receipt" && rest.size() <= 1) {
    lib.Get<DefineText>("PrintComReceipt")(Text(rest.empty() ? "" : rest[0]).get());
    return 0;
  }
  if (command == "last" && rest.empty()) {
    PrintLastConnection(false);
    return 0;
  }
  std::cerr << "vorncom: bad command line\n" << kUsage;
  return 125;
}
