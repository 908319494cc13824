#pragma once

#include <QImage>
#include <QSize>
#include <QString>
#include <functional>

#include "report/page_model.h"

namespace vorncom::report {

// Page-by-page viewing of a spooled report, independent of any window: current page, zoom and
// the picture of the current page. Zoom is a percentage (100 = natural size at the screen's
// resolution) kept between kMinZoom and kMaxZoom.
class FilePreview {
 public:
  static constexpr double kMinZoom = 10;
  static constexpr double kMaxZoom = 200;
  static constexpr double kZoomStep = 10;

  // Loads the spool and shows page 1. Throws EReportError when the spool cannot be read.
  void Start(const QString& spool_path);
  void Start(Document document);
  void Finish();
  bool Running() const { return running_; }

  int PageCount() const { return static_cast<int>(document_.pages.size()); }
  int FirstPage() const { return 1; }
  int CurrentPage() const { return current_; }
  // Steps past either end and pages outside the report are ignored.
  void GoToPage(int page);
  void NextPage() { GoToPage(current_ + 1); }
  void PrevPage() { GoToPage(current_ - 1); }

  double Zoom() const { return zoom_; }
  void SetZoom(double zoom);
  void ZoomIn() { SetZoom(zoom_ + kZoomStep); }
  void ZoomOut() { SetZoom(zoom_ - kZoomStep); }
  // Zooms that fit the page's width, or the whole page, with its margin, into `viewport` pixels.
  double PageWidthZoom(QSize viewport) const;
  double WholePageZoom(QSize viewport) const;

  // Blank kept around the page, in percent of the page width.
  double page_margin_percent = 5;
  // Draws inch rulers along the top and left edges of the page.
  bool rulers = true;
  // Pixels per inch at 100 %.
  double screen_dpi = 96;

  // The current page at the current zoom with its margin (and rulers), on grey.
  QImage Render() const;

  std::function<void()> on_page_change;
  std::function<void()> on_zoom_change;

 private:
  QSizeF PageInches() const;
  Document document_;
  int current_ = 0;
  double zoom_ = 100;
  bool running_ = false;
};

}  // namespace vorncom::report
