#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPdfWriter>

#include "common/environment.h"
#include "common/registry.h"
#include "report/file_printer.h"
#include "report/page_renderer.h"
#include "report/pdf_info.h"
#include "report/report_device.h"
#include "report/report_job.h"
#include "report/units.h"
#include "report_test_support.h"
#include "support/temp_dir.h"

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

TEST(PdfPrinterFolderTest, SettingsThenTheDocumentsFolderUnlessTurnedOff) {
  struct Case {
    const char* env;        // VORNCOM_PDF_PRINTER
    const char* folder;     // PastaImpressoraPDF
    const char* switch_;    // ImpressoraPDF
    const char* user_dirs;  // $XDG_CONFIG_HOME/user-dirs.dirs
    bool home;              // HOME set
    const char* expected;   // $HOME and $BASE stand for those folders
  } cases[] = {
      {nullptr, nullptr, nullptr, nullptr, true, "$HOME/Documents/Recibos VornCom"},
      {nullptr, nullptr, nullptr, "XDG_DOCUMENTS_DIR=\"$HOME/Papéis\"\n", true,
       "$HOME/Papéis/Recibos VornCom"},
      {nullptr, nullptr, nullptr, nullptr, false, "$BASE/Recibos VornCom"},
      {nullptr, "/srv/recibos", nullptr, nullptr, true, "/srv/recibos"},
      {"/tmp/pdf", "/srv/recibos", "ligada", nullptr, true, "/tmp/pdf"},
      {"/tmp/pdf", "/srv/recibos", "desligada", nullptr, true, ""},
      {nullptr, nullptr, " DESLIGADA ", nullptr, true, ""},
  };
  for (const Case& c : cases) {
    testing::FreshUser user;
    vorncom::testing::TempDir base;
    qputenv("VORNCOM_BASE_DIR", QByteArray(base.path().c_str()));
    env::InitializeFolders();
    if (c.env) qputenv("VORNCOM_PDF_PRINTER", c.env);
    if (c.folder) {
      Registry::Default().WriteValue("SOFTWARE\\VornCom", "PastaImpressoraPDF",
                                     std::string(c.folder));
    }
    if (c.switch_) {
      Registry::Default().WriteValue("SOFTWARE\\VornCom\\Impressao", "ImpressoraPDF",
                                     std::string(c.switch_));
    }
    if (c.user_dirs) {
      QDir(user.Home()).mkpath(QStringLiteral(".config"));
      QFile dirs(user.Home() + QStringLiteral("/.config/user-dirs.dirs"));
      ASSERT_TRUE(dirs.open(QIODevice::WriteOnly));
      dirs.write(c.user_dirs);
    }
    if (!c.home) qunsetenv("HOME");
    QString expected = QString::fromUtf8(c.expected);
    expected.replace(QStringLiteral("$HOME"), user.Home());
    expected.replace(QStringLiteral("$BASE/"), QString::fromStdString(base.path() + "/"));
    const QString folder = PdfPrinterFolder();
    EXPECT_EQ(folder.isEmpty() ? folder : QDir::cleanPath(folder), expected) << c.expected;
    ReportDevice device;
    EXPECT_EQ(device.SelectPrinter(QStringLiteral("PDF")), !expected.isEmpty()) << c.expected;
    qunsetenv("VORNCOM_BASE_DIR");
    env::InitializeFolders();
  }
}

// A document's own file name is made safe, and a name already taken is never written over.
TEST_F(PdfOutputTest, FileNamesFromTheJobNeverOverwrite) {
  const struct {
    const char* file_name;
    const char* expected;
  } cases[] = {
      {"Recibo 0000000001 2026-12-09", "Recibo 0000000001 2026-12-09.pdf"},
      {"a/../b:c\\d\x01"
       "e",
       "a_.._b_c_d_e.pdf"},
      {"../..", "_...pdf"},
      {" \t ", "report.pdf"},
  };
  job_.destination = Destination::kPrinter;
  for (const auto& c : cases) {
    job_.file_name = QString::fromUtf8(c.file_name);
    job_.Execute();
    EXPECT_EQ(QFileInfo(job_.LastOutput()).fileName(), QString::fromUtf8(c.expected))
        << c.file_name;
    EXPECT_EQ(QFileInfo(job_.LastOutput()).absolutePath(), QDir(env_.Folder()).absolutePath());
  }

  const QString taken = env_.Folder() + QStringLiteral("/Recibo 7.pdf");
  QFile old(taken);
  ASSERT_TRUE(old.open(QIODevice::WriteOnly));
  old.write("kept");
  old.close();
  job_.file_name = QStringLiteral("Recibo 7");
  QStringList written;
  for (int i = 0; i < 2; ++i) {
    job_.Execute();
    written << QFileInfo(job_.LastOutput()).fileName();
  }
  EXPECT_EQ(written,
            (QStringList{QStringLiteral("Recibo 7 (2).pdf"), QStringLiteral("Recibo 7 (3).pdf")}));
  ASSERT_TRUE(old.open(QIODevice::ReadOnly));
  EXPECT_EQ(old.readAll(), "kept");
  EXPECT_TRUE(QDir(env_.Folder()).entryList({QStringLiteral("*.part")}).isEmpty());

  // A job stopped half way leaves neither the claimed name nor the partial file.
  FilePrinter stopped(env_.Device());
  stopped.spool = job_.LastSpool();
  stopped.on_progress = [](int, int) { throw EReportError("stopped"); };
  const QStringList before = QDir(env_.Folder()).entryList(QDir::Files);
  EXPECT_THROW(stopped.Print(), EReportError);
  EXPECT_EQ(QDir(env_.Folder()).entryList(QDir::Files), before);
}

// Anything but the writer's own output is refused and left as it was.
TEST(PdfInfoTest, RefusesWhatIsNotAWriterPdf) {
  const QByteArray contents[] = {
      "", "not a pdf", "%PDF-1.4\ntrailer\n<< /Size 3 >>\nstartxref\n9\n%%EOF\n",
      "%PDF-1.4\ntrailer\n<< /Size 3 /Root 1 0 R /Info 2 0 R >>\nstartxref\n9\n%%EOF\n"};
  QTemporaryDir dir;
  for (const QByteArray& content : contents) {
    const QString path = dir.filePath(QStringLiteral("x.pdf"));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(content);
    f.close();
    EXPECT_THROW(AddPdfSubject(path, QStringLiteral("s")), EReportError) << content.constData();
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), content);
    f.close();
  }
}

}  // namespace
}  // namespace vorncom::report
