#include "report/text_layout.h"

#include <QFontMetricsF>
#include <QRegularExpression>

namespace vorncom::report {

TextMeasure::TextMeasure(const FontSpec& font) : font_(MakeLayoutFont(font)) {}

double TextMeasure::Width(const QString& text) const {
  return QFontMetricsF(font_).horizontalAdvance(text);
}

double TextMeasure::Ascent() const { return QFontMetricsF(font_).ascent(); }

double TextMeasure::LineHeight() const { return QFontMetricsF(font_).lineSpacing(); }

QString TextMeasure::CutToFit(const QString& text, double width) const {
  if (width <= 0) return QString();
  QFontMetricsF metrics(font_);
  if (metrics.horizontalAdvance(text) <= width) return text;
  // Binary search on the length: advance grows with every character added.
  qsizetype lo = 0;
  qsizetype hi = text.size();
  while (lo < hi) {
    qsizetype mid = (lo + hi + 1) / 2;
    if (metrics.horizontalAdvance(text.left(mid)) <= width) {
      lo = mid;
    } else {
      hi = mid - 1;
    }
  }
  return text.left(lo);
}

QStringList TextMeasure::Wrap(const QString& text, double width) const {
  QStringList lines;
  if (width <= 0) return lines;
  static const QRegularExpression breaks(QStringLiteral("\r\n|\n|\r"));
  for (const QString& paragraph : text.split(breaks)) {
    QString line;
    qsizetype pos = 0;
    bool line_started = false;
    qsizetype lines_before = lines.size();
    while (pos < paragraph.size()) {
      // A token is a run of blanks followed by a word.
      qsizetype word_start = pos;
      while (word_start < paragraph.size() && paragraph[word_start] == QLatin1Char(' ')) {
        ++word_start;
      }
      qsizetype word_end = word_start;
      while (word_end < paragraph.size() && paragraph[word_end] != QLatin1Char(' ')) ++word_end;
      QString blanks = paragraph.mid(pos, word_start - pos);
      QString word = paragraph.mid(word_start, word_end - word_start);
      pos = word_end;
      if (word.isEmpty()) break;  // trailing blanks
      QString candidate = line + blanks + word;
      if (Width(candidate) <= width) {
        line = candidate;
        line_started = true;
        continue;
      }
      if (line_started) {
        lines << line;
        line.clear();
        candidate = word;
      }
      // The word (or an indented first word) alone is too wide: split it where it stops fitting.
      while (Width(candidate) > width) {
        QString head = CutToFit(candidate, width);
        if (head.trimmed().isEmpty()) {
          // Only indentation fits; drop it rather than looping on empty lines.
          candidate = candidate.trimmed();
          head = CutToFit(candidate, width);
          if (head.isEmpty()) head = candidate.left(1);
        }
        lines << head;
        candidate = candidate.mid(head.size());
      }
      line = candidate;
      line_started = !line.isEmpty();
    }
    // A blank paragraph still takes its line; a split word's empty remainder does not.
    if (line_started || lines.size() == lines_before) lines << line;
  }
  return lines;
}

}  // namespace vorncom::report
