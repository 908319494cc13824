#include <gtest/gtest.h>

#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "../report/report_test_support.h"
#include "interface/library_state.h"
#include "receipt/receipt_report.h"
#include "receipt_test_support.h"
#include "report/paper.h"
#include "report/text_layout.h"

namespace vorncom::receipt {
namespace {

using report::Document;
using report::testing::PdfPrinterEnvironment;
using namespace receipt::testing;

// Page geometry on the PDF printer: its 1/6-inch border is below every receipt margin.
constexpr double kLeft = 2.5, kTop = 1.2, kWidth = 21.0 - 4.0, kBottom = 29.7 - 1.0;
constexpr double kTextMargin = 0.05 * 2.54;
constexpr double kTol = 0.02;  // cm

class ReceiptLayoutTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(env_.Device().SelectPrinter(QStringLiteral("PDF"))); }

  report::Page Layout(const ReceiptData& data) {
    receipt_.SetData(data);
    receipt_.Job().destination = report::Destination::kFile;  // spool only
    receipt_.Job().Execute();
    Document document = receipt_.Job().LastSpool()->Load();
    EXPECT_EQ(document.pages.size(), 1u);
    return document.pages.at(0);
  }
  // Line height of Arial at `points`, as the canvas measures it.
  double LineHeight(double points) {
    receipt_.Job().Canvas().SetFont(QStringLiteral("Arial"), points);
    return receipt_.Job().Canvas().LineHeight();
  }

  PdfPrinterEnvironment env_;
  ReceiptReport receipt_{env_.Device()};
};

TEST_F(ReceiptLayoutTest, PageSetupForcesA4PortraitAndTheReceiptMargins) {
  env_.Device().SetPaperCode(report::kPaperLetter);
  env_.Device().SetOrientation(report::Orientation::kLandscape);
  Layout(SampleData());
  EXPECT_EQ(receipt_.Job().PaperCode(), report::kPaperA4);
  EXPECT_EQ(receipt_.Job().GetOrientation(), report::Orientation::kPortrait);
  EXPECT_EQ(receipt_.Job().Margins(), (report::MarginsCm{2.5, 1.5, 1.2, 1.0}));
  EXPECT_NEAR(receipt_.ReceiptWidth(), 17.0, 1e-9);

  // A paper chosen after the first run (print setup) is kept by the next run of the same report.
  env_.Device().SetPaperCode(report::kPaperLetter);
  Layout(SampleData());
  EXPECT_EQ(receipt_.Job().PaperCode(), report::kPaperLetter);
  EXPECT_NEAR(receipt_.ReceiptWidth(), 21.59 - 4.0, 1e-6);
}

TEST_F(ReceiptLayoutTest, HeaderTableAndStatementPlacement) {
  const report::Page page = Layout(SampleData());
  const auto texts = Texts(page);

  // Built-in logo stretched to 5.9 x 2.3 cm at the top left corner of the margins.
  const auto images = ItemsOf<report::ImageItem>(page);
  ASSERT_EQ(images.size(), 1u);
  EXPECT_NEAR(Cm(images[0].rect.left()), kLeft, kTol);
  EXPECT_NEAR(Cm(images[0].rect.top()), kTop, kTol);
  EXPECT_NEAR(Cm(images[0].rect.width()), 5.9, kTol);
  EXPECT_NEAR(Cm(images[0].rect.height()), 2.3, kTol);
  EXPECT_EQ(images[0].image.size(), QSize(348, 138));

  // Title 5.5 cm below the top margin, bold Arial 11, centred on the printable width.
  const auto* title = FindText(texts, QStringLiteral("RECIBO DE ENVIO DE FORMULÁRIOS"));
  ASSERT_NE(title, nullptr);
  EXPECT_NEAR(Cm(title->clip.top()), kTop + 5.5, kTol);
  EXPECT_TRUE(title->font.bold);
  EXPECT_EQ(title->font.size_pt, 11);
  EXPECT_NEAR(Cm(title->clip.center().x()), kLeft + kWidth / 2, kTol);

  // Table: two boxed columns, 25 % shaded 10 % and 75 % plain, one row per line.
  const auto boxes = ItemsOf<report::BoxItem>(page);
  ASSERT_EQ(boxes.size(), 8u);  // four rows with CPF/CGC
  for (size_t row = 0; row < 4; ++row) {
    const auto& label = boxes[2 * row];
    const auto& value = boxes[2 * row + 1];
    EXPECT_NEAR(Cm(label.rect.left()), kLeft, kTol);
    EXPECT_NEAR(Cm(label.rect.width()), 0.25 * kWidth, kTol);
    EXPECT_EQ(label.shade_percent, 10);
    EXPECT_EQ(label.sides, report::kBoxAll);
    EXPECT_NEAR(Cm(value.rect.left()), kLeft + 0.25 * kWidth, kTol);
    EXPECT_NEAR(Cm(value.rect.width()), 0.75 * kWidth, kTol);
    EXPECT_EQ(value.shade_percent, 0);
    EXPECT_EQ(value.sides, report::kBoxAll);
    if (row > 0) {
      EXPECT_NEAR(label.rect.top(), boxes[2 * row - 2].rect.bottom(), 1);
    }
  }
  const double lh9 = LineHeight(9);
  const double lh11 = LineHeight(11);
  // Title line, one empty line (both Arial 11), one line down (Arial 9), then the rows.
  EXPECT_NEAR(Cm(boxes[0].rect.top()), kTop + 5.5 + 2 * lh11 + lh9, kTol);

  struct Row {
    const char* label;
    const char* value;
    bool value_bold;
  };
  const Row rows[] = {{"Número do protocolo", "2026.000.123456-7", true},
                      {"Solicitante", "Maria da Silva Pereira", false},
                      {"CPF/CGC", "123.456.789-09", false},
                      {"Formulário", "Declaração Anual (1.3)", false}};
  for (size_t i = 0; i < 4; ++i) {
    const auto* label = FindText(texts, QString::fromUtf8(rows[i].label));
    const auto* value = FindText(texts, QString::fromUtf8(rows[i].value));
    ASSERT_NE(label, nullptr) << rows[i].label;
    ASSERT_NE(value, nullptr) << rows[i].value;
    EXPECT_TRUE(label->font.bold) << rows[i].label;
    EXPECT_EQ(value->font.bold, rows[i].value_bold) << rows[i].value;
    EXPECT_EQ(label->font.size_pt, 9);
    EXPECT_NEAR(label->clip.top(), boxes[2 * i].rect.top(), 1);
    // Both columns left-aligned inside their 0.05-inch text margins.
    EXPECT_NEAR(Cm(label->origin.x()), kLeft + kTextMargin, kTol);
    EXPECT_NEAR(Cm(value->origin.x()), kLeft + 0.25 * kWidth + kTextMargin, kTol);
  }

  // Statement: three lines below the table, indented by its leading blanks, wrapped in the width.
  const auto* first = static_cast<const report::TextItem*>(nullptr);
  for (const auto& t : texts) {
    if (t.text.contains(QStringLiteral("O sistema de recepção"))) first = &t;
  }
  ASSERT_NE(first, nullptr);
  EXPECT_TRUE(first->text.startsWith(QString(11, QLatin1Char(' '))));
  EXPECT_NEAR(Cm(first->clip.top()), Cm(boxes.back().rect.bottom()) + 3 * lh9, kTol);
  EXPECT_NEAR(Cm(first->clip.left()), kLeft, kTol);
  EXPECT_NEAR(Cm(first->clip.right()), kLeft + kWidth, kTol);
}

TEST_F(ReceiptLayoutTest, FooterSentenceAndGridPlacement) {
  const report::Page page = Layout(SampleData());
  const auto texts = Texts(page);
  const double lh9 = LineHeight(9);
  const double lh7 = LineHeight(7);

  const auto* sentence = FindText(
      texts, QStringLiteral(
                 "O arquivo FORM2001.ZIP foi recebido pelo guiche 'recepcao-01.vorn.example'."));
  ASSERT_NE(sentence, nullptr);
  EXPECT_TRUE(sentence->font.italic);
  EXPECT_EQ(sentence->font.size_pt, 7);
  EXPECT_NEAR(Cm(sentence->clip.top()), kBottom - 7 * lh9, kTol);
  // Right-aligned against the right margin (inside the text margin).
  const double right =
      Cm(sentence->origin.x()) + Cm(report::TextMeasure(sentence->font).Width(sentence->text));
  EXPECT_NEAR(right, kLeft + kWidth - kTextMargin, kTol);

  // Element i in row (i - 1) / 3, column (i - 1) % 3; columns of 33 %, 37 % and 30 %.
  const double column_left[] = {kLeft, kLeft + 0.33 * kWidth, kLeft + 0.70 * kWidth};
  for (int i = 1; i <= 12; ++i) {
    const auto* line = FindText(texts, QStringLiteral("F%1").arg(i));
    ASSERT_NE(line, nullptr) << i;
    const int row = (i - 1) / 3, column = (i - 1) % 3;
    EXPECT_FALSE(line->font.italic);
    EXPECT_FALSE(line->font.bold);
    EXPECT_EQ(line->font.size_pt, 9);
    EXPECT_NEAR(Cm(line->origin.x()), column_left[column] + kTextMargin, kTol) << i;
    EXPECT_NEAR(Cm(line->clip.top()), kBottom - 7 * lh9 + 3 * lh7 + row * lh9, kTol) << i;
  }
}

TEST_F(ReceiptLayoutTest, OptionalRowsParagraphsAndCuts) {
  struct Case {
    const char* name;
    std::function<void(ReceiptData&)> change;
    int boxes;
    bool closing_paragraph;
  };
  const Case cases[] = {
      {"all set", [](ReceiptData&) {}, 8, false},
      {"blank CPF", [](ReceiptData& d) { d.protocol_data.At(7) = "   "; }, 6, false},
      {"message", [](ReceiptData& d) { d.protocol_data.At(14) = "Linha um\r\nLinha dois"; }, 8,
       true},
      {"empty message", [](ReceiptData& d) { d.protocol_data.At(14) = ""; }, 8, false},
      // Runs past the bottom margin over the footer; still one page.
      {"long message",
       [](ReceiptData& d) {
         std::string text = "Linha um\r\nLinha dois";
         for (int i = 0; i < 150; ++i) text += "\r\nmais uma linha";
         d.protocol_data.At(14) = text;
       },
       8, true},
  };
  for (const Case& c : cases) {
    ReceiptData data = SampleData();
    c.change(data);
    const auto page = Layout(data);
    const auto texts = Texts(page);
    EXPECT_EQ(ItemsOf<report::BoxItem>(page).size(), static_cast<size_t>(c.boxes)) << c.name;
    EXPECT_EQ(FindText(texts, QStringLiteral("CPF/CGC")) != nullptr, c.boxes == 8) << c.name;
    const auto* one = FindText(texts, QStringLiteral("Linha um"));
    const auto* two = FindText(texts, QStringLiteral("Linha dois"));
    EXPECT_EQ(one != nullptr && two != nullptr, c.closing_paragraph) << c.name;
    if (one && two) {
      EXPECT_GT(two->clip.top(), one->clip.top()) << c.name;
    }
  }

  // A protocol array whose upper bound is not 14 has no closing paragraph.
  ReceiptData short_data = SampleData();
  Variant eight = Variant::Array(1, 8);
  for (int i = 1; i <= 8; ++i) eight.At(i) = short_data.protocol_data.At(i);
  short_data.protocol_data = eight;
  EXPECT_NO_THROW(Layout(short_data));

  // A requester wider than its column is cut at the column's edge.
  ReceiptData wide = SampleData();
  const QString name = QString(200, QLatin1Char('W'));
  wide.protocol_data.At(8) = name.toStdString();
  const auto texts = Texts(Layout(wide));
  const report::TextItem* cut = nullptr;
  for (const auto& t : texts) {
    if (t.text.startsWith(QStringLiteral("WWW"))) cut = &t;
  }
  ASSERT_NE(cut, nullptr);
  EXPECT_LT(cut->text.size(), name.size());
  EXPECT_LE(Cm(cut->origin.x() + report::TextMeasure(cut->font).Width(cut->text)),
            kLeft + kWidth - kTextMargin + kTol);
}

TEST_F(ReceiptLayoutTest, StatementPlaceholders) {
  struct Case {
    Variant transmission;
    std::string institution;
    QString expected;
  };
  const Case cases[] = {
      {"09/12/2026 14:05:09", "o Vorn", "registra que, em 09/12/2026 às 14:05:09, o formulário"},
      // Without a blank: no date, and the first eight characters as the time.
      {"0912202614", "a Agência", "registra que, em  às 09122026, o formulário"},
      // A date-time value turns into the library's date-time text first.
      {Variant(OleDate{46000.5}), "o Vorn", "registra que, em 09/12/2025 às 12:00:00"},
      // Also at midnight, where the plain conversion would drop the time.
      {Variant(OleDate{46000.0}), "o Vorn", "registra que, em 09/12/2025 às 00:00:00"},
  };
  for (const Case& c : cases) {
    ReceiptData data = SampleData();
    data.protocol_data.At(4) = c.transmission;
    data.institution_name = c.institution;
    QString all;
    for (const auto& t : Texts(Layout(data))) all += t.text + QLatin1Char(' ');
    all = all.simplified();
    EXPECT_TRUE(all.contains(c.expected.simplified())) << all.toStdString();
    const QString name = QString::fromStdString(c.institution);
    EXPECT_TRUE(all.contains(QStringLiteral("eletrônicos d") + name + QStringLiteral(" registra")));
    EXPECT_TRUE(all.contains(QStringLiteral("reconhecido n") + name + QStringLiteral(" por meio")));
    EXPECT_TRUE(all.contains(QStringLiteral("protocolo 2026.000.123456-7.")));
    EXPECT_FALSE(all.contains(QLatin1String("%cte"), Qt::CaseInsensitive));
  }
}

TEST_F(ReceiptLayoutTest, LogoChoice) {
  QTemporaryDir images;
  QImage picture(120, 48, QImage::Format_RGB32);
  picture.fill(Qt::darkGreen);
  ASSERT_TRUE(picture.save(images.filePath(QStringLiteral("logoReciboAgência Nacional.bmp"))));
  ASSERT_TRUE(picture.save(images.filePath(QStringLiteral("logoReciboReceita.bmp"))));
  const QString own = images.filePath(QStringLiteral("own.bmp"));
  ASSERT_TRUE(picture.scaled(60, 30).save(own));
  const std::string folder = images.path().toStdString() + "/";
  const double natural_w = 120 * 2.54 / 600;    // printer pixels
  const double advance = 48 * 2.54 / 96 + 2.2;  // screen pixels

  struct Case {
    const char* institution;
    std::string logo_path;
    std::string images_folder;
    LogoSource source;
    double width;      // cm, 0 without logo
    double title_top;  // below the top margin
  };
  const Case cases[] = {
      {"o Vorn", "", folder, LogoSource::kBuiltIn, 5.9, 5.5},
      // The institution word decides the built-in logo in any letter case, over a logo path.
      {"o VORN", own.toStdString(), folder, LogoSource::kBuiltIn, 348 * 2.54 / 600,
       138 * 2.54 / 96 + 2.2},
      {"a Agência Nacional", "", folder, LogoSource::kFile, natural_w, advance},
      {"a Agência Nacional", "", "", LogoSource::kNone, 0, 0},
      {"a Agência Federal", "", folder, LogoSource::kNone, 0, 0},
      {"Receita", "", folder, LogoSource::kFile, natural_w, advance},
      {"a Agência Nacional", own.toStdString(), folder, LogoSource::kFile, 60 * 2.54 / 600,
       30 * 2.54 / 96 + 2.2},
      {"a Agência Nacional", (folder + "missing.bmp"), folder, LogoSource::kNone, 0, 0},
  };
  for (const Case& c : cases) {
    ReceiptData data = SampleData();
    data.institution_name = c.institution;
    data.institution_logo = c.logo_path;
    data.images_folder = c.images_folder;
    const auto page = Layout(data);
    const std::string what = std::string(c.institution) + " / " + c.logo_path;
    EXPECT_EQ(receipt_.Logo().source, c.source) << what;
    const auto images_on_page = ItemsOf<report::ImageItem>(page);
    ASSERT_EQ(images_on_page.size(), c.width > 0 ? 1u : 0u) << what;
    if (c.width > 0) {
      EXPECT_NEAR(Cm(images_on_page[0].rect.left()), kLeft, kTol) << what;
      EXPECT_NEAR(Cm(images_on_page[0].rect.top()), kTop, kTol) << what;
      EXPECT_NEAR(Cm(images_on_page[0].rect.width()), c.width, kTol) << what;
    }
    const auto texts = Texts(page);
    const auto* title = FindText(texts, QStringLiteral("RECIBO DE ENVIO DE FORMULÁRIOS"));
    ASSERT_NE(title, nullptr);
    EXPECT_NEAR(Cm(title->clip.top()), kTop + c.title_top, kTol) << what;
  }
}

// The receipt on the PDF printer, read back by independent tools.
TEST_F(ReceiptLayoutTest, PdfHoldsEveryTextInOrder) {
  if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
    GTEST_SKIP() << "pdftotext missing";
  ReceiptData data = SampleData();
  data.footer = iface::DefaultReceiptFooter();
  data.protocol_data.At(14) = "Guarde este recibo.";
  receipt_.SetData(data);
  receipt_.Job().destination = report::Destination::kPrinter;
  receipt_.Job().Execute();
  const QString pdf = receipt_.Job().LastOutput();
  EXPECT_EQ(QFileInfo(pdf).fileName(), QStringLiteral("Recibo 2026.000.123456-7 %1.pdf")
                                           .arg(QDate::currentDate().toString(Qt::ISODate)));
  EXPECT_EQ(report::testing::PdfInfoField(pdf, QStringLiteral("Title")), QStringLiteral("Recibo"));
  EXPECT_EQ(report::testing::PdfInfoField(pdf, QStringLiteral("Subject")),
            QStringLiteral("Recibo de entrega do protocolo 2026.000.123456-7"));
  EXPECT_EQ(report::testing::PdfInfoField(pdf, QStringLiteral("Creator")),
            QStringLiteral("VornCom 1.3"));

  const QString text = PdfLayoutText(pdf);

  QStringList expected = {
      QStringLiteral("RECIBO DE ENVIO DE FORMULÁRIOS"),
      QStringLiteral("Número do protocolo 2026.000.123456-7"),
      QStringLiteral("Solicitante Maria da Silva Pereira"),
      QStringLiteral("CPF/CGC 123.456.789-09"),
      QStringLiteral("Formulário Declaração Anual (1.3)"),
      QStringLiteral("O sistema de recepção de formulários eletrônicos do Vorn registra que, em "
                     "09/12/2026 às 14:05:09, o formulário identificado acima foi recebido e "
                     "reconhecido no Vorn por meio do número de protocolo 2026.000.123456-7."),
      QStringLiteral("Guarde este recibo."),
      QStringLiteral("O arquivo FORM2001.ZIP foi recebido pelo guiche 'recepcao-01.vorn.example'."),
  };
  // Footer grid, row by row; the default lines fit their columns whole.
  for (int i = 1; i <= 12; ++i) {
    const QString line = QString::fromStdString(data.footer.At(i).ToString());
    if (!line.isEmpty()) expected << line;
  }
  qsizetype at = 0;
  for (const QString& piece : expected) {
    const qsizetype found = text.indexOf(piece, at);
    ASSERT_GE(found, 0) << "missing or out of order: " << piece.toStdString()
                        << "\nin: " << text.toStdString();
    at = found + piece.size();
  }

  if (QStandardPaths::findExecutable(QStringLiteral("pdftoppm")).isEmpty()) return;
  QTemporaryDir out;
  QProcess render;
  render.start(QStringLiteral("pdftoppm"),
               {QStringLiteral("-png"), QStringLiteral("-r"), QStringLiteral("50"), pdf,
                out.filePath(QStringLiteral("page"))});
  ASSERT_TRUE(render.waitForFinished(30000));
  EXPECT_EQ(render.exitCode(), 0);
  const QStringList pages = QDir(out.path()).entryList({QStringLiteral("page*.png")});
  ASSERT_EQ(pages.size(), 1);  // one page
  QImage image(out.filePath(pages.first()));
  ASSERT_FALSE(image.isNull());
  // A4 portrait at 50 dpi.
  EXPECT_NEAR(image.width(), 413, 2);
  EXPECT_NEAR(image.height(), 585, 2);
}

}  // namespace
}  // namespace vorncom::receipt
