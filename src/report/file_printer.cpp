#include "report/file_printer.h"

#include <fcntl.h>
#include <unistd.h>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QPageLayout>
#include <QPainter>
#include <QPdfWriter>
#include <QPrinter>
#include <QRegularExpression>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "report/page_list.h"
#include "report/page_renderer.h"
#include "report/paper.h"
#include "report/pdf_info.h"
#include "report/report_job.h"
#include "report/units.h"

namespace vorncom::report {
namespace {

constexpr int kMaxFileNameChars = 200;  // with the suffix, well inside a 255-byte name
constexpr int kMaxNameAttempts = 10000;

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

// Candidate names for a document, first choice first: its own file name with " (2)", " (3)"...
// after it, else the title and the time with "-2", "-3"...
QString PdfName(const Document& document, int n) {
  QString base = document.file_name;
  QString suffix = QStringLiteral(" (%1)");
  if (base.isEmpty()) {
    base = document.title;
    base.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9._-]+")), QStringLiteral("_"));
    if (base.isEmpty()) base = QStringLiteral("report");
    base +=
        QLatin1Char('-') + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss"));
    suffix = QStringLiteral("-%1");
  } else {
    // The name comes from data (a protocol number from a server): nothing in it may leave the
    // folder or hide the file.
    base = base.trimmed().left(kMaxFileNameChars);
    base.replace(QRegularExpression(QStringLiteral("[/\\\\:\\x00-\\x1f\\x7f]")),
                 QStringLiteral("_"));
    while (base.startsWith(QLatin1Char('.'))) base.remove(0, 1);
    if (base.isEmpty()) base = QStringLiteral("report");
  }
  return n == 1 ? base + QStringLiteral(".pdf") : base + suffix.arg(n) + QStringLiteral(".pdf");
}

// Chooses and creates the target in one step (O_EXCL), so two printers writing into one folder
// at once never pick the same name and an existing file is never replaced.
QString ClaimPdfName(const QString& folder, const Document& document) {
  QDir dir(folder);
  for (int n = 1; n <= kMaxNameAttempts; ++n) {
    QString name = dir.filePath(PdfName(document, n));
    int fd =
        ::open(QFile::encodeName(name).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      ::close(fd);
      return name;
    }
    if (errno != EEXIST) {
      throw EReportError("Unable to write " + name.toStdString() + ": " + std::strerror(errno));
    }
  }
  throw EReportError("No free file name in " + folder.toStdString());
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
  const QString target = ClaimPdfName(folder, document);
  // Written beside the claimed (empty) target and renamed over it, so a reader never sees half a
  // document.
  const QString partial = target + QStringLiteral(".part");
  // Whatever stops the job (a failed write, a throwing progress callback) takes both files away.
  struct Cleanup {
    const QString& target;
    const QString& partial;
    bool done = false;
    ~Cleanup() {
      if (done) return;
      QFile::remove(partial);
      QFile::remove(target);
    }
  } cleanup{target, partial};
  auto give_up = [&] { throw EReportError("Unable to write " + target.toStdString()); };
  {
    QPdfWriter writer(partial);
    writer.setResolution(static_cast<int>(kDotsPerInch));
    writer.setTitle(document.title);
    writer.setCreator(QString::fromLatin1(kPdfCreator));
    writer.setPageLayout(LayoutOf(document.pages[pages.front() - 1]));
    QPainter painter;
    if (!painter.begin(&writer)) give_up();
    for (size_t i = 0; i < pages.size(); ++i) {
      const Page& page = document.pages[pages[i] - 1];
      if (i > 0) {
        writer.setPageLayout(LayoutOf(page));
        writer.newPage();
      }
      RenderPageInto(painter, page, QRectF(0, 0, writer.width(), writer.height()));
      if (on_progress) on_progress(static_cast<int>(i + 1), static_cast<int>(pages.size()));
    }
    if (!painter.end()) give_up();
  }
  if (!document.subject.isEmpty()) AddPdfSubject(partial, document.subject);
  if (std::rename(QFile::encodeName(partial).constData(), QFile::encodeName(target).constData()) !=
      0) {
    give_up();
  }
  cleanup.done = true;
  return target;
}

void FilePrinter::PrintToSystem(const Document& document, const std::vector<int>& pages) {
  QPrinter printer(QPrinter::HighResolution);
  printer.setPrinterName(device_.CurrentPrinter().name);
  printer.setFullPage(true);
  printer.setDocName(document.title);
  printer.setCreator(QString::fromLatin1(kPdfCreator));
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
