// Sends a form package through the library's own code with its windows shown, and grabs them
// as a user meets them:
//   vorncom-screenshots <package> <client configuration> <output folder>
// writes transfer-window.png (the transfer window half way), receipt-preview.png and
// print-setup.png (the send ends with the receipt's preview, from which the receipt is printed to
// the current printer) and transfer-finished.png (the window once the preview is closed). Needs a
// display (scripts/screenshots starts Xvfb); exit status 0 only when the send succeeded and all
// four pictures were written.
#include <QApplication>
#include <QDir>
#include <QProgressBar>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <set>
#include <thread>

#include "interface/library_state.h"
#include "interface/operations.h"
#include "receipt/receipt_runner.h"
#include "receipt/rel_preview_form.h"
#include "receipt/rel_setup_form.h"
#include "transfer/client_window.h"

namespace {

using vorncom::receipt::TfqevRelPreviewForm;
using vorncom::receipt::TfqevRelSetupForm;
using vorncom::transfer::TfVornComClient;

// Loopback sends end in a blink; a pause after each packet stands for a slower line, so the
// half-way picture shows the rate and time left the once-a-second timer computes.
constexpr auto kPacketPause = std::chrono::milliseconds(25);
constexpr int kSettle = 400;  // ms for a window to lay out and paint before it is grabbed

std::set<std::string> written;

void Save(QWidget& widget, const QDir& dir, const char* name) {
  const QString path = dir.filePath(QString::fromLatin1(name) + QStringLiteral(".png"));
  if (widget.grab().save(path)) {
    written.insert(name);
    std::printf("%s\n", qPrintable(path));
  } else {
    std::fprintf(stderr, "vorncom-screenshots: cannot write %s\n", qPrintable(path));
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: vorncom-screenshots <package> <client configuration> <folder>\n");
    return 2;
  }
  const QDir out(QString::fromLocal8Bit(argv[3]));
  vorncom::iface::Startup();  // what loading the shared library does
  vorncom::iface::DefineComCfgFileOperation(argv[2]);

  bool half_way = false;
  TfVornComClient::SetObserver([&](TfVornComClient& window, bool ended) {
    if (!ended) {
      if (!window.session().transferring()) return;
      std::this_thread::sleep_for(kPacketPause);
      auto* bar = window.findChild<QProgressBar*>(QStringLiteral("pbaEvolucao"));
      if (!half_way && bar != nullptr && bar->value() >= 50) {
        half_way = true;
        Save(window, out, "transfer-window");
      }
      return;
    }
    // The flow and its receipt are done and the window waits for its user.
    QTimer::singleShot(kSettle, &window, [&window, &out] {
      Save(window, out, "transfer-finished");
      window.btnFecharClick();
    });
  });

  vorncom::receipt::SetReceiptPreviewObserver([&out](TfqevRelPreviewForm& preview) {
    preview.run_setup_dialog = [&out, &preview](auto& job, auto& printer) {
      TfqevRelSetupForm setup(job, printer, &preview);
      QTimer::singleShot(kSettle, &setup, [&setup, &out] {
        Save(setup, out, "print-setup");
        setup.accept();
      });
      return setup.exec();
    };
    QTimer::singleShot(kSettle, &preview, [&preview, &out] {
      Save(preview, out, "receipt-preview");
      preview.SBPrintClick();
      preview.SBDoneClick();
    });
  });

  const auto code = vorncom::iface::SendFileOperation(argv[1], false);
  std::printf("SendFile: %d\n", static_cast<int>(code));
  return code == vorncom::ResultCode::kSuccess && written.size() == 4 ? 0 : 1;
}
