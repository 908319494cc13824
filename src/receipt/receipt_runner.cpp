#include "receipt/receipt_runner.h"

#include <QCoreApplication>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "common/environment.h"
#include "common/message_dialog.h"
#include "common/messages.h"
#include "common/ui/qt_host.h"
#include "receipt/preview_host.h"
#include "receipt/qt_text.h"
#include "receipt/receipt_report.h"
#include "receipt/receipt_window.h"
#include "receipt/rel_preview_form.h"

namespace vorncom::receipt {
namespace {

std::function<void(TfqevRelPreviewForm&)>& PreviewObserver() {
  static std::function<void(TfqevRelPreviewForm&)> observer;
  return observer;
}

// The receipt on the folder printer, without any window.
void PrintUnattended(ReceiptReport& receipt) {
  report::ReportJob& job = receipt.Job();
  report::ReportDevice& device = job.Device();
  const int previous = device.PrinterIndex();
  if (!device.SelectPrinter(QString::fromLatin1(report::kPdfPrinterName))) {
    std::fprintf(stderr,
                 "VornCom: the receipt can only be previewed in a window and the PDF printer is "
                 "turned off (ImpressoraPDF); no receipt was produced.\n");
    return;
  }
  job.destination = report::Destination::kPrinter;
  try {
    job.Execute();
  } catch (...) {
    job.destination = report::Destination::kPreview;
    device.SetPrinterIndex(previous);
    throw;
  }
  job.destination = report::Destination::kPreview;
  device.SetPrinterIndex(previous);
  std::fprintf(stderr, "VornCom: receipt printed to %s\n", qPrintable(job.LastOutput()));
}

void PreviewInWindow(ReceiptReport& receipt, QWidget* owner) {
  report::ReportJob& job = receipt.Job();
  PreviewHost host(owner);
  host.on_created = [](TfqevRelPreviewForm& form) {
    // Hosts that have every message answer itself (kiosks, tests) get the preview closed the
    // same way, so a machine with a printer never leaves them waiting.
    bool ok = false;
    const int timeout_ms = qEnvironmentVariableIntValue("VORNCOM_DIALOG_TIMEOUT_MS", &ok);
    if (ok && timeout_ms > 0) {
      QTimer::singleShot(timeout_ms, &form, [dialog = &form] { dialog->SBDoneClick(); });
    }
    if (PreviewObserver()) PreviewObserver()(form);
  };
  job.on_override_preview = [&host](report::ReportJob& j, report::PreviewAction action) {
    // Tag 1 keeps the preview's Save button disabled: the receipt is not saved to a file.
    if (action == report::PreviewAction::kCreate) j.tag = 1;
    host.Handle(j, action);
  };
  job.destination = report::Destination::kPreview;
  try {
    job.Execute();
  } catch (...) {
    job.on_override_preview = nullptr;
    throw;
  }
  job.on_override_preview = nullptr;
}

void ShowError(const std::string& text) {
  MostrarMensagem(text, MessageKind::kError, buttons::kOk);
}

}  // namespace

void SetReceiptPreviewObserver(std::function<void(TfqevRelPreviewForm&)> observer) {
  PreviewObserver() = std::move(observer);
}

void PrintComReceipt(const ReceiptData& data) {
  ReceiptWindowHooks* window = ActiveReceiptWindow();
  std::shared_ptr<ReceiptReport> receipt = window ? ActiveWindowReport() : nullptr;
  if (!receipt) receipt = std::make_shared<ReceiptReport>();  // for this call only

  const bool interactive = !env::UnattendedRequested() && ui::QtUsable();
  report::ReportDevice& device = receipt->Job().Device();
  // Printers and fonts are only reachable through an application.
  if (interactive) {
    try {
      ui::EnsureApplication();
    } catch (const std::exception& e) {
      ShowError(e.what());
      return;
    }
  } else if (!ui::EnsureGuiApplication()) {
    std::fprintf(stderr,
                 "VornCom: the receipt cannot be laid out from this thread; no receipt was "
                 "produced.\n");
    return;
  }
  device.Refresh();
  if (!device.HasPrinters()) {
    ShowError(std::string(msg::kNoPrinter));
    return;
  }

  if (window) {
    window->SetReceiptStatus(Q(msg::kViewingReceipt));
    window->SetReceiptEnabled(false);
    if (interactive) QCoreApplication::processEvents();
  }
  receipt->SetData(data);
  receipt->on_after_print = [window] {
    if (window) window->SetReceiptEnabled(true);
  };
  try {
    if (interactive) {
      PreviewInWindow(*receipt, window ? window->ReceiptOwner() : nullptr);
    } else {
      PrintUnattended(*receipt);
    }
  } catch (const std::exception& e) {
    ShowError(e.what());
  }
  receipt->on_after_print = nullptr;
  if (window) {
    window->SetReceiptStatus(QString());
    if (interactive) QCoreApplication::processEvents();
  }
}

}  // namespace vorncom::receipt
