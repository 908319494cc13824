#include "report/file_printer.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QPageLayout>
#include <QPainter>
#include <QPdfWriter>
#include <QPrinter>
#include <QRegularExpression>
#include <algorithm>
#include <cmath>

#include "report/page_list.h"
#include "report/page_renderer.h"
#include "report/paper.h"
#include "report/report_job.h"
#include "report/units.h"

namespace vorncom::report {
namespace {

// Page numbers in output order: collated copies repeat the whole run, uncollated ones each page.
std::vector<int> OutputOrder(const std::vector<int>& pages, int copies, bool collate) {
  copies = std::max(1, copies);
  std::vector<int> order;
  if (collate) {
    for (int c = 0; c < copies; ++c) order.insert(order.end(), pages.begin(), pages.end());
  } else {
    for (int p : pages) order.insert(order.end(), copies, p);
  }
  return order;
}

QPageLayout LayoutOf(const Page& page) {
  QSizeF mm(page.size.width() / kDotsPerCm * 10, page.size.height() / kDotsPerCm * 10);
  bool landscape = mm.width() > mm.height();
  QSizeF portrait = landscape ? mm.transposed() : mm;
  QPageSize size(portrait, QPageSize::Millimeter, QString(), QPageSize::FuzzyMatch);
  return QPageLayout(size, landscape ? QPageLayout::Landscape : QPageLayout::Portrait,
                     QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter);
}

QString UniquePdfName(const QString& folder, const QString& title) {
  QString base = title;
  base.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9._-]+")), QStringLiteral("_"));
  if (base.isEmpty()) base = QStringLiteral("report");
  base +=
      QLatin1Char('-') + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss"));
  QDir dir(folder);
  QString name = dir.filePath(base + QStringLiteral(".pdf"));
  for (int n = 2; QFile::exists(name); ++n) {
    name = dir.filePath(base + QStringLiteral("-%1.pdf").arg(n));
  }
  return name;
}

}  // namespace

QString FilePrinter::Print(const SpoolFile& file) { return Print(file.Load()); }

QString FilePrinter::Print() {
  if (!spool) throw EReportError("No report to print");
  return Print(*spool);
}

QString FilePrinter::Print(const Document& document) {
  if (!device_.HasPrinters()) throw EReportError("No printers installed!");
  std::vector<int> pages = OutputOrder(
      SelectPages(static_cast<int>(document.pages.size()), first_page, last_page, page_list),
      copies, collate);
  if (pages.empty()) return {};
  if (device_.CurrentPrinter().is_pdf) return PrintToFolder(document, pages);
  PrintToSystem(document, pages);
  return {};
}

QString FilePrinter::PrintToFolder(const Document& document, const std::vector<int>& pages) {
  QString folder = device_.CurrentPrinter().port;
  if (!QDir().mkpath(folder)) {
    throw EReportError("Unable to create the printer folder " + folder.toStdString());
  }
  QString target = UniquePdfName(folder, document.title);
  // Written beside the target and renamed, so a reader never sees half a document.
  QString partial = target + QStringLiteral(".part");
  {
    QPdfWriter writer(partial);
    writer.setResolution(static_cast<int>(kDotsPerInch));
    writer.setTitle(document.title);
    writer.setCreator(QStringLiteral("VornCom"));
    writer.setPageLayout(LayoutOf(document.pages[pages.front() - 1]));
    QPainter painter;
    if (!painter.begin(&writer)) {
      QFile::remove(partial);
      throw EReportError("Unable to write " + target.toStdString());
    }
    for (size_t i = 0; i < pages.size(); ++i) {
      const Page& page = document.pages[pages[i] - 1];
      if (i > 0) {
        writer.setPageLayout(LayoutOf(page));
        writer.newPage();
      }
      RenderPageInto(painter, page, QRectF(0, 0, writer.width(), writer.height()));
      if (on_progress) on_progress(static_cast<int>(i + 1), static_cast<int>(pages.size()));
    }
    painter.end();
  }
  if (!QFile::rename(partial, target)) {
    QFile::remove(partial);
    throw EReportError("Unable to write " + target.toStdString());
  }
  return target;
}

void FilePrinter::PrintToSystem(const Document& document, const std::vector<int>& pages) {
  QPrinter printer(QPrinter::HighResolution);
  printer.setPrinterName(device_.CurrentPrinter().name);
  printer.setFullPage(true);
  printer.setDocName(document.title);
  // Copies are already in the page order; the print system must not multiply them again.
  printer.setCopyCount(1);
  printer.setDuplex(duplex ? QPrinter::DuplexAuto : QPrinter::DuplexNone);
  printer.setPageLayout(LayoutOf(document.pages[pages.front() - 1]));
  QPainter painter;
  if (!painter.begin(&printer)) {
    throw EReportError("Unable to print on " + device_.CurrentPrinter().name.toStdString());
  }
  for (size_t i = 0; i < pages.size(); ++i) {
    const Page& page = document.pages[pages[i] - 1];
    if (i > 0) {
      printer.setPageLayout(LayoutOf(page));
      printer.newPage();
    }
    RenderPageInto(painter, page, printer.paperRect(QPrinter::DevicePixel));
    if (on_progress) on_progress(static_cast<int>(i + 1), static_cast<int>(pages.size()));
  }
  painter.end();
}

}  // namespace vorncom::report
