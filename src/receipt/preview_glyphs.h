#pragma once

#include <QIcon>

namespace vorncom::receipt {

// Tool bar glyphs of the preview window, drawn in code so that no bitmap files are needed.
enum class Glyph {
  kPrint,
  kSave,
  kZoomIn,
  kZoomOut,
  kPageWidth,
  kWholePage,
  kFirst,
  kPrev,
  kNext,
  kLast,
  kClose
};

QIcon MakeGlyph(Glyph glyph);

}  // namespace vorncom::receipt
