#pragma once

#include <QDialog>
#include <functional>

#include "report/file_preview.h"
#include "report/file_printer.h"
#include "report/report_job.h"

class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QProgressBar;
class QScrollArea;
class QStatusBar;
class QToolButton;

namespace vorncom::receipt {

// The report preview window: shows the spooled report of a running job page by page, zooms,
// scrolls by keyboard, and prints through the print setup dialog.
//
// The job must outlive the window. Bind() (or showing the window) takes the job's latest spool.
// Controls carry the object names tests look for (SBPrint, ZoomEdit, PageEdit, ...).
class TfqevRelPreviewForm : public QDialog {
  Q_OBJECT

 public:
  explicit TfqevRelPreviewForm(report::ReportJob& job, QWidget* parent = nullptr);
  ~TfqevRelPreviewForm() override;

  // Binds the file preview and the file printer to the job's spool and preview settings.
  void Bind();

  report::ReportJob& Job() { return job_; }
  report::FilePreview& FilePreview1() { return preview_; }
  report::FilePrinter& FilePrinter1() { return printer_; }
  int Tag() const { return tag_; }
  // Set when the window closes; the non-modal waiting loop watches it.
  bool Closed() const { return closed_; }
  void ClearClosed() { closed_ = false; }
  QString StatusText() const;

  // Runs the print setup dialog for this window; returns its result. Tests replace it.
  std::function<int(report::ReportJob&, report::FilePrinter&)> run_setup_dialog;
  // Shows a failure to print (for example a printer that refused the job). Defaults to the status
  // bar.
  std::function<void(const QString&)> on_print_error;

  // Handlers, public so that tests drive the window the way its controls do.
  void SBZoomInClick();
  void SBZoomOutClick();
  void SBZoomPageWidthClick();
  void SBZoomPageClick();
  void SBPrevPageClick();
  void SBNextPageClick();
  void SBFirstPageClick();
  void SBLastPageClick();
  void SBPrintClick();
  void SBDoneClick();
  // Returns true when the key was one of the window's keys and was consumed.
  bool FormKeyDown(int key, Qt::KeyboardModifiers modifiers);

  // Every way of closing (close box, Escape, "Fechar") ends here.
  void done(int result) override;

 protected:
  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void FormCreate();
  void FormShow();
  void FormClose();
  void PageEditExit();
  void ZoomEditEnter();
  void ZoomEditChange(int index);
  void ZoomEditExit();
  void FilePreview1PageChange();
  void FilePreview1ZoomChange();
  void ApplyZoomItem(int index);
  void ApplyZoomText();
  void ShowPage();
  void ViewToTop();
  QSize ViewportSize() const;

  report::ReportJob& job_;
  report::FilePreview preview_;
  report::FilePrinter printer_;
  int tag_ = 0;
  int zoom_index_ = -1;
  bool closed_ = false;
  bool shown_once_ = false;

  QFrame* Panel2 = nullptr;
  QToolButton* SBPrint = nullptr;
  QToolButton* SBExport = nullptr;
  QToolButton* SBZoomIn = nullptr;
  QToolButton* SBZoomOut = nullptr;
  QToolButton* SBZoomPageWidth = nullptr;
  QToolButton* SBZoomPage = nullptr;
  QLabel* Label1 = nullptr;
  QComboBox* ZoomEdit = nullptr;
  QToolButton* SBFirstPage = nullptr;
  QToolButton* SBPrevPage = nullptr;
  QLineEdit* PageEdit = nullptr;
  QToolButton* SBNextPage = nullptr;
  QToolButton* SBLastPage = nullptr;
  QToolButton* SBDone = nullptr;
  QScrollArea* ScrollBox1 = nullptr;
  QLabel* page_image_ = nullptr;
  QStatusBar* sbaStatus = nullptr;
  QLabel* status_panel0_ = nullptr;
  QProgressBar* progress_ = nullptr;
};

}  // namespace vorncom::receipt
