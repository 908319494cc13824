#pragma once

#include <QSize>
#include <QString>
#include <QTemporaryFile>
#include <functional>
#include <memory>

#include "report/report_canvas.h"
#include "report/report_device.h"

namespace vorncom::report {

enum class Destination { kPreview, kPrinter, kFile };
enum class PreviewAction { kCreate = 0, kShow = 1, kWait = 2, kFree = 3 };
enum class PreviewWindowState { kNormal, kMaximized, kMinimized };

// What the user may change in the print setup.
struct SetupPermissions {
  bool copies = true;
  bool collate = true;
  bool duplex = true;
  bool printer_setup = true;  // the platform's printer setup dialog
  bool printer_destination = true;
  bool preview_destination = true;
  bool file_destination = true;
  bool setup_before_report = true;
  bool preview_print_setup = true;  // the print setup dialog when printing from the preview
};

struct PreviewSettings {
  QSize window_size{688, 512};
  PreviewWindowState window_state = PreviewWindowState::kNormal;
  double zoom = 100;
  double page_margin_percent = 5;
  bool modal = true;
  bool allow_print = true;
};

struct ReportTitles {
  QString setup;
  QString status;
  QString preview;
  QString job;
  QString printing_status;  // %p: page number
  QString spooling_status;  // %p: page number
};

// One generated report on disk: a temporary spool file removed when the last holder lets go.
class SpoolFile {
 public:
  // Writes `document` into a new temporary file. Throws EReportError.
  explicit SpoolFile(const Document& document);
  const QString& Path() const { return path_; }
  int PageCount() const { return page_count_; }
  QString Title() const { return title_; }
  Document Load() const;

 private:
  QTemporaryFile file_;
  QString path_;
  QString title_;
  int page_count_ = 0;
};

// A report run: page setup, the events that lay its pages out, and where the result goes.
//
// Execute() runs, in order: on_before_print; on_print_header when the page starts;
// on_print for the body; on_print_footer when each page is finished; then writes the spool and
// sends it to the destination; on_after_print at the end, also when a step failed. Exceptions from
// the events and from output (EReportError) leave Execute after on_after_print.
//
// Preview: when on_override_preview is set the engine calls it with kCreate, kShow, kWait (only
// for a non-modal preview) and kFree instead of showing a preview of its own. Without it the
// preview destination only produces the spool (LastSpool()); the engine core has no windows.
class ReportJob {
 public:
  explicit ReportJob(ReportDevice& device = DefaultReportDevice());

  std::function<void(ReportJob&)> on_before_print;
  std::function<void(ReportJob&)> on_print_header;
  std::function<void(ReportJob&)> on_print;
  std::function<void(ReportJob&)> on_print_footer;
  std::function<void(ReportJob&)> on_after_print;
  std::function<void(ReportJob&)> on_end_of_section;
  std::function<void(ReportJob&, PreviewAction)> on_override_preview;

  ReportDevice& Device() { return device_; }
  ReportCanvas& Canvas() { return canvas_; }

  // Page setup, in centimetres. Changes made while pages are being laid out apply to the next
  // page, except margins, which apply at once.
  void SetOrientation(Orientation orientation) { device_.SetOrientation(orientation); }
  Orientation GetOrientation() const { return device_.GetOrientation(); }
  // An unsupported code selects A4.
  void SelectPaper(int code) { device_.SetPaperCode(code); }
  int PaperCode() const { return device_.PaperCode(); }
  bool SupportsPaper(int code) const { return device_.SupportsPaper(code); }
  double PageWidth() const { return device_.PaperSizeCm().width(); }
  double PageHeight() const { return device_.PaperSizeCm().height(); }
  MarginsCm DeviceBorder() const { return device_.BorderCm(); }
  const MarginsCm& Margins() const { return margins_; }
  // Sets the margins; each one smaller than the device's unprintable border on its side is raised
  // to that border.
  void SetMargins(const MarginsCm& margins);

  // Runs the report. Throws what the events throw, and EReportError.
  void Execute();
  bool Running() const { return running_; }
  // The spool of the latest run (null before the first).
  std::shared_ptr<const SpoolFile> LastSpool() const { return spool_; }
  // Path of the file the latest printer run wrote (folder printer), or empty.
  const QString& LastOutput() const { return last_output_; }

  Destination destination = Destination::kPreview;
  ReportTitles titles;
  // The folder printer's file name without ".pdf" (characters a file name cannot hold become
  // "_"; empty: the job title and the time) and the subject of its PDF.
  QString file_name;
  QString subject;
  SetupPermissions permissions;
  PreviewSettings preview;
  int copies = 1;
  bool collate = false;
  bool duplex = false;
  int tag = 0;

 private:
  void Generate();
  void Output();

  ReportDevice& device_;
  ReportCanvas canvas_;
  MarginsCm margins_{1.0, 1.0, 1.0, 2.0};
  std::shared_ptr<const SpoolFile> spool_;
  QString last_output_;
  bool running_ = false;
};

}  // namespace vorncom::report
