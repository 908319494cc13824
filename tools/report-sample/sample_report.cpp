#include "sample_report.h"

#include <QImage>
#include <QLinearGradient>
#include <QPainter>

#include "report/paper.h"

using vorncom::report::Justify;
using vorncom::report::kBoxAll;
using vorncom::report::kBoxNone;
using vorncom::report::ParagraphBuffer;
using vorncom::report::ReportJob;
using vorncom::report::TabStop;

namespace {

constexpr double kLogoWidth = 4.0;
constexpr double kLogoHeight = 1.6;

const char* const kStatement =
    "           Este relatório de demonstração foi gerado em %data% pelo motor de relatórios "
    "d%instituicao%. Cada página é diagramada uma única vez numa grade de 1200 pontos por "
    "polegada e a mesma página é desenhada na tela, na imagem, no PDF e na impressora. "
    "O texto deste parágrafo quebra entre as margens, e cada marcador %DATA%, %Instituicao% "
    "e %protocolo% foi trocado sem distinguir maiúsculas de minúsculas (protocolo "
    "%PROTOCOLO%).";

struct Row {
  const char* code;
  const char* description;
  const char* quantity;
  const char* amount;
};

const Row kRows[] = {
    {"001", "Formulário de inscrição", "12", "1.250,00"},
    {"002", "Declaração anual de atividades", "3", "310,50"},
    {"003", "Requerimento de certidão", "7", "84,00"},
    {"004",
     "Comunicação de alteração cadastral com texto propositalmente longo demais para a coluna", "1",
     "0,00"},
    {"005", "Pedido de restituição", "2", "2.900,75"},
    {"006", "Recurso administrativo", "5", "45,20"},
};

double Width(ReportJob& job) {
  const auto& m = job.Margins();
  return job.PageWidth() - m.left - m.right;
}

void TableColumns(ReportJob& job, int shade) {
  auto& c = job.Canvas();
  double w = Width(job);
  c.ClearTabs();
  c.AddTab({job.Margins().left, Justify::kCenter, 0.12 * w, 5, kBoxAll, shade});
  c.AddTab({TabStop::kAfterPrevious, Justify::kLeft, 0.56 * w, 5, kBoxAll, shade});
  c.AddTab({TabStop::kAfterPrevious, Justify::kRight, 0.12 * w, 5, kBoxAll, shade});
  c.AddTab({TabStop::kAfterPrevious, Justify::kRight, 0.20 * w, 5, kBoxAll, shade});
}

void TableHeader(ReportJob& job) {
  auto& c = job.Canvas();
  TableColumns(job, 20);
  c.SetBold(true);
  c.SetTabJustify(Justify::kCenter);
  c.PrintLine("\tCódigo\tDescrição\tQtd.\tValor (R$)");
  c.SetTabJustify(std::nullopt);
  c.SetBold(false);
  TableColumns(job, 0);
}

// Rows of the long table, starting a new page (with the column titles again) when the next row
// would cross the bottom of the printable area.
void LongTable(ReportJob& job, int rows) {
  auto& c = job.Canvas();
  TableHeader(job);
  for (int i = 1; i <= rows; ++i) {
    if (c.YPos() + c.LineHeight() > c.SectionBottom()) {
      c.NewPage();
      c.SetFont("Arial", 9);
      TableHeader(job);
    }
    const Row& row = kRows[(i - 1) % std::size(kRows)];
    TableColumns(job, i % 2 == 0 ? 8 : 0);
    c.PrintTab(QString::number(i).rightJustified(3, QLatin1Char('0')));
    c.PrintTab(QString::fromUtf8(row.description));
    c.PrintTab(QString::fromUtf8(row.quantity));
    c.PrintTab(QString::fromUtf8(row.amount));
    c.NewLine();
  }
}

}  // namespace

bool WriteSampleLogo(const QString& path) {
  QImage image(400, 160, QImage::Format_RGB32);
  image.fill(Qt::white);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient band(0, 0, 400, 0);
  band.setColorAt(0, QColor(20, 60, 130));
  band.setColorAt(1, QColor(70, 140, 200));
  p.setBrush(band);
  p.setPen(Qt::NoPen);
  p.drawRoundedRect(QRectF(4, 4, 392, 152), 24, 24);
  p.setBrush(Qt::white);
  p.drawEllipse(QRectF(24, 30, 100, 100));
  p.setBrush(QColor(20, 60, 130));
  p.drawEllipse(QRectF(49, 55, 50, 50));
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(64);
  font.setBold(true);
  p.setFont(font);
  p.setPen(Qt::white);
  p.drawText(QRectF(140, 0, 250, 160), Qt::AlignVCenter | Qt::AlignLeft, QStringLiteral("Vorn"));
  p.end();
  return image.save(path, "BMP");
}

void SetUpSampleReport(ReportJob& job, const QString& logo_path) {
  job.titles.job = QStringLiteral("Relatorio de demonstracao");
  job.titles.preview = QStringLiteral("Visualização do Relatório");
  job.on_before_print = [](ReportJob& j) {
    j.SetOrientation(vorncom::report::Orientation::kPortrait);
    j.SelectPaper(vorncom::report::kPaperA4);
    j.SetMargins({2.0, 1.5, 1.2, 1.5});
  };
  job.on_print_header = [logo_path](ReportJob& j) {
    auto& c = j.Canvas();
    double left = j.Margins().left;
    double top = j.Margins().top;
    QImage logo = vorncom::report::ReportCanvas::LoadBitmap(logo_path);
    c.PrintBitmapRect(left, top, left + kLogoWidth, top + kLogoHeight, logo);
    c.SetYPos(top + 0.3);
    c.ClearTabs();
    c.AddTab(
        {left + kLogoWidth + 0.5, Justify::kLeft, Width(j) - kLogoWidth - 0.5, 5, kBoxNone, 0});
    c.SetFont("Arial", 14);
    c.SetBold(true);
    c.PrintTab(QStringLiteral("RELATÓRIO DE DEMONSTRAÇÃO"));
    c.NewLine();
    c.SetFont("Arial", 9);
    c.SetItalic(true);
    c.PrintTab(QStringLiteral("Motor de relatórios VornCom — página %1").arg(c.PageNumber()));
    c.SetYPos(top + kLogoHeight + 0.6);
    c.SetFont("Arial", 9);
  };
  job.on_print_footer = [](ReportJob& j) {
    auto& c = j.Canvas();
    c.SetFont("Arial", 7);
    c.SetItalic(true);
    c.SetYPos(c.SectionBottom() + 0.3);
    c.ClearTabs();
    c.AddTab({j.Margins().left, Justify::kRight, Width(j), 5, vorncom::report::kBoxTop, 0});
    c.PrintTab(QStringLiteral("Página %1").arg(c.PageNumber()));
  };
  job.on_print = [logo_path](ReportJob& j) {
    auto& c = j.Canvas();
    double left = j.Margins().left;
    // Page 1: a short table and the statement.
    c.SetFont("Arial", 11);
    c.SetBold(true);
    c.ClearTabs();
    c.AddTab({left, Justify::kLeft, Width(j), 5, kBoxNone, 0});
    c.PrintLine(QStringLiteral("\tResumo dos formulários"));
    c.SetFont("Arial", 9);
    c.NewLine();
    TableHeader(j);
    for (const Row& row : kRows) {
      c.PrintTab(QString::fromUtf8(row.code));
      c.PrintTab(QString::fromUtf8(row.description));
      c.PrintTab(QString::fromUtf8(row.quantity));
      c.PrintTab(QString::fromUtf8(row.amount));
      c.NewLine();
    }
    c.NewLine(2);
    ParagraphBuffer statement;
    statement.SetText(QString::fromUtf8(kStatement));
    statement.ReplaceAll(QStringLiteral("%data%"), QStringLiteral("09/12/2026"));
    statement.ReplaceAll(QStringLiteral("%instituicao%"), QStringLiteral("o Vorn"));
    statement.ReplaceAll(QStringLiteral("%protocolo%"), QStringLiteral("2026/000123"));
    statement.left_cm = left;
    statement.right_cm = left + Width(j);
    c.PrintParagraph(statement);
    c.NewLine();
    statement.justify = Justify::kCenter;
    statement.left_cm = left + 3;
    statement.right_cm = left + Width(j) - 3;
    statement.SetText(
        QStringLiteral("Parágrafo centrado entre limites mais estreitos, para mostrar "
                       "que a quebra respeita os limites esquerdo e direito."));
    c.PrintParagraph(statement);

    // Pages 2 and 3: a long table that breaks over the page, then a stretched bitmap.
    c.NewPage();
    c.SetFont("Arial", 9);
    LongTable(j, 70);
    c.NewLine(2);
    c.ClearTabs();
    c.AddTab({left, Justify::kLeft, Width(j), 5, kBoxNone, 0});
    c.SetItalic(true);
    c.PrintLine(QStringLiteral("\tO mesmo bitmap, esticado num retângulo de %1 × 3 cm:")
                    .arg(QString::number(Width(j), 'f', 1)));
    c.SetItalic(false);
    double top = c.YPos() + 0.2;
    c.PrintBitmapRect(left, top, left + Width(j), top + 3.0,
                      vorncom::report::ReportCanvas::LoadBitmap(logo_path));
    c.SetYPos(top + 3.4);
    // A missing bitmap prints nothing and breaks nothing.
    c.PrintBitmapRect(
        left, c.YPos(), left + 2, c.YPos() + 1,
        vorncom::report::ReportCanvas::LoadBitmap(QStringLiteral("/nonexistent.bmp")));
    c.PrintLine(QStringLiteral("Fim do relatório."));
  };
}
