#include "common/ui/qev_button.h"

#include <QApplication>
#include <QKeyEvent>
#include <QKeySequence>
#include <QPainter>
#include <QPointer>
#include <QShortcutEvent>
#include <QStyle>
#include <cmath>
#include <memory>

namespace vorncom::ui {

// The caption under the button: centred text with the accelerator letter underlined. A click
// only focuses the owning button.
class TqevCaption : public QWidget {
 public:
  explicit TqevCaption(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("lblCaption"));
    setFocusPolicy(Qt::NoFocus);
  }

  void SetText(const QString& text) {
    text_ = text;
    resize(TextWidth(), fontMetrics().height());
    update();
  }
  const QString& Text() const { return text_; }

  // Pixel width of the caption as shown: "&" markers do not count, "&&" shows one ampersand.
  int TextWidth() const {
    return fontMetrics().size(Qt::TextSingleLine | Qt::TextShowMnemonic, text_).width();
  }

  std::function<void()> on_click;

 protected:
  void paintEvent(QPaintEvent* /*event*/) override {
    QPainter p(this);
    style()->drawItemText(&p, rect(), Qt::AlignCenter | Qt::TextShowMnemonic, palette(),
                          isEnabled(), text_, QPalette::WindowText);
  }
  void mousePressEvent(QMouseEvent* event) override {
    if (on_click) on_click();
    event->accept();
  }
  void changeEvent(QEvent* event) override {
    if (event->type() == QEvent::FontChange) resize(TextWidth(), fontMetrics().height());
    QWidget::changeEvent(event);
  }

 private:
  QString text_;
};

namespace {

class EnterHook : public QObject {
 public:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::KeyPress) return QObject::eventFilter(watched, event);
    const auto* key = static_cast<QKeyEvent*>(event);
    if ((key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter) || key->isAutoRepeat()) {
      return false;
    }
    QWidget* active = QApplication::activeWindow();
    if (active == nullptr) return false;
    for (QObject* child : active->children()) {
      auto* button = qobject_cast<TqevButton*>(child);
      if (button != nullptr && button->Default() && button->isEnabled()) {
        button->Click();
        return true;
      }
    }
    return false;
  }
};

// Removed when the library unloads; rebuilt for a later application.
struct HookHolder {
  std::unique_ptr<EnterHook> hook;
  QPointer<QCoreApplication> installed_on;
};

HookHolder& Holder() {
  static HookHolder holder;
  return holder;
}

}  // namespace

void InstallEnterHook() {
  HookHolder& holder = Holder();
  QCoreApplication* app = QCoreApplication::instance();
  if (app == nullptr || (holder.hook && holder.installed_on == app)) return;
  holder.hook = std::make_unique<EnterHook>();
  app->installEventFilter(holder.hook.get());
  holder.installed_on = app;
}

TqevButton::TqevButton(QWidget* parent)
    : QWidget(parent), inner_(new TEllipseButton(this)), caption_(new TqevCaption(this)) {
  setFocusPolicy(Qt::StrongFocus);
  inner_->setObjectName(QStringLiteral("btnInner"));
  resize(40, 40);
  inner_->setGeometry(0, 1, 30, 30);
  caption_->hide();
  Relayout();
  InstallEnterHook();
  connect(inner_, &TEllipseButton::clicked, this, &TqevButton::InnerClicked);
  caption_->on_click = [this] { CaptionClicked(); };
}

TqevButton::~TqevButton() = default;

QWidget* TqevButton::CaptionLabel() const { return caption_; }

void TqevButton::SetRaioBotao(int diameter) {
  inner_->resize(diameter, diameter);
  Relayout();
}

int TqevButton::RaioBotao() const { return inner_->width(); }

void TqevButton::SetText(const QString& text) {
  if (shortcut_id_ != 0) {
    releaseShortcut(shortcut_id_);
    shortcut_id_ = 0;
  }
  if (text.trimmed().isEmpty()) {
    caption_->SetText(QString());
    caption_->hide();
    Relayout();
    return;
  }
  caption_->SetText(text);
  caption_->show();
  const QKeySequence mnemonic = QKeySequence::mnemonic(text);
  if (!mnemonic.isEmpty()) shortcut_id_ = grabShortcut(mnemonic);
  FitWidthToCaption();
}

QString TqevButton::Text() const { return caption_->Text(); }

void TqevButton::SetHint(const QString& hint) {
  hint_ = hint;
  inner_->setToolTip(show_hint_ ? hint_ : QString());
}

void TqevButton::SetShowHint(bool show) {
  show_hint_ = show;
  inner_->setToolTip(show_hint_ ? hint_ : QString());
}

void TqevButton::FitWidthToCaption() {
  resize(std::max(40, caption_->TextWidth()), height());
  Relayout();
}

void TqevButton::Relayout() {
  const int w = width();
  inner_->move(static_cast<int>(std::lround((w - inner_->width()) / 2.0)), inner_->y());
  caption_->move(static_cast<int>(std::lround((w - caption_->width()) / 2.0)),
                 height() - caption_->height() - 1);
}

void TqevButton::resizeEvent(QResizeEvent* event) {
  Relayout();
  QWidget::resizeEvent(event);
}

void TqevButton::InnerClicked() {
  setFocus(Qt::OtherFocusReason);
  if (on_click_) on_click_(inner_);
  update();
  emit clicked();
}

void TqevButton::CaptionClicked() {
  setFocus(Qt::MouseFocusReason);
  update();
}

void TqevButton::mousePressEvent(QMouseEvent* event) {
  setFocus(Qt::MouseFocusReason);
  QWidget::mousePressEvent(event);
}

void TqevButton::keyPressEvent(QKeyEvent* event) {
  const int key = event->key();
  if (key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter) {
    // A held key would click again on every repeat, possibly in the next window that appears.
    if (!event->isAutoRepeat()) inner_->Click();
    event->accept();
    return;
  }
  QWidget::keyPressEvent(event);
}

bool TqevButton::event(QEvent* event) {
  if (event->type() == QEvent::Shortcut) {
    const auto* shortcut = static_cast<QShortcutEvent*>(event);
    if (shortcut->shortcutId() == shortcut_id_ && shortcut_id_ != 0) {
      if (isEnabled() && isVisible() && focusPolicy() != Qt::NoFocus) inner_->Click();
      return true;
    }
  }
  return QWidget::event(event);
}

void TqevButton::focusInEvent(QFocusEvent* event) {
  update();
  QWidget::focusInEvent(event);
}

void TqevButton::focusOutEvent(QFocusEvent* event) {
  update();
  QWidget::focusOutEvent(event);
}

void TqevButton::changeEvent(QEvent* event) {
  if (event->type() == QEvent::FontChange && caption_->isVisibleTo(this)) {
    caption_->setFont(font());
    FitWidthToCaption();
  }
  QWidget::changeEvent(event);
}

void TqevButton::paintEvent(QPaintEvent* event) {
  QWidget::paintEvent(event);
  if (!hasFocus()) return;
  // The dotted focus frame: every other pixel of the outline.
  QPainter p(this);
  p.setPen(palette().color(QPalette::WindowText));
  const int right = width() - 1;
  const int bottom = height() - 1;
  for (int x = 0; x <= right; x += 2) {
    p.drawPoint(x, 0);
    p.drawPoint(x, bottom);
  }
  for (int y = 0; y <= bottom; y += 2) {
    p.drawPoint(0, y);
    p.drawPoint(right, y);
  }
}

}  // namespace vorncom::ui
