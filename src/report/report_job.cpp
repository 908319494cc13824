#include "report/report_job.h"

#include <QDir>
#include <algorithm>

#include "report/file_printer.h"
#include "report/spool.h"

namespace vorncom::report {

SpoolFile::SpoolFile(const Document& document)
    : file_(QDir::tempPath() + QStringLiteral("/relatorio-XXXXXX.rel")),
      title_(document.title),
      page_count_(static_cast<int>(document.pages.size())) {
  if (!file_.open())
    throw EReportError("Unable to create spool file in " + QDir::tempPath().toStdString());
  path_ = file_.fileName();
  file_.close();
  WriteSpool(path_, document);
}

Document SpoolFile::Load() const { return ReadSpool(path_); }

ReportJob::ReportJob(ReportDevice& device) : device_(device) {
  titles.job = QStringLiteral("Report");
}

void ReportJob::SetMargins(const MarginsCm& margins) {
  MarginsCm border = device_.BorderCm();
  margins_ = {std::max(margins.left, border.left), std::max(margins.right, border.right),
              std::max(margins.top, border.top), std::max(margins.bottom, border.bottom)};
  if (canvas_.Active()) canvas_.SetMargins(margins_);
}

void ReportJob::Generate() {
  canvas_.on_page_start = [this] {
    if (on_print_header) on_print_header(*this);
  };
  canvas_.on_page_end = [this] {
    if (on_print_footer) on_print_footer(*this);
  };
  canvas_.on_end_of_section = [this] {
    if (on_end_of_section) on_end_of_section(*this);
  };
  try {
    canvas_.Begin(titles.job, device_.PaperSizeCm(), margins_);
    if (on_print) on_print(*this);
  } catch (...) {
    // No footer for a page whose body failed; the canvas is left ready for the next run.
    canvas_.on_page_end = nullptr;
    if (canvas_.Active()) canvas_.Finish();
    throw;
  }
  Document document = canvas_.Finish();
  document.file_name = file_name;
  document.subject = subject;
  spool_ = std::make_shared<const SpoolFile>(document);
}

void ReportJob::Output() {
  switch (destination) {
    case Destination::kPreview:
      if (on_override_preview) {
        on_override_preview(*this, PreviewAction::kCreate);
        try {
          on_override_preview(*this, PreviewAction::kShow);
          if (!preview.modal) on_override_preview(*this, PreviewAction::kWait);
        } catch (...) {
          on_override_preview(*this, PreviewAction::kFree);
          throw;
        }
        on_override_preview(*this, PreviewAction::kFree);
      }
      break;
    case Destination::kPrinter: {
      FilePrinter printer(device_);
      printer.copies = copies;
      printer.collate = collate;
      printer.duplex = duplex;
      last_output_ = printer.Print(*spool_);
      break;
    }
    case Destination::kFile:
      // The spool itself is the file; LastSpool() names it.
      break;
  }
}

void ReportJob::Execute() {
  if (running_ && canvas_.Active()) throw EReportError("The report is already being generated");
  // A run from inside the preview of an earlier run (reprint on another printer) must not pull
  // that preview's spool from under it: each run makes its own and the old one lives on with its
  // holders.
  bool outer = !running_;
  running_ = true;
  try {
    if (on_before_print) on_before_print(*this);
    Generate();
    Output();
  } catch (...) {
    if (outer) running_ = false;
    if (on_after_print) on_after_print(*this);
    throw;
  }
  if (outer) running_ = false;
  if (on_after_print) on_after_print(*this);
}

}  // namespace vorncom::report
