#include <gtest/gtest.h>

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <vector>

#include "report/report_canvas.h"
#include "report/text_layout.h"
#include "report/units.h"

namespace vorncom::report {
namespace {

class CanvasTest : public ::testing::Test {
 protected:
  void SetUp() override { canvas_.Begin(QStringLiteral("t"), QSizeF(21.0, 29.7), {2, 1, 1, 2}); }

  template <typename T>
  std::vector<T> Items(int page = 0) {
    if (canvas_.Active()) document_ = canvas_.Finish();
    std::vector<T> out;
    for (const PageItem& item : document_.pages.at(page).items) {
      if (auto* t = std::get_if<T>(&item)) out.push_back(*t);
    }
    return out;
  }

  ReportCanvas canvas_;
  Document document_;
};

TEST_F(CanvasTest, TabsAfterPreviousFollowOneAnother) {
  canvas_.AddTab({TabStop::kAfterPrevious, Justify::kLeft, 3, 0, kBoxAll, 0});  // at left margin
  canvas_.AddTab({TabStop::kAfterPrevious, Justify::kLeft, 4, 0, kBoxAll, 10});
  canvas_.AddTab({12.5, Justify::kLeft, 1, 0, kBoxAll, 0});
  canvas_.AddTab({TabStop::kAfterPrevious, Justify::kLeft, 2, 0, kBoxAll, 0});
  canvas_.PrintLine(QStringLiteral("\ta\tb\tc\td"));
  auto boxes = Items<BoxItem>();
  ASSERT_EQ(boxes.size(), 4u);
  const double lefts[] = {2.0, 5.0, 12.5, 13.5};
  const double widths[] = {3, 4, 1, 2};
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_NEAR(boxes[i].rect.left(), CmToDots(lefts[i]), 0.01) << i;
    EXPECT_NEAR(boxes[i].rect.width(), CmToDots(widths[i]), 0.01) << i;
  }
  EXPECT_EQ(boxes[1].shade_percent, 10);
}

TEST_F(CanvasTest, TextIsCutToFitBetweenTheTextMargins) {
  canvas_.SetFont(QStringLiteral("Arial"), 9);
  canvas_.AddTab({2, Justify::kLeft, 2.0, 5, kBoxAll, 0});
  canvas_.AddTab({TabStop::kAfterPrevious, Justify::kLeft, 10.0, 5, kBoxAll, 0});
  const QString long_name = QStringLiteral("Maria Aparecida dos Santos Oliveira Pereira");
  canvas_.PrintTab(long_name);
  canvas_.PrintTab(long_name);
  auto texts = Items<TextItem>();
  ASSERT_EQ(texts.size(), 2u);
  TextMeasure measure(texts[0].font);
  double margin = 0.05 * kDotsPerInch;
  EXPECT_TRUE(long_name.startsWith(texts[0].text));
  EXPECT_LT(texts[0].text.size(), long_name.size());
  EXPECT_LE(measure.Width(texts[0].text), CmToDots(2.0) - 2 * margin);
  // One more character would not have fitted.
  EXPECT_GT(measure.Width(long_name.left(texts[0].text.size() + 1)), CmToDots(2.0) - 2 * margin);
  EXPECT_EQ(texts[1].text, long_name);
  EXPECT_NEAR(texts[1].origin.x(), CmToDots(4.0) + margin, 0.01);
}

TEST_F(CanvasTest, JustificationAndForcedJustification) {
  canvas_.SetFont(QStringLiteral("Arial"), 10);
  canvas_.AddTab({2, Justify::kRight, 6, 5, kBoxNone, 0});
  canvas_.AddTab({TabStop::kAfterPrevious, Justify::kCenter, 6, 5, kBoxNone, 0});
  canvas_.PrintLine(QStringLiteral("\tright\tcentre"));
  canvas_.SetTabJustify(Justify::kLeft);
  canvas_.PrintLine(QStringLiteral("\tleft\tleft"));
  auto texts = Items<TextItem>();
  ASSERT_EQ(texts.size(), 4u);
  TextMeasure m(texts[0].font);
  double margin = 0.05 * kDotsPerInch;
  EXPECT_NEAR(texts[0].origin.x() + m.Width(QStringLiteral("right")), CmToDots(8) - margin, 0.5);
  EXPECT_NEAR(texts[1].origin.x() + m.Width(QStringLiteral("centre")) / 2, CmToDots(11), 0.5);
  EXPECT_NEAR(texts[2].origin.x(), CmToDots(2) + margin, 0.01);
  EXPECT_NEAR(texts[3].origin.x(), CmToDots(8) + margin, 0.01);
  EXPECT_GT(texts[2].origin.y(), texts[0].origin.y());  // next line
}

TEST_F(CanvasTest, DegenerateColumnsPrintNothingAndNeverCrash) {
  canvas_.AddTab({2, Justify::kLeft, 0, 0, kBoxAll, 50});
  canvas_.AddTab({TabStop::kAfterPrevious, Justify::kRight, -3, 0, kBoxAll, 0});
  canvas_.AddTab({TabStop::kAfterPrevious, Justify::kCenter, 0.05, 10, kBoxAll, 0});  // all margin
  canvas_.PrintLine(QStringLiteral("\ta\tb\tc\tpast the last stop"));
  EXPECT_TRUE(Items<TextItem>().empty());
  // The stop after a negative width starts where that column started.
  auto boxes = Items<BoxItem>();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_NEAR(boxes[0].rect.left(), CmToDots(2), 0.01);
}

TEST_F(CanvasTest, FontResetsStyleAndSetsLineHeight) {
  canvas_.SetFont(QStringLiteral("Arial"), 9);
  canvas_.SetBold(true);
  canvas_.SetItalic(true);
  double small = canvas_.LineHeight();
  canvas_.SetFont(QStringLiteral("Arial"), 18);
  EXPECT_FALSE(canvas_.Font().bold);
  EXPECT_FALSE(canvas_.Font().italic);
  EXPECT_NEAR(canvas_.LineHeight(), 2 * small, 0.1 * small);
  // Arial 9 lines are about 0.36 cm apart (metric-compatible font installed).
  EXPECT_NEAR(small, 0.36, 0.04);
  double y = canvas_.YPos();
  canvas_.NewLine(3);
  EXPECT_NEAR(canvas_.YPos(), y + 3 * canvas_.LineHeight(), 1e-9);
}

TEST_F(CanvasTest, ParagraphWrapsBetweenItsLimits) {
  canvas_.SetFont(QStringLiteral("Arial"), 9);
  ParagraphBuffer p;
  p.SetText(
      QStringLiteral("           O sistema de recepção registra que o formulário identificado "
                     "acima foi recebido e reconhecido por meio do número de protocolo, "
                     "com um nome_muito_comprido_sem_nenhum_espaço_que_não_cabe_na_linha."));
  p.left_cm = 3;
  p.right_cm = 7;
  canvas_.PrintParagraph(p);
  auto texts = Items<TextItem>();
  ASSERT_GT(texts.size(), 4u);
  TextMeasure m(texts[0].font);
  QStringList words;
  for (const TextItem& t : texts) {
    EXPECT_GE(t.origin.x(), CmToDots(3) - 0.01);
    EXPECT_LE(t.origin.x() + m.Width(t.text), CmToDots(7) + 0.01) << t.text.toStdString();
    words << t.text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
  }
  EXPECT_TRUE(texts[0].text.startsWith(QStringLiteral("           O ")));  // indent kept
  // Every word comes out, in order; only the overlong one is split.
  QString joined = words.join(QLatin1Char(' '));
  EXPECT_TRUE(joined.startsWith(QStringLiteral("O sistema de recepção registra")));
  EXPECT_TRUE(joined.remove(QLatin1Char(' '))
                  .endsWith(QStringLiteral(
                      "nome_muito_comprido_sem_nenhum_espaço_que_não_cabe_na_linha.")));
}

TEST(TextMeasureTest, WrapEdges) {
  TextMeasure m(FontSpec{QStringLiteral("Arial"), 10, false, false});
  EXPECT_TRUE(m.Wrap(QStringLiteral("any text"), 0).isEmpty());
  EXPECT_TRUE(m.Wrap(QStringLiteral("any text"), -5).isEmpty());
  EXPECT_EQ(m.Wrap(QStringLiteral("one\r\ntwo\nthree"), CmToDots(10)),
            QStringList({QStringLiteral("one"), QStringLiteral("two"), QStringLiteral("three")}));
  // Narrower than one character: one character per line, no endless loop.
  QStringList tiny = m.Wrap(QStringLiteral("abc"), 1);
  EXPECT_EQ(tiny, QStringList({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")}));
  EXPECT_EQ(m.CutToFit(QStringLiteral("abc"), 0), QString());
}

TEST(ParagraphBufferTest, ReplacesEveryPlaceholderWhateverItsCase) {
  ParagraphBuffer p;
  p.SetText(
      QStringLiteral("d%cteNomeInstituicao% em %CTEDATA% e n%ctenomeinstituicao%, "
                     "%cteData%/%ctedata%"));
  EXPECT_EQ(p.ReplaceAll(QStringLiteral("%cteNomeInstituicao%"), QStringLiteral("o Vorn")), 2);
  EXPECT_EQ(p.ReplaceAll(QStringLiteral("%ctedata%"), QStringLiteral("%cteData% 01/02/2026")), 3);
  EXPECT_EQ(p.Text(), QStringLiteral("do Vorn em %cteData% 01/02/2026 e no Vorn, "
                                     "%cteData% 01/02/2026/%cteData% 01/02/2026"));
  EXPECT_EQ(p.ReplaceAll(QString(), QStringLiteral("x")), 0);
}

TEST_F(CanvasTest, ParagraphLongerThanThePageRunsOn) {
  int section_ends = 0;
  canvas_.on_end_of_section = [&] { ++section_ends; };
  canvas_.SetFont(QStringLiteral("Arial"), 9);
  ParagraphBuffer p;
  p.SetText(QStringLiteral("palavra ").repeated(3000));
  p.left_cm = 2;
  p.right_cm = 20;
  canvas_.PrintParagraph(p);
  EXPECT_GT(canvas_.YPos(), canvas_.PageHeight());
  EXPECT_EQ(section_ends, 1);
  EXPECT_EQ(canvas_.PageNumber(), 1);
  EXPECT_GT(Items<TextItem>().size(), 80u);
}

TEST_F(CanvasTest, EndOfSectionMayStartANewPage) {
  int headers = 0;
  canvas_.on_page_start = [&] { ++headers; };
  canvas_.on_end_of_section = [&] { canvas_.NewPage(); };
  canvas_.SetFont(QStringLiteral("Arial"), 9);
  for (int i = 0; i < 200; ++i) canvas_.PrintLine(QStringLiteral("line %1").arg(i));
  EXPECT_GE(canvas_.PageNumber(), 3);
  EXPECT_EQ(headers, canvas_.PageNumber() - 1);  // the first page started before the hook
}

TEST_F(CanvasTest, BitmapsStretchAndBadFilesDrawNothing) {
  QTemporaryDir dir;
  QString good = dir.filePath(QStringLiteral("logo.bmp"));
  QImage image(348, 138, QImage::Format_RGB32);
  image.fill(Qt::blue);
  ASSERT_TRUE(image.save(good, "BMP"));
  QString text_file = dir.filePath(QStringLiteral("not-an-image.bmp"));
  QFile f(text_file);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write("this is not a bitmap");
  f.close();

  EXPECT_TRUE(ReportCanvas::LoadBitmap(dir.filePath(QStringLiteral("missing.bmp"))).isNull());
  EXPECT_TRUE(ReportCanvas::LoadBitmap(text_file).isNull());
  EXPECT_TRUE(ReportCanvas::LoadBitmap(QString()).isNull());
  canvas_.PrintBitmapRect(2, 1, 3, 2, ReportCanvas::LoadBitmap(text_file));
  canvas_.PrintBitmapRect(2, 1, 2, 2, ReportCanvas::LoadBitmap(good));  // empty rectangle
  canvas_.PrintBitmapRect(2, 1, 7.9, 3.3, ReportCanvas::LoadBitmap(good));
  auto images = Items<ImageItem>();
  ASSERT_EQ(images.size(), 1u);
  EXPECT_NEAR(images[0].rect.width(), CmToDots(5.9), 0.01);
  EXPECT_NEAR(images[0].rect.height(), CmToDots(2.3), 0.01);
  EXPECT_EQ(images[0].image.size(), QSize(348, 138));
}

}  // namespace
}  // namespace vorncom::report
