#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QPdfWriter>

#include "report/file_printer.h"
#include "report/page_renderer.h"
#include "report/report_job.h"
#include "report/units.h"
#include "report_test_support.h"

namespace vorncom::report {
namespace {

using testing::PdfPrinterEnvironment;
using testing::PdfText;
using testing::SetUpPagedJob;

int PdfPageCount(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return -1;
  QByteArray data = f.readAll();
  return static_cast<int>(data.count("/Type /Page\n") + data.count("/Type /Page\r") +
                          data.count("/Type /Page "));
}

class PdfOutputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(env_.Device().SelectPrinter(QStringLiteral("PDF")));
    SetUpPagedJob(job_, 3);
    job_.Execute();
  }
  PdfPrinterEnvironment env_;
  ReportJob job_{env_.Device()};
};

TEST_F(PdfOutputTest, PrintsSelectedPagesWithATextLayer) {
  FilePrinter printer(env_.Device());
  printer.spool = job_.LastSpool();
  printer.page_list = QStringLiteral("1, 3");
  QString pdf = printer.Print();
  ASSERT_TRUE(QFile::exists(pdf));
  EXPECT_TRUE(pdf.startsWith(env_.Folder()));
  EXPECT_EQ(PdfPageCount(pdf), 2);
  QString text = PdfText(pdf);
  if (text.isEmpty()) GTEST_SKIP() << "pdftotext not installed";
  EXPECT_TRUE(text.contains(QStringLiteral("Page 1")));
  EXPECT_FALSE(text.contains(QStringLiteral("Page 2")));
  EXPECT_TRUE(text.contains(QStringLiteral("Page 3")));
  EXPECT_TRUE(text.contains(QStringLiteral("filler line 19")));
  // Nothing but finished documents in the printer's folder.
  EXPECT_EQ(QDir(env_.Folder()).entryList(QDir::Files).size(), 1);
}

TEST_F(PdfOutputTest, CopiesCollatedOrNot) {
  FilePrinter printer(env_.Device());
  printer.spool = job_.LastSpool();
  printer.first_page = 2;
  printer.last_page = 3;
  printer.copies = 2;
  printer.collate = true;
  QString collated = PdfText(printer.Print());
  printer.collate = false;
  QString grouped = PdfText(printer.Print());
  if (collated.isEmpty()) GTEST_SKIP() << "pdftotext not installed";
  auto order = [](const QString& text) {
    QString pages;
    for (qsizetype at = 0; (at = text.indexOf(QStringLiteral("Page "), at)) >= 0; at += 5) {
      pages += text.at(at + 5);
    }
    return pages;
  };
  EXPECT_EQ(order(collated), QStringLiteral("2323"));
  EXPECT_EQ(order(grouped), QStringLiteral("2233"));
}

TEST_F(PdfOutputTest, JobToPrinterUsesItsCopies) {
  job_.destination = Destination::kPrinter;
  job_.copies = 2;
  job_.collate = true;
  job_.Execute();
  ASSERT_FALSE(job_.LastOutput().isEmpty());
  EXPECT_EQ(PdfPageCount(job_.LastOutput()), 6);
}

TEST(FilePrinterTest, NothingBoundOrNoPrinter) {
  PdfPrinterEnvironment env(false);
  FilePrinter printer(env.Device());
  EXPECT_THROW(printer.Print(), EReportError);
}

TEST(RendererTest, PageModelMapsOntoTheImage) {
  Page page{QSizeF(CmToDots(10), CmToDots(10)), {}};
  page.items.emplace_back(
      BoxItem{QRectF(CmToDots(2), CmToDots(2), CmToDots(3), CmToDots(1)), kBoxNone, 100});
  page.items.emplace_back(
      BoxItem{QRectF(CmToDots(6), CmToDots(6), CmToDots(2), CmToDots(2)), kBoxNone, 10});
  // Text clipped to a cell that ends at 3 cm: nothing may appear right of it.
  page.items.emplace_back(TextItem{QPointF(CmToDots(1), CmToDots(8)),
                                   QRectF(CmToDots(1), CmToDots(7.5), CmToDots(2), CmToDots(1)),
                                   FontSpec{QStringLiteral("Arial"), 40, true, false},
                                   QStringLiteral("WWWWWWWWWWWW")});
  QImage image = RenderPageImage(page, 254);  // 100 pixels per cm
  ASSERT_EQ(image.size(), QSize(1000, 1000));
  EXPECT_EQ(image.pixelColor(350, 250), QColor(Qt::black));
  EXPECT_EQ(image.pixelColor(550, 250), QColor(Qt::white));
  EXPECT_EQ(image.pixelColor(700, 700).red(), 230);  // 10 % grey
  bool ink_inside = false;
  bool ink_outside = false;
  for (int y = 760; y < 840; ++y) {
    for (int x = 100; x < 300; ++x) ink_inside |= image.pixelColor(x, y) != QColor(Qt::white);
    for (int x = 302; x < 600; ++x) ink_outside |= image.pixelColor(x, y) != QColor(Qt::white);
  }
  EXPECT_TRUE(ink_inside);
  EXPECT_FALSE(ink_outside);
}

}  // namespace
}  // namespace vorncom::report
