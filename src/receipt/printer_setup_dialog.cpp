#include "receipt/printer_setup_dialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QRadioButton>
#include <QVBoxLayout>

#include "common/messages.h"
#include "receipt/qt_text.h"
#include "report/paper.h"

namespace vorncom::receipt {

PrinterSetupDialog::PrinterSetupDialog(report::ReportDevice& device, QWidget* parent)
    : QDialog(parent), device_(device) {
  setObjectName(QStringLiteral("PrinterSetupDialog"));
  setWindowTitle(Q(msg::kPrinterSetupTitle));
  printers_ = new QComboBox(this);
  printers_->setObjectName(QStringLiteral("PrinterCombo"));
  for (const report::PrinterEntry& p : device_.Printers()) {
    printers_->addItem(QStringLiteral("%1 (%2)").arg(p.name, p.port));
  }
  printers_->setCurrentIndex(device_.PrinterIndex());
  papers_ = new QComboBox(this);
  papers_->setObjectName(QStringLiteral("PaperCombo"));
  portrait_ = new QRadioButton(Q(msg::kPrinterSetupPortrait), this);
  portrait_->setObjectName(QStringLiteral("PortraitRB"));
  landscape_ = new QRadioButton(Q(msg::kPrinterSetupLandscape), this);
  landscape_->setObjectName(QStringLiteral("LandscapeRB"));
  (device_.GetOrientation() == report::Orientation::kLandscape ? landscape_ : portrait_)
      ->setChecked(true);

  auto* orientation = new QHBoxLayout;
  orientation->addWidget(portrait_);
  orientation->addWidget(landscape_);
  auto* form = new QFormLayout;
  form->addRow(Q(msg::kPrintPrinterLabel), printers_);
  form->addRow(Q(msg::kPrinterSetupPaper), papers_);
  form->addRow(Q(msg::kPrinterSetupOrientation), orientation);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(buttons);

  FillPapers();
  connect(printers_, qOverload<int>(&QComboBox::currentIndexChanged), this,
          [this] { FillPapers(); });
  connect(buttons, &QDialogButtonBox::accepted, this, [this] {
    Apply();
    accept();
  });
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

void PrinterSetupDialog::FillPapers() {
  // Papers are offered for the printer chosen in the box, which need not be the device's yet.
  report::ReportDevice probe = device_;
  probe.SetPrinterIndex(printers_->currentIndex());
  int selected = papers_->count() ? papers_->currentData().toInt() : device_.PaperCode();
  papers_->clear();
  for (const report::PaperInfo& paper : report::KnownPapers()) {
    if (probe.SupportsPaper(paper.code)) {
      papers_->addItem(QString::fromLatin1(paper.name), paper.code);
    }
  }
  int index = papers_->findData(selected);
  if (index < 0) index = papers_->findData(report::kPaperA4);
  papers_->setCurrentIndex(index);
}

void PrinterSetupDialog::Apply() {
  device_.SetPrinterIndex(printers_->currentIndex());
  if (papers_->currentIndex() >= 0) device_.SetPaperCode(papers_->currentData().toInt());
  device_.SetOrientation(landscape_->isChecked() ? report::Orientation::kLandscape
                                                 : report::Orientation::kPortrait);
}

bool RunPrinterSetupDialog(report::ReportDevice& device, QWidget* parent) {
  PrinterSetupDialog dialog(device, parent);
  return dialog.exec() == QDialog::Accepted;
}

}  // namespace vorncom::receipt
