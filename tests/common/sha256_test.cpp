#include "common/sha256.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "support/temp_dir.h"

namespace vorncom {
namespace {

std::string Digest(const std::string& bytes, size_t chunk) {
  Sha256 sha;
  for (size_t at = 0; at < bytes.size(); at += chunk) {
    sha.Update(std::string_view(bytes).substr(at, chunk));
  }
  return sha.Final();
}

// Published vectors, fed whole and in pieces that straddle the 64-byte blocks.
TEST(Sha256, KnownVectorsInAnyPieces) {
  const struct {
    std::string input;
    const char* digest;
  } rows[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000000, 'a'),
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const auto& row : rows) {
    for (const size_t chunk : {size_t{1000000}, size_t{1}, size_t{63}, size_t{4097}}) {
      if (chunk == 1 && row.input.size() > 1000) continue;
      EXPECT_EQ(Digest(row.input, chunk), row.digest) << row.input.size() << " in " << chunk;
    }
  }
}

// The file is read in pieces smaller than itself; its digest is that of its bytes.
TEST(Sha256, FileDigestIsTheDigestOfItsBytes) {
  testing::TempDir dir;
  std::mt19937 random(7);
  std::string bytes(200 * 1024 + 13, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  EXPECT_EQ(Sha256OfFile(dir.Write("p.qev", bytes)), Digest(bytes, bytes.size()));
  EXPECT_EQ(Sha256OfFile(dir.Write("empty", "")), Digest("", 1));
  EXPECT_THROW(Sha256OfFile(dir / "missing"), EDigestError);
  EXPECT_THROW(Sha256OfFile(dir.path()), EDigestError);
}

}  // namespace
}  // namespace vorncom
