// The server's package check: it proves every entry without writing any to disk.
#include "server/package_check.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "archive/archive_io.h"
#include "server_fixture.h"

namespace vorncom::testing {
namespace {

// Appends a record (and `stored` bytes after the name, unless `record_only`).
void Append(const std::string& package, const std::string& name, int32_t size,
            const std::string& stored, bool record_only = false) {
  archive::EntryRecord r;
  r.name_length = static_cast<int16_t>(name.size());
  r.size = size;
  r.stored_size = static_cast<int32_t>(stored.size());
  r.method = static_cast<uint8_t>(archive::TCompressMethod::cmLH5);
  const auto bytes = archive::EncodeRecord(r);
  std::ofstream out(package, std::ios::binary | std::ios::app);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!record_only) out << name << stored;
}

TEST(PackageCheck, ProvesEveryEntryInMemoryAndRefusesBombsFromTheirRecords) {
  const TempFolder folder;
  const uint64_t limit = 50 << 20;
  struct Case {
    const char* what;
    void (*damage)(const std::string& package);
    const char* reason;  // "" for a sound package
  } cases[] = {
      {"sound", [](const std::string&) {}, ""},
      {"1 GiB bomb",
       [](const std::string& p) { Append(p, "bomba.bin", 1 << 30, std::string(300, '\0')); },
       "more than the limit of 52428800 bytes"},
      {"cut after a record", [](const std::string& p) { Append(p, "x", 10, "", true); },
       "25 bytes at the end hold no complete entry"},
      {"record longer than its data",
       [](const std::string& p) { Append(p, "vazio.bin", 1000, ""); }, "vazio.bin: Bad checksum"},
      {"huge header.cfg claim",
       [](const std::string& p) { Append(p, "header.cfg", 2 << 20, std::string(40, '\0')); },
       "Entry header.cfg claims 2097152 bytes"},
  };
  for (const Case& c : cases) {
    const std::string package = MakePackage(folder.path().string(), "PACOTE.ZIP", 5000, 7);
    c.damage(package);
    server::PackageHeader header;
    std::string reason;
    const bool valid = server::InspectPackage(package, limit, header, reason);
    EXPECT_EQ(valid, std::string(c.reason).empty()) << c.what << ": " << reason;
    EXPECT_NE(reason.find(c.reason), std::string::npos) << c.what << ": " << reason;
    if (valid) {
      EXPECT_EQ(header.request_type, "IRPF");
      EXPECT_EQ(header.agency_id, "V7");
    }
    // Nothing but the package itself: no scratch folder, no expanded entry.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()),
                            std::filesystem::directory_iterator()),
              1)
        << c.what;
    std::filesystem::remove(package);
  }
}

}  // namespace
}  // namespace vorncom::testing
