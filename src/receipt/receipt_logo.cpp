#include "receipt/receipt_logo.h"

#include <QFileInfo>

#include "report/report_canvas.h"

namespace vorncom::receipt {

QString InstitutionWord(const std::string& institution_name) {
  const QString name = QString::fromStdString(institution_name);
  const qsizetype blank = name.indexOf(QLatin1Char(' '));
  return blank < 0 ? name : name.mid(blank + 1);
}

QImage BuiltInLogo() { return QImage(QStringLiteral(":/vorncom/receipt/IMGLOGOVORN.bmp")); }

ReceiptLogo ResolveLogo(const ReceiptData& data) {
  ReceiptLogo logo;
  const QString word = InstitutionWord(data.institution_name);
  if (word.toUpper() == QLatin1String("VORN")) {
    logo.image = BuiltInLogo();
    logo.source = logo.image.isNull() ? LogoSource::kNone : LogoSource::kBuiltIn;
    return logo;
  }
  if (!data.institution_logo.empty()) {
    logo.path = QString::fromStdString(data.institution_logo);
  } else if (!data.images_folder.empty()) {
    // Without a known installation there is no images folder; a bare name would be looked up
    // in whatever the current folder happens to be.
    logo.path =
        QString::fromStdString(data.images_folder) + QStringLiteral("logoRecibo%1.bmp").arg(word);
  }
  if (!logo.path.isEmpty() && QFileInfo(logo.path).isFile()) {
    logo.image = report::ReportCanvas::LoadBitmap(logo.path);
    if (!logo.image.isNull()) logo.source = LogoSource::kFile;
  }
  return logo;
}

}  // namespace vorncom::receipt
