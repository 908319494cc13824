#include "report/report_canvas.h"

#include <QImageReader>
#include <QRegularExpression>
#include <algorithm>

#include "report/text_layout.h"
#include "report/units.h"

namespace vorncom::report {

int ParagraphBuffer::ReplaceAll(const QString& from, const QString& to) {
  if (from.isEmpty()) return 0;
  int count = 0;
  qsizetype pos = 0;
  while ((pos = text_.indexOf(from, pos, Qt::CaseInsensitive)) >= 0) {
    text_.replace(pos, from.size(), to);
    pos += to.size();
    ++count;
  }
  return count;
}

void ReportCanvas::Begin(const QString& title, QSizeF paper_cm, const MarginsCm& margins) {
  document_ = Document{};
  document_.title = title;
  paper_cm_ = paper_cm;
  margins_ = margins;
  font_ = FontSpec{};
  tabs_.clear();
  forced_justify_.reset();
  active_ = true;
  StartPage();
}

Document ReportCanvas::Finish() {
  if (active_) {
    try {
      EndPage();
    } catch (...) {
      active_ = false;
      throw;
    }
  }
  active_ = false;
  return std::move(document_);
}

void ReportCanvas::StartPage() {
  document_.pages.push_back(
      Page{QSizeF(CmToDots(paper_cm_.width()), CmToDots(paper_cm_.height())), {}});
  y_cm_ = margins_.top;
  next_tab_ = 0;
  section_end_signalled_ = false;
  if (on_page_start) on_page_start();
}

void ReportCanvas::EndPage() {
  if (on_page_end) on_page_end();
}

void ReportCanvas::NewPage() {
  if (!active_) return;
  EndPage();
  StartPage();
}

void ReportCanvas::SetYPos(double y_cm) {
  y_cm_ = y_cm;
  next_tab_ = 0;
}

double ReportCanvas::LineHeight() const { return DotsToCm(TextMeasure(font_).LineHeight()); }

void ReportCanvas::NewLine(int count) {
  if (count <= 0) return;
  y_cm_ += LineHeight() * count;
  next_tab_ = 0;
  if (y_cm_ > SectionBottom() && !section_end_signalled_) {
    section_end_signalled_ = true;
    if (on_end_of_section) on_end_of_section();
  }
}

void ReportCanvas::SetFont(const QString& family, double size_pt) {
  font_ = FontSpec{family, size_pt > 0 ? size_pt : 1.0, false, false};
}

void ReportCanvas::ClearTabs() {
  tabs_.clear();
  next_tab_ = 0;
}

void ReportCanvas::AddTab(const TabStop& tab) { tabs_.push_back(tab); }

ReportCanvas::Cell ReportCanvas::CellOf(size_t index) const {
  double left = tabs_[index].position_cm;
  if (left == TabStop::kAfterPrevious) {
    if (index == 0) {
      left = margins_.left;
    } else {
      Cell previous = CellOf(index - 1);
      left = previous.left + previous.width;
    }
  }
  return {left, std::max(0.0, tabs_[index].width_cm)};
}

void ReportCanvas::PlaceText(const QString& text, double left_dots, double width_dots,
                             Justify justify) {
  if (!active_ || text.isEmpty() || width_dots <= 0) return;
  TextMeasure measure(font_);
  QString fitted = measure.CutToFit(text, width_dots);
  if (fitted.isEmpty()) return;
  double text_width = measure.Width(fitted);
  double x = left_dots;
  if (justify == Justify::kCenter) x += (width_dots - text_width) / 2;
  if (justify == Justify::kRight) x += width_dots - text_width;
  double top = CmToDots(y_cm_);
  double height = measure.LineHeight();
  CurrentPage().items.emplace_back(TextItem{QPointF(x, top + measure.Ascent()),
                                            QRectF(left_dots, top, width_dots, height), font_,
                                            fitted});
}

void ReportCanvas::PrintTab(const QString& text) {
  if (!active_ || next_tab_ >= tabs_.size()) return;
  const TabStop& tab = tabs_[next_tab_];
  Cell cell = CellOf(next_tab_);
  ++next_tab_;
  double left = CmToDots(cell.left);
  double width = CmToDots(cell.width);
  double top = CmToDots(y_cm_);
  double height = CmToDots(LineHeight());
  if (width > 0 && (tab.box != kBoxNone || tab.shade_percent > 0)) {
    CurrentPage().items.emplace_back(
        BoxItem{QRectF(left, top, width, height), tab.box, std::clamp(tab.shade_percent, 0, 100)});
  }
  double margin = std::max(0, tab.margin_hundredths_inch) * kDotsPerInch / 100.0;
  PlaceText(text, left + margin, width - 2 * margin, forced_justify_.value_or(tab.justify));
}

void ReportCanvas::PrintLine(const QString& text) {
  QStringList parts = text.split(QLatin1Char('\t'));
  if (!parts.first().isEmpty()) {
    double left = CmToDots(margins_.left);
    PlaceText(parts.first(), left, CmToDots(PageWidth() - margins_.right) - left, Justify::kLeft);
  }
  for (qsizetype i = 1; i < parts.size(); ++i) PrintTab(parts[i]);
  NewLine();
}

void ReportCanvas::PrintParagraph(const ParagraphBuffer& paragraph) {
  double left = CmToDots(paragraph.left_cm);
  double width = CmToDots(paragraph.right_cm) - left;
  TextMeasure measure(font_);
  for (const QString& line : measure.Wrap(paragraph.Text(), width)) {
    PlaceText(line, left, width, paragraph.justify);
    NewLine();
  }
}

void ReportCanvas::PrintBitmapRect(double left, double top, double right, double bottom,
                                   const QImage& image) {
  if (!active_ || image.isNull() || right <= left || bottom <= top) return;
  QRectF rect(QPointF(CmToDots(left), CmToDots(top)), QPointF(CmToDots(right), CmToDots(bottom)));
  CurrentPage().items.emplace_back(ImageItem{rect, image});
}

QImage ReportCanvas::LoadBitmap(const QString& path) {
  if (path.isEmpty()) return {};
  QImageReader reader(path);
  QImage image = reader.read();
  return image;
}

}  // namespace vorncom::report
