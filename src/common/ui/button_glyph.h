#pragma once

#include <QImage>
#include <QPalette>
#include <QPixmap>

namespace vorncom::ui {

// Drawing states of a push button, in the order their images sit side by side in a glyph.
enum class TButtonState { bsUp = 0, bsDisabled = 1, bsDown = 2, bsExclusive = 3 };

// A glyph strip the way speed buttons use it: NumGlyphs equal images side by side for the up,
// disabled, pressed and held states. A state without an image of its own shows the up image,
// except "disabled", which is derived from the up image as an embossed silhouette. The colour of
// the bottom-left pixel is transparent throughout.
class TButtonGlyph {
 public:
  void SetGlyph(const QPixmap& glyph);
  const QPixmap& Glyph() const { return glyph_; }
  // Clamped to 1..4; the stored value is what callers read back.
  void SetNumGlyphs(int count);
  int NumGlyphs() const { return num_glyphs_; }
  bool IsEmpty() const { return glyph_.isNull(); }

  // The image for a state; light and shadow colours of the palette draw the derived disabled one.
  QImage Image(TButtonState state, const QPalette& palette) const;

 private:
  QImage Cell(int index) const;

  QPixmap glyph_;
  int num_glyphs_ = 1;
};

}  // namespace vorncom::ui
