#include "report/page_model.h"

#include <QFont>
#include <cmath>

#include "report/units.h"

namespace vorncom::report {

QFont MakeLayoutFont(const FontSpec& spec) {
  QFont font(spec.family);
  font.setPixelSize(std::max(1, static_cast<int>(std::lround(PointsToDots(spec.size_pt)))));
  font.setBold(spec.bold);
  font.setItalic(spec.italic);
  font.setHintingPreference(QFont::PreferNoHinting);
  font.setKerning(false);
  return font;
}

}  // namespace vorncom::report
