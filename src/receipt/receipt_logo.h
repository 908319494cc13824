#pragma once

#include <QImage>
#include <QString>
#include <string>

#include "receipt/receipt_data.h"

namespace vorncom::receipt {

// The text after the first blank of the institution name; the whole name when it has none.
QString InstitutionWord(const std::string& institution_name);

// The built-in logo (348 x 138 pixels, 16 colours).
QImage BuiltInLogo();

// Where the receipt's logo comes from.
enum class LogoSource { kNone, kBuiltIn, kFile };

struct ReceiptLogo {
  LogoSource source = LogoSource::kNone;
  QString path;  // the file looked for (kFile, or kNone after a miss); empty for the built-in
  QImage image;  // null for kNone
};

// Chooses the logo: the built-in one when the institution word is "VORN" in any letter case;
// otherwise the logo path when one is set, else "logoRecibo<word>.bmp" in the images folder.
// A file that is missing or holds no picture gives no logo. Never throws.
ReceiptLogo ResolveLogo(const ReceiptData& data);

}  // namespace vorncom::receipt
