#pragma once

#include <QPointer>
#include <memory>

#include "report/report_job.h"

class QWidget;

namespace vorncom::receipt {

class TfqevRelPreviewForm;

// Plays the preview-override actions of a report job with the library's own preview window.
// Create makes the window (owned by `owner`, caption = the job's preview title, size and state
// from its preview settings, no minimise button, centred on the screen); Show binds and shows it,
// modally when the job's preview is modal; Wait runs events until a non-modal window closes;
// Free destroys it.
class PreviewHost {
 public:
  explicit PreviewHost(QWidget* owner = nullptr) : owner_(owner) {}
  ~PreviewHost();

  void Handle(report::ReportJob& job, report::PreviewAction action);
  // The window between Create and Free, else null.
  TfqevRelPreviewForm* Window() const { return window_; }

  // Called after Create, before the window is shown (tests and callers adjust the window here).
  std::function<void(TfqevRelPreviewForm&)> on_created;

 private:
  QWidget* owner_;
  QPointer<TfqevRelPreviewForm> window_;
};

}  // namespace vorncom::receipt
