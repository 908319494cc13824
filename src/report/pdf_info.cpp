#include "report/pdf_info.h"

#include <QFile>
#include <QRegularExpression>

#include "report/page_model.h"

namespace vorncom::report {
namespace {

// Our own output is a few hundred kilobytes; anything far larger is not what the writer made.
constexpr qint64 kMaxPdfBytes = 256 * 1024 * 1024;

[[noreturn]] void Fail(const QString& path, const char* why) {
  throw EReportError("Unable to set the subject of " + path.toStdString() + ": " + why);
}

// A PDF text string that holds any character: UTF-16BE with its byte order mark, in hex.
QByteArray PdfTextString(const QString& text) {
  QByteArray hex = "<FEFF";
  for (QChar c : text) hex += QByteArray::number(c.unicode(), 16).rightJustified(4, '0').toUpper();
  return hex + '>';
}

qint64 Number(const QRegularExpressionMatch& match, int group) {
  return match.captured(group).toLongLong();
}

}  // namespace

void AddPdfSubject(const QString& path, const QString& subject) {
  QFile file(path);
  if (!file.open(QIODevice::ReadWrite)) Fail(path, "cannot open it");
  if (file.size() > kMaxPdfBytes) Fail(path, "too large");
  const QByteArray pdf = file.readAll();
  const QString text = QString::fromLatin1(pdf);

  const qsizetype startxref = text.lastIndexOf(QStringLiteral("startxref"));
  const qsizetype trailer_at = text.lastIndexOf(QStringLiteral("trailer"), startxref);
  if (startxref < 0 || trailer_at < 0) Fail(path, "no trailer");
  const QString trailer = text.mid(trailer_at, startxref - trailer_at);
  const auto size = QRegularExpression(QStringLiteral("/Size\\s+(\\d+)")).match(trailer);
  const auto root =
      QRegularExpression(QStringLiteral("/Root\\s+(\\d+)\\s+(\\d+)\\s+R")).match(trailer);
  const auto info =
      QRegularExpression(QStringLiteral("/Info\\s+(\\d+)\\s+(\\d+)\\s+R")).match(trailer);
  const auto prev =
      QRegularExpression(QStringLiteral("startxref\\s+(\\d+)")).match(text, startxref);
  if (!size.hasMatch() || !root.hasMatch() || !info.hasMatch() || !prev.hasMatch()) {
    Fail(path, "incomplete trailer");
  }

  // The old dictionary's entries are kept; a subject it may already hold is replaced.
  const auto old_info = QRegularExpression(QStringLiteral("(?:^|\\s)%1\\s+%2\\s+obj\\s*<<(.*?)>>")
                                               .arg(info.captured(1), info.captured(2)),
                                           QRegularExpression::DotMatchesEverythingOption)
                            .match(text);
  if (!old_info.hasMatch()) Fail(path, "no information dictionary");
  QString entries = old_info.captured(1);
  entries.remove(QRegularExpression(QStringLiteral("/Subject\\s*(\\([^)]*\\)|<[^>]*>)")));

  const qint64 object = Number(size, 1);
  QByteArray update;
  if (!pdf.endsWith('\n')) update += '\n';
  const qint64 object_at = pdf.size() + update.size();
  update += QByteArray::number(object) + " 0 obj\n<<" + entries.toLatin1() + " /Subject " +
            PdfTextString(subject) + " >>\nendobj\n";
  const qint64 xref_at = pdf.size() + update.size();
  update += "xref\n" + QByteArray::number(object) + " 1\n" +
            QByteArray::number(object_at).rightJustified(10, '0') + " 00000 n \n";
  update += "trailer\n<< /Size " + QByteArray::number(object + 1) + " /Root " +
            root.captured(1).toLatin1() + ' ' + root.captured(2).toLatin1() + " R /Info " +
            QByteArray::number(object) + " 0 R /Prev " + QByteArray::number(Number(prev, 1)) +
            " >>\nstartxref\n" + QByteArray::number(xref_at) + "\n%%EOF\n";
  if (!file.seek(pdf.size()) || file.write(update) != update.size() || !file.flush()) {
    Fail(path, "cannot write it");
  }
}

}  // namespace vorncom::report
