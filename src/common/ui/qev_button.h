#pragma once

#include <QColor>
#include <QPixmap>
#include <QString>
#include <QWidget>
#include <functional>

#include "common/ui/ellipse_button.h"

namespace vorncom::ui {

class TqevCaption;

// The library's push button: a focusable control holding a circular button with a glyph at the
// top and a centred caption under it. Enter pressed anywhere in a window clicks that window's
// default TqevButton when the button is one of the window's direct children (see
// InstallEnterHook); Space or Enter click a focused button; Alt plus the caption's accelerator
// letter clicks it. Needs a QApplication (see EnsureApplication).
class TqevButton : public QWidget {
  Q_OBJECT

 public:
  // Called with the inner button as sender.
  using ClickHandler = std::function<void(QObject* sender)>;

  explicit TqevButton(QWidget* parent = nullptr);
  ~TqevButton() override;

  void SetDefault(bool is_default) { default_ = is_default; }
  bool Default() const { return default_; }

  // The inner button's diameter in pixels; the inner button is centred again.
  void SetRaioBotao(int diameter);
  int RaioBotao() const;

  // The caption, "&" marking the accelerator letter. A caption of blanks hides the label and
  // leaves the width alone; any other widens the control to the caption's width (at least 40).
  void SetText(const QString& text);
  QString Text() const;

  void SetGlyph(const QPixmap& glyph) { inner_->SetGlyph(glyph); }
  QPixmap Glyph() const { return inner_->Glyph(); }
  void SetBtnColor(const QColor& colour) { inner_->SetColor(colour); }
  QColor BtnColor() const { return inner_->Color(); }
  void SetNumGlyphs(int count) { inner_->SetNumGlyphs(count); }
  int NumGlyphs() const { return inner_->NumGlyphs(); }
  void SetHint(const QString& hint);
  QString Hint() const { return hint_; }
  void SetShowHint(bool show);
  bool ShowHint() const { return show_hint_; }
  void SetDown(bool down) { inner_->SetDown(down); }
  bool Down() const { return inner_->Down(); }
  void SetGroupIndex(int index) { inner_->SetGroupIndex(index); }
  int GroupIndex() const { return inner_->GroupIndex(); }

  void SetOnClick(ClickHandler handler) { on_click_ = std::move(handler); }

  // Clicks the inner button as a mouse click would.
  void Click() { inner_->Click(); }

  TEllipseButton* InnerButton() const { return inner_; }
  QWidget* CaptionLabel() const;

 signals:
  // After OnClick.
  void clicked();

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void changeEvent(QEvent* event) override;
  bool event(QEvent* event) override;

 private:
  void InnerClicked();
  void CaptionClicked();
  void FitWidthToCaption();
  void Relayout();

  TEllipseButton* inner_;
  TqevCaption* caption_;
  bool default_ = false;
  QString hint_;
  bool show_hint_ = false;
  ClickHandler on_click_;
  int shortcut_id_ = 0;
};

// Installs the window-wide Enter handling once for the application (TqevButton's constructor
// does so). On a first press of Enter, not an auto-repeat, the active window's direct children
// are examined in order and the first enabled TqevButton with Default set is clicked; the key
// is then consumed. Buttons inside panels are not examined, so Enter reaches the focused control.
void InstallEnterHook();

}  // namespace vorncom::ui
