#include "archive/archive_io.h"

#include <algorithm>
#include <istream>
#include <ostream>

#include "archive/errors.h"
#include "common/cp1252.h"

namespace vorncom::archive {
namespace {

template <typename T>
void Put(uint8_t* at, T value) {
  auto u = static_cast<std::make_unsigned_t<T>>(value);
  for (size_t i = 0; i < sizeof(T); ++i) at[i] = static_cast<uint8_t>(u >> (8 * i));
}

template <typename T>
T Get(const uint8_t* at) {
  std::make_unsigned_t<T> u = 0;
  for (size_t i = 0; i < sizeof(T); ++i)
    u |= static_cast<std::make_unsigned_t<T>>(at[i]) << (8 * i);
  return static_cast<T>(u);
}

// Reads up to `size` bytes; a short read leaves the stream usable for seeking.
size_t ReadSome(std::istream& in, uint8_t* data, size_t size) {
  in.read(reinterpret_cast<char*>(data), static_cast<std::streamsize>(size));
  const auto got = static_cast<size_t>(in.gcount());
  if (got < size) in.clear(in.rdstate() & std::ios::badbit);
  return got;
}

}  // namespace

std::string UnrecognizedMethodMessage(std::string_view id) {
  return "Unrecognized compression method: \"" + std::string(id) + "\" in header";
}

std::array<uint8_t, header::kSize> EncodeHeader(const ArchiveHeader& h) {
  std::array<uint8_t, header::kSize> b{};
  std::copy(header::kMagic.begin(), header::kMagic.end(), b.begin() + header::kMagicOffset);
  for (size_t i = 0; i < header::kMethodIdSize; ++i)
    b[header::kMethodIdOffset + i] =
        i < h.method_id.size() ? static_cast<uint8_t>(h.method_id[i]) : ' ';
  Put<int32_t>(&b[header::kTotalSizeOffset], h.total_size);
  b[header::kTypeOffset] = h.type;
  Put<int32_t>(&b[header::kReservedOffset], h.reserved);
  Put<int32_t>(&b[header::kLockOffset], h.lock);
  return b;
}

ArchiveHeader DecodeHeader(std::span<const uint8_t, header::kSize> b) {
  if (!std::equal(header::kMagic.begin(), header::kMagic.end(), b.begin() + header::kMagicOffset))
    throw EInvalidHeader(std::string(messages::kInvalidHeader));
  ArchiveHeader h;
  h.type = b[header::kTypeOffset];
  if (h.type != header::kTypeMulti)
    throw EInvalidHeaderArchiveType(std::string(messages::kArchiveType));
  h.method_id.assign(reinterpret_cast<const char*>(&b[header::kMethodIdOffset]),
                     header::kMethodIdSize);
  h.total_size = Get<int32_t>(&b[header::kTotalSizeOffset]);
  h.reserved = Get<int32_t>(&b[header::kReservedOffset]);
  h.lock = Get<int32_t>(&b[header::kLockOffset]);
  return h;
}

std::array<uint8_t, record::kSize> EncodeRecord(const EntryRecord& r) {
  std::array<uint8_t, record::kSize> b{};
  Put<int16_t>(&b[record::kNameLengthOffset], r.name_length);
  Put<int32_t>(&b[record::kDateTimeOffset], r.date_time);
  Put<uint16_t>(&b[record::kAttributesOffset], r.attributes);
  Put<int32_t>(&b[record::kSizeOffset], r.size);
  Put<int32_t>(&b[record::kStoredSizeOffset], r.stored_size);
  b[record::kMethodOffset] = r.method;
  Put<int32_t>(&b[record::kChecksumOffset], r.checksum);
  Put<int32_t>(&b[record::kLockOffset], r.lock);
  return b;
}

EntryRecord DecodeRecord(std::span<const uint8_t, record::kSize> b) {
  EntryRecord r;
  r.name_length = Get<int16_t>(&b[record::kNameLengthOffset]);
  r.date_time = Get<int32_t>(&b[record::kDateTimeOffset]);
  r.attributes = Get<uint16_t>(&b[record::kAttributesOffset]);
  r.size = Get<int32_t>(&b[record::kSizeOffset]);
  r.stored_size = Get<int32_t>(&b[record::kStoredSizeOffset]);
  r.method = b[record::kMethodOffset];
  r.checksum = Get<int32_t>(&b[record::kChecksumOffset]);
  r.lock = Get<int32_t>(&b[record::kLockOffset]);
  return r;
}

TCompressMethod RecognizeMethod(const std::string& id, const RecognizeHandler& recognize) {
  for (int i = 0; i < kMethodCount; ++i)
    if (id == kMethodIds[static_cast<size_t>(i)]) return static_cast<TCompressMethod>(i);
  bool recognized = false;
  if (recognize) recognize(Cp1252ToUtf8(id), recognized);
  if (recognized) return TCompressMethod::cmCustom;
  throw EUnrecognizedCompressionMethod(UnrecognizedMethodMessage(Cp1252ToUtf8(id)));
}

ArchiveReader::ArchiveReader(std::istream& in) : in_(in) {
  const auto start = in_.tellg();
  in_.seekg(0, std::ios::end);
  end_ = static_cast<int64_t>(in_.tellg());
  in_.seekg(start);
  if (end_ < 0) end_ = 0;
}

int64_t ArchiveReader::remaining() {
  const auto pos = static_cast<int64_t>(in_.tellg());
  return pos < 0 ? 0 : std::max<int64_t>(0, end_ - pos);
}

std::optional<ArchiveHeader> ArchiveReader::ReadHeader() {
  if (remaining() < static_cast<int64_t>(header::kSize)) return std::nullopt;
  std::array<uint8_t, header::kSize> b{};
  if (ReadSome(in_, b.data(), b.size()) < b.size()) return std::nullopt;
  return DecodeHeader(b);
}

std::optional<ArchiveReader::Entry> ArchiveReader::Next() {
  Entry e;
  e.record_offset = static_cast<int64_t>(in_.tellg());
  if (e.record_offset < 0 || remaining() < static_cast<int64_t>(record::kSize)) return std::nullopt;
  auto cut_short = [&] {
    in_.seekg(e.record_offset);
    return std::nullopt;
  };
  std::array<uint8_t, record::kSize> b{};
  if (ReadSome(in_, b.data(), b.size()) < b.size()) return cut_short();
  e.record = DecodeRecord(b);
  if (e.record.name_length < 0 || e.record.size < 0 || e.record.stored_size < 0)
    throw EInvalidHeader(std::string(messages::kInvalidHeader));
  const auto name_length = static_cast<size_t>(e.record.name_length);
  if (remaining() < static_cast<int64_t>(name_length)) return cut_short();
  std::string raw(name_length, '\0');
  if (ReadSome(in_, reinterpret_cast<uint8_t*>(raw.data()), name_length) < name_length)
    return cut_short();
  e.name = Cp1252ToUtf8(raw);
  e.data_offset = e.record_offset + static_cast<int64_t>(record::kSize + name_length);
  e.available = std::min<int64_t>(e.record.stored_size, std::max<int64_t>(0, end_ - e.data_offset));
  return e;
}

void ArchiveReader::SkipData(const Entry& entry) {
  in_.clear(in_.rdstate() & std::ios::badbit);
  in_.seekg(entry.data_offset + entry.available);
}

void WriteHeader(std::ostream& out, const ArchiveHeader& h) {
  const auto b = EncodeHeader(h);
  out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

void WriteRecord(std::ostream& out, const EntryRecord& r) {
  const auto b = EncodeRecord(r);
  out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

}  // namespace vorncom::archive
