#include "report/page_list.h"

#include <QRegularExpression>
#include <algorithm>
#include <optional>

namespace vorncom::report {
namespace {

std::vector<int> Range(int from, int to) {
  std::vector<int> pages;
  for (int p = from; p <= to; ++p) pages.push_back(p);
  return pages;
}

std::optional<int> ReadNumber(const QString& text) {
  bool ok = false;
  int n = text.trimmed().toInt(&ok);
  if (!ok) return std::nullopt;
  return n;
}

// nullopt when any part of the list cannot be read.
std::optional<std::vector<int>> ParseList(int page_count, const QString& page_list) {
  std::vector<int> pages;
  static const QRegularExpression separators(QStringLiteral("[,;]"));
  for (const QString& raw : page_list.split(separators)) {
    QString part = raw.trimmed();
    if (part.isEmpty()) continue;
    int dash = part.indexOf(QLatin1Char('-'));
    int from = 0;
    int to = 0;
    if (dash < 0) {
      auto n = ReadNumber(part);
      if (!n) return std::nullopt;
      from = to = *n;
    } else {
      auto a = ReadNumber(part.left(dash));
      QString right = part.mid(dash + 1).trimmed();
      auto b = right.isEmpty() ? std::optional<int>(page_count) : ReadNumber(right);
      if (!a || !b) return std::nullopt;
      from = *a;
      to = *b;
    }
    from = std::max(from, 1);
    to = std::min(to, page_count);
    for (int p = from; p <= to; ++p) pages.push_back(p);
  }
  return pages;
}

}  // namespace

std::vector<int> SelectPages(int page_count, int first, int last, const QString& page_list) {
  if (page_count <= 0) return {};
  if (!page_list.trimmed().isEmpty()) {
    auto pages = ParseList(page_count, page_list);
    if (pages && !pages->empty()) return *pages;
    return Range(1, page_count);
  }
  int from = std::max(first, 1);
  int to = std::min(last, page_count);
  if (from > to) return Range(1, page_count);
  return Range(from, to);
}

}  // namespace vorncom::report
