// Draws the receipt's built-in logo and writes it as a 16-colour bitmap:
//   vorncom-receipt-art <resources folder>
// writes <folder>/IMGLOGOVORN.bmp (348 x 138 pixels). The output is committed; run this again
// only to change the picture.
#include <QColor>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <cstdio>

namespace {

constexpr int kWidth = 348;
constexpr int kHeight = 138;

const QColor kNavy(16, 48, 112), kBlue(40, 96, 184), kSky(140, 180, 230), kGold(224, 168, 32),
    kWhite(255, 255, 255);

// Fixed 16-entry palette: the picture uses a few of them, the rest keep the classic table.
QList<QRgb> Palette() {
  return {qRgb(255, 255, 255), kNavy.rgb(),     kBlue.rgb(),         kSky.rgb(),
          kGold.rgb(),         qRgb(0, 0, 0),   qRgb(128, 128, 128), qRgb(192, 192, 192),
          qRgb(128, 0, 0),     qRgb(0, 128, 0), qRgb(128, 128, 0),   qRgb(128, 0, 128),
          qRgb(0, 128, 128),   qRgb(255, 0, 0), qRgb(0, 255, 0),     qRgb(255, 255, 0)};
}

QImage Draw() {
  QImage image(kWidth, kHeight, QImage::Format_RGB32);
  image.fill(kWhite);
  QPainter p(&image);
  // Hard edges: the picture is reduced to a palette afterwards, and blended edge colours would
  // be dithered into noise.
  p.setRenderHint(QPainter::Antialiasing, false);
  p.setRenderHint(QPainter::TextAntialiasing, false);

  // Emblem: a navy disc holding a white "V" over a gold swoosh.
  const QRectF disc(8, 9, 120, 120);
  p.setPen(Qt::NoPen);
  p.setBrush(kNavy);
  p.drawEllipse(disc);
  p.setBrush(kBlue);
  p.drawEllipse(disc.adjusted(10, 10, -10, -10));
  QPainterPath swoosh;
  swoosh.moveTo(20, 96);
  swoosh.cubicTo(50, 120, 90, 112, 118, 78);
  swoosh.cubicTo(92, 104, 56, 108, 20, 96);
  p.setBrush(kGold);
  p.drawPath(swoosh);
  QPainterPath v;
  v.moveTo(36, 32);
  v.lineTo(56, 32);
  v.lineTo(68, 74);
  v.lineTo(80, 32);
  v.lineTo(100, 32);
  v.lineTo(76, 98);
  v.lineTo(60, 98);
  v.closeSubpath();
  p.setBrush(kWhite);
  p.drawPath(v);

  // Word mark and a thin rule under it.
  QFont word(QStringLiteral("Liberation Sans"));
  word.setBold(true);
  word.setPixelSize(64);
  p.setFont(word);
  p.setPen(kNavy);
  p.drawText(QRectF(140, 14, 204, 72), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("VORN"));
  p.fillRect(QRectF(142, 88, 196, 4), kGold);
  QFont caption(QStringLiteral("Liberation Sans"));
  caption.setPixelSize(15);
  p.setFont(caption);
  p.setPen(kBlue);
  p.drawText(QRectF(142, 96, 204, 36), Qt::AlignLeft | Qt::AlignTop,
             QStringLiteral("Recepção de\nFormulários Eletrônicos"));
  p.end();
  return image.convertToFormat(QImage::Format_Indexed8, Palette(), Qt::ThresholdDither);
}

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: vorncom-receipt-art <resources folder>\n");
    return 2;
  }
  const QString path = QString::fromLocal8Bit(argv[1]) + QStringLiteral("/IMGLOGOVORN.bmp");
  if (!Draw().save(path, "BMP")) {
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    return 1;
  }
  return 0;
}
