#pragma once

#include <QColor>
#include <QPixmap>
#include <QWidget>

#include "common/ui/button_glyph.h"

namespace vorncom::ui {

// Adds n to each of red, green and blue (n may be negative), each clamped to 0..255.
QColor ShiftColor(const QColor& colour, int n);

// A circular colour button drawn inside its rectangle: a face in the button colour with a
// two-tone edge, a checkerboard face while held down, a lighter face while the mouse is over it,
// and a centred glyph. It never takes the keyboard focus; its owner does.
class TEllipseButton : public QWidget {
  Q_OBJECT

 public:
  explicit TEllipseButton(QWidget* parent = nullptr);

  // An invalid colour (the default) means the palette's button face.
  void SetColor(const QColor& colour);
  QColor Color() const { return colour_; }
  // The colour the face is drawn in: Color(), or the button face when that is invalid.
  QColor FaceColor() const;

  void SetGlyph(const QPixmap& glyph);
  QPixmap Glyph() const { return glyph_.Glyph(); }
  void SetNumGlyphs(int count);
  int NumGlyphs() const { return glyph_.NumGlyphs(); }

  // With a group index other than 0 a click toggles Down; a down button goes up only when
  // AllowAllUp is set.
  void SetGroupIndex(int index);
  int GroupIndex() const { return group_index_; }
  void SetDown(bool down);
  bool Down() const { return down_; }
  void SetAllowAllUp(bool allow) { allow_all_up_ = allow; }
  bool AllowAllUp() const { return allow_all_up_; }

  // A lighter face while the mouse is over the button (a held button's face is checkered).
  void SetShowMouseFocus(bool on) { show_mouse_focus_ = on; }

  TButtonState State() const { return state_; }
  bool Hot() const { return hot_; }

  // Runs the click: emits clicked().
  void Click();

 signals:
  void clicked();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void SetState(TButtonState state);
  // The state painting uses: disabled overrides the tracked state.
  TButtonState PaintState() const;

  QColor colour_;
  TButtonGlyph glyph_;
  int group_index_ = 0;
  bool down_ = false;
  bool allow_all_up_ = false;
  bool show_mouse_focus_ = true;
  TButtonState state_ = TButtonState::bsUp;
  bool hot_ = false;
  bool tracking_ = false;
};

}  // namespace vorncom::ui
