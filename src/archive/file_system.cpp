#include "archive/file_system.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <filesystem>
#include <system_error>

#include "archive/format.h"

namespace vorncom::archive {
namespace fs = std::filesystem;

int32_t DosDateTimeFromTime(std::time_t t) {
  std::tm tm{};
  if (!localtime_r(&t, &tm) || tm.tm_year < 80) {
    tm = std::tm{};
    tm.tm_year = 80;
    tm.tm_mon = 0;
    tm.tm_mday = 1;
  } else if (tm.tm_year > 207) {
    tm = std::tm{};
    tm.tm_year = 207;
    tm.tm_mon = 11;
    tm.tm_mday = 31;
    tm.tm_hour = 23;
    tm.tm_min = 59;
    tm.tm_sec = 58;
  }
  const auto date =
      static_cast<uint32_t>(((tm.tm_year - 80) << 9) | ((tm.tm_mon + 1) << 5) | tm.tm_mday);
  const auto time = static_cast<uint32_t>((tm.tm_hour << 11) | (tm.tm_min << 5) | (tm.tm_sec / 2));
  return static_cast<int32_t>((date << 16) | time);
}

std::time_t TimeFromDosDateTime(int32_t dos) {
  const auto u = static_cast<uint32_t>(dos);
  const uint32_t date = u >> 16, time = u & 0xFFFF;
  std::tm tm{};
  tm.tm_year = static_cast<int>((date >> 9) + 80);
  tm.tm_mon = static_cast<int>((date >> 5) & 15) - 1;
  tm.tm_mday = static_cast<int>(date & 31);
  tm.tm_hour = static_cast<int>(time >> 11);
  tm.tm_min = static_cast<int>((time >> 5) & 63);
  tm.tm_sec = static_cast<int>((time & 31) * 2);
  tm.tm_isdst = -1;
  if (tm.tm_mon < 0 || tm.tm_mday == 0) return -1;
  return std::mktime(&tm);
}

SourceFileInfo ReadSourceFileInfo(const std::string& path) {
  SourceFileInfo info;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return info;
  info.dos_date_time = DosDateTimeFromTime(st.st_mtime);
  info.attributes = kAttrArchive;
  if ((st.st_mode & S_IWUSR) == 0) info.attributes |= kAttrReadOnly;
  return info;
}

void SetFileDateTime(const std::string& path, int32_t dos_date_time) {
  const std::time_t t = TimeFromDosDateTime(dos_date_time);
  if (t == -1) return;
  struct timespec times[2] = {{0, UTIME_OMIT}, {t, 0}};
  ::utimensat(AT_FDCWD, path.c_str(), times, 0);
}

void SetFileAttributes(const std::string& path, uint16_t attributes) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return;
  mode_t mode = st.st_mode & 07777;
  if (attributes & kAttrReadOnly)
    mode &= static_cast<mode_t>(~(S_IWUSR | S_IWGRP | S_IWOTH));
  else
    mode |= S_IWUSR;
  if (mode != (st.st_mode & 07777)) ::chmod(path.c_str(), mode);
}

void CreateDirectories(const std::string& directory) {
  std::string dir = directory;
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  if (dir.empty() || dir == "/") return;
  std::error_code ec;
  if (fs::is_directory(dir, ec)) return;
  const auto parent = fs::path(dir).parent_path().string();
  if (!parent.empty() && parent != dir) CreateDirectories(parent);
  fs::create_directory(dir);  // throws filesystem_error on failure
}

std::string ChangeFileExt(const std::string& path, const std::string& ext) {
  const auto slash = path.find_last_of('/');
  const auto dot = path.find_last_of('.');
  const size_t name_start = slash == std::string::npos ? 0 : slash + 1;
  if (dot == std::string::npos || dot < name_start) return path + ext;
  return path.substr(0, dot) + ext;
}

void ThrowFileOpenError(const std::string& path) {
  throw std::system_error(errno, std::generic_category(), "Cannot open file " + path);
}

}  // namespace vorncom::archive
