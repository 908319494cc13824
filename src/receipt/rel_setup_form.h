#pragma once

#include <QDialog>
#include <functional>

#include "report/file_printer.h"
#include "report/report_job.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QToolButton;

namespace vorncom::receipt {

// The print setup dialog ("Imprimir relatório"): printer, copies, page range and options for
// printing a previewed report. OK hands the choices to the file printer and the job; when the
// printer or paper was changed in the printer setup, OK runs the job again straight to the new
// printer and the dialog ends with Cancel so that the old spool is not printed as well.
//
// Job and file printer must outlive the dialog.
class TfqevRelSetupForm : public QDialog {
  Q_OBJECT

 public:
  TfqevRelSetupForm(report::ReportJob& job, report::FilePrinter& printer,
                    QWidget* parent = nullptr);

  bool ReprintNeeded() const { return reprint_needed_; }
  // Reports a failure of the reprint run. Defaults to a warning on the log.
  std::function<void(const QString&)> on_error;

  // Handlers, public so that tests drive the dialog the way its controls do.
  void SetupBBClick();
  void OKBBClick();
  void CopiesEDExit(QLineEdit* edit);

 protected:
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void FormCreate();
  void FormShow();
  void FillPrinterLabel();
  void AllRBClick();
  void SelectionRBClick();
  void PagesRBClick();
  void StepCopies(int delta);

  report::ReportJob& job_;
  report::FilePrinter& printer_;
  bool reprint_needed_ = false;
  bool shown_once_ = false;

  QLabel* Label1 = nullptr;
  QLabel* PrinterLabel = nullptr;
  QLabel* CopiesLabel = nullptr;
  QLineEdit* CopiesED = nullptr;
  QWidget* UpDown1 = nullptr;
  QGroupBox* RangeGB = nullptr;
  QRadioButton* AllRB = nullptr;
  QRadioButton* SelectionRB = nullptr;
  QLineEdit* SelectionED = nullptr;
  QRadioButton* PagesRB = nullptr;
  QLabel* FromLabel = nullptr;
  QLineEdit* FromED = nullptr;
  QLabel* ToLabel = nullptr;
  QLineEdit* ToED = nullptr;
  QLabel* Label2 = nullptr;
  QPushButton* OKBB = nullptr;
  QPushButton* CancelBB = nullptr;
  QPushButton* SetupBB = nullptr;
  QGroupBox* GroupBox2 = nullptr;
  QCheckBox* CollateCK = nullptr;
  QCheckBox* DuplexCK = nullptr;
};

}  // namespace vorncom::receipt
