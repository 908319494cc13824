#pragma once

#include <QImage>
#include <QSizeF>
#include <QString>
#include <functional>
#include <optional>
#include <vector>

#include "report/page_model.h"
#include "report/report_device.h"

namespace vorncom::report {

enum class Justify { kLeft, kCenter, kRight };

// A column of a tabbed line. Positions are measured from the paper's left edge.
struct TabStop {
  // Left edge in cm; kAfterPrevious places the stop directly after the previous stop's right edge.
  double position_cm = 0;
  Justify justify = Justify::kLeft;
  double width_cm = 0;             // zero or negative: the column holds no text
  int margin_hundredths_inch = 0;  // blank kept inside each side of the column
  uint8_t box = kBoxNone;          // BoxSide bits
  int shade_percent = 0;           // 0 (none) to 100 (black)

  static constexpr double kAfterPrevious = -1e9;
};

// Word-wrapped paragraph: text, left and right limits in cm from the paper's left edge, and
// alignment of its lines.
class ParagraphBuffer {
 public:
  void SetText(const QString& text) { text_ = text; }
  void Append(const QString& text) { text_ += text; }
  const QString& Text() const { return text_; }
  void Clear() { text_.clear(); }
  // Replaces every occurrence of `from`, whatever its letter case; returns how many.
  int ReplaceAll(const QString& from, const QString& to);

  double left_cm = 0;
  double right_cm = 0;
  Justify justify = Justify::kLeft;

 private:
  QString text_;
};

// Lays pages out in centimetres onto the page model. The vertical print position is the top of
// the current line; text sits on a baseline one ascent below it. Printing never starts a page by
// itself: text that runs past the bottom of the printable area goes on below it, after the
// end-of-section callback has had its chance to call NewPage().
class ReportCanvas {
 public:
  // Starts a document whose pages are `paper_cm` big (orientation applied).
  void Begin(const QString& title, QSizeF paper_cm, const MarginsCm& margins);
  // Finishes the open page and hands the pages over.
  Document Finish();
  bool Active() const { return active_; }

  // Ends the current page (footer callback) and starts the next one (header callback).
  void NewPage();
  int PageNumber() const { return static_cast<int>(document_.pages.size()); }

  double PageWidth() const { return paper_cm_.width(); }
  double PageHeight() const { return paper_cm_.height(); }
  const MarginsCm& Margins() const { return margins_; }
  void SetMargins(const MarginsCm& margins) { margins_ = margins; }

  // Bottom of the printable area: page height minus the bottom margin.
  double SectionBottom() const { return PageHeight() - margins_.bottom; }
  double YPos() const { return y_cm_; }
  void SetYPos(double y_cm);
  double LineHeight() const;  // of the current font, cm
  // Moves down `count` lines of the current font and back to the first tab stop.
  void NewLine(int count = 1);

  void ClearTabs();
  void AddTab(const TabStop& tab);
  const std::vector<TabStop>& Tabs() const { return tabs_; }
  // When set, every tab's text uses this justification instead of the tab's own.
  void SetTabJustify(std::optional<Justify> justify) { forced_justify_ = justify; }
  // Prints `text` into the next tab stop, cut at the end to fit between the tab's text margins,
  // with its box and shade. Past the last stop the text is dropped.
  void PrintTab(const QString& text);
  // Prints a line and ends it. Each tab character moves to the next tab stop; text before the
  // first tab starts at the left margin.
  void PrintLine(const QString& text);

  // Setting a font resets bold and italic.
  void SetFont(const QString& family, double size_pt);
  void SetBold(bool bold) { font_.bold = bold; }
  void SetItalic(bool italic) { font_.italic = italic; }
  const FontSpec& Font() const { return font_; }

  // Prints every line of the paragraph, each followed by a new line.
  void PrintParagraph(const ParagraphBuffer& paragraph);

  // Stretches `image` into the rectangle (cm); a null image or an empty rectangle draws nothing.
  void PrintBitmapRect(double left, double top, double right, double bottom, const QImage& image);
  // The bitmap in `path`, or a null image when the file is missing or holds no image.
  static QImage LoadBitmap(const QString& path);

  std::function<void()> on_page_start;
  std::function<void()> on_page_end;
  std::function<void()> on_end_of_section;

 private:
  struct Cell {
    double left;
    double width;
  };
  void StartPage();
  void EndPage();
  Page& CurrentPage() { return document_.pages.back(); }
  Cell CellOf(size_t index) const;
  void PlaceText(const QString& text, double left_dots, double width_dots, Justify justify);

  Document document_;
  QSizeF paper_cm_;
  MarginsCm margins_;
  bool active_ = false;
  bool section_end_signalled_ = false;
  double y_cm_ = 0;
  FontSpec font_;
  std::vector<TabStop> tabs_;
  size_t next_tab_ = 0;
  std::optional<Justify> forced_justify_;
};

}  // namespace vorncom::report
