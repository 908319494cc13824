#pragma once

#include <QString>
#include <functional>
#include <memory>

#include "report/page_model.h"
#include "report/report_device.h"

namespace vorncom::report {

class SpoolFile;

// Creator of every PDF and print job the engine writes.
inline constexpr const char* kPdfCreator = VORNCOM_PDF_CREATOR;

// Prints a spooled report on the device's current printer. The folder printer writes one PDF per
// job (with a text layer, the title, subject and creator) into its folder, creating the folder,
// under the document's file name (see ReportJob::file_name) and never over an existing file:
// " (2)", " (3)"... are added until a name is free; system printers go through Qt's print system.
class FilePrinter {
 public:
  explicit FilePrinter(ReportDevice& device) : device_(device) {}

  ReportDevice& Device() { return device_; }

  // The spool Print() without argument prints (bound by the preview).
  std::shared_ptr<const SpoolFile> spool;
  // Prints `spool`; throws EReportError when none is bound.
  QString Print();

  // Prints the pages that first_page, last_page and page_list select (see SelectPages), `copies`
  // times. Returns the PDF written by the folder printer, else empty. Throws EReportError when
  // there is no printer, the spool cannot be read, or the output fails.
  QString Print(const SpoolFile& file);
  QString Print(const Document& document);

  int first_page = 1;
  int last_page = 9999;
  QString page_list;
  int copies = 1;
  bool collate = false;
  bool duplex = false;
  // Called after each page sent, with the pages done and the pages to do.
  std::function<void(int, int)> on_progress;

 private:
  QString PrintToFolder(const Document& document, const std::vector<int>& pages);
  void PrintToSystem(const Document& document, const std::vector<int>& pages);

  ReportDevice& device_;
};

}  // namespace vorncom::report
