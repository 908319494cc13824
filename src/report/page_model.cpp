#include "report/page_model.h"

#include <QFont>
#include <cmath>

#include "report/units.h"

namespace vorncom::report {

QFont MakeLayoutFont(const FontSpec& font_spec) {
  QFont font(font_spec.family);
  font.setPixelSize(std::max(1, static_cast<int>(std::lround(PointsToDots(font_spec.size_pt)))));
  font.setBold(font_spec.bold);
  font.setItalic(font_spec.italic);
  font.setHintingPreference(QFont::PreferNoHinting);
  font.setKerning(false);
  return font;
}

}  // namespace vorncom::report
