#include "common/ui/button_glyph.h"

#include <QPainter>
#include <algorithm>

namespace vorncom::ui {

void TButtonGlyph::SetGlyph(const QPixmap& glyph) { glyph_ = glyph; }

void TButtonGlyph::SetNumGlyphs(int count) { num_glyphs_ = std::clamp(count, 1, 4); }

QImage TButtonGlyph::Cell(int index) const {
  QImage strip = glyph_.toImage().convertToFormat(QImage::Format_ARGB32);
  const int width = strip.width() / num_glyphs_;
  if (width <= 0 || strip.height() <= 0) return {};
  QImage cell = strip.copy(index * width, 0, width, strip.height());
  const QRgb transparent = strip.pixel(0, strip.height() - 1);
  for (int y = 0; y < cell.height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(cell.scanLine(y));
    for (int x = 0; x < cell.width(); ++x) {
      if (line[x] == transparent) line[x] = qRgba(0, 0, 0, 0);
    }
  }
  return cell;
}

QImage TButtonGlyph::Image(TButtonState state, const QPalette& palette) const {
  if (IsEmpty()) return {};
  const int index = static_cast<int>(state);
  if (index < num_glyphs_) return Cell(index);
  const QImage up = Cell(0);
  if (state != TButtonState::bsDisabled) return up;

  // The silhouette keeps the glyph's dark strokes; light fills vanish as they do on a face.
  QImage mask(up.size(), QImage::Format_ARGB32);
  mask.fill(Qt::transparent);
  for (int y = 0; y < up.height(); ++y) {
    for (int x = 0; x < up.width(); ++x) {
      const QColor c = QColor::fromRgba(up.pixel(x, y));
      if (c.alpha() >= 128 && c.lightness() < 192) mask.setPixel(x, y, qRgba(0, 0, 0, 255));
    }
  }
  auto tinted = [&mask](const QColor& colour) {
    QImage image = mask;
    QPainter p(&image);
    p.setCompositionMode(QPainter::CompositionMode_SourceIn);
    p.fillRect(image.rect(), colour);
    return image;
  };
  QImage disabled(up.width() + 1, up.height() + 1, QImage::Format_ARGB32);
  disabled.fill(Qt::transparent);
  QPainter p(&disabled);
  p.drawImage(1, 1, tinted(palette.color(QPalette::Light)));
  p.drawImage(0, 0, tinted(palette.color(QPalette::Dark)));
  return disabled;
}

}  // namespace vorncom::ui
