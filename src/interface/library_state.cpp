#include "interface/library_state.h"

#include <sys/stat.h>

#include <iostream>

#include "common/environment.h"
#include "common/ui/qt_message_presenter.h"
#include "interface/text_argument.h"

namespace vorncom::iface {

LibraryState& State() {
  static LibraryState state;
  return state;
}

Variant DefaultReceiptFooter() {
  Variant footer = Variant::Array(1, 12);
  footer.At(1) = "Ministério da Gestão Digital";
  footer.At(2) = "Agência Vorn de Recepção";
  footer.At(3) = "www.vorn.example";
  footer.At(4) = "";
  footer.At(5) = "de Documentos Eletrônicos";
  footer.At(6) = "e-mail: suporte@vorn.example";
  footer.At(7) = "";
  footer.At(8) = "";
  footer.At(9) = "Telefone 0800 555 0199";
  footer.At(10) = "";
  footer.At(11) = "";
  footer.At(12) = "Fax (61) 5555-0188";
  return footer;
}

void Startup() {
  LibraryState& s = State();
  env::InitializeFolders();
  bool installed = true;
  try {
    env::LocateInstallation();
  } catch (const std::exception& e) {
    // Loading must not fail: without the installation value the help file and the logos are
    // simply not found.
    installed = false;
  }
  mkdir(env::ConfigFolder().c_str(), 0777);  // one level, as the folder is documented
  s.protocol_data = Variant::Array(1, 14);
  s.receipt_footer = DefaultReceiptFooter();
  s.institution_name = "o Vorn";
  s.institution_logo.clear();
  s.sent_state_known = false;
  s.package_sent = false;
  s.config_file = CutText(env::ConfigFolder() + "zedidodad-Vorn.cfg", kMaxTextLength);
  s.server_name.clear();
  s.last_host.clear();
  s.server_port = 0;
  s.last_port = 0;
  s.fixed_server = false;
  s.help_file = installed ? env::LibrariesFolder() + "VornComClient.hlp" : std::string();
  s.packet_size = Variant();
  s.window_active = false;
  // Only registers the dialog; Qt itself starts at the first message that needs a window.
  ui::RegisterQtPresenter();
}

}  // namespace vorncom::iface
