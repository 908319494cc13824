#include "report/page_renderer.h"

#include <QPen>
#include <algorithm>
#include <cmath>

#include "report/units.h"

namespace vorncom::report {
namespace {

struct ItemPainter {
  QPainter& painter;

  void operator()(const TextItem& t) const {
    painter.save();
    painter.setClipRect(t.clip, Qt::IntersectClip);
    painter.setFont(MakeLayoutFont(t.font));
    painter.setPen(Qt::black);
    painter.drawText(t.origin, t.text);
    painter.restore();
  }

  void operator()(const BoxItem& b) const {
    if (b.shade_percent > 0) {
      int level = 255 - std::clamp(b.shade_percent, 0, 100) * 255 / 100;
      painter.fillRect(b.rect, QColor(level, level, level));
    }
    if (b.sides == kBoxNone) return;
    // Hairlines stay visible at small zoom: never thinner than one device pixel.
    double scale = std::sqrt(std::abs(painter.transform().determinant()));
    QPen pen(Qt::black, std::max(1.0, kBoxLineWidth * scale));
    pen.setCosmetic(true);
    pen.setCapStyle(Qt::SquareCap);
    painter.setPen(pen);
    const QRectF& r = b.rect;
    if (b.sides & kBoxLeft) painter.drawLine(r.topLeft(), r.bottomLeft());
    if (b.sides & kBoxTop) painter.drawLine(r.topLeft(), r.topRight());
    if (b.sides & kBoxRight) painter.drawLine(r.topRight(), r.bottomRight());
    if (b.sides & kBoxBottom) painter.drawLine(r.bottomLeft(), r.bottomRight());
  }

  void operator()(const ImageItem& i) const {
    if (i.image.isNull()) return;
    painter.drawImage(i.rect, i.image);
  }
};

}  // namespace

void RenderPage(QPainter& painter, const Page& page) {
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing, true);
  painter.setRenderHint(QPainter::TextAntialiasing, true);
  painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
  painter.fillRect(QRectF(QPointF(0, 0), page.size), Qt::white);
  for (const PageItem& item : page.items) std::visit(ItemPainter{painter}, item);
  painter.restore();
}

void RenderPageInto(QPainter& painter, const Page& page, const QRectF& target) {
  if (page.size.isEmpty() || target.isEmpty()) return;
  painter.save();
  painter.translate(target.topLeft());
  painter.scale(target.width() / page.size.width(), target.height() / page.size.height());
  RenderPage(painter, page);
  painter.restore();
}

QImage RenderPageImage(const Page& page, double dpi) {
  double scale = dpi / kDotsPerInch;
  QSize size(std::max(1, static_cast<int>(std::lround(page.size.width() * scale))),
             std::max(1, static_cast<int>(std::lround(page.size.height() * scale))));
  QImage image(size, QImage::Format_RGB32);
  image.fill(Qt::white);
  int dots_per_meter = static_cast<int>(std::lround(dpi / 0.0254));
  image.setDotsPerMeterX(dots_per_meter);
  image.setDotsPerMeterY(dots_per_meter);
  QPainter painter(&image);
  RenderPageInto(painter, page, QRectF(QPointF(0, 0), QSizeF(size)));
  return image;
}

}  // namespace vorncom::report
