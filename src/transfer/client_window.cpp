#include "transfer/client_window.h"

#include <QAccessible>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QFileInfo>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QProgressBar>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>
#include <QUrl>

#include "common/environment.h"
#include "common/message_dialog.h"
#include "common/messages.h"
#include "common/ui/qev_button.h"
#include "common/ui/spoken.h"

namespace vorncom::transfer {
namespace {

constexpr int kClientWidth = 366;
constexpr int kClientHeight = 316;
const QColor kPanelBlue(0, 51, 153);  // 10040064

TfVornComClient::Observer& ObserverSlot() {
  static TfVornComClient::Observer observer;
  return observer;
}

QString Q(const std::string& s) { return QString::fromStdString(s); }

QFont WindowFont() {
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(11);
  return font;
}

QLabel* AddLabel(QWidget* parent, const char* name, const QString& text, int x, int y,
                 int width = -1) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(QLatin1String(name));
  if (width < 0) {
    label->adjustSize();
    label->move(x, y);
  } else {
    label->setGeometry(x, y, width, label->sizeHint().height());
  }
  return label;
}

QLabel* AddStatic(QWidget* parent, const char* name, int x, int y, int width) {
  auto* text = new QLabel(parent);
  text->setObjectName(QLatin1String(name));
  text->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  text->setGeometry(x, y, width, 17);
  text->setIndent(2);
  return text;
}

QPixmap Glyph(const char* name) {
  return QPixmap(QStringLiteral(":/vorncom/glyphs/%1.png").arg(QLatin1String(name)));
}

// A sheet of paper with lines, for the receipt button.
QPixmap ReceiptGlyph() {
  QPixmap glyph(18, 18);
  glyph.fill(Qt::transparent);
  QPainter p(&glyph);
  p.setPen(QColor(60, 60, 60));
  p.setBrush(Qt::white);
  p.drawRect(3, 1, 11, 15);
  p.setPen(QColor(0, 51, 153));
  for (int y = 4; y <= 12; y += 3) p.drawLine(5, y, 12, y);
  return glyph;
}

ui::TqevButton* AddButton(QWidget* parent, const char* name, const QString& caption, int x,
                          const QPixmap& glyph) {
  auto* button = new ui::TqevButton(parent);
  button->SetGlyph(glyph);
  button->setObjectName(QLatin1String(name));
  button->SetRaioBotao(30);
  button->SetText(caption);
  button->setGeometry(x, 3, 58, 52);
  return button;
}

// What a screen reader says of each control: its name and what it is for.
struct Spoken {
  const char* object;
  const char* name;  // nullptr: the control's own text, or the live text set while it runs
  const char* description;
};
constexpr Spoken kSpoken[] = {
    {"imgLogo", "Logotipo da instituição", "Marca da instituição que recebe os formulários."},
    {"lblSistema", nullptr, "Nome do sistema."},
    {"lblModulo", nullptr, "Módulo do sistema em uso."},
    {"lblVersao", nullptr, "Versão do módulo."},
    {"pnlSuperior", "Cabeçalho", "Instituição, sistema e versão."},
    {"grbSolicitante", "Solicitante", "Dados de quem envia ou recebe o formulário."},
    {"lblNome", "Nome", "Rótulo do nome do solicitante."},
    {"lblIdentificacao", "Identificação", "Rótulo da identificação do solicitante."},
    {"lblFormulario", "Formulário", "Rótulo do formulário transferido."},
    {"sttNomeSolicitante", nullptr, "Nome do solicitante."},
    {"sttIDSolicitante", nullptr, "Identificação do solicitante."},
    {"sttDocumento", nullptr, "Nome do formulário transferido."},
    {"grbTransferencia", "Transferência", "Andamento da transferência do arquivo."},
    {"lblEvolucao", "Evolução", "Rótulo dos bytes transferidos."},
    {"lblBytesEnviados", nullptr, "Bytes transferidos do total do arquivo."},
    {"lblVelocidade", nullptr, "Taxa de transferência."},
    {"lblTempo", "Tempo restante", "Rótulo do tempo estimado até o fim."},
    {"lblTempoRestante", nullptr, "Tempo estimado até o fim, em horas, minutos e segundos."},
    {"lblPercentual", nullptr, "Percentual transferido."},
    {"pbaEvolucao", nullptr, "Percentual do arquivo já transferido, anunciado a cada 10 %."},
    {"pnlInferior", "Botões", "Ações da janela."},
    {"btnCancelar", "Cancelar", "Interrompe a transferência em andamento."},
    {"btnRecibo", "Recibo", "Mostra o recibo do envio para imprimir ou salvar em PDF."},
    {"btnFechar", "Fechar", "Fecha a janela; durante a transferência pede confirmação."},
    {"btnAjuda", "Ajuda", "Abre a ajuda do programa."},
    {"sbaTransferencia", "Barra de situação", "Situação e etapas da transferência."},
    {"sbaTransferenciaPanel0", nullptr, "Situação da transferência."},
    {"FStepBar", "Etapas de conclusão", "Etapas de validação e registro após a transferência."},
};

QString StepName(int percent) {
  return QStringLiteral("Evolução da transferência, %1 %").arg(percent);
}

// "Nome: José da Silva": a screen reader reads the caption with the value.
QString LabelledValue(const char* caption, const QString& value) {
  return QStringLiteral("%1: %2").arg(QString::fromUtf8(caption), value).trimmed();
}

}  // namespace

QPixmap BuiltInLogo() {
  QPixmap logo(214, 53);
  logo.fill(kPanelBlue);
  QPainter p(&logo);
  p.setRenderHint(QPainter::Antialiasing);
  // A white ring holding a "V" made of two strokes, then the name beside it.
  p.setPen(QPen(Qt::white, 3));
  p.setBrush(Qt::NoBrush);
  p.drawEllipse(QRectF(10, 6, 41, 41));
  QPainterPath v;
  v.moveTo(19, 16);
  v.lineTo(30.5, 38);
  v.lineTo(42, 16);
  p.setPen(QPen(QColor(255, 204, 0), 5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.drawPath(v);
  QFont font(QStringLiteral("Arial"));
  font.setBold(true);
  font.setPixelSize(26);
  p.setFont(font);
  p.setPen(Qt::white);
  p.drawText(QRect(60, 4, 150, 30), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Vorn"));
  QFont small(QStringLiteral("Arial"));
  small.setPixelSize(10);
  p.setFont(small);
  p.drawText(QRect(61, 33, 150, 14), Qt::AlignLeft | Qt::AlignVCenter,
             QStringLiteral("Agência de Recepção"));
  return logo;
}

void TfVornComClient::SetObserver(Observer observer) { ObserverSlot() = std::move(observer); }

TfVornComClient::TfVornComClient(TransferContext& context, QWidget* parent)
    : QDialog(parent), settings_(context.settings), session_(*this, context) {
  setObjectName(QStringLiteral("fVornComClient"));
  setWindowTitle(QStringLiteral("VornCom - Recepção e Envio de Formulários"));
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
  setFont(WindowFont());
  setFixedSize(kClientWidth, kClientHeight);
  BuildLayout();
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
  const std::string& help = settings_.help_file;
  if (!help.empty() && QFileInfo(Q(help)).isFile()) help_file_ = Q(help);
}

TfVornComClient::~TfVornComClient() = default;

void TfVornComClient::BuildLayout() {
  auto* pnlSuperior = new QFrame(this);
  pnlSuperior->setObjectName(QStringLiteral("pnlSuperior"));
  pnlSuperior->setGeometry(0, 0, kClientWidth, 55);
  pnlSuperior->setAutoFillBackground(true);
  QPalette blue = pnlSuperior->palette();
  blue.setColor(QPalette::Window, kPanelBlue);
  blue.setColor(QPalette::WindowText, Qt::white);
  pnlSuperior->setPalette(blue);
  imgLogo_ = new QLabel(pnlSuperior);
  imgLogo_->setObjectName(QStringLiteral("imgLogo"));
  imgLogo_->setGeometry(0, 1, 214, 53);
  imgLogo_->setPixmap(BuiltInLogo());
  QFont bold = WindowFont();
  bold.setBold(true);
  const struct {
    const char* name;
    const char* text;
    int y;
    int size;
  } titles[] = {{"lblSistema", "VornCom", 3, 17},
                {"lblModulo", "Módulo Cliente", 23, 12},
                {"lblVersao", "versão 1.3", 38, 11}};
  for (const auto& t : titles) {
    QFont f = bold;
    f.setPixelSize(t.size);
    auto* label = new QLabel(QString::fromUtf8(t.text), pnlSuperior);
    label->setObjectName(QLatin1String(t.name));
    label->setFont(f);
    label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    label->setGeometry(214, t.y, kClientWidth - 214, t.size + 6);
  }

  auto* grbSolicitante = new QGroupBox(QStringLiteral(" Solicitante "), this);
  grbSolicitante->setObjectName(QStringLiteral("grbSolicitante"));
  grbSolicitante->setGeometry(6, 60, 354, 84);
  AddLabel(grbSolicitante, "lblNome", QStringLiteral("Nome : "), 10, 21);
  AddLabel(grbSolicitante, "lblIdentificacao", QStringLiteral("Identificação : "), 10, 41);
  AddLabel(grbSolicitante, "lblFormulario", QStringLiteral("Formulário : "), 10, 61);
  sttNomeSolicitante_ = AddStatic(grbSolicitante, "sttNomeSolicitante", 98, 19, 246);
  sttIDSolicitante_ = AddStatic(grbSolicitante, "sttIDSolicitante", 98, 39, 246);
  sttDocumento_ = AddStatic(grbSolicitante, "sttDocumento", 98, 59, 246);

  auto* grbTransferencia = new QGroupBox(QStringLiteral(" Transferência "), this);
  grbTransferencia->setObjectName(QStringLiteral("grbTransferencia"));
  grbTransferencia->setGeometry(6, 148, 354, 86);
  AddLabel(grbTransferencia, "lblEvolucao", QStringLiteral("Evolução : "), 10, 21);
  lblBytesEnviados_ =
      AddLabel(grbTransferencia, "lblBytesEnviados", QStringLiteral("0 de 0 bytes"), 98, 21);
  lblVelocidade_ = AddLabel(grbTransferencia, "lblVelocidade", QStringLiteral("(0,0 bits/segundo)"),
                            lblBytesEnviados_->geometry().right() + 1 + 5, 21);
  AddLabel(grbTransferencia, "lblTempo", QStringLiteral("Tempo restante : "), 10, 41);
  lblTempoRestante_ =
      AddLabel(grbTransferencia, "lblTempoRestante", QStringLiteral("00:00:00"), 98, 41);
  lblPercentual_ = AddLabel(grbTransferencia, "lblPercentual", QStringLiteral("0 %"), 300, 41, 44);
  lblPercentual_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  pbaEvolucao_ = new QProgressBar(grbTransferencia);
  pbaEvolucao_->setObjectName(QStringLiteral("pbaEvolucao"));
  pbaEvolucao_->setRange(0, 100);
  pbaEvolucao_->setValue(0);
  pbaEvolucao_->setTextVisible(false);
  pbaEvolucao_->setGeometry(10, 61, 334, 16);

  auto* pnlInferior = new QFrame(this);
  pnlInferior->setObjectName(QStringLiteral("pnlInferior"));
  pnlInferior->setFrameStyle(QFrame::Panel | QFrame::Raised);
  pnlInferior->setGeometry(0, 238, kClientWidth, 58);
  btnCancelar_ =
      AddButton(pnlInferior, "btnCancelar", QStringLiteral("&Cancelar"), 6, Glyph("btn_Abort"));
  btnRecibo_ = AddButton(pnlInferior, "btnRecibo", QStringLiteral("&Recibo"), 66, ReceiptGlyph());
  btnFechar_ =
      AddButton(pnlInferior, "btnFechar", QStringLiteral("&Fechar"), 242, Glyph("btn_Cancel"));
  btnAjuda_ = AddButton(pnlInferior, "btnAjuda", QStringLiteral("&Ajuda"), 302, Glyph("btn_Help"));
  btnCancelar_->setEnabled(false);
  btnRecibo_->setEnabled(false);
  btnRecibo_->SetDefault(true);
  btnCancelar_->SetOnClick([this](QObject*) { btnCancelarClick(); });
  btnRecibo_->SetOnClick([this](QObject*) { btnReciboClick(); });
  btnFechar_->SetOnClick([this](QObject*) { btnFecharClick(); });
  btnAjuda_->SetOnClick([this](QObject*) { btnAjudaClick(); });

  sbaTransferencia_ = new QStatusBar(this);
  sbaTransferencia_->setObjectName(QStringLiteral("sbaTransferencia"));
  sbaTransferencia_->setSizeGripEnabled(false);
  sbaTransferencia_->setGeometry(0, 296, kClientWidth, 20);
  statusPanel0_ = new QLabel(sbaTransferencia_);
  statusPanel0_->setObjectName(QStringLiteral("sbaTransferenciaPanel0"));
  statusPanel0_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  statusPanel0_->setFixedWidth(305);
  sbaTransferencia_->addWidget(statusPanel0_);
  FStepBar_ = new QProgressBar(sbaTransferencia_);
  FStepBar_->setObjectName(QStringLiteral("FStepBar"));
  FStepBar_->setTextVisible(false);
  FStepBar_->setRange(0, 1);
  FStepBar_->setValue(0);
  FStepBar_->setFixedSize(50, 16);
  sbaTransferencia_->addWidget(FStepBar_);

  for (const Spoken& spoken : kSpoken) {
    auto* widget = findChild<QWidget*>(QLatin1String(spoken.object));
    if (widget == nullptr) continue;
    ui::SetSpoken(widget, spoken.name ? QString::fromUtf8(spoken.name) : QString(),
                  QString::fromUtf8(spoken.description));
  }
  SetRequester({}, {}, {});
  pbaEvolucao_->setAccessibleName(StepName(0));
  setAccessibleName(windowTitle());
  setAccessibleDescription(QStringLiteral("Envio ou recepção de um formulário pela rede."));

  timVelocidade_ = new QTimer(this);
  timVelocidade_->setObjectName(QStringLiteral("timVelocidade"));
  timVelocidade_->setInterval(1000);
  connect(timVelocidade_, &QTimer::timeout, this, [this] { timVelocidadeTimer(); });
}

void TfVornComClient::ChooseLogo() {
  const std::string& name = settings_.institution_name;
  const size_t blank = name.find(' ');
  const QString word = Q(blank == std::string::npos ? name : name.substr(blank + 1));
  if (word.toUpper() == QStringLiteral("VORN")) return;
  const QString path = Q(env::ImagesFolder()) + QStringLiteral("logoTela%1.bmp").arg(word);
  QPixmap logo;
  if (QFileInfo(path).isFile() && logo.load(path)) {
    imgLogo_->setPixmap(logo);
  } else {
    imgLogo_->clear();
  }
}

void TfVornComClient::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (started_) return;
  started_ = true;
  ChooseLogo();
  btnRecibo_->setEnabled(false);
  QMetaObject::invokeMethod(this, &TfVornComClient::RunFlow, Qt::QueuedConnection);
}

void TfVornComClient::RunFlow() {
  flow_running_ = true;
  session_.Start();
  flow_running_ = false;
  if (ObserverSlot()) ObserverSlot()(*this, true);
  // A close asked for while the flow ran ends the modal loop now.
  if (close_requested_ || end_with_flow_) {
    done(QDialog::Rejected);
    return;
  }
  // Hosts whose messages answer themselves (kiosks, tests) get the window closed the same way.
  bool ok = false;
  const int timeout_ms = qEnvironmentVariableIntValue("VORNCOM_DIALOG_TIMEOUT_MS", &ok);
  if (ok && timeout_ms > 0) {
    QTimer::singleShot(timeout_ms, this, [this] { done(QDialog::Rejected); });
  }
}

bool TfVornComClient::ConfirmClose() {
  if (!session_.transferring()) return true;
  return MostrarMensagem(std::string(msg::kEndTransmission), MessageKind::kConfirmation,
                         buttons::kYes | buttons::kNo) == results::kYes;
}

void TfVornComClient::closeEvent(QCloseEvent* event) {
  if (!closing_confirmed_ && !ConfirmClose()) {
    event->ignore();
    return;
  }
  if (flow_running_) {
    // The flow goes on to its end; the window closes afterwards.
    close_requested_ = true;
    event->ignore();
    return;
  }
  closing_confirmed_ = true;
  QDialog::closeEvent(event);
  closing_confirmed_ = false;
}

void TfVornComClient::reject() {
  if (!closing_confirmed_ && !ConfirmClose()) return;
  if (flow_running_) {
    close_requested_ = true;
    return;
  }
  QDialog::reject();
}

void TfVornComClient::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_F1) {
    btnAjudaClick();
    return;
  }
  QDialog::keyPressEvent(event);
}

void TfVornComClient::btnCancelarClick() { session_.CancelClick(); }

void TfVornComClient::btnReciboClick() { session_.ReceiptClick(); }

void TfVornComClient::btnFecharClick() { close(); }

void TfVornComClient::btnAjudaClick() {
  if (!help_file_.isEmpty()) QDesktopServices::openUrl(QUrl::fromLocalFile(help_file_));
}

void TfVornComClient::timVelocidadeTimer() { session_.TimerTick(); }

// ---------------------------------------------------------------------------------------------
// TransferView

void TfVornComClient::SetStatus(const std::string& text) {
  statusPanel0_->setText(Q(text));
  // The name change is what a screen reader announces, also for "Arquivo enviado com sucesso.".
  statusPanel0_->setAccessibleName(Q(text));
}

void TfVornComClient::SetRequester(const std::string& name, const std::string& id,
                                   const std::string& document) {
  sttNomeSolicitante_->setText(Q(name));
  sttIDSolicitante_->setText(Q(id));
  sttDocumento_->setText(Q(document));
  sttNomeSolicitante_->setAccessibleName(LabelledValue("Nome", Q(name)));
  sttIDSolicitante_->setAccessibleName(LabelledValue("Identificação", Q(id)));
  sttDocumento_->setAccessibleName(LabelledValue("Formulário", Q(document)));
}

void TfVornComClient::SetProgress(int32_t done, int32_t total, int percent) {
  lblBytesEnviados_->setText(QStringLiteral("%1 de %2").arg(done).arg(total));
  lblBytesEnviados_->adjustSize();
  lblVelocidade_->move(lblBytesEnviados_->geometry().right() + 1 + 5, lblVelocidade_->y());
  pbaEvolucao_->setValue(percent);
  lblPercentual_->setText(QStringLiteral("%1 %").arg(pbaEvolucao_->value()));
  // A screen reader hears each tenth, not each packet.
  const int step = pbaEvolucao_->value() / 10;
  if (step != announced_step_) {
    announced_step_ = step;
    pbaEvolucao_->setAccessibleName(StepName(step * 10));
    QAccessibleValueChangeEvent event(pbaEvolucao_, pbaEvolucao_->value());
    QAccessible::updateAccessibility(&event);
  }
  if (ObserverSlot()) ObserverSlot()(*this, false);
}

void TfVornComClient::SetRemainingTime(const std::string& text) {
  lblTempoRestante_->setText(Q(text));
  lblTempoRestante_->adjustSize();
}

void TfVornComClient::SetRate(const std::string& text) {
  lblVelocidade_->setText(Q(text));
  lblVelocidade_->adjustSize();
}

void TfVornComClient::SetStepMaximum(int maximum) { FStepBar_->setMaximum(maximum); }
void TfVornComClient::SetStepPosition(int position) { FStepBar_->setValue(position); }
void TfVornComClient::EnableCancel(bool enabled) { btnCancelar_->setEnabled(enabled); }
void TfVornComClient::EnableReceipt(bool enabled) { btnRecibo_->setEnabled(enabled); }

void TfVornComClient::SetReceiptStatus(const QString& text) {
  statusPanel0_->setText(text);
  ProcessMessages();
}

void TfVornComClient::SetReceiptEnabled(bool enabled) { btnRecibo_->setEnabled(enabled); }
void TfVornComClient::EnableClose(bool enabled) { btnFechar_->setEnabled(enabled); }

void TfVornComClient::SetTimerEnabled(bool enabled) {
  if (enabled) {
    timVelocidade_->start();
  } else {
    timVelocidade_->stop();
  }
}

void TfVornComClient::ProcessMessages() { QCoreApplication::processEvents(); }

void TfVornComClient::CloseWindow() {
  if (flow_running_) {
    close_requested_ = true;
    return;
  }
  closing_confirmed_ = true;
  close();
  closing_confirmed_ = false;
}

}  // namespace vorncom::transfer
