// The commands that work on any archive: list, add, extract, test.
#include <sys/stat.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <sstream>
#include <system_error>

#include "archive/archive_check.h"
#include "archive/archive_io.h"
#include "archive/archiver.h"
#include "archive/file_system.h"
#include "archive/qev_compress.h"
#include "archive/stored_names.h"
#include "archive_options.h"
#include "command_table.h"
#include "common/exception.h"
#include "terminal_progress.h"

namespace vornpkg {
namespace {

namespace fs = std::filesystem;
using namespace vorncom::archive;

// Runs `body`, turning every failure into a message and exit status 1.
template <typename Body>
int Guarded(const std::string& archive, Body body) {
  try {
    return body();
  } catch (const vorncom::Exception& e) {
    PrintError(archive + ": " + e.what());
  } catch (const std::system_error& e) {
    PrintError(e.what());
  } catch (const std::exception& e) {
    PrintError(archive + ": " + e.what());
  }
  return kExitFailed;
}

std::string FormatDosDateTime(int32_t dos) {
  const std::time_t t = TimeFromDosDateTime(dos);
  if (t == -1) return "-";
  std::tm tm{};
  localtime_r(&t, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &tm);
  return text;
}

std::string Ratio(int32_t size, int32_t stored) {
  if (size <= 0) return "-";
  std::ostringstream s;
  s << (static_cast<int64_t>(stored) * 100 + size / 2) / size << "%";
  return s.str();
}

// The header's method id, or "" for an archive too short to have one.
std::string HeaderId(const std::string& archive) {
  std::ifstream in(archive, std::ios::binary);
  if (!in) ThrowFileOpenError(archive);
  ArchiveReader reader(in);
  const auto header = reader.ReadHeader();
  return header ? header->method_id : std::string();
}

int List(const Invocation& inv) {
  const std::string& archive = inv.positional[0];
  return Guarded(archive, [&] {
    TArchiver archiver;
    std::vector<ScannedEntry> entries;
    archiver.ScanArchiveFile(archive, entries);
    if (!inv.Has("-v")) {
      for (const auto& e : entries) std::cout << e.name << "\n";
      return kExitOk;
    }
    const std::string id = HeaderId(archive);
    std::cout << "Archive " << archive << ", method " << (id.empty() ? "-" : id) << "\n";
    std::cout << std::setw(10) << "Size" << std::setw(10) << "Stored"
              << "  Method  Ratio"
              << "  Checksum  Lock    Date              Name\n";
    int64_t total = 0, stored = 0;
    for (const auto& e : entries) {
      const auto& i = e.info;
      std::cout << std::setw(10) << i.size << std::setw(10) << i.stored_size << "  " << std::left
                << std::setw(6) << MethodName(i.method) << std::right << std::setw(7)
                << Ratio(i.size, i.stored_size) << "  " << std::hex << std::setfill('0')
                << std::setw(8) << static_cast<uint32_t>(i.checksum) << std::dec
                << std::setfill(' ') << "  " << (i.locked ? "locked" : "-     ") << "  "
                << std::left << std::setw(16) << FormatDosDateTime(i.date_time) << std::right
                << "  " << e.name << "\n";
      total += i.size;
      stored += i.stored_size;
    }
    std::cout << std::setw(10) << total << std::setw(10) << stored << "  " << std::setw(13)
              << Ratio(static_cast<int32_t>(std::min<int64_t>(total, INT32_MAX)),
                       static_cast<int32_t>(std::min<int64_t>(stored, INT32_MAX)))
              << "  " << entries.size() << (entries.size() == 1 ? " entry" : " entries") << "\n";
    return kExitOk;
  });
}

int Add(const Invocation& inv) {
  const std::string& archive = inv.positional[0];
  TCompressMethod method = TCompressMethod::cmLH5;
  if (const auto text = inv.Value("--method")) {
    const auto parsed = ParseMethod(*text);
    if (!parsed) {
      PrintError("unknown method '" + *text + "': use none, rle, lzh or lh5");
      return kExitUsage;
    }
    method = *parsed;
  }
  int32_t key = 0;
  if (!KeyOption(inv, key)) return kExitUsage;
  std::vector<std::string> files(inv.positional.begin() + 1, inv.positional.end());
  for (const auto& f : files) {
    std::error_code ec;
    if (!fs::is_regular_file(f, ec)) {
      PrintError(f + ": not a regular file");
      return kExitFailed;
    }
  }
  return Guarded(archive, [&] {
    TArchiver archiver;
    archiver.Key = key;
    archiver.ExceptionOnFileError = true;
    TerminalProgress progress;
    archiver.OnCheckFile = [&](std::string& name, TCProcessMode) {
      name = FileNamePart(name);
      progress.Begin(name);
    };
    archiver.OnShowProgress = [&](int& percent) { progress.Update(percent); };
    archiver.CompressFiles(archive, files, method);

    std::vector<ScannedEntry> entries;
    archiver.ScanArchiveFile(archive, entries);
    for (size_t i = 0; i < files.size() && i < entries.size(); ++i) {
      const auto& info = entries[i].info;
      std::cout << "added " << entries[i].name << ": " << info.size << " -> " << info.stored_size
                << " bytes (" << MethodName(info.method) << ")" << (info.locked ? ", locked" : "")
                << "\n";
    }
    return kExitOk;
  });
}

int Extract(const Invocation& inv) {
  const std::string& archive = inv.positional[0];
  const std::string directory = inv.positional.size() > 1 ? inv.positional[1] : ".";
  int32_t key = 0;
  if (!KeyOption(inv, key)) return kExitUsage;
  return Guarded(archive, [&] {
    std::ifstream in(archive, std::ios::binary);
    if (!in) ThrowFileOpenError(archive);
    TArchiver archiver;
    archiver.Key = key;
    archiver.MakeDirectories = true;
    archiver.ExceptionOnFileError = true;
    TqevCompress safe;
    safe.directory = directory;
    TerminalProgress progress;
    int refused = 0;
    archiver.OnCheckFile = [&](std::string& path, TCProcessMode mode) {
      const std::string stored = path;
      safe.CheckFile(path, mode);
      if (path.empty()) {
        PrintError("refused " + stored + ": the name leaves the target folder");
        ++refused;
        return;
      }
      std::cout << "extracting " << path << "\n";
      progress.Begin(FileNamePart(path));
    };
    archiver.OnShowProgress = [&](int& percent) { progress.Update(percent); };
    std::vector<std::string> all;
    std::vector<ScannedEntry> entries;
    archiver.ScanArchive(in, entries);
    for (const auto& e : entries) all.push_back(e.name);
    in.clear();
    in.seekg(0);
    archiver.ExpandFiles(in, &all);
    std::cout << all.size() << (all.size() == 1 ? " file" : " files") << " extracted to "
              << directory << "\n";
    // Expansion ends where the header's total is reached; what lies beyond is only listed.
    const size_t unreached = entries.size() - all.size() - static_cast<size_t>(refused);
    if (unreached > 0)
      std::cout << unreached << (unreached == 1 ? " entry lies" : " entries lie")
                << " beyond the archive's recorded total size and "
                << (unreached == 1 ? "was" : "were") << " not extracted\n";
    return refused == 0 ? kExitOk : kExitFailed;
  });
}

int Test(const Invocation& inv) {
  const std::string& archive = inv.positional[0];
  int32_t key = 0;
  if (!KeyOption(inv, key)) return kExitUsage;
  return Guarded(archive, [&] {
    TerminalProgress progress;
    ArchiveCheckOptions options;
    options.key = key;
    options.progress = [&](int& percent) { progress.Update(percent); };
    options.on_entry = [&](const std::string& name) { progress.Begin(name); };
    options.on_result = [](const std::string& name, const std::string& error) {
      if (error.empty()) {
        std::cout << "ok      " << name << "\n";
      } else {
        std::cout << "FAILED  " << name << ": " << error << "\n";
      }
    };
    const ArchiveCheck check = CheckArchiveFile(archive, options);
    if (!check.has_header) {
      std::cout << "no entries\n";
      return kExitOk;
    }
    int64_t failed = check.failed;
    if (check.incomplete_tail > 0) {
      ++failed;
      std::cout << "FAILED  " << check.incomplete_tail
                << " bytes at the end hold no complete entry\n";
    }
    std::cout << check.entries << (check.entries == 1 ? " entry" : " entries") << " tested, "
              << failed << " failed\n";
    return failed == 0 ? kExitOk : kExitFailed;
  });
}

const CommandRegistrar kList({
    .name = "list",
    .usage = "list [-v] ARCHIVE",
    .summary = "List the entries; -v adds sizes, method, ratio, checksum, lock and date.",
    .details = "",
    .value_options = {},
    .flag_options = {"-v"},
    .min_positional = 1,
    .max_positional = 1,
    .run = List,
});

const CommandRegistrar kAdd({
    .name = "add",
    .usage = "add ARCHIVE FILE... [--method none|rle|lzh|lh5] [--key N]",
    .summary = "Add files under their bare names, creating or updating the archive.",
    .details = "  --method M  coding method (default lh5); files that do not shrink are stored\n"
               "  --key N     lock the new entries with key N (1..2147483647)\n"
               "An existing archive is rebuilt in a temporary file and replaced only when\n"
               "complete; entries of the same name (ignoring A-Z case) are replaced.\n",
    .value_options = {"--method", "--key"},
    .flag_options = {},
    .min_positional = 2,
    .max_positional = SIZE_MAX,
    .run = Add,
});

const CommandRegistrar kExtract({
    .name = "extract",
    .usage = "extract ARCHIVE [DIR] [--key N]",
    .summary = "Extract every entry into DIR (default: the current folder).",
    .details = "  --key N  key of locked entries\n"
               "Names that would leave DIR are refused (exit status 1).\n",
    .value_options = {"--key"},
    .flag_options = {},
    .min_positional = 1,
    .max_positional = 2,
    .run = Extract,
});

const CommandRegistrar kTest({
    .name = "test",
    .usage = "test ARCHIVE [--key N]",
    .summary = "Expand every entry without writing it and check its checksum.",
    .details = "  --key N  key of locked entries\n"
               "Exit status 0 when every entry is sound, 1 otherwise.\n",
    .value_options = {"--key"},
    .flag_options = {},
    .min_positional = 1,
    .max_positional = 1,
    .run = Test,
});

}  // namespace
}  // namespace vornpkg
