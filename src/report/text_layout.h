#pragma once

#include <QString>
#include <QStringList>

#include "report/page_model.h"

namespace vorncom::report {

// Text measurement on the 1200-dpi grid. Needs a QGuiApplication (font database).
class TextMeasure {
 public:
  explicit TextMeasure(const FontSpec& font);
  double Width(const QString& text) const;  // dots
  double Ascent() const;
  double LineHeight() const;  // dots between baselines

  // The longest leading part of `text` no wider than `width` dots (empty for width <= 0).
  QString CutToFit(const QString& text, double width) const;

  // Breaks `text` into lines no wider than `width` dots at blanks; hard line breaks (CR LF, LF or
  // CR) are kept. Leading blanks of a paragraph stay (they indent its first line); blanks where a
  // line breaks are dropped. A word wider than the line is split at the last character that fits,
  // with at least one character per line. With width <= 0 nothing fits and no lines come back.
  QStringList Wrap(const QString& text, double width) const;

 private:
  QFont font_;
};

}  // namespace vorncom::report
