#include "receipt/preview_host.h"

#include <QApplication>
#include <QEventLoop>
#include <QScreen>
#include <QStyle>

#include "receipt/rel_preview_form.h"

namespace vorncom::receipt {

PreviewHost::~PreviewHost() { delete window_.data(); }

void PreviewHost::Handle(report::ReportJob& job, report::PreviewAction action) {
  switch (action) {
    case report::PreviewAction::kCreate: {
      QApplication::processEvents();
      delete window_.data();
      window_ = new TfqevRelPreviewForm(job, owner_);
      window_->setWindowTitle(job.titles.preview);
      window_->resize(job.preview.window_size);
      if (job.preview.window_state == report::PreviewWindowState::kMaximized) {
        window_->setWindowState(Qt::WindowMaximized);
      }
      window_->setWindowFlag(Qt::WindowMinimizeButtonHint, false);
      if (QScreen* screen = window_->screen()) {
        QRect area = screen->availableGeometry();
        window_->move(area.center() - QPoint(window_->width() / 2, window_->height() / 2));
      }
      if (on_created) on_created(*window_);
      break;
    }
    case report::PreviewAction::kShow:
      if (!window_) return;
      window_->Bind();
      if (job.preview.modal) {
        window_->exec();
      } else {
        window_->show();
      }
      break;
    case report::PreviewAction::kWait:
      if (!window_) return;
      window_->ClearClosed();
      while (window_ && !window_->Closed()) {
        QApplication::processEvents(QEventLoop::WaitForMoreEvents);
      }
      break;
    case report::PreviewAction::kFree:
      delete window_.data();
      break;
  }
}

}  // namespace vorncom::receipt
