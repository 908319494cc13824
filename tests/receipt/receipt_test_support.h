#pragma once

#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <vector>

#include "common/variant.h"
#include "receipt/receipt_data.h"
#include "report/page_model.h"
#include "report/units.h"

namespace vorncom::receipt::testing {

// A receipt as a sent package leaves it: every printed element set.
inline ReceiptData SampleData() {
  ReceiptData data;
  Variant& p = data.protocol_data;
  p.At(1) = "FORM2001.ZIP";
  p.At(2) = "recepcao-01.vorn.example";
  p.At(3) = "2026.000.123456-7";
  p.At(4) = "09/12/2026 14:05:09";
  p.At(5) = "Declaração Anual";
  p.At(6) = "1.3";
  p.At(7) = "123.456.789-09";
  p.At(8) = "Maria da Silva Pereira";
  for (int32_t i = 1; i <= 12; ++i) data.footer.At(i) = "F" + std::to_string(i);
  return data;
}

inline double Cm(double dots) { return report::DotsToCm(dots); }

// The text items of a page, in the order they were laid out.
inline std::vector<report::TextItem> Texts(const report::Page& page) {
  std::vector<report::TextItem> out;
  for (const auto& item : page.items) {
    if (const auto* text = std::get_if<report::TextItem>(&item)) out.push_back(*text);
  }
  return out;
}

template <typename T>
std::vector<T> ItemsOf(const report::Page& page) {
  std::vector<T> out;
  for (const auto& item : page.items) {
    if (const auto* x = std::get_if<T>(&item)) out.push_back(*x);
  }
  return out;
}

// The first text item equal to `text` (trimmed), or null.
inline const report::TextItem* FindText(const std::vector<report::TextItem>& texts,
                                        const QString& text) {
  for (const auto& t : texts) {
    if (t.text.trimmed() == text) return &t;
  }
  return nullptr;
}

// The PDF's text as pdftotext lays it out, blanks folded; empty when the tool is missing.
inline QString PdfLayoutText(const QString& pdf) {
  if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty()) return {};
  QProcess tool;
  tool.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf, QStringLiteral("-")});
  tool.waitForFinished(30000);
  return QString::fromUtf8(tool.readAllStandardOutput()).simplified();
}

}  // namespace vorncom::receipt::testing
