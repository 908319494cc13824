#pragma once

#include <cstdint>
#include <string>

#include "common/variant.h"

namespace vorncom::archive {

// Where the package routines report progress: the current file's name and the percentage. A null
// pointer reports nothing (the library's own callers pass none).
class PackageProgress {
 public:
  virtual ~PackageProgress() = default;
  virtual void ShowFile(const std::string& name) = 0;
  virtual void ShowPercent(int percent) = 0;
};

// The only way the rest of the library reaches archives. Name lists are one-dimensional variant
// arrays of strings (UTF-8); archive exceptions pass to the caller unless said otherwise.

// Stored names in archive order (lower bound 0); an empty variant when there are no entries.
Variant ListPackageEntries(const std::string& archive);

// Exact, case-sensitive match of a stored name.
bool PackageHasEntry(const std::string& archive, const std::string& entry);

// The largest uncompressed size recorded for entries of exactly that name (what extracting it
// may write); 0 when there is none.
int64_t PackageEntrySize(const std::string& archive, const std::string& entry);

// Does nothing when `names` is not an array.
void ExtractPackageEntries(const Variant& names, const std::string& archive,
                           const std::string& directory, bool names_only,
                           PackageProgress* progress = nullptr);
void ExtractAllPackageEntries(const std::string& archive, const std::string& directory,
                              bool names_only, PackageProgress* progress = nullptr);

// Adds each file with the LH5 method; each call rewrites the archive atomically.
void AddFilesToPackage(const Variant& names, const std::string& directory,
                       const std::string& archive, bool names_only,
                       PackageProgress* progress = nullptr);

// True when the entry count grew by exactly the number of files; false on any failure.
bool InsertFilesIntoPackage(const Variant& names, const std::string& archive);

}  // namespace vorncom::archive
