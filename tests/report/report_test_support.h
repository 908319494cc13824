#pragma once

#include <QByteArray>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtGlobal>
#include <memory>

#include "report/report_device.h"
#include "report/report_job.h"

namespace vorncom::report::testing {

// Sets (or clears) VORNCOM_PDF_PRINTER for the lifetime of the object and builds a device that
// sees it.
class PdfPrinterEnvironment {
 public:
  explicit PdfPrinterEnvironment(bool with_pdf_printer = true)
      : saved_(qgetenv("VORNCOM_PDF_PRINTER")),
        had_(qEnvironmentVariableIsSet("VORNCOM_PDF_PRINTER")) {
    if (with_pdf_printer) {
      qputenv("VORNCOM_PDF_PRINTER", folder_.path().toLocal8Bit());
    } else {
      qunsetenv("VORNCOM_PDF_PRINTER");
    }
    device_ = std::make_unique<ReportDevice>();
  }
  ~PdfPrinterEnvironment() {
    if (had_) {
      qputenv("VORNCOM_PDF_PRINTER", saved_);
    } else {
      qunsetenv("VORNCOM_PDF_PRINTER");
    }
  }
  ReportDevice& Device() { return *device_; }
  QString Folder() const { return folder_.path(); }

 private:
  QTemporaryDir folder_;
  QByteArray saved_;
  bool had_;
  std::unique_ptr<ReportDevice> device_;
};

// A job printing `pages` pages, each with "Page N" on its first line.
inline void SetUpPagedJob(ReportJob& job, int pages) {
  job.titles.job = QStringLiteral("Paged");
  job.on_before_print = [](ReportJob& j) { j.SetMargins({2, 2, 2, 2}); };
  job.on_print = [pages](ReportJob& j) {
    auto& c = j.Canvas();
    c.SetFont(QStringLiteral("Arial"), 12);
    for (int p = 1; p <= pages; ++p) {
      if (p > 1) c.NewPage();
      c.PrintLine(QStringLiteral("Page %1").arg(p));
      for (int line = 0; line < 20; ++line) c.PrintLine(QStringLiteral("filler line %1").arg(line));
    }
  };
}

// Text of a PDF through poppler's pdftotext; empty when the tool is missing.
inline QString PdfText(const QString& pdf) {
  if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty()) return {};
  QProcess tool;
  tool.start(QStringLiteral("pdftotext"), {pdf, QStringLiteral("-")});
  tool.waitForFinished(30000);
  return QString::fromUtf8(tool.readAllStandardOutput());
}

}  // namespace vorncom::report::testing
