#include "report/report_device.h"

#include "common/environment.h"
#include "common/registry.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QPageLayout>
#include <QPrinter>
#include <QPrinterInfo>
#include <QStandardPaths>
#include <QtGlobal>
#include <algorithm>

#include "report/paper.h"
#include "report/units.h"

namespace vorncom::report {
namespace {

// The folder printer reports the borders and resolution of a typical laser printer (1/6 inch,
// 600 dpi), so that a layout proofed on it prints unchanged on a real one.
constexpr double kPdfBorderCm = kCmPerInch / 6.0;
constexpr int kPdfPixelsPerInch = 600;

QString SystemPort(const QPrinterInfo& info) {
  if (!info.location().isEmpty()) return info.location();
  if (info.isRemote()) return QStringLiteral("network");
  return QStringLiteral("local");
}

QString RegistryText(const char* key, const char* name) {
  try {
    const auto value = Registry::Default().ReadValue(key, name);
    if (const auto* text = value ? std::get_if<std::string>(&*value) : nullptr) {
      return QString::fromStdString(*text);
    }
  } catch (const std::exception&) {
    // An unreadable registry holds no setting.
  }
  return {};
}

QString DocumentsFolder() {
  const QString home = QDir::homePath();
  if (qEnvironmentVariableIsEmpty("HOME") || !QFileInfo(home).isDir() ||
      !QFileInfo(home).isWritable()) {
    const std::string base = env::BaseFolder();
    return base.empty() ? QCoreApplication::applicationDirPath() : QString::fromStdString(base);
  }
  // Reads user-dirs.dirs as xdg-user-dir does, and falls back to ~/Documents.
  const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
  return documents.isEmpty() ? QDir(home).filePath(QStringLiteral("Documents")) : documents;
}

}  // namespace

bool PdfPrinterDisabled() {
  return RegistryText("SOFTWARE\\VornCom\\Impressao", "ImpressoraPDF")
             .trimmed()
             .compare(QStringLiteral("desligada"), Qt::CaseInsensitive) == 0;
}

QString PdfPrinterFolder() {
  if (PdfPrinterDisabled()) return {};
  if (QString folder = qEnvironmentVariable("VORNCOM_PDF_PRINTER"); !folder.isEmpty())
    return folder;
  if (QString folder = RegistryText("SOFTWARE\\VornCom", "PastaImpressoraPDF"); !folder.isEmpty())
    return folder;
  return QDir(DocumentsFolder()).filePath(QString::fromLatin1(kPdfDefaultSubfolder));
}

ReportDevice::ReportDevice() {
  Refresh();
  if (printers_.empty()) return;
  QString default_name = QPrinterInfo::defaultPrinterName();
  if (default_name.isEmpty() || !SelectPrinter(default_name)) index_ = 0;
}

void ReportDevice::Refresh() {
  QString current = index_ >= 0 ? printers_[index_].name : QString();
  printers_.clear();
  for (const QPrinterInfo& info : QPrinterInfo::availablePrinters()) {
    printers_.push_back({info.printerName(), SystemPort(info), false});
  }
  QString folder = PdfPrinterFolder();
  if (!folder.isEmpty()) {
    printers_.push_back({QString::fromLatin1(kPdfPrinterName), QDir::cleanPath(folder), true});
  }
  index_ = printers_.empty() ? -1 : 0;
  if (!current.isEmpty()) SelectPrinter(current);
}

void ReportDevice::SetPrinterIndex(int index) {
  if (index < 0 || index >= static_cast<int>(printers_.size())) return;
  index_ = index;
  if (!SupportsPaper(paper_code_)) paper_code_ = kPaperA4;
}

bool ReportDevice::SelectPrinter(const QString& name) {
  for (size_t i = 0; i < printers_.size(); ++i) {
    if (printers_[i].name == name) {
      SetPrinterIndex(static_cast<int>(i));
      return true;
    }
  }
  return false;
}

PrinterEntry ReportDevice::CurrentPrinter() const {
  if (index_ < 0) return {};
  return printers_[index_];
}

bool ReportDevice::SupportsPaper(int code) const {
  auto paper = FindPaper(code);
  if (!paper) return false;
  if (index_ < 0 || printers_[index_].is_pdf) return true;
  QPrinterInfo info = QPrinterInfo::printerInfo(printers_[index_].name);
  const QList<QPageSize> sizes = info.supportedPageSizes();
  // A printer that reports no sizes, or takes custom sizes, is trusted with every known paper.
  if (sizes.isEmpty() || info.supportsCustomPageSizes()) return true;
  return std::any_of(sizes.begin(), sizes.end(),
                     [&](const QPageSize& s) { return s.id() == paper->page_size_id; });
}

void ReportDevice::SetPaperCode(int code) { paper_code_ = SupportsPaper(code) ? code : kPaperA4; }

QSizeF ReportDevice::PaperSizeCm() const {
  QSizeF size = report::PaperSizeCm(paper_code_);
  if (orientation_ == Orientation::kLandscape) size.transpose();
  return size;
}

MarginsCm ReportDevice::BorderCm() const {
  if (index_ < 0) return {};
  const PrinterEntry& entry = printers_[index_];
  if (entry.is_pdf) return {kPdfBorderCm, kPdfBorderCm, kPdfBorderCm, kPdfBorderCm};
  auto key = std::make_tuple(entry.name, paper_code_, static_cast<int>(orientation_));
  auto cached = border_cache_.find(key);
  if (cached != border_cache_.end()) return cached->second;
  QPrinter printer(QPrinter::HighResolution);
  printer.setPrinterName(entry.name);
  auto paper = FindPaper(paper_code_);
  printer.setPageSize(QPageSize(paper ? paper->page_size_id : QPageSize::A4));
  printer.setPageOrientation(orientation_ == Orientation::kLandscape ? QPageLayout::Landscape
                                                                     : QPageLayout::Portrait);
  QMarginsF m = printer.pageLayout().minimumMargins();
  double to_cm = 0;
  switch (printer.pageLayout().units()) {
    case QPageLayout::Millimeter:
      to_cm = 0.1;
      break;
    case QPageLayout::Point:
      to_cm = kCmPerInch / 72.0;
      break;
    case QPageLayout::Inch:
      to_cm = kCmPerInch;
      break;
    case QPageLayout::Pica:
      to_cm = kCmPerInch / 6.0;
      break;
    case QPageLayout::Didot:
      to_cm = 0.0376;
      break;
    case QPageLayout::Cicero:
      to_cm = 0.4512;
      break;
  }
  MarginsCm border{m.left() * to_cm, m.right() * to_cm, m.top() * to_cm, m.bottom() * to_cm};
  border_cache_[key] = border;
  return border;
}

int ReportDevice::PixelsPerInch() const {
  if (index_ < 0) return 0;
  const PrinterEntry& entry = printers_[index_];
  if (entry.is_pdf) return kPdfPixelsPerInch;
  auto cached = resolution_cache_.find(entry.name);
  if (cached != resolution_cache_.end()) return cached->second;
  QPrinter printer(QPrinter::HighResolution);
  printer.setPrinterName(entry.name);
  int dpi = printer.resolution();
  resolution_cache_[entry.name] = dpi;
  return dpi;
}

bool ReportDevice::ExecuteSetupDialog() { return setup_runner_ ? setup_runner_(*this) : false; }

ReportDevice& DefaultReportDevice() {
  static ReportDevice device;
  return device;
}

}  // namespace vorncom::report
