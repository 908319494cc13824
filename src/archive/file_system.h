#pragma once

// The archive's view of the Linux file system: DOS date-times and Windows attribute words mapped
// to local mtime and write permission, and directory creation.

#include <cstdint>
#include <ctime>
#include <string>

namespace vorncom::archive {

// Packed DOS date-time (date high, time low, two-second resolution) of a local time; times
// outside 1980..2107 are clamped to the nearest representable one.
int32_t DosDateTimeFromTime(std::time_t t);
// The local time a packed DOS date-time names; -1 when it names none.
std::time_t TimeFromDosDateTime(int32_t dos);

struct SourceFileInfo {
  int32_t dos_date_time = 0;
  uint16_t attributes = 0;  // archive flag, plus read-only without write permission
};
// Date and attributes of a source file; zeros when it cannot be examined.
SourceFileInfo ReadSourceFileInfo(const std::string& path);

// Best-effort: a file whose times or mode cannot be set keeps what it has.
void SetFileDateTime(const std::string& path, int32_t dos_date_time);
void SetFileAttributes(const std::string& path, uint16_t attributes);

// Creates the missing directories of `directory` (parents first). Throws
// std::filesystem::filesystem_error when one cannot be created.
void CreateDirectories(const std::string& directory);

// `path` with its file name's extension replaced by `ext` (appended when there is none).
std::string ChangeFileExt(const std::string& path, const std::string& ext);

// The run-time error for a file that cannot be opened or created: std::system_error with errno.
[[noreturn]] void ThrowFileOpenError(const std::string& path);

}  // namespace vorncom::archive
