#include "common/ui/message_form.h"

#include <QApplication>
#include <QCheckBox>
#include <QDesktopServices>
#include <QFileInfo>
#include <QFrame>
#include <QIcon>
#include <QLabel>
#include <QPlainTextEdit>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QUrl>
#include <QWindow>
#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <vector>

#include "common/messages.h"
#include "common/ui/qev_button.h"
#include "common/ui/spoken.h"

namespace vorncom::ui {
namespace {

constexpr std::array<MessageButtonRow, 13> kRows = {{
    {"btn_Yes", msg::kButtonYes.data(), results::kYes},
    {"btn_No", msg::kButtonNo.data(), results::kNo},
    {"btn_OK", "OK", results::kOk},
    {"btn_Cancel", msg::kButtonCancel.data(), results::kCancel},
    {"btn_Retry", msg::kButtonRetry.data(), results::kRetry},
    {"btn_Abort", msg::kButtonAbort.data(), results::kAbort},
    {"btn_Ignore", msg::kButtonIgnore.data(), results::kIgnore},
    {"btn_All", msg::kButtonAll.data(), results::kAll},
    {"btn_NoToAll", msg::kButtonNoToAll.data(), results::kNoToAll},
    {"btn_YesToAll", msg::kButtonYesToAll.data(), results::kYesToAll},
    {"btn_Help", msg::kButtonHelp.data(), 0},
    {"btn_Detalhes", msg::kDetails.data(), 0},
    {"btn_Detalhes2", msg::kDetails.data(), 0},
}};
constexpr int kButtonRows = 11;
constexpr int kHelpRow = 10;
constexpr ButtonSet kUsedBits = (1u << kButtonRows) - 1;
constexpr int kDetailsHeight = 100;
constexpr int kIconSize = 32;
constexpr int kDontShowAgainMinWidth = 220;
constexpr int kCheckBoxHeight = 17;
// Room kept for the window frame and title when a long text is fitted to the screen.
constexpr int kFrameAllowance = 48;
const char* const kDontShowAgainCaption = msg::kDontShowAgain.data();

// Caption widths are measured once and reused by every later dialog.
std::array<int, 13> caption_widths{};

int MulDiv(int number, int numerator, int denominator) {
  return static_cast<int>(std::lround(static_cast<double>(number) * numerator / denominator));
}

QScreen* DialogScreen() { return QGuiApplication::primaryScreen(); }

QFont DialogFont() {
  QFont font = QApplication::font("QMessageBox");
  font.setFamily(QStringLiteral("Arial"));
  const QScreen* screen = DialogScreen();
  const int dpi = screen ? static_cast<int>(std::lround(screen->logicalDotsPerInchY())) : 96;
  font.setPixelSize(MulDiv(8, dpi, 72));
  return font;
}

struct Metrics {
  int du_x, du_y;
  int h_margin, v_margin, h_spacing, v_spacing;
  int button_height, button_spacing, button_width_start;
};

Metrics MetricsFor(const QFontMetrics& fm) {
  Metrics m{};
  m.du_x =
      fm.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) /
      52;
  m.du_y = fm.height();
  m.h_margin = MulDiv(8, m.du_x, 4);
  m.v_margin = MulDiv(8, m.du_y, 8);
  m.h_spacing = MulDiv(10, m.du_x, 4);
  m.v_spacing = MulDiv(10, m.du_y, 8);
  m.button_height = MulDiv(27, m.du_y, 8);
  m.button_spacing = MulDiv(1, m.du_x, 4);
  m.button_width_start = std::max(30, MulDiv(10, m.du_x, 4));
  return m;
}

int CaptionWidth(int row, const QFontMetrics& fm) {
  if (caption_widths[row] == 0) {
    const QString caption = QString::fromUtf8(kRows[row].caption);
    caption_widths[row] = fm.size(Qt::TextSingleLine | Qt::TextShowMnemonic, caption).width() + 8;
  }
  return caption_widths[row];
}

// Line ends of any convention become "\n"; a word wider than the wrap width may break between
// any two of its letters (a zero-width space marks each place) instead of widening the dialog.
QString PrepareText(const std::string& utf8, const QFontMetrics& fm, int wrap_width) {
  QString text = QString::fromStdString(utf8);
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  QString out;
  out.reserve(text.size());
  qsizetype start = 0;
  while (start < text.size()) {
    qsizetype end = start;
    while (end < text.size() && !text[end].isSpace()) ++end;
    const QString word = text.mid(start, end - start);
    if (fm.horizontalAdvance(word) > wrap_width) {
      for (qsizetype i = 0; i < word.size(); ++i) {
        out += word[i];
        if (i + 1 < word.size() && !word[i].isHighSurrogate()) out += QChar(0x200B);
      }
    } else {
      out += word;
    }
    while (end < text.size() && text[end].isSpace()) out += text[end++];
    start = end;
  }
  return out;
}

constexpr int kTextFlags = Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap | Qt::TextExpandTabs;

}  // namespace

const MessageButtonRow& ButtonRow(int row) { return kRows.at(static_cast<size_t>(row)); }

QPixmap ButtonGlyph(const char* name) {
  return QPixmap(QStringLiteral(":/vorncom/glyphs/%1.png").arg(QLatin1String(name)));
}

QPixmap KindIcon(MessageKind kind) {
  const char* name = nullptr;
  switch (kind) {
    case MessageKind::kWarning:
      name = "xicon_Warning";
      break;
    case MessageKind::kError:
      name = "xicon_Error";
      break;
    case MessageKind::kInformation:
      name = "xicon_Information";
      break;
    case MessageKind::kConfirmation:
      name = "xicon_Confirmation";
      break;
    case MessageKind::kMessage:
      name = "xicon_Mensagem";
      break;
    case MessageKind::kSystemError:
      name = "xicon_ErrorWindows";
      break;
    case MessageKind::kCustom:
      return {};
  }
  QIcon icon;
  for (int size : {16, 32, 48}) {
    icon.addFile(QStringLiteral(":/vorncom/icons/%1_%2.png").arg(QLatin1String(name)).arg(size),
                 QSize(size, size));
  }
  return icon.pixmap(QSize(kIconSize, kIconSize));
}

TFormMensagem::TFormMensagem(QWidget* parent) : QDialog(parent) {
  setWindowFlag(Qt::MSWindowsFixedSizeDialogHint);
  setModal(true);
}

void TFormMensagem::PlaceAt(int x, int y) {
  QPoint at = pos();
  if (x >= 0) at.setX(x);
  if (y >= 0) at.setY(y);
  move(at);
}

int TFormMensagem::ShowModal() {
  // Closing the only window would otherwise post a quit to the application, and the next dialog's
  // modal loop would end the moment it starts.
  const bool quit_on_close = QGuiApplication::quitOnLastWindowClosed();
  QGuiApplication::setQuitOnLastWindowClosed(false);
  // Kept above the host's window by the window manager, without the host owning the dialog.
  QWidget* host = QApplication::activeWindow();
  if (host != nullptr && host != this && host->windowHandle() != nullptr) {
    winId();
    windowHandle()->setTransientParent(host->windowHandle());
  }
  const int result = exec();
  QGuiApplication::setQuitOnLastWindowClosed(quit_on_close);
  return result == QDialog::Rejected ? results::kCancel : result;
}

void TFormMensagem::reject() { done(results::kCancel); }

bool TFormMensagem::DontShowAgainChecked() const {
  const auto* box = findChild<QCheckBox*>(QStringLiteral("chkNaoMostrardeNovo"));
  return box != nullptr && box->isChecked();
}

bool TFormMensagem::DetailsOpen() const { return height() != normal_height_; }

void TFormMensagem::ToggleDetails() {
  auto* memo = findChild<QPlainTextEdit*>(QStringLiteral("memoDetalhes"));
  const bool open = height() == normal_height_;
  setFixedHeight(open ? expanded_height_ : normal_height_);
  if (memo != nullptr) memo->setVisible(open);
  if (details_button_ != nullptr) {
    details_button_->SetGlyph(ButtonGlyph(kRows[open ? kDetailsOpenRow : kDetailsRow].name));
  }
}

void TFormMensagem::resizeEvent(QResizeEvent* event) {
  if (panel_ != nullptr) {
    panel_->setGeometry(0, height() - panel_->height(), width(), panel_->height());
  }
  QDialog::resizeEvent(event);
}

void TFormMensagem::ResultButtonClicked(TqevButton* button) {
  const int row = button->property("tag").toInt();
  done(kRows.at(static_cast<size_t>(row)).result);
}

void TFormMensagem::HelpClicked() {
  if (!help_file_.isEmpty() && QFileInfo::exists(help_file_)) {
    QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(help_file_).absoluteFilePath()));
  }
}

namespace {

// What a screen reader says of each part of the dialog; the message itself is the dialog's
// description, so it is read when the dialog opens.
void SpeakFor(TFormMensagem& f, const QString& text) {
  f.setAccessibleName(f.windowTitle());
  f.setAccessibleDescription(text);
  const struct {
    const char* object;
    QString name;
    const char* description;
  } parts[] = {
      {"Image", QStringLiteral("Ícone: %1").arg(f.windowTitle()), "Tipo da mensagem."},
      {"Message", QString(), "Texto da mensagem."},
      {"MessageScroll", QStringLiteral("Mensagem"), "Texto da mensagem, com rolagem."},
      {"memoDetalhes", QStringLiteral("Detalhes"), "Detalhes técnicos da mensagem."},
      {"chkNaoMostrardeNovo", QString(), "Marque para não ver esta mensagem de novo."},
      {"PainelBotoes", QStringLiteral("Botões"), "Respostas possíveis à mensagem."},
  };
  for (const auto& part : parts) {
    if (auto* w = f.findChild<QWidget*>(QLatin1String(part.object))) {
      SetSpoken(w, part.name, QString::fromUtf8(part.description));
    }
  }
  if (auto* box = f.findChild<QCheckBox*>(QStringLiteral("chkNaoMostrardeNovo"))) {
    box->setAccessibleName(SpokenCaption(box->text()));
  }
  for (auto* button : f.findChildren<TqevButton*>()) {
    const int row = button->property("tag").toInt();
    const QString caption =
        SpokenCaption(QString::fromUtf8(kRows[static_cast<size_t>(row)].caption));
    const QString description =
        row == kHelpRow      ? QStringLiteral("Abre a ajuda desta mensagem.")
        : row >= kButtonRows ? QStringLiteral("Mostra ou oculta os detalhes da mensagem.")
                             : QStringLiteral("Responde %1 e fecha a mensagem.").arg(caption);
    SetSpoken(button, caption, description);
  }
}

}  // namespace

std::unique_ptr<TFormMensagem> CriarMensagem(const std::string& text, MessageKind kind,
                                             ButtonSet set, const std::string& details,
                                             bool dont_show_again, bool details_open) {
  auto form = std::make_unique<TFormMensagem>();
  TFormMensagem& f = *form;
  f.setObjectName(QStringLiteral("FormMensagem"));
  f.setLayoutDirection(QGuiApplication::layoutDirection());
  const bool rtl = f.layoutDirection() == Qt::RightToLeft;
  f.setFont(DialogFont());
  const QFontMetrics fm(f.font());
  const Metrics m = MetricsFor(fm);
  set &= kUsedBits;
  const bool has_details = !details.empty();

  int button_width = m.button_width_start;
  for (int row = 0; row < kButtonRows; ++row) {
    if (set & (1u << row)) button_width = std::max(button_width, CaptionWidth(row, fm));
  }
  if (has_details) button_width = std::max(button_width, CaptionWidth(kDetailsRow, fm));
  const int details_width = has_details ? 2 * button_width : 0;

  // The text and its icon.
  QScreen* screen = DialogScreen();
  const QRect screen_rect = screen ? screen->geometry() : QRect(0, 0, 800, 600);
  const QRect available = screen ? screen->availableGeometry() : screen_rect;
  const int wrap_width = screen_rect.width() / 2;
  const QString shown = PrepareText(text, fm, wrap_width);
  const QRect text_rect = fm.boundingRect(QRect(0, 0, wrap_width, 0), kTextFlags, shown);
  const int text_width = text_rect.width();
  const int text_height = text_rect.height();
  const int chrome_height = m.button_height + m.v_spacing + 2 * m.v_margin +
                            (has_details ? kDetailsHeight : 0) + kFrameAllowance;
  const int max_text_height = std::max(3 * m.du_y, available.height() - chrome_height);
  const bool scrolls = text_height > max_text_height;
  const int area_width =
      text_width + (scrolls ? f.style()->pixelMetric(QStyle::PM_ScrollBarExtent) : 0);
  const int area_height = scrolls ? max_text_height : text_height;
  const QPixmap icon = KindIcon(kind);
  const bool has_icon = !icon.isNull();
  // An empty text without an icon still leaves room to see and close the dialog.
  const int icon_text_width =
      std::max(area_width + (has_icon ? m.h_spacing + kIconSize : 0), kIconSize);
  const int icon_text_height =
      std::max(has_icon ? std::max(area_height, kIconSize) : area_height, m.du_y);

  const int n = std::popcount(static_cast<unsigned>(set));
  const int group_width =
      (n > 0 ? n * button_width + (n - 1) * m.button_spacing : 0) + details_width;
  int client_width = std::max(icon_text_width, group_width) + 2 * m.h_margin;
  if (dont_show_again)
    client_width = std::max(client_width, 2 * m.h_margin + kDontShowAgainMinWidth);
  const int client_height = icon_text_height + m.button_height + m.v_spacing + 2 * m.v_margin;
  f.setFixedSize(client_width, client_height);
  f.move(available.center() - QPoint(client_width / 2, client_height / 2));
  // A Qt host may have given its application a title of its own.
  const QString host_title = QGuiApplication::applicationDisplayName();
  f.setWindowTitle(kind == MessageKind::kCustom && !host_title.isEmpty()
                       ? host_title
                       : QString::fromStdString(KindTitle(kind)));

  if (has_icon) {
    auto* image = new QLabel(&f);
    image->setObjectName(QStringLiteral("Image"));
    image->setPixmap(icon);
    const int left = rtl ? client_width - m.h_margin - kIconSize : m.h_margin;
    image->setGeometry(left, m.v_margin, kIconSize, kIconSize);
  }

  int text_left = m.h_margin + (has_icon ? kIconSize + m.h_spacing : 0);
  if (rtl) text_left = client_width - text_left - area_width;
  auto* message = new QLabel(&f);
  message->setObjectName(QStringLiteral("Message"));
  message->setTextFormat(Qt::PlainText);
  message->setWordWrap(true);
  message->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  message->setText(shown);
  if (scrolls) {
    auto* area = new QScrollArea(&f);
    area->setObjectName(QStringLiteral("MessageScroll"));
    area->setFrameShape(QFrame::NoFrame);
    area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    area->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    area->setGeometry(text_left, m.v_margin, area_width, area_height);
    message->resize(text_width, text_height);
    area->setWidget(message);
  } else {
    message->setGeometry(text_left, m.v_margin, text_width, text_height);
  }

  f.normal_height_ = client_height;
  f.expanded_height_ = client_height + kDetailsHeight;
  const int panel_height = m.button_height + 2;

  if (has_details) {
    auto* memo = new QPlainTextEdit(&f);
    memo->setObjectName(QStringLiteral("memoDetalhes"));
    memo->setReadOnly(true);
    memo->setPlainText(QString::fromStdString(details));
    QPalette palette = memo->palette();
    palette.setColor(QPalette::Base, f.palette().color(QPalette::Window));
    memo->setPalette(palette);
    memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    memo->setFocusPolicy(Qt::ClickFocus);
    memo->setGeometry(m.h_margin, client_height - panel_height, client_width - 2 * m.h_margin,
                      kDetailsHeight);
    memo->hide();
  }

  if (dont_show_again) {
    auto* box = new QCheckBox(QString::fromUtf8(kDontShowAgainCaption), &f);
    box->setObjectName(QStringLiteral("chkNaoMostrardeNovo"));
    box->setGeometry(0, client_height - panel_height - kCheckBoxHeight, client_width,
                     kCheckBoxHeight);
  }

  auto* panel = new QFrame(&f);
  panel->setObjectName(QStringLiteral("PainelBotoes"));
  panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
  panel->setLineWidth(1);
  panel->setGeometry(0, client_height - panel_height, client_width, panel_height);
  f.panel_ = panel;

  TqevButton* details_button = nullptr;
  if (has_details) {
    details_button = new TqevButton(panel);
    details_button->setObjectName(QString::fromLatin1(kRows[kDetailsRow].name));
    details_button->SetText(QString::fromUtf8(kRows[kDetailsRow].caption));
    details_button->setProperty("tag", kDetailsRow);
    details_button->SetGlyph(ButtonGlyph(kRows[details_open ? kDetailsOpenRow : kDetailsRow].name));
    details_button->SetRaioBotao(30);
    details_button->setGeometry(rtl ? client_width - 4 - button_width : 4, 1, button_width,
                                m.button_height);
    QObject::connect(details_button, &TqevButton::clicked, &f, &TFormMensagem::ToggleDetails);
    f.details_button_ = details_button;
  }

  const int default_row = (set & buttons::kOk)      ? 2
                          : (set & buttons::kYes)   ? 0
                          : (set & buttons::kRetry) ? 4
                                                    : -1;
  std::vector<TqevButton*> in_order;
  TqevButton* default_button = nullptr;
  int left = client_width + details_width - group_width;
  for (int row = 0; row < kButtonRows; ++row) {
    if (!(set & (1u << row))) continue;
    auto* button = new TqevButton(panel);
    button->setObjectName(QString::fromLatin1(kRows[row].name));
    button->SetText(QString::fromUtf8(kRows[row].caption));
    button->setProperty("tag", row);
    button->SetGlyph(ButtonGlyph(kRows[row].name));
    button->SetRaioBotao(30);
    if (n == 1) {
      // A lone button takes the whole panel beside the Details button.
      QRect fill = panel->rect();
      if (details_button != nullptr) {
        if (rtl) {
          fill.setRight(details_button->geometry().left() - 1);
        } else {
          fill.setLeft(details_button->geometry().right() + 1);
        }
      }
      button->setGeometry(fill);
    } else {
      button->setGeometry(rtl ? client_width - left - button_width : left, 1, button_width,
                          m.button_height);
    }
    left += button_width + m.button_spacing;
    if (row == kHelpRow) {
      QObject::connect(button, &TqevButton::clicked, &f, &TFormMensagem::HelpClicked);
    } else {
      QObject::connect(button, &TqevButton::clicked, &f,
                       [&f, button] { f.ResultButtonClicked(button); });
    }
    if (row == default_row) {
      button->SetDefault(true);
      default_button = button;
    } else {
      in_order.push_back(button);
    }
  }
  if (default_button != nullptr) in_order.insert(in_order.begin(), default_button);
  if (details_button != nullptr) in_order.push_back(details_button);
  for (size_t i = 1; i < in_order.size(); ++i) QWidget::setTabOrder(in_order[i - 1], in_order[i]);
  if (!in_order.empty()) in_order.front()->setFocus(Qt::OtherFocusReason);

  SpeakFor(f, shown);
  if (details_open && has_details) f.ToggleDetails();
  return form;
}

}  // namespace vorncom::ui
