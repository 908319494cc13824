#include "package/file_sent.h"

#include "common/environment.h"
#include "package/validation_manager.h"

namespace vorncom::package {
namespace {

FileSentOutcome::Message Error(const std::string& action) {
  return {MessageKind::kError, "Erro ao " + action + "."};
}

constexpr const char* kSearchAction =
    "procurar o arquivo de protocolo durante a verificação de reenvio do arquivo. Esta operação "
    "será cancelada";

}  // namespace

FileSentOutcome CheckFileSent(const std::string& package_path, const Variant& protocol_data) {
  return CheckFileSent(package_path, protocol_data, env::WorkFolder());
}

FileSentOutcome CheckFileSent(const std::string& package_path, const Variant& protocol_data,
                              const std::string& work_folder) {
  FileSentOutcome out;
  TValidationManager manager(work_folder);
  manager.set_package_path(package_path);
  try {
    const bool found = manager.FindProtocolRecord();
    out.package_sent = found;
    if (found) {
      Variant data = protocol_data;
      if (manager.ReadProtocolRecord(data)) {
        out.result_code = 3;
      } else {
        out.result_code = 21;
        out.message = FileSentOutcome::Message{
            MessageKind::kError,
            "Este arquivo já foi enviado através do VornCom, mas ocorreu um erro ao ler os dados "
            "do recibo de envio."};
      }
      out.protocol_data = std::move(data);
    }
    out.sent_state_known = true;
  } catch (const ECreateDirectoryError&) {
    out.result_code = 16;
    out.message = Error("criar o diretório temporário de trabalho. Esta operação será cancelada");
  } catch (const ECompressSearchError& e) {
    if (std::string(e.what()).find(kNotAnArchiveText) == std::string::npos) {
      out.result_code = 20;
      out.message = Error(kSearchAction);
    }
  } catch (const EExpandFileError&) {
    out.result_code = 19;
    out.message = Error(
        "extrair o arquivo de protocolo durante a verificação de reenvio do arquivo. Esta "
        "operação será cancelada");
  } catch (const std::exception&) {
    out.result_code = 20;
    out.message = Error(kSearchAction);
  }
  return out;
}

}  // namespace vorncom::package
