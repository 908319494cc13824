#include "archive/archiver.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <filesystem>
#include <fstream>
#include <ios>
#include <istream>
#include <ostream>
#include <string_view>
#include <system_error>

#include "archive/file_system.h"
#include "archive/stored_names.h"
#include "common/atomic_file.h"
#include "common/cp1252.h"

namespace vorncom::archive {
namespace fs = std::filesystem;

namespace {

// The temporary file an archive is built in; one that cannot be created fails like the archive.
AtomicFile CreateOutputBeside(const std::string& archive_name) {
  try {
    return AtomicFile(archive_name);
  } catch (const EFileReplaceError& e) {
    throw std::system_error(e.error(), std::generic_category(), "Cannot open file " + archive_name);
  }
}

constexpr size_t kLongestStrippedName = 9999;
constexpr int64_t kLongestName = INT16_MAX;

int64_t StreamRemaining(std::istream& in) {
  const auto pos = in.tellg();
  if (pos < 0) return 0;
  in.seekg(0, std::ios::end);
  const auto end = in.tellg();
  in.seekg(pos);
  return std::max<int64_t>(0, static_cast<int64_t>(end - pos));
}

void CheckWritten(std::ostream& out) {
  if (!out) throw std::ios_base::failure("write error");
}

void CopyBytes(std::istream& in, std::ostream& out, int64_t count) {
  std::array<char, 65536> buffer;
  while (count > 0) {
    const auto chunk = static_cast<std::streamsize>(std::min<int64_t>(count, buffer.size()));
    in.read(buffer.data(), chunk);
    const auto got = in.gcount();
    if (got <= 0) break;
    out.write(buffer.data(), got);
    CheckWritten(out);
    count -= got;
  }
  in.clear(in.rdstate() & std::ios::badbit);
}

bool ListHasName(const std::vector<std::string>& list, const std::string& name) {
  return std::any_of(list.begin(), list.end(),
                     [&](const std::string& item) { return SameStoredName(item, name); });
}

// Three header bytes for a (UTF-8) method id.
std::string RawMethodId(const std::string& id) {
  std::string raw = Utf8ToCp1252(id);
  raw.resize(header::kMethodIdSize, ' ');
  return raw;
}

TCompressedFileInfo InfoOf(const ArchiveReader::Entry& entry) {
  const EntryRecord& rec = entry.record;
  TCompressedFileInfo info;
  info.date_time = rec.date_time;
  info.attributes = rec.attributes;
  info.size = rec.size;
  info.stored_size = rec.stored_size;
  info.method = rec.method;
  info.checksum = rec.checksum;
  info.position = entry.record_offset;
  info.locked = rec.locked();
  return info;
}

}  // namespace

TArchiver::TArchiver() : state_(std::make_unique<TCoderState>()) {}
TArchiver::~TArchiver() = default;

void TArchiver::SetTargetPath(std::string path) {
  if (!path.empty() && path.back() != '/') path += '/';
  target_path_ = std::move(path);
}

int64_t TArchiver::ProcessStream(std::ostream& dest, std::istream& source, bool locked, bool expand,
                                 TCompressMethod method, int64_t count, int64_t input_size,
                                 uint32_t& checksum) {
  TCoderState::Run run;
  run.expand = expand;
  run.locked = locked;
  run.method = method;
  run.count = count;
  run.input_size = input_size;
  run.key = EffectiveKey();
  run.progress = OnShowProgress;
  return state_->Process(dest, source, run, checksum);
}

int32_t TArchiver::CompressStream(std::ostream& dest, std::istream& source, int32_t& checksum,
                                  std::string& compress_id, TCompressMethod method) {
  int32_t output_size = 0;
  uint32_t sum = 0;
  if (method == TCompressMethod::cmCustom) {
    int32_t custom_sum = 0;
    if (OnCompress) OnCompress(dest, source, compress_id, output_size, custom_sum);
    sum = static_cast<uint32_t>(custom_sum);
  } else {
    const int64_t size = StreamRemaining(source);
    output_size =
        static_cast<int32_t>(ProcessStream(dest, source, false, false, method, 0, size, sum));
  }
  checksum = static_cast<int32_t>(sum + static_cast<uint32_t>(EffectiveKey()));
  return output_size;
}

std::string TArchiver::StoredNameOf(const std::string& path) {
  std::string stored = path;
  if (!target_path_.empty() && StartsWithIgnoringAsciiCase(stored, target_path_))
    stored = stored.substr(target_path_.size(), kLongestStrippedName);
  if (OnCheckFile) {
    OnCheckFile(stored, TCProcessMode::pmCompress);
    if (stored.empty() || stored == "*") return stored;
  }
  if (stored.size() > 2 && stored[1] == ':') stored.erase(0, 2);
  return ToStoredSeparators(stored);
}

void TArchiver::WriteEntry(std::ostream& dest, std::istream& source, int64_t size,
                           const std::string& raw_name, const SourceFileInfo& info,
                           TCompressMethod method, std::string& compress_id) {
  EntryRecord rec;
  rec.name_length = static_cast<int16_t>(raw_name.size());
  const auto record_pos = dest.tellp();
  WriteRecord(dest, rec);
  dest.write(raw_name.data(), static_cast<std::streamsize>(raw_name.size()));
  CheckWritten(dest);
  const auto data_pos = dest.tellp();
  const auto source_start = source.tellg();

  int32_t checksum = 0;
  std::string id = compress_id;
  TCompressMethod used = method;
  int32_t stored_size = 0;
  try {
    stored_size = CompressStream(dest, source, checksum, id, method);
  } catch (const EUnableToCompress&) {
    dest.clear();
    dest.seekp(data_pos);
    source.clear();
    source.seekg(source_start);
    used = TCompressMethod::cmNone;
    id = compress_id;
    stored_size = CompressStream(dest, source, checksum, id, used);
  }
  if (method == TCompressMethod::cmCustom) compress_id = id;
  CheckWritten(dest);
  const auto end_pos = dest.tellp();

  rec.date_time = info.dos_date_time;
  rec.attributes = info.attributes;
  rec.size = static_cast<int32_t>(size);
  rec.stored_size = stored_size;
  rec.method = static_cast<uint8_t>(used);
  rec.checksum = checksum;
  rec.lock = EffectiveKey() > 0 ? kLocked : 0;
  dest.seekp(record_pos);
  WriteRecord(dest, rec);
  dest.seekp(end_pos);
  CheckWritten(dest);
}

int64_t TArchiver::WriteFileEntries(std::ostream& dest, std::vector<std::string>& files,
                                    TCompressMethod method, std::string& compress_id) {
  int64_t total = 0;
  for (size_t i = 0; i < files.size();) {
    const std::string path = files[i];
    const std::string stored = StoredNameOf(path);
    if (stored.empty()) {
      files.erase(files.begin() + static_cast<ptrdiff_t>(i));
      continue;
    }
    if (stored == "*") {
      // The files not reached are not in the archive, so they leave the list too.
      files.erase(files.begin() + static_cast<ptrdiff_t>(i), files.end());
      break;
    }
    const std::string raw_name = Utf8ToCp1252(stored);

    std::error_code kind_error;
    // Directories and devices open as streams on Linux but hold no file to store.
    const bool regular = fs::is_regular_file(path, kind_error);
    std::ifstream source;
    if (regular) source.open(path, std::ios::binary);
    const int64_t size = source.is_open() ? StreamRemaining(source) : -1;
    // Files, names and archives beyond the format's signed fields cannot be recorded: they are
    // treated like files that cannot be opened.
    const bool representable = size >= 0 && size <= INT32_MAX && total + size <= INT32_MAX &&
                               static_cast<int64_t>(raw_name.size()) <= kLongestName;
    if (!source.is_open() || !representable) {
      if (ExceptionOnFileError) {
        if (source.is_open()) errno = EFBIG;
        if (!regular && fs::exists(path, kind_error)) errno = EISDIR;
        ThrowFileOpenError(path);
      }
      files.erase(files.begin() + static_cast<ptrdiff_t>(i));
      continue;
    }

    files[i] = stored;
    WriteEntry(dest, source, size, raw_name, ReadSourceFileInfo(path), method, compress_id);
    total += size;
    ++i;
  }
  return total;
}

ArchiveHeader TArchiver::WriteArchive(std::ostream& dest, TCompressMethod method,
                                      const EntryWriter& write, int64_t& header_pos) {
  std::string compress_id(kMethodIds[static_cast<size_t>(method) % kMethodCount]);
  ArchiveHeader h;
  h.method_id = RawMethodId(compress_id);
  h.lock = EffectiveKey() > 0 ? kLocked : 0;
  header_pos = static_cast<int64_t>(dest.tellp());
  WriteHeader(dest, h);
  CheckWritten(dest);

  const int64_t total = write(dest, compress_id);

  h.method_id = RawMethodId(compress_id);
  h.total_size = static_cast<int32_t>(total);
  const auto end_pos = dest.tellp();
  dest.seekp(header_pos);
  WriteHeader(dest, h);
  dest.seekp(end_pos);
  CheckWritten(dest);
  return h;
}

TArchiver::MergeCounts TArchiver::MergeArchive(const std::string& old_archive, std::ostream& out,
                                               ArchiveHeader header, int64_t header_pos,
                                               const std::vector<std::string>& new_names) {
  MergeCounts counts;
  std::ifstream in(old_archive, std::ios::binary);
  if (!in) ThrowFileOpenError(old_archive);
  ArchiveReader reader(in);
  if (!reader.ReadHeader()) return counts;
  uint32_t total = static_cast<uint32_t>(header.total_size);
  while (auto entry = reader.Next()) {
    if (ListHasName(new_names, entry->name)) {
      reader.SkipData(*entry);
      ++counts.replaced;
      continue;
    }
    in.seekg(entry->record_offset);
    CopyBytes(in, out, entry->data_offset - entry->record_offset + entry->available);
    reader.SkipData(*entry);
    total += static_cast<uint32_t>(entry->record.size);
    ++counts.kept;
  }
  header.total_size = static_cast<int32_t>(total);
  const auto end_pos = out.tellp();
  out.seekp(header_pos);
  WriteHeader(out, header);
  out.seekp(end_pos);
  CheckWritten(out);
  return counts;
}

void TArchiver::BuildArchive(const std::string& archive_name, std::vector<std::string>& names,
                             TCompressMethod method, const EntryWriter& write) {
  std::error_code ec;
  const bool update = fs::exists(archive_name, ec);
  // Even a new archive is built under a temporary name of its own, so no half-written archive
  // ever carries the real name and two processes updating one archive never share a file.
  AtomicFile output = CreateOutputBeside(archive_name);
  const std::string& temp_name = output.temp_path();
  const std::string& output_name = update ? temp_name : archive_name;
  std::erase_if(names, [&](const std::string& f) {
    return SameStoredName(f, output_name) || SameStoredName(f, temp_name);
  });

  std::ofstream out(temp_name, std::ios::binary | std::ios::trunc);
  if (!out) ThrowFileOpenError(temp_name);

  ArchiveHeader header;
  int64_t header_pos = 0;
  try {
    header = WriteArchive(out, method, write, header_pos);
    out.flush();
    CheckWritten(out);
  } catch (const std::ios_base::failure&) {
    throw EInsufficientDiskSpace(std::string(messages::kDiskFullCompressing));
  }

  MergeCounts merged;
  if (update) {
    try {
      merged = MergeArchive(archive_name, out, header, header_pos, names);
      out.flush();
      CheckWritten(out);
    } catch (const std::ios_base::failure&) {
      throw EInsufficientDiskSpace(std::string(messages::kDiskFullMerging));
    }
  }
  if (OnCommit) {
    // A throw or a refusal leaves the archive as it was: the temporary file goes with `output`.
    bool commit = true;
    OnCommit(names.size(), merged.kept, merged.replaced, commit);
    if (!commit) return;
  }

  const std::string_view disk_full =
      update ? messages::kDiskFullMerging : messages::kDiskFullCompressing;
  const auto end = static_cast<uintmax_t>(out.tellp());
  out.close();
  try {
    if (out.fail()) throw std::ios_base::failure("write error");
    // A fallback to the stored method may leave bytes of the abandoned attempt past the end.
    fs::resize_file(temp_name, end);
  } catch (...) {
    throw EInsufficientDiskSpace(std::string(disk_full));
  }
  try {
    output.Commit();
  } catch (const EFileReplaceError& e) {
    // Data that cannot reach the disk is a write error like any other.
    if (e.step() == EFileReplaceError::Step::kFlush)
      throw EInsufficientDiskSpace(std::string(disk_full));
    throw;
  }
}

void TArchiver::CompressFiles(const std::string& archive_name, std::vector<std::string>& files,
                              TCompressMethod method) {
  BuildArchive(archive_name, files, method, [&](std::ostream& dest, std::string& compress_id) {
    return WriteFileEntries(dest, files, method, compress_id);
  });
}

void TArchiver::CompressFile(const std::string& archive_name, std::string& file_name,
                             TCompressMethod method) {
  std::vector<std::string> files{file_name};
  CompressFiles(archive_name, files, method);
  file_name = files.empty() ? std::string() : files.front();
}

void TArchiver::CompressStreamAs(const std::string& archive_name, std::string& stored_name,
                                 std::istream& source, const SourceFileInfo& info,
                                 TCompressMethod method) {
  std::vector<std::string> names;
  BuildArchive(archive_name, names, method, [&](std::ostream& dest, std::string& compress_id) {
    const std::string stored = StoredNameOf(stored_name);
    if (stored.empty() || stored == "*") return int64_t{0};
    const std::string raw_name = Utf8ToCp1252(stored);
    const int64_t size = StreamRemaining(source);
    // What a file of that size or name would be: skipped, or refused with ExceptionOnFileError.
    if (size > INT32_MAX || static_cast<int64_t>(raw_name.size()) > kLongestName) {
      if (ExceptionOnFileError) throw std::system_error(EFBIG, std::generic_category(), stored);
      return int64_t{0};
    }
    WriteEntry(dest, source, size, raw_name, info, method, compress_id);
    names.push_back(stored);
    return size;
  });
  stored_name = names.empty() ? std::string() : names.front();
}

void TArchiver::ExpandStream(std::ostream& dest, std::istream& source, int32_t lock_flag,
                             const std::string& compress_id, TCompressMethod method,
                             int32_t stored_checksum, int32_t uncompressed_size,
                             int32_t stored_size) {
  const bool locked = lock_flag > 0;
  if (locked && EffectiveKey() == 0) throw EInvalidKey(std::string(messages::kInvalidKey));

  // Damaged stored data fails as its checksum would; for a locked entry a wrong key is the
  // likely cause.
  auto damaged = [&]() -> void {
    if (locked) throw EInvalidKey(std::string(messages::kInvalidKey));
    throw EBadChecksum(std::string(messages::kBadChecksum));
  };
  const auto data_start = source.tellg();
  const int64_t available = StreamRemaining(source);
  // Stored data cut short cannot hold the entry, nor can plain stored data of another length;
  // refusing them here spares decoding a size the record may have inflated.
  if (stored_size > available) damaged();
  if (method == TCompressMethod::cmNone && stored_size != uncompressed_size) damaged();

  uint32_t sum = 0;
  if (method == TCompressMethod::cmCustom) {
    int32_t custom_sum = 0;
    if (OnExpand) OnExpand(dest, source, stored_size, uncompressed_size, compress_id, custom_sum);
    sum = static_cast<uint32_t>(custom_sum);
  } else {
    // The record's size bounds the output (the engine never writes past it) and must be met.
    try {
      const int64_t written = ProcessStream(dest, source, lock_flag == kLocked, true, method,
                                            uncompressed_size, stored_size, sum);
      if (written != uncompressed_size) damaged();
    } catch (const ELZHBadDecodeTable&) {
      if (locked) throw EInvalidKey(std::string(messages::kInvalidKey));
      throw;
    } catch (const ESizeMismatch&) {
      damaged();
    }
  }
  source.clear(source.rdstate() & std::ios::badbit);
  source.seekg(data_start + static_cast<std::streamoff>(stored_size));

  const auto stored = static_cast<uint32_t>(stored_checksum);
  if (sum == stored || (stored == 0 && method == TCompressMethod::cmNone)) return;
  if (locked) {
    if (static_cast<uint32_t>(EffectiveKey()) + sum == stored) return;
    throw EInvalidKey(std::string(messages::kInvalidKey));
  }
  throw EBadChecksum(std::string(messages::kBadChecksum));
}

void TArchiver::ExpandFiles(std::istream& source, std::vector<std::string>* names) {
  ArchiveReader reader(source);
  const auto header = reader.ReadHeader();
  std::vector<std::string> expanded;
  if (header) {
    RecognizeMethod(header->method_id, OnRecognize);
    const std::string compress_id = Cp1252ToUtf8(header->method_id);
    int64_t sum = 0;
    while (auto entry = reader.Next()) {
      if (sum >= header->total_size) break;
      const EntryRecord& rec = entry->record;
      if (names && !ListHasName(*names, entry->name)) {
        reader.SkipData(*entry);
        sum += rec.size;
        continue;
      }
      if (OnCheckEntry) {
        bool expand = true;
        OnCheckEntry(entry->name, InfoOf(*entry), expand);
        if (!expand) {
          reader.SkipData(*entry);
          continue;
        }
      }
      // The hook sees the name as it always has (absolute names as they are) and may skip or
      // re-map it. A path it leaves alone must stay under the target folder: an absolute name is
      // put under it, a name that climbs out of it is refused.
      const std::string stored = ToDiskSeparators(entry->name);
      std::string target =
          (!stored.empty() && stored.front() == '/') ? stored : target_path_ + stored;
      const std::string offered = target;
      if (OnCheckFile) {
        OnCheckFile(target, TCProcessMode::pmExpand);
        if (target.empty()) {
          reader.SkipData(*entry);
          continue;
        }
        if (target == "*") break;
      }
      if (target == offered) {
        const auto inside = PathInsideFolder(stored);
        if (!inside) throw EInvalidHeader(std::string(messages::kNameLeavesFolder) + entry->name);
        target = target_path_ + *inside;
      }
      if (MakeDirectories) {
        const auto cut = target.find_last_of('/');
        if (cut != std::string::npos && cut > 1) CreateDirectories(target.substr(0, cut));
      }
      std::ofstream out(target, std::ios::binary | std::ios::trunc);
      if (!out) {
        if (ExceptionOnFileError) ThrowFileOpenError(target);
        reader.SkipData(*entry);
        continue;
      }
      try {
        ExpandStream(out, source, rec.lock, compress_id, static_cast<TCompressMethod>(rec.method),
                     rec.checksum, rec.size, rec.stored_size);
        out.close();
        CheckWritten(out);
      } catch (const EInvalidKey&) {
        out.close();
        std::error_code ec;
        fs::remove(target, ec);
        throw;
      } catch (...) {
        out.close();
        SetFileAttributes(target, rec.attributes);
        throw;
      }
      SetFileDateTime(target, rec.date_time);
      SetFileAttributes(target, rec.attributes);
      expanded.push_back(target);
      sum += rec.size;
      reader.SkipData(*entry);
    }
  }
  if (names) *names = std::move(expanded);
}

void TArchiver::ScanArchive(std::istream& source, std::vector<ScannedEntry>& list) {
  ArchiveReader reader(source);
  if (reader.remaining() < static_cast<int64_t>(kMinimumScanSize)) return;
  const auto header = reader.ReadHeader();
  if (!header) return;
  RecognizeMethod(header->method_id, OnRecognize);
  while (auto entry = reader.Next()) {
    list.push_back(ScannedEntry{entry->name, InfoOf(*entry)});
    reader.SkipData(*entry);
  }
}

void TArchiver::ScanArchiveFile(const std::string& archive_name, std::vector<ScannedEntry>& list) {
  std::ifstream in(archive_name, std::ios::binary);
  if (!in) ThrowFileOpenError(archive_name);
  ScanArchive(in, list);
}

}  // namespace vorncom::archive
