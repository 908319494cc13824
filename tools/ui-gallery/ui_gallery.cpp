// Grabs the message dialog of every kind, a dialog with its details open and a row of rounded
// buttons in each drawing state to PNG files, for a look by eye:
//   vorncom-ui-gallery <output folder>
// Runs under the offscreen platform when no display is set.
#include <QApplication>
#include <QDir>
#include <QEnterEvent>
#include <QMouseEvent>
#include <QPainter>
#include <cstdio>

#include "common/ui/message_form.h"
#include "common/ui/qev_button.h"
#include "common/ui/qt_host.h"

namespace {

using vorncom::MessageKind;
namespace buttons = vorncom::buttons;
using vorncom::ui::CriarMensagem;
using vorncom::ui::TqevButton;

bool Save(const QImage& image, const QDir& dir, const QString& name) {
  const QString path = dir.filePath(name + QStringLiteral(".png"));
  if (!image.save(path)) {
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    return false;
  }
  std::printf("%s\n", qPrintable(path));
  return true;
}

QImage GrabShown(QWidget& widget) {
  widget.show();
  QApplication::processEvents();
  QImage image = widget.grab().toImage();
  widget.hide();
  return image;
}

// A titled frame around a grabbed dialog, so the title shows in the picture too.
QImage Framed(const QImage& client, const QString& title) {
  constexpr int kBar = 22;
  QImage image(client.width() + 2, client.height() + kBar + 1, QImage::Format_ARGB32);
  image.fill(QColor(60, 60, 60));
  QPainter p(&image);
  p.fillRect(1, 1, client.width(), kBar - 1, QColor(45, 85, 150));
  p.setPen(Qt::white);
  QFont font(QStringLiteral("Liberation Sans"));
  font.setPixelSize(12);
  font.setBold(true);
  p.setFont(font);
  p.drawText(QRect(8, 1, client.width() - 30, kBar - 1), Qt::AlignVCenter, title);
  p.drawText(QRect(client.width() - 20, 1, 18, kBar - 1), Qt::AlignCenter, QStringLiteral("×"));
  p.drawImage(1, kBar, client);
  return image;
}

QImage Dialog(const std::string& text, MessageKind kind, vorncom::ButtonSet set,
              const std::string& details = {}, bool dont_show_again = false,
              bool details_open = false) {
  auto form = CriarMensagem(text, kind, set, details, dont_show_again, details_open);
  const QImage client = GrabShown(*form);
  return Framed(client, form->windowTitle());
}

QImage ButtonStates() {
  QWidget row;
  row.setFont(QFont(QStringLiteral("Arial"), 8));
  row.resize(420, 60);
  const char* captions[] = {"&Normal", "Quente", "Pressionado", "Preso", "Desabilitado", "Foco"};
  std::vector<TqevButton*> all;
  int left = 6;
  for (const char* caption : captions) {
    auto* b = new TqevButton(&row);
    b->SetText(QString::fromUtf8(caption));
    b->SetRaioBotao(30);
    b->SetGlyph(vorncom::ui::ButtonGlyph("btn_OK"));
    b->setGeometry(left, 6, std::max(64, b->width()), 46);
    left += b->width() + 6;
    all.push_back(b);
  }
  row.show();
  QApplication::processEvents();
  auto* hot = all[1]->InnerButton();
  QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
  QApplication::sendEvent(hot, &enter);
  auto* pressed = all[2]->InnerButton();
  QMouseEvent press(QEvent::MouseButtonPress, QPointF(15, 15), QPointF(15, 15), Qt::LeftButton,
                    Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(pressed, &press);
  all[3]->SetGroupIndex(1);
  all[3]->SetDown(true);
  all[4]->setEnabled(false);
  all[5]->setFocus();
  row.activateWindow();
  QApplication::processEvents();
  return row.grab().toImage();
}

// Icons at 32 pixels and glyphs at 18, then both enlarged four times.
QImage ArtSheet() {
  const char* icons[] = {"xicon_Warning",      "xicon_Error",    "xicon_Information",
                         "xicon_Confirmation", "xicon_Mensagem", "xicon_ErrorWindows"};
  const char* glyphs[] = {"btn_Yes",      "btn_No",       "btn_OK",     "btn_Cancel",
                          "btn_Retry",    "btn_Abort",    "btn_Ignore", "btn_All",
                          "btn_NoToAll",  "btn_YesToAll", "btn_Help",   "btn_Detalhes",
                          "btn_Detalhes2"};
  QImage sheet(13 * 80 + 10, 300, QImage::Format_ARGB32);
  sheet.fill(QColor(239, 239, 239));
  QPainter p(&sheet);
  int x = 10;
  for (const char* name : icons) {
    const QPixmap icon(QStringLiteral(":/vorncom/icons/%1_32.png").arg(QLatin1String(name)));
    p.drawPixmap(x, 10, icon);
    p.drawPixmap(QRect(x + 40, 10, 128, 128), icon);
    x += 172;
  }
  x = 10;
  for (const char* name : glyphs) {
    const QPixmap glyph = vorncom::ui::ButtonGlyph(name);
    p.drawPixmap(x, 160, glyph);
    p.drawPixmap(QRect(x, 190, 72, 72), glyph);
    x += 80;
  }
  return sheet;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
    return 2;
  }
  if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
      qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  vorncom::ui::EnsureApplication();
  const QDir dir(QString::fromLocal8Bit(argv[1]));
  if (!dir.mkpath(QStringLiteral("."))) return 1;

  const std::string error =
      "Não foi possível conectar ao servidor de recepção. Verifique a sua conexão com a Internet "
      "e tente novamente.";
  bool ok = true;
  ok &= Save(Dialog("O arquivo informado não existe.", MessageKind::kWarning, buttons::kOk), dir,
             QStringLiteral("dialog-warning"));
  ok &= Save(Dialog(error, MessageKind::kError, buttons::kOk), dir, QStringLiteral("dialog-error"));
  ok &= Save(Dialog("A transmissão foi concluída.", MessageKind::kInformation, buttons::kOk), dir,
             QStringLiteral("dialog-information"));
  ok &= Save(Dialog("Deseja visualizar o recibo da transmissão anterior?",
                    MessageKind::kConfirmation, buttons::kYes | buttons::kNo),
             dir, QStringLiteral("dialog-confirmation"));
  ok &= Save(Dialog("Mensagem sem ícone, com o título do programa.", MessageKind::kCustom,
                    buttons::kOk | buttons::kCancel),
             dir, QStringLiteral("dialog-custom"));
  ok &= Save(Dialog("Há uma nova versão da tabela de mensagens.", MessageKind::kMessage,
                    buttons::kOk | buttons::kHelp, {}, true),
             dir, QStringLiteral("dialog-message"));
  ok &= Save(Dialog("Falha de sistema ao gravar o arquivo.", MessageKind::kSystemError,
                    buttons::kAbort | buttons::kRetry | buttons::kIgnore),
             dir, QStringLiteral("dialog-system-error"));
  ok &= Save(
      Dialog(error, MessageKind::kError, buttons::kOk,
             "ESocketError: Connection refused (111)\nServidor: recepcao1.vorn:6010", false, true),
      dir, QStringLiteral("dialog-details-open"));
  ok &= Save(Dialog("Substituir os arquivos existentes?", MessageKind::kConfirmation,
                    buttons::kYes | buttons::kNo | buttons::kAll | buttons::kNoToAll |
                        buttons::kYesToAll | buttons::kCancel),
             dir, QStringLiteral("dialog-many-buttons"));
  std::string huge;
  for (int i = 0; i < 400; ++i)
    huge += "Linha " + std::to_string(i) + " de um texto muito longo.\n";
  ok &= Save(Dialog(huge, MessageKind::kWarning, buttons::kOk | buttons::kCancel), dir,
             QStringLiteral("dialog-huge-text"));
  ok &= Save(Dialog("C:\\" + std::string(300, 'X') + "\\arquivo.vnp", MessageKind::kError,
                    buttons::kRetry | buttons::kCancel),
             dir, QStringLiteral("dialog-long-word"));
  ok &= Save(Dialog("\n\n\n", MessageKind::kCustom, 0), dir, QStringLiteral("dialog-empty"));
  ok &= Save(ButtonStates(), dir, QStringLiteral("button-states"));
  ok &= Save(ArtSheet(), dir, QStringLiteral("art-sheet"));
  return ok ? 0 : 1;
}
