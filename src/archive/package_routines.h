#pragma once

#include <cstdint>
#include <iosfwd>
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

// Does nothing when `names` is not an array.
void ExtractPackageEntries(const Variant& names, const std::string& archive,
                           const std::string& directory, bool names_only,
                           PackageProgress* progress = nullptr);
// Extracts the entries named `entry` (matched as above) into `directory` under their bare names,
// reading the package once. An entry that records more than `max_size` bytes is not written; when
// one of those is named exactly `entry`, the answer is false and whatever the call wrote is
// removed again.
bool ExtractPackageEntry(const std::string& entry, const std::string& archive,
                         const std::string& directory, int64_t max_size);
void ExtractAllPackageEntries(const std::string& archive, const std::string& directory,
                              bool names_only, PackageProgress* progress = nullptr);

// Adds each file with the LH5 method; each call rewrites the archive atomically.
void AddFilesToPackage(const Variant& names, const std::string& directory,
                       const std::string& archive, bool names_only,
                       PackageProgress* progress = nullptr);

// True when the entry count grew by exactly the number of files; false on any failure.
bool InsertFilesIntoPackage(const Variant& names, const std::string& archive);

// Adds an entry named `entry` (bare) holding the bytes of `source` from its current position to
// its end, with the LH5 method, dated now, to a package that holds entries but none of that name
// (A-Z case ignored). Reads the package once and rewrites it atomically. False, with the package
// as it was, on any failure and when the package holds no entry or one of that name. `source`
// must be seekable.
bool InsertStreamIntoPackage(std::istream& source, const std::string& entry,
                             const std::string& archive);

}  // namespace vorncom::archive
