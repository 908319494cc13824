// Demonstration of the report engine and its windows: builds a three-page report, shows it in
// the preview window (grabbing the window to PNG when asked) and prints it on the folder printer.
//
//   report-sample [--grab FILE.png] [--grab-setup FILE.png] [--pdf FOLDER] [--interactive]
//
// Without --interactive the preview closes by itself once it has been drawn, so the program runs
// headless (QT_QPA_PLATFORM=offscreen).

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>

#include "receipt/preview_host.h"
#include "receipt/rel_preview_form.h"
#include "receipt/rel_setup_form.h"
#include "report/report_job.h"
#include "sample_report.h"

using vorncom::receipt::PreviewHost;
using vorncom::receipt::TfqevRelPreviewForm;
using vorncom::report::Destination;
using vorncom::report::ReportJob;

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QCommandLineParser options;
  options.addHelpOption();
  options.addOption({"grab", "Save a picture of the preview window.", "png"});
  options.addOption({"grab-setup", "Save a picture of the print setup dialog.", "png"});
  options.addOption({"pdf", "Print on the PDF printer writing into this folder.", "folder"});
  options.addOption({"whole-page", "Grab the preview zoomed to the whole page."});
  options.addOption({"size", "Preview window size, WxH (default 900x700).", "size"});
  options.addOption({"interactive", "Leave the preview open for the user."});
  options.process(app);

  if (options.isSet("pdf")) qputenv("VORNCOM_PDF_PRINTER", options.value("pdf").toLocal8Bit());
  auto& device = vorncom::report::DefaultReportDevice();
  device.Refresh();

  QTemporaryDir work;
  QString logo = work.filePath("logo.bmp");
  if (!WriteSampleLogo(logo)) {
    std::fprintf(stderr, "cannot write %s\n", qPrintable(logo));
    return 1;
  }

  ReportJob job(device);
  SetUpSampleReport(job, logo);
  PreviewHost host;
  job.on_override_preview = [&host](ReportJob& j, vorncom::report::PreviewAction a) {
    host.Handle(j, a);
  };
  QString grab = options.value("grab");
  QString grab_setup = options.value("grab-setup");
  bool interactive = options.isSet("interactive");
  bool whole_page = options.isSet("whole-page");
  QSize size(900, 700);
  if (options.isSet("size")) {
    QStringList wh = options.value("size").split(QLatin1Char('x'));
    if (wh.size() == 2) size = QSize(wh[0].toInt(), wh[1].toInt());
  }
  host.on_created = [&](TfqevRelPreviewForm& window) {
    window.resize(size);
    if (interactive) return;
    QTimer::singleShot(200, &window, [&window, grab, grab_setup, whole_page] {
      if (whole_page) window.SBZoomPageClick();
      QApplication::processEvents();  // let the scroll bars follow the new zoom
      if (!grab.isEmpty()) {
        if (!window.grab().save(grab)) std::fprintf(stderr, "cannot write %s\n", qPrintable(grab));
      }
      if (!grab_setup.isEmpty()) {
        vorncom::receipt::TfqevRelSetupForm setup(window.Job(), window.FilePrinter1(), &window);
        setup.show();
        QApplication::processEvents();
        if (!setup.grab().save(grab_setup)) {
          std::fprintf(stderr, "cannot write %s\n", qPrintable(grab_setup));
        }
      }
      window.close();
    });
  };

  try {
    job.destination = Destination::kPreview;
    job.Execute();
    std::printf("pages: %d\n", job.LastSpool() ? job.LastSpool()->PageCount() : 0);
    if (options.isSet("pdf")) {
      if (!device.SelectPrinter(vorncom::report::kPdfPrinterName)) {
        std::fprintf(stderr, "no PDF printer\n");
        return 1;
      }
      job.destination = Destination::kPrinter;
      job.Execute();
      std::printf("pdf: %s\n", qPrintable(job.LastOutput()));
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "report failed: %s\n", e.what());
    return 1;
  }
  return 0;
}
