#include "receipt/preview_glyphs.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace vorncom::receipt {
namespace {

constexpr int kSize = 20;

void Page(QPainter& p, const QRectF& r) {
  p.setBrush(Qt::white);
  p.drawRect(r);
}

void Magnifier(QPainter& p, bool plus) {
  p.setBrush(QColor(220, 235, 255));
  p.drawEllipse(QRectF(3, 3, 10, 10));
  p.setPen(QPen(QColor(60, 60, 60), 2.5, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(12, 12), QPointF(17, 17));
  p.setPen(QPen(Qt::black, 1.5));
  p.drawLine(QPointF(5.5, 8), QPointF(10.5, 8));
  if (plus) p.drawLine(QPointF(8, 5.5), QPointF(8, 10.5));
}

void Triangle(QPainter& p, bool left, double x) {
  QPainterPath path;
  if (left) {
    path.moveTo(x + 5, 5);
    path.lineTo(x, 10);
    path.lineTo(x + 5, 15);
  } else {
    path.moveTo(x, 5);
    path.lineTo(x + 5, 10);
    path.lineTo(x, 15);
  }
  path.closeSubpath();
  p.fillPath(path, QColor(30, 60, 140));
}

}  // namespace

QIcon MakeGlyph(Glyph glyph) {
  QPixmap pixmap(kSize, kSize);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(Qt::black, 1));
  switch (glyph) {
    case Glyph::kPrint:
      Page(p, QRectF(5.5, 2.5, 9, 6));
      p.setBrush(QColor(160, 160, 160));
      p.drawRoundedRect(QRectF(2.5, 8.5, 15, 7), 1.5, 1.5);
      Page(p, QRectF(5.5, 13.5, 9, 4));
      break;
    case Glyph::kSave:
      p.setBrush(QColor(40, 70, 150));
      p.drawRect(QRectF(2.5, 2.5, 15, 15));
      p.setBrush(Qt::white);
      p.drawRect(QRectF(5.5, 2.5, 9, 6));
      p.setBrush(QColor(200, 200, 200));
      p.drawRect(QRectF(5.5, 11.5, 9, 6));
      break;
    case Glyph::kZoomIn:
      Magnifier(p, true);
      break;
    case Glyph::kZoomOut:
      Magnifier(p, false);
      break;
    case Glyph::kPageWidth:
      Page(p, QRectF(4.5, 2.5, 11, 15));
      p.setPen(QPen(QColor(30, 60, 140), 1.5));
      p.drawLine(QPointF(1.5, 10), QPointF(18.5, 10));
      p.drawLine(QPointF(1.5, 10), QPointF(4, 7.5));
      p.drawLine(QPointF(1.5, 10), QPointF(4, 12.5));
      p.drawLine(QPointF(18.5, 10), QPointF(16, 7.5));
      p.drawLine(QPointF(18.5, 10), QPointF(16, 12.5));
      break;
    case Glyph::kWholePage:
      Page(p, QRectF(4.5, 2.5, 11, 15));
      p.setPen(QPen(QColor(150, 150, 150), 1));
      for (int y = 6; y <= 14; y += 2) p.drawLine(QPointF(6.5, y + 0.5), QPointF(13.5, y + 0.5));
      break;
    case Glyph::kFirst:
      p.fillRect(QRectF(4, 5, 2, 10), QColor(30, 60, 140));
      Triangle(p, true, 7);
      Triangle(p, true, 12);
      break;
    case Glyph::kPrev:
      Triangle(p, true, 8);
      break;
    case Glyph::kNext:
      Triangle(p, false, 8);
      break;
    case Glyph::kLast:
      Triangle(p, false, 3);
      Triangle(p, false, 8);
      p.fillRect(QRectF(14, 5, 2, 10), QColor(30, 60, 140));
      break;
    case Glyph::kClose:
      p.setPen(QPen(QColor(170, 30, 30), 2.5, Qt::SolidLine, Qt::RoundCap));
      p.drawLine(QPointF(5, 5), QPointF(15, 15));
      p.drawLine(QPointF(15, 5), QPointF(5, 15));
      break;
  }
  return QIcon(pixmap);
}

}  // namespace vorncom::receipt
