#include "archive/package_routines.h"

#include <ctime>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <vector>

#include "archive/archiver.h"
#include "archive/file_system.h"
#include "archive/qev_compress.h"

namespace vorncom::archive {
namespace {

std::vector<std::string> NamesOf(const Variant& names) {
  std::vector<std::string> list;
  for (const Variant& item : names.AsArray().items) list.push_back(item.ToString());
  return list;
}

size_t EntryCount(const Variant& entries) {
  return entries.IsArray() ? entries.AsArray().items.size() : 0;
}

std::string DirectoryOf(const std::string& path) {
  const auto cut = path.find_last_of('/');
  return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

}  // namespace

Variant ListPackageEntries(const std::string& archive) {
  TArchiver archiver;
  std::vector<ScannedEntry> entries;
  archiver.ScanArchiveFile(archive, entries);
  if (entries.empty()) return Variant();
  Variant result = Variant::Array(0, entries.size());
  for (size_t i = 0; i < entries.size(); ++i)
    result.AsArray().items[i] = Variant(std::move(entries[i].name));
  return result;
}

bool PackageHasEntry(const std::string& archive, const std::string& entry) {
  TArchiver archiver;
  std::vector<ScannedEntry> entries;
  archiver.ScanArchiveFile(archive, entries);
  for (const auto& e : entries)
    if (e.name == entry) return true;
  return false;
}

namespace {

// Expands the entries named in `list` (which becomes the paths written) into `directory` through
// the package hooks; `check` may keep an entry from being expanded.
void ExpandListed(const std::string& archive, std::vector<std::string>& list,
                  const std::string& directory, bool names_only, PackageProgress* progress,
                  TEntryCheckEvent check = nullptr) {
  std::ifstream source(archive, std::ios::binary);
  if (!source) ThrowFileOpenError(archive);
  TArchiver archiver;
  archiver.MakeDirectories = true;
  TqevCompress handler;
  handler.names_only = names_only;
  handler.progress = progress;
  handler.directory = directory;
  handler.Attach(archiver);
  archiver.OnCheckEntry = std::move(check);
  archiver.ExpandFiles(source, &list);
}

}  // namespace

void ExtractPackageEntries(const Variant& names, const std::string& archive,
                           const std::string& directory, bool names_only,
                           PackageProgress* progress) {
  if (!names.IsArray()) return;
  std::vector<std::string> list = NamesOf(names);
  ExpandListed(archive, list, directory, names_only, progress);
}

bool ExtractPackageEntry(const std::string& entry, const std::string& archive,
                         const std::string& directory, int64_t max_size) {
  std::vector<std::string> list{entry};
  bool too_large = false;
  ExpandListed(archive, list, directory, true, nullptr,
               [&](const std::string& name, const TCompressedFileInfo& info, bool& expand) {
                 if (info.size <= max_size) return;
                 expand = false;
                 if (name == entry) too_large = true;
               });
  if (!too_large) return true;
  std::error_code ec;
  for (const std::string& path : list) std::filesystem::remove(path, ec);
  return false;
}

void ExtractAllPackageEntries(const std::string& archive, const std::string& directory,
                              bool names_only, PackageProgress* progress) {
  ExtractPackageEntries(ListPackageEntries(archive), archive, directory, names_only, progress);
}

void AddFilesToPackage(const Variant& names, const std::string& directory,
                       const std::string& archive, bool names_only, PackageProgress* progress) {
  if (!names.IsArray()) return;
  TArchiver archiver;
  archiver.MakeDirectories = true;
  TqevCompress handler;
  handler.names_only = names_only;
  handler.progress = progress;
  handler.directory = directory;
  handler.Attach(archiver);
  for (std::string file : NamesOf(names))
    archiver.CompressFile(archive, file, TCompressMethod::cmLH5);
}

bool InsertFilesIntoPackage(const Variant& names, const std::string& archive) {
  try {
    const size_t before = EntryCount(ListPackageEntries(archive));
    if (before == 0 || !names.IsArray()) return false;
    AddFilesToPackage(names, DirectoryOf(archive), archive, true, nullptr);
    return EntryCount(ListPackageEntries(archive)) == before + names.AsArray().items.size();
  } catch (...) {
    return false;
  }
}

bool InsertStreamIntoPackage(std::istream& source, const std::string& entry,
                             const std::string& archive) {
  try {
    TArchiver archiver;
    bool accepted = false;
    archiver.OnCommit = [&](size_t added, size_t kept, size_t replaced, bool& commit) {
      accepted = commit = added == 1 && kept > 0 && replaced == 0;
    };
    std::string name = entry;
    const SourceFileInfo now{DosDateTimeFromTime(std::time(nullptr)), kAttrArchive};
    archiver.CompressStreamAs(archive, name, source, now, TCompressMethod::cmLH5);
    return accepted;
  } catch (...) {
    return false;
  }
}

}  // namespace vorncom::archive
