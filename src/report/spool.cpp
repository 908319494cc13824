#include "report/spool.h"

#include <QDataStream>
#include <QFile>
#include <QSaveFile>

namespace vorncom::report {
namespace {

constexpr quint32 kMagic = 0x56525053;  // "VRPS"
// Version 1 lacked the file name and the subject.
constexpr quint16 kVersion = 2;
// Limits that keep a damaged file from asking for absurd amounts of memory.
constexpr quint32 kMaxPages = 100000;
constexpr quint32 kMaxItemsPerPage = 1000000;

enum ItemTag : quint8 { kText = 1, kBox = 2, kImage = 3 };

void WriteFont(QDataStream& out, const FontSpec& f) {
  out << f.family << f.size_pt << f.bold << f.italic;
}

FontSpec ReadFont(QDataStream& in) {
  FontSpec f;
  in >> f.family >> f.size_pt >> f.bold >> f.italic;
  return f;
}

struct ItemWriter {
  QDataStream& out;
  void operator()(const TextItem& t) const {
    out << quint8(kText) << t.origin << t.clip << t.text;
    WriteFont(out, t.font);
  }
  void operator()(const BoxItem& b) const {
    out << quint8(kBox) << b.rect << quint8(b.sides) << qint32(b.shade_percent);
  }
  void operator()(const ImageItem& i) const { out << quint8(kImage) << i.rect << i.image; }
};

[[noreturn]] void Corrupt(const QString& path) {
  throw EReportError("Invalid spool file: " + path.toStdString());
}

}  // namespace

void WriteSpool(const QString& path, const Document& document) {
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) {
    throw EReportError("Unable to create spool file: " + path.toStdString());
  }
  QDataStream out(&file);
  out.setVersion(QDataStream::Qt_6_0);
  out << kMagic << kVersion << document.title << document.file_name << document.subject
      << quint32(document.pages.size());
  for (const Page& page : document.pages) {
    out << page.size << quint32(page.items.size());
    for (const PageItem& item : page.items) std::visit(ItemWriter{out}, item);
  }
  if (out.status() != QDataStream::Ok || !file.commit()) {
    throw EReportError("Unable to write spool file: " + path.toStdString());
  }
}

Document ReadSpool(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    throw EReportError("Unable to open spool file: " + path.toStdString());
  }
  QDataStream in(&file);
  in.setVersion(QDataStream::Qt_6_0);
  quint32 magic = 0;
  quint16 version = 0;
  quint32 page_count = 0;
  Document doc;
  in >> magic >> version;
  if (magic != kMagic || version < 1 || version > kVersion) Corrupt(path);
  in >> doc.title;
  if (version >= 2) in >> doc.file_name >> doc.subject;
  in >> page_count;
  if (in.status() != QDataStream::Ok || page_count > kMaxPages) Corrupt(path);
  for (quint32 p = 0; p < page_count; ++p) {
    Page page;
    quint32 item_count = 0;
    in >> page.size >> item_count;
    if (in.status() != QDataStream::Ok || item_count > kMaxItemsPerPage) Corrupt(path);
    for (quint32 i = 0; i < item_count; ++i) {
      quint8 tag = 0;
      in >> tag;
      if (tag == kText) {
        TextItem t;
        in >> t.origin >> t.clip >> t.text;
        t.font = ReadFont(in);
        page.items.emplace_back(std::move(t));
      } else if (tag == kBox) {
        BoxItem b;
        quint8 sides = 0;
        qint32 shade = 0;
        in >> b.rect >> sides >> shade;
        b.sides = sides;
        b.shade_percent = shade;
        page.items.emplace_back(b);
      } else if (tag == kImage) {
        ImageItem im;
        in >> im.rect >> im.image;
        page.items.emplace_back(std::move(im));
      } else {
        Corrupt(path);
      }
      if (in.status() != QDataStream::Ok) Corrupt(path);
    }
    doc.pages.push_back(std::move(page));
  }
  return doc;
}

}  // namespace vorncom::report
