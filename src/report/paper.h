#pragma once

#include <QPageSize>
#include <QSizeF>
#include <optional>
#include <string>
#include <vector>

namespace vorncom::report {

// Windows paper codes the engine knows (DMPAPER_*).
inline constexpr int kPaperLetter = 1;
inline constexpr int kPaperA4 = 9;

struct PaperInfo {
  int code;
  QPageSize::PageSizeId page_size_id;
  const char* name;
};

// Every known paper code, in code order.
const std::vector<PaperInfo>& KnownPapers();
// The entry of `code`, or nullopt when the engine does not know it.
std::optional<PaperInfo> FindPaper(int code);
// The code of a Qt page size, or 0 when none maps to it.
int PaperCodeOf(QPageSize::PageSizeId id);
// Portrait width and height in centimetres; A4 for an unknown code.
QSizeF PaperSizeCm(int code);

}  // namespace vorncom::report
