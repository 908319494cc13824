#include "journal/attempt_chain.h"

#include <array>

#include "common/sha256.h"

namespace vorncom::journal {
namespace {

void AddNumber(Sha256& sha, int64_t value) {
  std::array<char, 8> bytes{};
  auto bits = static_cast<uint64_t>(value);
  for (size_t i = bytes.size(); i-- > 0; bits >>= 8) bytes[i] = static_cast<char>(bits & 0xff);
  sha.Update(std::string_view(bytes.data(), bytes.size()));
}

void AddText(Sha256& sha, std::string_view text) {
  AddNumber(sha, static_cast<int64_t>(text.size()));
  sha.Update(text);
}

}  // namespace

std::string AttemptRowHash(std::string_view previous_hash, int64_t id, const Attempt& a) {
  Sha256 sha;
  AddText(sha, previous_hash);
  AddNumber(sha, id);
  AddText(sha, a.time);
  AddText(sha, a.operation);
  AddText(sha, a.file_name);
  AddText(sha, a.sha256);
  AddText(sha, a.server);
  AddText(sha, a.tls_version);
  AddNumber(sha, a.bytes_moved);
  AddNumber(sha, a.duration_ms);
  AddNumber(sha, a.result_code);
  AddText(sha, a.server_message);
  return sha.Final();
}

}  // namespace vorncom::journal
