#pragma once

#include <QMarginsF>
#include <QSizeF>
#include <QString>
#include <functional>
#include <map>
#include <tuple>
#include <vector>

namespace vorncom::report {

enum class Orientation { kPortrait, kLandscape };

// Margins or borders in centimetres.
struct MarginsCm {
  double left = 0;
  double right = 0;
  double top = 0;
  double bottom = 0;
  bool operator==(const MarginsCm&) const = default;
};

struct PrinterEntry {
  QString name;
  QString port;
  bool is_pdf = false;  // the folder printer, not a system printer
};

// Name of the folder printer.
inline constexpr const char* kPdfPrinterName = "PDF";

// Subfolder of the user's documents folder that the "PDF" printer writes into by default.
inline constexpr const char* kPdfDefaultSubfolder = "Recibos VornCom";

// True when the host turned the "PDF" printer off: the registry-layer value "ImpressoraPDF" of
// "SOFTWARE\\VornCom\\Impressao" reads "desligada" (in any case). An unreadable registry leaves
// it on.
bool PdfPrinterDisabled();

// Folder into which the "PDF" printer writes its jobs: the VORNCOM_PDF_PRINTER environment value,
// else the registry-layer value "PastaImpressoraPDF" of "SOFTWARE\\VornCom", else
// "Recibos VornCom" in the user's documents folder (XDG_DOCUMENTS_DIR of user-dirs.dirs, else
// ~/Documents; the host folder when there is no usable home). Empty when the printer is off.
QString PdfPrinterFolder();

// The printer side of the report engine: the system's printers (and the folder printer), the
// current printer, its paper and orientation, and its unprintable borders. One instance per
// process serves every report (DefaultReportDevice), so a printer or paper chosen for one run is
// still selected for the next.
class ReportDevice {
 public:
  // Lists the system's printers and, unless turned off, the "PDF" printer after them; the system's
  // default printer (else the first, so the "PDF" printer on a machine without printers) becomes
  // current.
  ReportDevice();

  // Lists the printers again, keeping the current one when it still exists.
  void Refresh();

  const std::vector<PrinterEntry>& Printers() const { return printers_; }
  bool HasPrinters() const { return !printers_.empty(); }
  // -1 when there are no printers.
  int PrinterIndex() const { return index_; }
  // Ignored when out of range. Keeps the paper when the new printer supports it, else A4.
  void SetPrinterIndex(int index);
  // Selects a printer by name; false when there is none of that name.
  bool SelectPrinter(const QString& name);
  // Empty entry when there are no printers.
  PrinterEntry CurrentPrinter() const;

  // Windows paper code of the current paper.
  int PaperCode() const { return paper_code_; }
  bool SupportsPaper(int code) const;
  // Selects `code`; a code the current printer does not support selects A4.
  void SetPaperCode(int code);

  Orientation GetOrientation() const { return orientation_; }
  void SetOrientation(Orientation orientation) { orientation_ = orientation; }

  // Paper size with the orientation applied.
  QSizeF PaperSizeCm() const;
  // The unprintable border on each side for the current printer, paper and orientation.
  MarginsCm BorderCm() const;

  // Resolution of the current printer in pixels per inch (0 without printers). Layout never
  // depends on it; it is there for callers that size bitmaps by the printer's pixels.
  int PixelsPerInch() const;

  // The platform's printer setup dialog (printer, paper, orientation). The window layer installs
  // the runner; without one the call changes nothing and returns false. True when confirmed.
  using SetupDialogRunner = std::function<bool(ReportDevice&)>;
  void SetSetupDialogRunner(SetupDialogRunner runner) { setup_runner_ = std::move(runner); }
  bool HasSetupDialogRunner() const { return static_cast<bool>(setup_runner_); }
  bool ExecuteSetupDialog();

 private:
  std::vector<PrinterEntry> printers_;
  int index_ = -1;
  int paper_code_ = 9;
  Orientation orientation_ = Orientation::kPortrait;
  SetupDialogRunner setup_runner_;
  mutable std::map<std::tuple<QString, int, int>, MarginsCm> border_cache_;
  mutable std::map<QString, int> resolution_cache_;
};

// The process-wide device used by report jobs unless they are given another.
ReportDevice& DefaultReportDevice();

}  // namespace vorncom::report
