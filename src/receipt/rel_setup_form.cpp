#include "receipt/rel_setup_form.h"

#include <QCheckBox>
#include <QFocusEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QToolButton>
#include <QVBoxLayout>
#include <optional>

#include "common/messages.h"
#include "receipt/printer_setup_dialog.h"
#include "receipt/qt_text.h"

namespace vorncom::receipt {
namespace {

constexpr int kLastPageUnbounded = 9999;

template <typename W>
W* Place(W* widget, const char* name, int x, int y, int w, int h) {
  widget->setObjectName(QLatin1String(name));
  widget->setGeometry(x, y, w, h);
  return widget;
}

std::optional<int> ReadInt(const QString& text) {
  bool ok = false;
  int n = text.trimmed().toInt(&ok);
  if (!ok) return std::nullopt;
  return n;
}

}  // namespace

TfqevRelSetupForm::TfqevRelSetupForm(report::ReportJob& job, report::FilePrinter& printer,
                                     QWidget* parent)
    : QDialog(parent), job_(job), printer_(printer) {
  setObjectName(QStringLiteral("fqevRelSetupForm"));
  setWindowTitle(Q(msg::kPrintTitle));
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(11);
  setFont(font);
  setFixedSize(347, 184);

  Label1 = Place(new QLabel(Q(msg::kPrintPrinterLabel), this), "Label1", 8, 10, 62, 16);
  PrinterLabel = Place(new QLabel(QStringLiteral("(none)"), this), "PrinterLabel", 72, 10, 267, 16);
  CopiesLabel = Place(new QLabel(Q(msg::kPrintCopies), this), "CopiesLabel", 8, 38, 44, 16);
  CopiesED = Place(new QLineEdit(QStringLiteral("1"), this), "CopiesED", 56, 35, 40, 21);
  UpDown1 = Place(new QWidget(this), "UpDown1", 96, 35, 16, 21);
  auto* up = Place(new QToolButton(UpDown1), "UpDown1Up", 0, 0, 16, 10);
  auto* down = Place(new QToolButton(UpDown1), "UpDown1Down", 0, 11, 16, 10);
  up->setArrowType(Qt::UpArrow);
  down->setArrowType(Qt::DownArrow);
  connect(up, &QToolButton::clicked, this, [this] { StepCopies(1); });
  connect(down, &QToolButton::clicked, this, [this] { StepCopies(-1); });

  GroupBox2 = Place(new QGroupBox(Q(msg::kPrintOptions), this), "GroupBox2", 184, 30, 155, 46);
  CollateCK =
      Place(new QCheckBox(QStringLiteral("C&ollate"), GroupBox2), "CollateCK", 8, 20, 70, 18);
  DuplexCK = Place(new QCheckBox(QStringLiteral("&Duplex"), GroupBox2), "DuplexCK", 80, 20, 70, 18);

  RangeGB = Place(new QGroupBox(Q(msg::kPrintRange), this), "RangeGB", 8, 80, 331, 68);
  AllRB = Place(new QRadioButton(Q(msg::kPrintAllPages), RangeGB), "AllRB", 8, 16, 74, 17);
  SelectionRB =
      Place(new QRadioButton(Q(msg::kPrintSelection), RangeGB), "SelectionRB", 8, 32, 74, 17);
  PagesRB = Place(new QRadioButton(Q(msg::kPrintPages), RangeGB), "PagesRB", 8, 48, 74, 17);
  AllRB->setChecked(true);
  SelectionED = Place(new QLineEdit(RangeGB), "SelectionED", 88, 14, 130, 21);
  FromLabel = Place(new QLabel(Q(msg::kPrintFrom), RangeGB), "FromLabel", 88, 17, 16, 16);
  FromED = Place(new QLineEdit(RangeGB), "FromED", 106, 14, 40, 21);
  ToLabel = Place(new QLabel(Q(msg::kPrintTo), RangeGB), "ToLabel", 152, 17, 24, 16);
  ToED = Place(new QLineEdit(RangeGB), "ToED", 178, 14, 40, 21);
  Label2 = Place(new QLabel(Q(msg::kPrintRangeHint), RangeGB), "Label2", 88, 36, 236, 30);
  Label2->setWordWrap(true);

  SetupBB = Place(new QPushButton(Q(msg::kPrintPrinterButton), this), "SetupBB", 8, 154, 85, 24);
  OKBB = Place(new QPushButton(QStringLiteral("&Ok"), this), "OKBB", 176, 154, 78, 24);
  CancelBB = Place(new QPushButton(Q(msg::kPrintCancel), this), "CancelBB", 261, 154, 78, 24);
  const struct {
    QWidget* widget;
    const char* name;  // nullptr: the control's own caption
    const char* description;
  } spoken[] = {
      {this, "Configurar impressão", "Impressora, cópias e páginas do recibo."},
      {PrinterLabel, nullptr, "Impressora que receberá o recibo."},
      {CopiesED, "Cópias", "Número de cópias a imprimir."},
      {UpDown1, "Ajuste de cópias", "Aumenta ou diminui o número de cópias."},
      {up, "Mais uma cópia", "Aumenta o número de cópias."},
      {down, "Menos uma cópia", "Diminui o número de cópias."},
      {GroupBox2, nullptr, "Opções de impressão."},
      {CollateCK, "Agrupar cópias", "Imprime cada cópia inteira antes da seguinte."},
      {DuplexCK, "Frente e verso", "Imprime nos dois lados do papel."},
      {RangeGB, nullptr, "Quais páginas imprimir."},
      {AllRB, nullptr, "Imprime todas as páginas."},
      {SelectionRB, nullptr, "Imprime as páginas da seleção."},
      {PagesRB, nullptr, "Imprime as páginas de um intervalo."},
      {SelectionED, "Seleção de páginas", "Páginas a imprimir, como 1,3-5."},
      {FromED, "Da página", "Primeira página do intervalo."},
      {ToED, "Até a página", "Última página do intervalo."},
      {SetupBB, nullptr, "Escolhe e configura a impressora."},
      {OKBB, nullptr, "Imprime com estas opções."},
      {CancelBB, nullptr, "Fecha sem imprimir."},
  };
  for (const auto& s : spoken) {
    if (s.name != nullptr) s.widget->setAccessibleName(QString::fromUtf8(s.name));
    s.widget->setAccessibleDescription(QString::fromUtf8(s.description));
  }
  OKBB->setDefault(true);
  SetupBB->setAutoDefault(false);
  CancelBB->setAutoDefault(false);

  connect(OKBB, &QPushButton::clicked, this, &TfqevRelSetupForm::OKBBClick);
  connect(CancelBB, &QPushButton::clicked, this, &QDialog::reject);
  connect(SetupBB, &QPushButton::clicked, this, &TfqevRelSetupForm::SetupBBClick);
  connect(AllRB, &QRadioButton::toggled, this, [this](bool on) {
    if (on) AllRBClick();
  });
  connect(SelectionRB, &QRadioButton::toggled, this, [this](bool on) {
    if (on) SelectionRBClick();
  });
  connect(PagesRB, &QRadioButton::toggled, this, [this](bool on) {
    if (on) PagesRBClick();
  });
  for (QLineEdit* edit : {CopiesED, FromED, ToED}) edit->installEventFilter(this);

  on_error = [](const QString& text) { qWarning("%s", qUtf8Printable(text)); };
  FormCreate();
}

void TfqevRelSetupForm::FormCreate() {
  for (QWidget* w : {static_cast<QWidget*>(FromLabel), static_cast<QWidget*>(FromED),
                     static_cast<QWidget*>(ToLabel), static_cast<QWidget*>(ToED),
                     static_cast<QWidget*>(RangeGB)}) {
    w->hide();
  }
  SelectionED->setEnabled(false);
  reprint_needed_ = false;
}

void TfqevRelSetupForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!shown_once_) {
    shown_once_ = true;
    FormShow();
  }
}

void TfqevRelSetupForm::FillPrinterLabel() {
  report::ReportDevice& device = printer_.Device();
  if (device.HasPrinters()) {
    report::PrinterEntry current = device.CurrentPrinter();
    PrinterLabel->setText(QStringLiteral("%1 on %2").arg(current.name, current.port));
  } else {
    PrinterLabel->setText(QStringLiteral("No printers installed!"));
  }
}

void TfqevRelSetupForm::FormShow() {
  FillPrinterLabel();
  RangeGB->show();
  RangeGB->setEnabled(true);
  int pages = printer_.spool ? printer_.spool->PageCount() : 0;
  FromED->setText(QStringLiteral("1"));
  ToED->setText(QString::number(pages));
  SelectionED->setText(QStringLiteral("1-%1").arg(pages));

  const report::SetupPermissions& allowed = job_.permissions;
  bool printers = printer_.Device().HasPrinters();
  CollateCK->setEnabled(printers && allowed.collate);
  CopiesED->setEnabled(printers && allowed.copies);
  CopiesLabel->setEnabled(printers && allowed.copies);
  UpDown1->setEnabled(printers && allowed.copies);
  DuplexCK->setEnabled(printers && allowed.duplex);
  SetupBB->setEnabled(printers && allowed.printer_setup);
  CopiesED->setText(QString::number(job_.copies));
  CollateCK->setChecked(job_.collate);
  DuplexCK->setChecked(job_.duplex);
  OKBB->setFocus();
}

void TfqevRelSetupForm::AllRBClick() {
  for (QWidget* w : {static_cast<QWidget*>(SelectionED), static_cast<QWidget*>(FromLabel),
                     static_cast<QWidget*>(FromED), static_cast<QWidget*>(ToLabel),
                     static_cast<QWidget*>(ToED)}) {
    w->setEnabled(false);
  }
}

void TfqevRelSetupForm::SelectionRBClick() {
  for (QWidget* w : {static_cast<QWidget*>(FromLabel), static_cast<QWidget*>(FromED),
                     static_cast<QWidget*>(ToLabel), static_cast<QWidget*>(ToED)}) {
    w->hide();
  }
  SelectionED->show();
  SelectionED->setEnabled(true);
}

void TfqevRelSetupForm::PagesRBClick() {
  SelectionED->hide();
  for (QWidget* w : {static_cast<QWidget*>(FromLabel), static_cast<QWidget*>(FromED),
                     static_cast<QWidget*>(ToLabel), static_cast<QWidget*>(ToED)}) {
    w->show();
    w->setEnabled(true);
  }
}

void TfqevRelSetupForm::CopiesEDExit(QLineEdit* edit) {
  if (auto n = ReadInt(edit->text())) {
    edit->setText(QString::number(*n));
  } else if (edit == ToED) {
    ToED->setText(FromED->text());
  } else {
    edit->setText(QStringLiteral("1"));
  }
}

void TfqevRelSetupForm::StepCopies(int delta) {
  int copies = ReadInt(CopiesED->text()).value_or(1) + delta;
  CopiesED->setText(QString::number(std::max(1, copies)));
}

bool TfqevRelSetupForm::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::FocusOut) {
    for (QLineEdit* edit : {CopiesED, FromED, ToED}) {
      if (watched == edit) CopiesEDExit(edit);
    }
  }
  return QDialog::eventFilter(watched, event);
}

void TfqevRelSetupForm::SetupBBClick() {
  report::ReportDevice& device = printer_.Device();
  int old_printer = device.PrinterIndex();
  int old_paper = device.PaperCode();
  bool confirmed = device.HasSetupDialogRunner() ? device.ExecuteSetupDialog()
                                                 : RunPrinterSetupDialog(device, this);
  if (!confirmed) return;
  FillPrinterLabel();
  if (device.PrinterIndex() != old_printer || device.PaperCode() != old_paper) {
    job_.destination = report::Destination::kPrinter;
    reprint_needed_ = true;
  }
}

void TfqevRelSetupForm::OKBBClick() {
  printer_.first_page = 1;
  printer_.last_page = kLastPageUnbounded;
  printer_.page_list.clear();
  if (SelectionRB->isChecked()) {
    printer_.page_list = SelectionED->text();
  } else if (PagesRB->isChecked()) {
    // Enter presses OK without leaving a box: correct both boxes as leaving them would.
    CopiesEDExit(FromED);
    CopiesEDExit(ToED);
    printer_.first_page = ReadInt(FromED->text()).value_or(1);
    printer_.last_page = ReadInt(ToED->text()).value_or(printer_.first_page);
  }
  const report::SetupPermissions& allowed = job_.permissions;
  if (allowed.copies) {
    if (auto copies = ReadInt(CopiesED->text())) {
      printer_.copies = *copies;
      job_.copies = *copies;
    }
  }
  if (allowed.collate) {
    printer_.collate = CollateCK->isChecked();
    job_.collate = CollateCK->isChecked();
  }
  if (allowed.duplex && DuplexCK->isChecked()) {
    printer_.duplex = true;
    job_.duplex = true;
  }
  if (reprint_needed_) {
    try {
      job_.Execute();
    } catch (const std::exception& e) {
      on_error(QString::fromStdString(e.what()));
    }
    reject();
    return;
  }
  accept();
}

}  // namespace vorncom::receipt
