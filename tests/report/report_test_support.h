#pragma once

#include <QByteArray>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtGlobal>
#include <memory>
#include <vector>

#include "common/registry.h"
#include "report/report_device.h"
#include "report/report_job.h"

namespace vorncom::report::testing {

// Points the "PDF" printer at a temporary folder (VORNCOM_PDF_PRINTER), or turns it off through a
// temporary registry layer, for the lifetime of the object, and builds a device that sees it.
class PdfPrinterEnvironment {
 public:
  explicit PdfPrinterEnvironment(bool with_pdf_printer = true)
      : saved_(qgetenv("VORNCOM_PDF_PRINTER")),
        had_(qEnvironmentVariableIsSet("VORNCOM_PDF_PRINTER")),
        saved_registry_(qgetenv("VORNCOM_REGISTRY")),
        had_registry_(qEnvironmentVariableIsSet("VORNCOM_REGISTRY")) {
    if (with_pdf_printer) {
      qputenv("VORNCOM_PDF_PRINTER", folder_.path().toLocal8Bit());
    } else {
      qunsetenv("VORNCOM_PDF_PRINTER");
      qputenv("VORNCOM_REGISTRY", (folder_.path() + QStringLiteral("/registry")).toLocal8Bit());
      Registry::Default().WriteValue("SOFTWARE\\VornCom\\Impressao", "ImpressoraPDF",
                                     std::string("desligada"));
    }
    device_ = std::make_unique<ReportDevice>();
  }
  ~PdfPrinterEnvironment() {
    Restore("VORNCOM_PDF_PRINTER", had_, saved_);
    Restore("VORNCOM_REGISTRY", had_registry_, saved_registry_);
  }
  static void Restore(const char* name, bool had, const QByteArray& value) {
    if (had) {
      qputenv(name, value);
    } else {
      qunsetenv(name);
    }
  }
  ReportDevice& Device() { return *device_; }
  QString Folder() const { return folder_.path(); }

 private:
  QTemporaryDir folder_;
  QByteArray saved_;
  bool had_;
  QByteArray saved_registry_;
  bool had_registry_;
  std::unique_ptr<ReportDevice> device_;
};

// A fresh user for the lifetime of the object: HOME and XDG_CONFIG_HOME in a temporary folder, an
// empty registry layer there and no VORNCOM_PDF_PRINTER, so the "PDF" printer takes its defaults.
class FreshUser {
 public:
  FreshUser() {
    for (const char* name : kNames)
      saved_.push_back({name, qgetenv(name), qEnvironmentVariableIsSet(name)});
    qputenv("HOME", home_.path().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", (home_.path() + QStringLiteral("/.config")).toLocal8Bit());
    qputenv("VORNCOM_REGISTRY", (home_.path() + QStringLiteral("/registry")).toLocal8Bit());
    qunsetenv("VORNCOM_PDF_PRINTER");
  }
  ~FreshUser() {
    for (const auto& s : saved_) PdfPrinterEnvironment::Restore(s.name, s.had, s.value);
  }
  QString Home() const { return home_.path(); }

 private:
  static constexpr const char* kNames[] = {"HOME", "XDG_CONFIG_HOME", "VORNCOM_REGISTRY",
                                           "VORNCOM_PDF_PRINTER"};
  struct Saved {
    const char* name;
    QByteArray value;
    bool had;
  };
  QTemporaryDir home_;
  std::vector<Saved> saved_;
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

// One field of poppler's pdfinfo ("Title", "Subject", "Creator"...); empty when the tool is
// missing.
inline QString PdfInfoField(const QString& pdf, const QString& field) {
  if (QStandardPaths::findExecutable(QStringLiteral("pdfinfo")).isEmpty()) return {};
  QProcess tool;
  tool.start(QStringLiteral("pdfinfo"), {pdf});
  tool.waitForFinished(30000);
  for (const QString& line : QString::fromUtf8(tool.readAllStandardOutput()).split('\n')) {
    if (line.startsWith(field + QLatin1Char(':'))) return line.mid(field.size() + 1).trimmed();
  }
  return {};
}

}  // namespace vorncom::report::testing
