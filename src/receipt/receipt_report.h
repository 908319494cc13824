#pragma once

#include <functional>

#include "receipt/receipt_data.h"
#include "receipt/receipt_logo.h"
#include "report/report_job.h"

namespace vorncom::receipt {

// The receipt report (rptRecibo): a report job set up for the one-page A4 transmission receipt,
// with the events that lay it out from a ReceiptData. The job goes to the preview by default; the
// caller decides what the preview override does. One instance belongs to one transfer window (or
// to one call without a window): the A4 paper is forced on its first run only, later runs keep a
// paper chosen in the print setup when the printer supports it.
class ReceiptReport {
 public:
  explicit ReceiptReport(report::ReportDevice& device = report::DefaultReportDevice());
  ReceiptReport(const ReceiptReport&) = delete;
  ReceiptReport& operator=(const ReceiptReport&) = delete;

  report::ReportJob& Job() { return job_; }
  // What the next run prints. Also names the PDF the folder printer writes
  // ("Recibo <protocol number> <YYYY-MM-DD>", today's date) and gives it the protocol number as
  // its subject.
  void SetData(ReceiptData data);
  const ReceiptData& Data() const { return data_; }

  // Printable width of the latest run: page width minus left and right margin (cm).
  double ReceiptWidth() const { return FReceiptWidth; }
  bool PaperInitialised() const { return FPaperInitialised; }
  // The logo of the latest run.
  const ReceiptLogo& Logo() const { return logo_; }

  // Called at the end of every run, also after a failure.
  std::function<void()> on_after_print;

  // The receipt's fixed margins (cm) before the device border raises them.
  static constexpr report::MarginsCm kReceiptMargins{2.5, 1.5, 1.2, 1.0};

 private:
  void rptReciboBeforePrint();
  void rptReciboPrintHeader();
  void rptReciboPrint();
  void rptReciboPrintFooter();
  void rptReciboAfterPrint();
  void SetReceiptMargins(double left, double right, double top, double bottom);

  report::ReportJob job_;
  ReceiptData data_;
  ReceiptLogo logo_;
  double FReceiptWidth = 0;
  bool FPaperInitialised = false;
};

}  // namespace vorncom::receipt
