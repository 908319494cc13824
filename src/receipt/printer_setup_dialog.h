#pragma once

#include <QDialog>

#include "report/report_device.h"

class QComboBox;
class QRadioButton;

namespace vorncom::receipt {

// The printer setup of the report device: printer, paper and orientation. Stands in for the
// platform's printer setup: Qt's own print dialog knows only the system's printers, not the
// folder printer. Changes reach the device only on OK.
class PrinterSetupDialog : public QDialog {
  Q_OBJECT

 public:
  explicit PrinterSetupDialog(report::ReportDevice& device, QWidget* parent = nullptr);

 private:
  void FillPapers();
  void Apply();

  report::ReportDevice& device_;
  QComboBox* printers_ = nullptr;
  QComboBox* papers_ = nullptr;
  QRadioButton* portrait_ = nullptr;
  QRadioButton* landscape_ = nullptr;
};

// Shows the dialog modally; true when it was confirmed.
bool RunPrinterSetupDialog(report::ReportDevice& device, QWidget* parent);

}  // namespace vorncom::receipt
