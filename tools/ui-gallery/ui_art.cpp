// Draws the message dialog's icons and the button glyphs and writes them as PNG files:
//   vorncom-ui-art <resources folder>
// writes <folder>/icons/<name>_<16|32|48>.png and <folder>/glyphs/<name>.png. The output is
// committed; run this again only to change the pictures.
#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <cstdio>
#include <functional>

namespace {

using Draw = std::function<void(QPainter&)>;  // on a 48 x 48 (icons) or 18 x 18 (glyphs) canvas

const QColor kRed(200, 30, 30), kDarkRed(130, 10, 10), kGreen(20, 150, 40), kDarkGreen(10, 90, 20),
    kBlue(30, 90, 200), kDarkBlue(15, 50, 130), kYellow(250, 200, 30), kDarkYellow(150, 110, 0),
    kGrey(110, 110, 110), kWhite(255, 255, 255), kBlack(20, 20, 20);

QImage Render(int size, double canvas, const Draw& draw) {
  QImage image(size, size, QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  p.scale(size / canvas, size / canvas);
  draw(p);
  p.end();
  // The bottom-left pixel is the transparent colour by the glyph rules.
  image.setPixel(0, size - 1, qRgba(0, 0, 0, 0));
  return image;
}

void Disc(QPainter& p, QRectF r, const QColor& fill, const QColor& edge, double pen) {
  QRadialGradient g(r.center() - QPointF(r.width() / 6, r.height() / 6), r.width() * 0.7);
  g.setColorAt(0, fill.lighter(135));
  g.setColorAt(1, fill);
  p.setBrush(g);
  p.setPen(QPen(edge, pen));
  p.drawEllipse(r);
}

void Letter(QPainter& p, QRectF r, const QString& text, const QColor& colour, double pixels) {
  QFont font(QStringLiteral("Liberation Serif"));
  font.setBold(true);
  font.setPixelSize(static_cast<int>(pixels));
  p.setFont(font);
  p.setPen(colour);
  p.drawText(r, Qt::AlignCenter, text);
}

void Stroke(QPainter& p, const QPainterPath& path, const QColor& colour, double width) {
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(colour, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.drawPath(path);
}

QPainterPath Check(double x, double y, double s) {
  QPainterPath path;
  path.moveTo(x, y + 0.5 * s);
  path.lineTo(x + 0.35 * s, y + 0.85 * s);
  path.lineTo(x + s, y + 0.1 * s);
  return path;
}

QPainterPath Cross(double x, double y, double s) {
  QPainterPath path;
  path.moveTo(x, y);
  path.lineTo(x + s, y + s);
  path.moveTo(x + s, y);
  path.lineTo(x, y + s);
  return path;
}

// ----- icons, 48 x 48 canvas -----

void Warning(QPainter& p) {
  QPainterPath t;
  t.moveTo(24, 3);
  t.lineTo(46, 43);
  t.lineTo(2, 43);
  t.closeSubpath();
  QLinearGradient g(0, 3, 0, 43);
  g.setColorAt(0, kYellow.lighter(120));
  g.setColorAt(1, kYellow);
  p.setBrush(g);
  p.setPen(QPen(kDarkYellow, 2.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.drawPath(t);
  p.setPen(Qt::NoPen);
  p.setBrush(kBlack);
  p.drawRoundedRect(QRectF(21.5, 15, 5, 16), 2, 2);
  p.drawEllipse(QRectF(21.5, 34, 5, 5));
}

void Error(QPainter& p) {
  Disc(p, QRectF(3, 3, 42, 42), kRed, kDarkRed, 2.5);
  Stroke(p, Cross(16, 16, 16), kWhite, 5.5);
}

void Information(QPainter& p) {
  Disc(p, QRectF(3, 3, 42, 42), kBlue, kDarkBlue, 2.5);
  p.setPen(Qt::NoPen);
  p.setBrush(kWhite);
  p.drawEllipse(QRectF(21, 10, 6, 6));
  p.drawRoundedRect(QRectF(21, 20, 6, 18), 1.5, 1.5);
}

void Confirmation(QPainter& p) {
  Disc(p, QRectF(3, 3, 42, 42), kGreen, kDarkGreen, 2.5);
  Letter(p, QRectF(3, 4, 42, 42), QStringLiteral("?"), kWhite, 34);
}

void Mensagem(QPainter& p) {
  // A speech balloon with three lines of text.
  QPainterPath balloon;
  balloon.addRoundedRect(QRectF(3, 5, 42, 30), 7, 7);
  QPainterPath tail;
  tail.moveTo(12, 33);
  tail.lineTo(10, 45);
  tail.lineTo(24, 33);
  tail.closeSubpath();
  balloon = balloon.united(tail);
  p.setBrush(QColor(245, 245, 235));
  p.setPen(QPen(kDarkBlue, 2.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.drawPath(balloon);
  p.setPen(QPen(kBlue, 3, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(11, 14), QPointF(37, 14));
  p.drawLine(QPointF(11, 20), QPointF(37, 20));
  p.drawLine(QPointF(11, 26), QPointF(28, 26));
}

void ErrorWindows(QPainter& p) {
  // A program window with a red cross badge.
  p.setPen(QPen(kDarkBlue, 2));
  p.setBrush(kWhite);
  p.drawRect(QRectF(3, 6, 36, 30));
  p.setBrush(kBlue);
  p.drawRect(QRectF(3, 6, 36, 7));
  Disc(p, QRectF(22, 22, 24, 24), kRed, kDarkRed, 2);
  Stroke(p, Cross(29, 29, 10), kWhite, 3.5);
}

// ----- glyphs, 18 x 18 canvas -----

void Yes(QPainter& p) {
  Disc(p, QRectF(1.5, 1.5, 15, 15), kGreen, kDarkGreen, 1);
  Stroke(p, Check(5, 5, 8), kWhite, 2.2);
}

void No(QPainter& p) {
  Disc(p, QRectF(1.5, 1.5, 15, 15), kRed, kDarkRed, 1);
  p.setPen(Qt::NoPen);
  p.setBrush(kWhite);
  p.drawRoundedRect(QRectF(4.5, 7.5, 9, 3), 1, 1);
}

void Ok(QPainter& p) { Stroke(p, Check(2, 3, 14), kGreen, 3); }

void Cancel(QPainter& p) { Stroke(p, Cross(3.5, 3.5, 11), kRed, 3); }

void Retry(QPainter& p) {
  QPainterPath arc;
  arc.arcMoveTo(QRectF(3, 3, 12, 12), 60);
  arc.arcTo(QRectF(3, 3, 12, 12), 60, 270);
  Stroke(p, arc, kBlue, 2.4);
  QPainterPath head;
  head.moveTo(9.5, 0.5);
  head.lineTo(15.5, 3.5);
  head.lineTo(10, 7.5);
  head.closeSubpath();
  p.setPen(Qt::NoPen);
  p.setBrush(kBlue);
  p.drawPath(head);
}

void Abort(QPainter& p) {
  QPolygonF octagon;
  for (int i = 0; i < 8; ++i) {
    const double a = (22.5 + 45.0 * i) * M_PI / 180.0;
    octagon << QPointF(9 + 7.8 * std::cos(a), 9 + 7.8 * std::sin(a));
  }
  p.setBrush(kRed);
  p.setPen(QPen(kDarkRed, 1));
  p.drawPolygon(octagon);
  p.setPen(Qt::NoPen);
  p.setBrush(kWhite);
  p.drawRect(QRectF(4, 7.5, 10, 3));
}

void Ignore(QPainter& p) {
  // An arrow hopping over a dot.
  p.setPen(Qt::NoPen);
  p.setBrush(kGrey);
  p.drawEllipse(QRectF(6.5, 11, 5, 5));
  QPainterPath hop;
  hop.moveTo(2, 13);
  hop.cubicTo(3, 3, 13, 3, 14, 10);
  Stroke(p, hop, kBlue, 2);
  QPainterPath head;
  head.moveTo(10.5, 9);
  head.lineTo(17, 8);
  head.lineTo(14.5, 14.5);
  head.closeSubpath();
  p.setPen(Qt::NoPen);
  p.setBrush(kBlue);
  p.drawPath(head);
}

void All(QPainter& p) {
  // Three stacked sheets.
  for (int i = 2; i >= 0; --i) {
    p.setPen(QPen(kDarkBlue, 1));
    p.setBrush(i == 0 ? kWhite : QColor(220, 230, 250));
    p.drawRect(QRectF(2.5 + 2.5 * i, 1.5 + 2.5 * i, 10, 11));
  }
  p.setPen(QPen(kBlue, 1));
  p.drawLine(QPointF(3.5 + 0, 5), QPointF(10.5, 5));
}

void NoToAll(QPainter& p) {
  Disc(p, QRectF(5.5, 5.5, 12, 12), kRed, kDarkRed, 1);
  Disc(p, QRectF(0.5, 0.5, 12, 12), kRed, kDarkRed, 1);
  p.setPen(Qt::NoPen);
  p.setBrush(kWhite);
  p.drawRoundedRect(QRectF(2.5, 5, 8, 2.5), 1, 1);
}

void YesToAll(QPainter& p) {
  Disc(p, QRectF(5.5, 5.5, 12, 12), kGreen, kDarkGreen, 1);
  Disc(p, QRectF(0.5, 0.5, 12, 12), kGreen, kDarkGreen, 1);
  Stroke(p, Check(3.5, 3.5, 6), kWhite, 1.8);
}

void Help(QPainter& p) {
  Disc(p, QRectF(1.5, 1.5, 15, 15), kBlue, kDarkBlue, 1);
  Letter(p, QRectF(1.5, 2, 15, 15), QStringLiteral("?"), kWhite, 13);
}

QPainterPath Chevrons(bool down) {
  QPainterPath path;
  for (double y : {4.0, 9.5}) {
    const double tip = down ? y + 4.5 : y;
    const double base = down ? y : y + 4.5;
    path.moveTo(4, base);
    path.lineTo(9, tip);
    path.lineTo(14, base);
  }
  return path;
}

void Detalhes(QPainter& p) { Stroke(p, Chevrons(true), kDarkBlue, 2.2); }
void Detalhes2(QPainter& p) { Stroke(p, Chevrons(false), kDarkBlue, 2.2); }

bool Save(const QImage& image, const QString& path) {
  if (!image.save(path, "PNG")) {
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <resources folder>\n", argv[0]);
    return 2;
  }
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  const QDir root(QString::fromLocal8Bit(argv[1]));
  if (!root.mkpath(QStringLiteral("icons")) || !root.mkpath(QStringLiteral("glyphs"))) return 1;

  const std::pair<const char*, Draw> icons[] = {
      {"xicon_Warning", Warning},         {"xicon_Error", Error},
      {"xicon_Information", Information}, {"xicon_Confirmation", Confirmation},
      {"xicon_Mensagem", Mensagem},       {"xicon_ErrorWindows", ErrorWindows},
  };
  const std::pair<const char*, Draw> glyphs[] = {
      {"btn_Yes", Yes},
      {"btn_No", No},
      {"btn_OK", Ok},
      {"btn_Cancel", Cancel},
      {"btn_Retry", Retry},
      {"btn_Abort", Abort},
      {"btn_Ignore", Ignore},
      {"btn_All", All},
      {"btn_NoToAll", NoToAll},
      {"btn_YesToAll", YesToAll},
      {"btn_Help", Help},
      {"btn_Detalhes", Detalhes},
      {"btn_Detalhes2", Detalhes2},
  };
  bool ok = true;
  for (const auto& [name, draw] : icons) {
    for (int size : {16, 32, 48}) {
      ok &=
          Save(Render(size, 48, draw),
               root.filePath(QStringLiteral("icons/%1_%2.png").arg(QLatin1String(name)).arg(size)));
    }
  }
  for (const auto& [name, draw] : glyphs) {
    ok &= Save(Render(18, 18, draw),
               root.filePath(QStringLiteral("glyphs/%1.png").arg(QLatin1String(name))));
  }
  return ok ? 0 : 1;
}
