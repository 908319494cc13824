#pragma once

#include <QFont>
#include <QImage>
#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <QString>
#include <cstdint>
#include <variant>
#include <vector>

#include "common/exception.h"

namespace vorncom::report {

// Raised for spool files that cannot be written or read back, and for output that fails.
VORNCOM_EXCEPTION(EReportError);

// All coordinates of the page model are dots of the 1200-dpi grid, measured from the paper's top
// left corner.

struct FontSpec {
  QString family = QStringLiteral("Arial");
  double size_pt = 10.0;
  bool bold = false;
  bool italic = false;
  bool operator==(const FontSpec&) const = default;
};

// A run of text placed at a baseline origin and clipped to a cell, so that a renderer whose glyph
// widths differ slightly from the layout's can never spill into the next column.
struct TextItem {
  QPointF origin;
  QRectF clip;
  FontSpec font;
  QString text;
};

// Sides of a cell box.
enum BoxSide : uint8_t {
  kBoxNone = 0,
  kBoxLeft = 1,
  kBoxTop = 2,
  kBoxRight = 4,
  kBoxBottom = 8,
  kBoxAll = 15,
};

// A cell background (shade_percent of black, 0 = none) and its box lines.
struct BoxItem {
  QRectF rect;
  uint8_t sides = kBoxNone;
  int shade_percent = 0;
};

struct ImageItem {
  QRectF rect;
  QImage image;
};

using PageItem = std::variant<TextItem, BoxItem, ImageItem>;

struct Page {
  QSizeF size;  // paper size in dots, orientation applied
  std::vector<PageItem> items;
};

struct Document {
  QString title;
  std::vector<Page> pages;
  // For the folder printer: the file name without ".pdf" (empty: the title and the time) and the
  // PDF's subject.
  QString file_name;
  QString subject;
};

// Line width of box lines, in dots (about a quarter point).
inline constexpr double kBoxLineWidth = 4.0;

// The font the layout measures with and renderers draw with: sized in pixels of the 1200-dpi grid
// so that no device resolution enters the metrics.
QFont MakeLayoutFont(const FontSpec& font_spec);

}  // namespace vorncom::report
