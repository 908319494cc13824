#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "archive/package_routines.h"
#include "common/cp1252.h"
#include "package/control_files.h"
#include "package/origin_tag.h"
#include "support/temp_dir.h"

namespace vorncom::package {

// Long enough to be read as an archive header, which it is not.
inline constexpr const char* kPlainText =
    "Just some text that is long enough to hold an archive header, but no archive.\n";

// Real packages in a temporary folder, a work folder and a configuration folder beside them.
class PackageFixture : public ::testing::Test {
 protected:
  static std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }

  // Builds `package_name` from files given by name and content (contents are stored as given).
  std::string MakePackage(const std::string& package_name,
                          const std::map<std::string, std::string>& files) {
    const std::string source = dir_ / ("src-" + package_name);
    std::filesystem::create_directories(source);
    Variant names = Variant::Array(0, files.size());
    int32_t i = 0;
    for (const auto& [name, content] : files) {
      const std::string path = source + "/" + name;
      std::ofstream(path, std::ios::binary) << content;
      names.At(i++) = Variant(path);
    }
    const std::string package = dir_ / package_name;
    archive::AddFilesToPackage(names, source, package, true);
    std::filesystem::remove_all(source);
    return package;
  }

  // A header.cfg (Windows-1252) that passes the check for `package_name`, with `overrides`
  // ("Section/Key" → value; an empty optional value removes the key) applied.
  static std::string Header(const std::string& package_name,
                            const std::map<std::string, std::string>& overrides = {},
                            const std::vector<std::string>& removed = {}) {
    std::map<std::string, std::map<std::string, std::string>> values = {
        {"Documento",
         {{"Código Sistema", "IRPF"},
          {"Versão Sistema", "2.1"},
          {"Meio Envio", "Internet"},
          {"Data Atualização", "01/02/2020 10:11:12"},
          {"Endereço Host", "10.0.0.5"},
          {"Nome Host", "estacao"},
          {"Tipo Solicitação", "DEC"},
          {"Nome Solicitação", "Declaração"},
          {"Versão Solicitação", "1.0"},
          {"Origem Solicitação", ComputeOriginTag(package_name)},
          {"Nome Arquivo", "dados.dat"},
          {"Sistema Operacional", "Linux"},
          {"Configurações Computador", "x86-64"}}},
        {"Usuário",
         {{"Tipo Solicitante", "PF"},
          {"Identificação Solicitante", "123.456.789-00"},
          {"Identificação Vorn", "V42"},
          {"Nome Solicitante", "José da Silva"}}},
        {"Controles", {{"Código", "ABC123"}}},
    };
    for (const auto& [path, value] : overrides) {
      const size_t slash = path.find('/');
      values[path.substr(0, slash)][path.substr(slash + 1)] = value;
    }
    for (const auto& path : removed) {
      const size_t slash = path.find('/');
      values[path.substr(0, slash)].erase(path.substr(slash + 1));
    }
    std::string text;
    for (const auto& [section, keys] : values) {
      text += "[" + section + "]\r\n";
      for (const auto& [key, value] : keys) text += key + "=" + value + "\r\n";
    }
    return Utf8ToCp1252(text);
  }

  // Nothing of any operation is left in the work folder.
  bool WorkFolderIsClean() const {
    std::error_code ec;
    return !std::filesystem::exists(work_, ec) || std::filesystem::is_empty(work_, ec);
  }

  testing::TempDir dir_;
  std::string work_ = dir_ / "Trabalho/";
  std::string config_ = dir_ / "Configuracoes/";
};

}  // namespace vorncom::package
