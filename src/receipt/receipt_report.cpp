#include "receipt/receipt_report.h"

#include <QDate>
#include <QGuiApplication>
#include <QScreen>

#include "common/date_time.h"
#include "common/environment.h"
#include "common/messages.h"
#include "common/text.h"
#include "receipt/qt_text.h"
#include "report/paper.h"
#include "report/units.h"

namespace vorncom::receipt {
namespace {

using report::Justify;
using report::TabStop;

const QString kArial = QStringLiteral("Arial");
constexpr int kTextMargin = 5;  // hundredths of an inch
constexpr double kBrandLogoWidth = 5.9, kBrandLogoHeight = 2.3, kBrandLogoAdvance = 5.5;
constexpr double kLogoAdvanceGap = 2.2;

QString Element(const Variant& array, int32_t index) {
  return QString::fromStdString(array.At(index).ToString());
}

// Resolution of the bitmap's own canvas: the screen's, as bitmaps are drawn for it.
double BitmapPixelsPerInch() {
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    if (screen->logicalDotsPerInch() > 0) return screen->logicalDotsPerInch();
  }
  return 96.0;
}

TabStop Tab(double position, double width, Justify justify, uint8_t box = report::kBoxNone,
            int shade = 0) {
  return TabStop{position, justify, width, kTextMargin, box, shade};
}

}  // namespace

void ReceiptReport::SetData(ReceiptData data) {
  data_ = std::move(data);
  QString protocol;
  try {
    protocol = Element(data_.protocol_data, 3).trimmed();
  } catch (const std::exception&) {
    // A malformed array fails in the layout, with its own message.
  }
  const QString date = QDate::currentDate().toString(Qt::ISODate);
  job_.file_name = Q(msg::kReceiptJobTitle) + QLatin1Char(' ') +
                   (protocol.isEmpty() ? date : protocol + QLatin1Char(' ') + date);
  job_.subject = Q(msg::kReceiptPdfSubject).arg(protocol);
}

ReceiptReport::ReceiptReport(report::ReportDevice& device) : job_(device) {
  job_.titles.setup = Q(msg::kReceiptSetupTitle);
  job_.titles.status = Q(msg::kReceiptStatusTitle);
  job_.titles.preview = Q(msg::kReceiptPreviewTitle);
  job_.titles.job = Q(msg::kReceiptJobTitle);
  job_.titles.printing_status = Q(msg::kReceiptPrintingStatus);
  job_.titles.spooling_status = Q(msg::kReceiptSpoolingStatus);

  report::SetupPermissions& allowed = job_.permissions;
  allowed.copies = true;
  allowed.printer_destination = true;
  allowed.printer_setup = true;
  allowed.preview_print_setup = true;
  allowed.collate = false;
  allowed.duplex = false;
  allowed.preview_destination = false;
  allowed.file_destination = false;
  allowed.setup_before_report = false;

  job_.preview.window_size = QSize(688, 512);
  job_.preview.zoom = 100;
  job_.preview.modal = true;
  job_.preview.allow_print = true;
  job_.destination = report::Destination::kPreview;
  job_.SetMargins({1.0, 1.0, 1.0, 2.0});

  job_.on_before_print = [this](report::ReportJob&) { rptReciboBeforePrint(); };
  job_.on_print_header = [this](report::ReportJob&) { rptReciboPrintHeader(); };
  job_.on_print = [this](report::ReportJob&) { rptReciboPrint(); };
  job_.on_print_footer = [this](report::ReportJob&) { rptReciboPrintFooter(); };
  job_.on_after_print = [this](report::ReportJob&) { rptReciboAfterPrint(); };
}

void ReceiptReport::SetReceiptMargins(double left, double right, double top, double bottom) {
  job_.SetMargins({left, right, top, bottom});
  const report::MarginsCm& m = job_.Margins();
  FReceiptWidth = job_.PageWidth() - (m.left + m.right);
}

void ReceiptReport::rptReciboBeforePrint() {
  job_.SetOrientation(report::Orientation::kPortrait);
  if (!FPaperInitialised) {
    job_.SelectPaper(report::kPaperA4);
    FPaperInitialised = true;
  } else if (!job_.SupportsPaper(job_.PaperCode())) {
    job_.SelectPaper(report::kPaperA4);
  }
  job_.SetMargins(job_.Margins());  // the current margins against the new paper's border
  SetReceiptMargins(kReceiptMargins.left, kReceiptMargins.right, kReceiptMargins.top,
                    kReceiptMargins.bottom);
}

void ReceiptReport::rptReciboPrintHeader() {
  report::ReportCanvas& c = job_.Canvas();
  const double top = c.Margins().top;
  const double left = c.Margins().left;

  logo_ = ResolveLogo(data_);
  if (!logo_.image.isNull()) {
    if (QString::fromStdString(data_.institution_name).contains(QLatin1String("Vorn"))) {
      c.PrintBitmapRect(left, top, left + kBrandLogoWidth, top + kBrandLogoHeight, logo_.image);
      c.SetYPos(top + kBrandLogoAdvance);
    } else {
      // Natural size on the printer; the advance below it is measured at the bitmap's own
      // (screen) resolution, which leaves more room than the printed logo takes.
      int printer_ppi = job_.Device().PixelsPerInch();
      if (printer_ppi <= 0) printer_ppi = 96;
      const double width = logo_.image.width() * report::kCmPerInch / printer_ppi;
      const double height = logo_.image.height() * report::kCmPerInch / printer_ppi;
      c.PrintBitmapRect(left, top, left + width, top + height, logo_.image);
      c.SetYPos(top + logo_.image.height() / BitmapPixelsPerInch() * report::kCmPerInch +
                kLogoAdvanceGap);
    }
  }

  c.ClearTabs();
  c.AddTab(Tab(left, FReceiptWidth, Justify::kLeft));
  c.SetFont(kArial, 11);
  c.SetTabJustify(Justify::kCenter);
  c.SetBold(true);
  c.PrintTab(Q(msg::kReceiptTitle));
  c.NewLine();
  c.SetBold(false);
  c.SetTabJustify(Justify::kLeft);
  c.NewLine();
  c.SetFont(kArial, 9);
}

void ReceiptReport::rptReciboPrint() {
  report::ReportCanvas& c = job_.Canvas();
  const double left = c.Margins().left;
  const Variant& data = data_.protocol_data;

  c.ClearTabs();
  c.AddTab(Tab(left, 0.25 * FReceiptWidth, Justify::kLeft, report::kBoxAll, 10));
  // Defined right-aligned; the left justification the header forces on all tabs wins.
  c.AddTab(Tab(TabStop::kAfterPrevious, 0.75 * FReceiptWidth, Justify::kRight, report::kBoxAll));
  c.NewLine();

  const QString protocol = Element(data, 3);
  c.SetBold(true);
  c.PrintTab(Q(msg::kReceiptProtocolLabel));
  c.PrintTab(protocol);
  c.SetBold(false);
  c.NewLine();

  c.SetBold(true);
  c.PrintTab(Q(msg::kReceiptRequesterLabel));
  c.SetBold(false);
  c.PrintTab(Element(data, 8));
  c.NewLine();

  const QString identification = Element(data, 7);
  // The host's own trimming decides whether it sent an identification at all.
  if (!TrimControls(identification.toStdString()).empty()) {
    c.SetBold(true);
    c.PrintTab(Q(msg::kReceiptIdentificationLabel));
    c.SetBold(false);
    c.PrintTab(identification);
    c.NewLine();
  }

  c.SetBold(true);
  c.PrintTab(Q(msg::kReceiptFormLabel));
  c.SetBold(false);
  c.PrintTab(Element(data, 5) + QStringLiteral(" (") + Element(data, 6) + QStringLiteral(")"));
  c.NewLine();

  c.NewLine(3);
  // A date-time always gives date and time, as the protocol record stores it: the plain
  // conversion drops the time at midnight, which would print an empty hour.
  const Variant& end = data.At(4);
  const std::string transmission =
      end.type() == Variant::Type::kDate ? FormatDateTime(end.ToDate()) : end.ToString();
  report::ParagraphBuffer statement;
  statement.SetText(Q(msg::kReceiptStatement));
  statement.ReplaceAll(Q(msg::kPlaceholderDate),
                       QString::fromStdString(env::DatePart(transmission)));
  statement.ReplaceAll(Q(msg::kPlaceholderTime),
                       QString::fromStdString(env::TimePart(transmission)));
  statement.ReplaceAll(Q(msg::kPlaceholderInstitution),
                       QString::fromStdString(data_.institution_name));
  statement.ReplaceAll(Q(msg::kPlaceholderProtocol), protocol);
  statement.left_cm = left;
  statement.right_cm = left + FReceiptWidth;
  statement.justify = Justify::kLeft;
  c.PrintParagraph(statement);

  c.NewLine();
  if (data.UpperBound() == 14) {
    const Variant& message = data.At(14);
    if (!message.IsEmpty() && !message.ToString().empty()) {
      report::ParagraphBuffer closing = statement;
      closing.SetText(QString::fromStdString(message.ToString()));
      c.PrintParagraph(closing);
    }
  }
}

void ReceiptReport::rptReciboPrintFooter() {
  report::ReportCanvas& c = job_.Canvas();
  const double left = c.Margins().left;
  const Variant& data = data_.protocol_data;

  c.SetFont(kArial, 9);
  c.SetYPos(c.SectionBottom() - 7 * c.LineHeight());

  c.ClearTabs();
  c.AddTab(Tab(left, FReceiptWidth, Justify::kRight));
  c.SetTabJustify(Justify::kRight);
  c.SetFont(kArial, 7);
  c.SetItalic(true);
  c.PrintTab(QString::fromStdString(
      msg::Format(msg::kReceiptReceivedBy, {data.At(1).ToString(), data.At(2).ToString()})));
  c.NewLine(3);
  c.SetFont(kArial, 9);

  c.ClearTabs();
  c.AddTab(Tab(left, 0.33 * FReceiptWidth, Justify::kLeft));
  c.AddTab(Tab(TabStop::kAfterPrevious, 0.37 * FReceiptWidth, Justify::kLeft));
  c.AddTab(Tab(TabStop::kAfterPrevious, 0.30 * FReceiptWidth, Justify::kLeft));
  c.SetTabJustify(Justify::kLeft);
  for (int32_t row = 0; row < 4; ++row) {
    if (row > 0) c.NewLine();
    for (int32_t column = 1; column <= 3; ++column) {
      c.PrintTab(Element(data_.footer, row * 3 + column));
    }
  }
}

void ReceiptReport::rptReciboAfterPrint() {
  if (on_after_print) on_after_print();
}

}  // namespace vorncom::receipt
