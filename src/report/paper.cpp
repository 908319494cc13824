#include "report/paper.h"

#include <algorithm>

namespace vorncom::report {

const std::vector<PaperInfo>& KnownPapers() {
  static const std::vector<PaperInfo> papers = {
      {1, QPageSize::Letter, "Letter"},
      {3, QPageSize::Tabloid, "Tabloid"},
      {4, QPageSize::Ledger, "Ledger"},
      {5, QPageSize::Legal, "Legal"},
      {6, QPageSize::Statement, "Statement"},
      {7, QPageSize::Executive, "Executive"},
      {8, QPageSize::A3, "A3"},
      {9, QPageSize::A4, "A4"},
      {11, QPageSize::A5, "A5"},
      {12, QPageSize::B4, "B4 (ISO)"},
      {13, QPageSize::JisB5, "B5 (JIS)"},
      {14, QPageSize::Folio, "Folio"},
      {20, QPageSize::Comm10E, "Envelope #10"},
      {27, QPageSize::EnvelopeDL, "Envelope DL"},
      {28, QPageSize::EnvelopeC5, "Envelope C5"},
      {34, QPageSize::EnvelopeB5, "Envelope B5"},
      {37, QPageSize::EnvelopeMonarch, "Envelope Monarch"},
      {70, QPageSize::A6, "A6"},
  };
  return papers;
}

std::optional<PaperInfo> FindPaper(int code) {
  const auto& papers = KnownPapers();
  auto it = std::find_if(papers.begin(), papers.end(),
                         [code](const PaperInfo& p) { return p.code == code; });
  if (it == papers.end()) return std::nullopt;
  return *it;
}

int PaperCodeOf(QPageSize::PageSizeId id) {
  for (const auto& p : KnownPapers()) {
    if (p.page_size_id == id) return p.code;
  }
  return 0;
}

QSizeF PaperSizeCm(int code) {
  auto paper = FindPaper(code);
  QPageSize size(paper ? paper->page_size_id : QPageSize::A4);
  return size.size(QPageSize::Millimeter) / 10.0;
}

}  // namespace vorncom::report
