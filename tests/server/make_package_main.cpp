// Writes a form package for tests written in other languages:
//   vorncom_make_test_package OUTPUT DATA_SIZE SEED
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "server_fixture.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s OUTPUT DATA_SIZE SEED\n", argv[0]);
    return 2;
  }
  const std::filesystem::path out = std::filesystem::absolute(argv[1]);
  try {
    vorncom::testing::MakePackage(out.parent_path().string(), out.filename().string(),
                                  std::strtoul(argv[2], nullptr, 10),
                                  static_cast<uint32_t>(std::strtoul(argv[3], nullptr, 10)));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}
