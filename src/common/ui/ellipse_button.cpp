#include "common/ui/ellipse_button.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

namespace vorncom::ui {
namespace {

// Direction of a point seen from the centre of a rectangle, in Qt's angle convention (degrees,
// counter-clockwise from three o'clock, y growing downwards on screen).
double DirectionDegrees(const QRectF& rect, QPointF point) {
  const QPointF c = rect.center();
  return std::atan2(-(point.y() - c.y()), point.x() - c.x()) * 180.0 / M_PI;
}

// Draws the arc of the ellipse in `rect` that runs counter-clockwise from the direction of
// `from` to the direction of `to`, the way a GDI arc is specified.
void DrawArc(QPainter& p, const QRectF& rect, QPointF from, QPointF to) {
  const double start = DirectionDegrees(rect, from);
  double span = DirectionDegrees(rect, to) - start;
  while (span <= 0) span += 360.0;
  QPainterPath path;
  path.arcMoveTo(rect, start);
  path.arcTo(rect, start, span);
  p.drawPath(path);
}

QBrush CheckerBrush(const QColor& even, const QColor& odd) {
  QImage pattern(8, 8, QImage::Format_RGB32);
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 8; ++x) pattern.setPixel(x, y, ((x + y) % 2 == 0 ? even : odd).rgb());
  }
  return QBrush(pattern);
}

}  // namespace

QColor ShiftColor(const QColor& colour, int n) {
  auto shift = [n](int v) { return std::clamp(v + n, 0, 255); };
  return QColor(shift(colour.red()), shift(colour.green()), shift(colour.blue()));
}

TEllipseButton::TEllipseButton(QWidget* parent) : QWidget(parent) {
  setFocusPolicy(Qt::NoFocus);
  setAttribute(Qt::WA_Hover, false);
}

void TEllipseButton::SetColor(const QColor& colour) {
  colour_ = colour;
  update();
}

QColor TEllipseButton::FaceColor() const {
  return colour_.isValid() ? colour_ : palette().color(QPalette::Button);
}

void TEllipseButton::SetGlyph(const QPixmap& glyph) {
  glyph_.SetGlyph(glyph);
  update();
}

void TEllipseButton::SetNumGlyphs(int count) {
  glyph_.SetNumGlyphs(count);
  update();
}

void TEllipseButton::SetGroupIndex(int index) {
  group_index_ = index;
  if (index == 0) SetDown(false);
}

void TEllipseButton::SetDown(bool down) {
  if (group_index_ == 0) down = false;
  if (down == down_) return;
  if (down_ && !allow_all_up_) return;
  down_ = down;
  SetState(down ? TButtonState::bsExclusive : TButtonState::bsUp);
}

void TEllipseButton::Click() { emit clicked(); }

void TEllipseButton::SetState(TButtonState state) {
  if (state == state_) return;
  state_ = state;
  update();
}

TButtonState TEllipseButton::PaintState() const {
  return isEnabled() ? state_ : TButtonState::bsDisabled;
}

void TEllipseButton::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || !isEnabled()) return;
  if (!down_) SetState(TButtonState::bsDown);
  tracking_ = true;
}

void TEllipseButton::mouseDoubleClickEvent(QMouseEvent* event) { mousePressEvent(event); }

void TEllipseButton::mouseMoveEvent(QMouseEvent* event) {
  if (!tracking_) return;
  const bool inside = rect().contains(event->position().toPoint());
  if (down_) {
    SetState(TButtonState::bsExclusive);
  } else {
    SetState(inside ? TButtonState::bsDown : TButtonState::bsUp);
  }
}

void TEllipseButton::mouseReleaseEvent(QMouseEvent* event) {
  if (!tracking_ || event->button() != Qt::LeftButton) return;
  tracking_ = false;
  const bool inside = rect().contains(event->position().toPoint());
  state_ = TButtonState::bsUp;
  if (group_index_ == 0) {
    update();
  } else if (inside) {
    SetDown(!down_);
    if (down_) state_ = TButtonState::bsExclusive;
    update();
  } else {
    if (down_) state_ = TButtonState::bsExclusive;
    update();
  }
  if (inside) Click();
}

void TEllipseButton::enterEvent(QEnterEvent* /*event*/) {
  if (isEnabled() && show_mouse_focus_ && !hot_) {
    hot_ = true;
    update();
  }
}

void TEllipseButton::leaveEvent(QEvent* /*event*/) {
  if (hot_) {
    hot_ = false;
    update();
  }
}

void TEllipseButton::changeEvent(QEvent* event) {
  if (event->type() == QEvent::EnabledChange) {
    if (!isEnabled()) {
      hot_ = false;
      tracking_ = false;
      state_ = down_ ? TButtonState::bsExclusive : TButtonState::bsUp;
    }
    update();
  }
  QWidget::changeEvent(event);
}

void TEllipseButton::paintEvent(QPaintEvent* /*event*/) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing, true);
  const QColor face = FaceColor();
  const TButtonState state = PaintState();
  const bool sunken = state == TButtonState::bsDown || state == TButtonState::bsExclusive;
  const QColor outer_light = sunken ? ShiftColor(face, -48) : ShiftColor(face, 60);
  const QColor outer_dark = sunken ? ShiftColor(face, 64) : ShiftColor(face, -48);
  const QColor inner_light = sunken ? ShiftColor(face, -96) : ShiftColor(face, 12);
  const QColor inner_dark = sunken ? ShiftColor(face, 48) : ShiftColor(face, -100);

  const int w = width();
  const int h = height();
  const QRectF edge(2, 2, w - 4, h - 4);
  p.setPen(Qt::NoPen);
  p.setBrush(face);
  p.drawEllipse(edge);

  // The edge pixels sit where a GDI pen would put them: the 2-pixel outer band straddles the
  // ellipse outline, the 1-pixel inner line covers its inner half.
  const QPointF upper_right(4 * (w / 5), h / 5);
  const QPointF lower_left(w / 5, 4 * (h / 5));
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(outer_light, 2));
  DrawArc(p, edge, upper_right, lower_left);
  p.setPen(QPen(outer_dark, 2));
  DrawArc(p, edge, lower_left, upper_right);
  const QRectF inner = edge.adjusted(0.5, 0.5, -0.5, -0.5);
  p.setPen(QPen(inner_light, 1));
  DrawArc(p, inner, upper_right, lower_left);
  p.setPen(QPen(inner_dark, 1));
  DrawArc(p, inner, lower_left, upper_right);

  p.setPen(Qt::NoPen);
  if (state == TButtonState::bsExclusive) {
    p.setBrush(CheckerBrush(ShiftColor(face, 128), face));
    p.drawEllipse(QRectF(1, 1, w - 3, h - 3));
  }
  if (hot_ && isEnabled() && state != TButtonState::bsDown) {
    p.setBrush(ShiftColor(face, 24));
    p.drawEllipse(QRectF(1, 1, w - 3, h - 3));
  }

  const QImage image = glyph_.Image(state, palette());
  if (!image.isNull()) {
    p.setRenderHint(QPainter::Antialiasing, false);
    QPoint at((w - image.width()) / 2, (h - image.height()) / 2);
    if (sunken) at += QPoint(1, 1);
    p.drawImage(at, image);
  }
}

}  // namespace vorncom::ui
