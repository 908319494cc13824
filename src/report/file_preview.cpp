#include "report/file_preview.h"

#include <QPainter>
#include <algorithm>
#include <cmath>

#include "report/page_renderer.h"
#include "report/spool.h"
#include "report/units.h"

namespace vorncom::report {
namespace {

const QColor kBackground(128, 128, 128);
constexpr int kRulerThickness = 14;  // pixels

void DrawRulers(QPainter& p, const QRectF& page, double pixels_per_inch) {
  p.save();
  QRectF top(page.left(), page.top() - kRulerThickness, page.width(), kRulerThickness);
  QRectF left(page.left() - kRulerThickness, page.top(), kRulerThickness, page.height());
  p.fillRect(top, QColor(250, 250, 240));
  p.fillRect(left, QColor(250, 250, 240));
  p.setPen(QPen(Qt::black, 0));
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(9);
  p.setFont(font);
  // Ticks every eighth of an inch, longer at halves, numbered at whole inches.
  auto tick_length = [](int eighth) {
    return eighth % 8 == 0 ? kRulerThickness : eighth % 4 == 0 ? kRulerThickness / 2 : 3;
  };
  double step = pixels_per_inch / 8;
  bool numbers = pixels_per_inch >= 24;
  for (int i = 1; i * step < page.width(); ++i) {
    double x = page.left() + i * step;
    p.drawLine(QPointF(x, top.bottom()), QPointF(x, top.bottom() - tick_length(i)));
    if (numbers && i % 8 == 0) {
      p.drawText(QPointF(x - 10, top.bottom() - 3), QString::number(i / 8));
    }
  }
  for (int i = 1; i * step < page.height(); ++i) {
    double y = page.top() + i * step;
    p.drawLine(QPointF(left.right(), y), QPointF(left.right() - tick_length(i), y));
    if (numbers && i % 8 == 0) p.drawText(QPointF(left.left() + 1, y - 3), QString::number(i / 8));
  }
  p.drawRect(top);
  p.drawRect(left);
  p.restore();
}

}  // namespace

void FilePreview::Start(const QString& spool_path) { Start(ReadSpool(spool_path)); }

void FilePreview::Start(Document document) {
  document_ = std::move(document);
  running_ = true;
  current_ = 0;
  GoToPage(1);
}

void FilePreview::Finish() { running_ = false; }

void FilePreview::GoToPage(int page) {
  if (page < 1 || page > PageCount() || page == current_) return;
  current_ = page;
  if (on_page_change) on_page_change();
}

void FilePreview::SetZoom(double zoom) {
  if (!std::isfinite(zoom)) return;
  zoom = std::clamp(zoom, kMinZoom, kMaxZoom);
  if (zoom == zoom_) return;
  zoom_ = zoom;
  if (on_zoom_change) on_zoom_change();
}

QSizeF FilePreview::PageInches() const {
  if (current_ < 1) return QSizeF(21.0 / kCmPerInch, 29.7 / kCmPerInch);
  return document_.pages[current_ - 1].size / kDotsPerInch;
}

double FilePreview::PageWidthZoom(QSize viewport) const {
  QSizeF page = PageInches();
  double total = page.width() * (1 + 2 * page_margin_percent / 100);
  // One pixel of slack: the rendered size is rounded and must not bring up a scroll bar.
  return std::clamp((viewport.width() - 1) / (total * screen_dpi) * 100, kMinZoom, kMaxZoom);
}

double FilePreview::WholePageZoom(QSize viewport) const {
  QSizeF page = PageInches();
  double margin = page.width() * page_margin_percent / 100;
  double by_width = (viewport.width() - 1) / ((page.width() + 2 * margin) * screen_dpi);
  double by_height = (viewport.height() - 1) / ((page.height() + 2 * margin) * screen_dpi);
  return std::clamp(std::min(by_width, by_height) * 100, kMinZoom, kMaxZoom);
}

QImage FilePreview::Render() const {
  QSizeF inches = PageInches();
  double ppi = screen_dpi * zoom_ / 100;
  double margin = inches.width() * page_margin_percent / 100 * ppi;
  QSizeF page_px(inches.width() * ppi, inches.height() * ppi);
  QSize size(std::max(1, static_cast<int>(page_px.width() + 2 * margin)),
             std::max(1, static_cast<int>(page_px.height() + 2 * margin)));
  QImage image(size, QImage::Format_RGB32);
  image.fill(kBackground);
  QRectF page_rect(QPointF(margin, margin), page_px);
  QPainter painter(&image);
  if (current_ >= 1) {
    RenderPageInto(painter, document_.pages[current_ - 1], page_rect);
  } else {
    painter.fillRect(page_rect, Qt::white);
  }
  if (rulers && margin > kRulerThickness) DrawRulers(painter, page_rect, ppi);
  return image;
}

}  // namespace vorncom::report
