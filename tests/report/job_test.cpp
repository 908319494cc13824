#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <string>
#include <vector>

#include "report/file_preview.h"
#include "report/page_list.h"
#include "report/paper.h"
#include "report/report_job.h"
#include "report/spool.h"
#include "report/units.h"
#include "report_test_support.h"

namespace vorncom::report {
namespace {

using testing::PdfPrinterEnvironment;
using testing::SetUpPagedJob;

TEST(ReportDeviceTest, PdfPrinterIsListedWithItsFolderAsPort) {
  PdfPrinterEnvironment env;
  ReportDevice& device = env.Device();
  ASSERT_TRUE(device.SelectPrinter(QStringLiteral("PDF")));
  EXPECT_TRUE(device.HasPrinters());
  EXPECT_GE(device.PrinterIndex(), 0);
  EXPECT_EQ(device.CurrentPrinter().port, env.Folder());
  EXPECT_TRUE(device.CurrentPrinter().is_pdf);
  EXPECT_EQ(device.PixelsPerInch(), 600);
}

TEST(ReportDeviceTest, NoPrintersInstalled) {
  PdfPrinterEnvironment env(false);
  ReportDevice& device = env.Device();
  if (device.HasPrinters()) GTEST_SKIP() << "this machine has system printers";
  EXPECT_EQ(device.PrinterIndex(), -1);
  EXPECT_EQ(device.CurrentPrinter().name, QString());
  EXPECT_EQ(device.BorderCm(), MarginsCm{});
  EXPECT_EQ(device.PixelsPerInch(), 0);
  device.SetPrinterIndex(0);  // ignored
  EXPECT_EQ(device.PrinterIndex(), -1);
  EXPECT_FALSE(device.ExecuteSetupDialog());
  ReportJob job(device);
  SetUpPagedJob(job, 1);
  job.destination = Destination::kPrinter;
  EXPECT_THROW(job.Execute(), EReportError);
  EXPECT_FALSE(job.Running());
}

TEST(ReportDeviceTest, PaperCodes) {
  PdfPrinterEnvironment env;
  ReportDevice& device = env.Device();
  struct Case {
    int code;
    int selected;
    double width;
    double height;
  };
  const Case cases[] = {
      {kPaperA4, 9, 21.0, 29.7}, {kPaperLetter, 1, 21.59, 27.94},
      {5, 5, 21.59, 35.56},      {8, 8, 29.7, 42.0},
      {11, 11, 14.8, 21.0},      {999, 9, 21.0, 29.7},
      {0, 9, 21.0, 29.7},        {-1, 9, 21.0, 29.7},
  };
  for (const Case& c : cases) {
    device.SetPaperCode(c.code);
    EXPECT_EQ(device.PaperCode(), c.selected) << c.code;
    EXPECT_EQ(device.SupportsPaper(c.code), c.code == c.selected) << c.code;
    EXPECT_NEAR(device.PaperSizeCm().width(), c.width, 0.01) << c.code;
    EXPECT_NEAR(device.PaperSizeCm().height(), c.height, 0.01) << c.code;
  }
  device.SetPaperCode(kPaperA4);
  device.SetOrientation(Orientation::kLandscape);
  EXPECT_NEAR(device.PaperSizeCm().width(), 29.7, 0.01);
  device.SetOrientation(Orientation::kPortrait);
}

TEST(ReportJobTest, MarginsSmallerThanTheBorderAreRaised) {
  PdfPrinterEnvironment env;
  ASSERT_TRUE(env.Device().SelectPrinter(QStringLiteral("PDF")));
  ReportJob job(env.Device());
  MarginsCm border = job.DeviceBorder();
  ASSERT_GT(border.left, 0.3);
  job.SetMargins({0.1, 1.5, -2.0, 1.0});
  EXPECT_DOUBLE_EQ(job.Margins().left, border.left);
  EXPECT_DOUBLE_EQ(job.Margins().right, 1.5);
  EXPECT_DOUBLE_EQ(job.Margins().top, border.top);
  EXPECT_DOUBLE_EQ(job.Margins().bottom, 1.0);
  EXPECT_NEAR(job.PageWidth() - job.Margins().left - job.Margins().right, 21.0 - border.left - 1.5,
              1e-9);
}

TEST(ReportJobTest, EventsAndPreviewActionsInOrder) {
  PdfPrinterEnvironment env;
  ReportJob job(env.Device());
  std::vector<std::string> calls;
  int expected_pages = 2;
  job.on_before_print = [&](ReportJob&) { calls.push_back("before"); };
  job.on_print_header = [&](ReportJob&) { calls.push_back("header"); };
  job.on_print = [&](ReportJob& j) {
    calls.push_back("body");
    j.Canvas().NewPage();
  };
  job.on_print_footer = [&](ReportJob&) { calls.push_back("footer"); };
  job.on_after_print = [&](ReportJob&) { calls.push_back("after"); };
  job.on_override_preview = [&](ReportJob& j, PreviewAction a) {
    calls.push_back("preview" + std::to_string(static_cast<int>(a)));
    if (a == PreviewAction::kShow) {
      EXPECT_EQ(j.LastSpool()->PageCount(), expected_pages);
    }
  };
  job.Execute();
  EXPECT_EQ(calls,
            (std::vector<std::string>{"before", "header", "body", "footer", "header", "footer",
                                      "preview0", "preview1", "preview3", "after"}));
  calls.clear();
  job.preview.modal = false;
  job.on_print = nullptr;
  expected_pages = 1;
  job.Execute();
  EXPECT_EQ(calls, (std::vector<std::string>{"before", "header", "footer", "preview0", "preview1",
                                             "preview2", "preview3", "after"}));
}

TEST(ReportJobTest, FailingEventStillEndsTheRun) {
  PdfPrinterEnvironment env;
  ReportJob job(env.Device());
  bool after = false;
  bool previewed = false;
  job.on_print = [](ReportJob&) { throw EReportError("bad element"); };
  job.on_after_print = [&](ReportJob&) { after = true; };
  job.on_override_preview = [&](ReportJob&, PreviewAction) { previewed = true; };
  EXPECT_THROW(job.Execute(), EReportError);
  EXPECT_TRUE(after);
  EXPECT_FALSE(previewed);
  EXPECT_FALSE(job.Running());
  job.on_print = nullptr;
  job.on_print_footer = [](ReportJob&) { throw EReportError("bad footer"); };
  EXPECT_THROW(job.Execute(), EReportError);
  EXPECT_FALSE(previewed);
  job.on_print_footer = nullptr;
  EXPECT_NO_THROW(job.Execute());  // the canvas is usable again
  EXPECT_TRUE(previewed);
}

TEST(SpoolTest, RoundTripAndDamagedFiles) {
  PdfPrinterEnvironment env;
  ReportJob job(env.Device());
  SetUpPagedJob(job, 3);
  QTemporaryDir dir;
  QImage image(4, 4, QImage::Format_RGB32);
  image.fill(Qt::red);
  job.on_print_header = [&](ReportJob& j) { j.Canvas().PrintBitmapRect(1, 1, 2, 2, image); };
  job.Execute();
  auto spool = job.LastSpool();
  ASSERT_TRUE(spool);
  EXPECT_EQ(spool->PageCount(), 3);
  Document doc = spool->Load();
  ASSERT_EQ(doc.pages.size(), 3u);
  EXPECT_EQ(doc.title, QStringLiteral("Paged"));
  const auto& first = doc.pages[0].items;
  ASSERT_TRUE(std::holds_alternative<ImageItem>(first[0]));
  EXPECT_EQ(std::get<ImageItem>(first[0]).image.pixelColor(1, 1), QColor(Qt::red));
  ASSERT_TRUE(std::holds_alternative<TextItem>(first[1]));
  EXPECT_EQ(std::get<TextItem>(first[1]).text, QStringLiteral("Page 1"));
  EXPECT_NEAR(doc.pages[0].size.width(), CmToDots(21.0), 0.5);

  QFile original(spool->Path());
  ASSERT_TRUE(original.open(QIODevice::ReadOnly));
  QByteArray bytes = original.readAll();
  struct Damage {
    const char* name;
    QByteArray content;
  };
  const Damage damages[] = {{"empty", QByteArray()},
                            {"truncated", bytes.left(bytes.size() / 2)},
                            {"foreign", QByteArray("%PDF-1.4 not a spool")},
                            {"huge count", bytes.left(6) + QByteArray(4, '\xff')}};
  for (const Damage& d : damages) {
    QString path = dir.filePath(QString::fromLatin1(d.name));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(d.content);
    f.close();
    EXPECT_THROW(ReadSpool(path), EReportError) << d.name;
  }
  EXPECT_THROW(ReadSpool(dir.filePath(QStringLiteral("missing"))), EReportError);
}

TEST(SpoolTest, RemovedWhenTheLastHolderLetsGo) {
  PdfPrinterEnvironment env;
  ReportJob job(env.Device());
  job.Execute();
  auto first = job.LastSpool();
  QString path = first->Path();
  job.Execute();  // the job lets go of the first spool; this holder keeps it
  EXPECT_TRUE(QFile::exists(path));
  EXPECT_NE(job.LastSpool()->Path(), path);
  first.reset();
  EXPECT_FALSE(QFile::exists(path));
}

TEST(PageListTest, Selection) {
  struct Case {
    int pages;
    int first;
    int last;
    const char* list;
    std::vector<int> expected;
  };
  const Case cases[] = {
      {10, 1, 9999, "1, 3, 5", {1, 3, 5}},
      {20, 1, 9999, "5-12", {5, 6, 7, 8, 9, 10, 11, 12}},
      {8, 1, 9999, "5-12", {5, 6, 7, 8}},
      {6, 1, 9999, "2; 4-", {2, 4, 5, 6}},
      {1, 1, 9999, "1-1", {1}},
      {4, 1, 9999, "abc", {1, 2, 3, 4}},
      {4, 1, 9999, "1, x", {1, 2, 3, 4}},
      {4, 1, 9999, "9-12", {1, 2, 3, 4}},
      {4, 1, 9999, "  ", {1, 2, 3, 4}},
      {5, 2, 3, "", {2, 3}},
      {5, 4, 2, "", {1, 2, 3, 4, 5}},
      {5, -3, 9999, "", {1, 2, 3, 4, 5}},
      {0, 1, 9999, "1", {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SelectPages(c.pages, c.first, c.last, QString::fromLatin1(c.list)), c.expected)
        << c.list << " of " << c.pages;
  }
}

TEST(FilePreviewTest, ZoomLimitsAndPages) {
  Document doc;
  for (int i = 0; i < 3; ++i) doc.pages.push_back(Page{QSizeF(CmToDots(21), CmToDots(29.7)), {}});
  FilePreview preview;
  int page_changes = 0;
  int zoom_changes = 0;
  preview.on_page_change = [&] { ++page_changes; };
  preview.on_zoom_change = [&] { ++zoom_changes; };
  preview.Start(std::move(doc));
  EXPECT_EQ(preview.CurrentPage(), 1);
  EXPECT_EQ(page_changes, 1);
  const std::pair<double, double> zooms[] = {{5, 10}, {300, 200}, {150, 150}, {-1, 10}, {10, 10}};
  for (auto [asked, got] : zooms) {
    preview.SetZoom(asked);
    EXPECT_EQ(preview.Zoom(), got) << asked;
  }
  preview.ZoomOut();
  EXPECT_EQ(preview.Zoom(), 10);
  preview.SetZoom(195);
  preview.ZoomIn();
  EXPECT_EQ(preview.Zoom(), 200);
  preview.ZoomOut();
  EXPECT_EQ(preview.Zoom(), 190);
  preview.PrevPage();
  preview.GoToPage(4);
  preview.GoToPage(0);
  EXPECT_EQ(preview.CurrentPage(), 1);
  preview.NextPage();
  preview.NextPage();
  preview.NextPage();
  EXPECT_EQ(preview.CurrentPage(), 3);
  EXPECT_EQ(page_changes, 3);
  // A4 is 8.27 in wide; with 5 % on each side at 96 dpi the width fits 873 pixels at 100 %.
  preview.screen_dpi = 96;
  EXPECT_NEAR(preview.PageWidthZoom(QSize(874, 400)), 100, 0.1);
  EXPECT_NEAR(preview.WholePageZoom(QSize(874, 400)), 400 / ((11.69 + 0.827) * 96) * 100, 0.2);
  EXPECT_EQ(preview.PageWidthZoom(QSize(10, 10)), FilePreview::kMinZoom);
  EXPECT_EQ(preview.PageWidthZoom(QSize(100000, 10)), FilePreview::kMaxZoom);
}

}  // namespace
}  // namespace vorncom::report
