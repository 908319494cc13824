#include "common/sha256.h"

#include <openssl/evp.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "common/messages.h"

namespace vorncom {

struct Sha256::Context {
  struct Free {
    void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
  };
  std::unique_ptr<EVP_MD_CTX, Free> ctx{EVP_MD_CTX_new()};
};

Sha256::Sha256() : context_(std::make_unique<Context>()) {
  if (!context_->ctx || EVP_DigestInit_ex(context_->ctx.get(), EVP_sha256(), nullptr) != 1) {
    throw EDigestError(std::string(msg::kDigestFailed));
  }
}

Sha256::~Sha256() = default;

void Sha256::Update(std::span<const std::byte> bytes) {
  if (finished_) throw std::logic_error("SHA-256 updated after Final");
  if (EVP_DigestUpdate(context_->ctx.get(), bytes.data(), bytes.size()) != 1) {
    throw EDigestError(std::string(msg::kDigestFailed));
  }
}

void Sha256::Update(std::string_view bytes) { Update(std::as_bytes(std::span(bytes))); }

std::string Sha256::Final() {
  if (finished_) throw std::logic_error("SHA-256 finished twice");
  finished_ = true;
  std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(context_->ctx.get(), digest.data(), &length) != 1 || length != 32) {
    throw EDigestError(std::string(msg::kDigestFailed));
  }
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(2 * length);
  for (unsigned int i = 0; i < length; ++i) {
    hex += kHex[digest[i] >> 4];
    hex += kHex[digest[i] & 0xf];
  }
  return hex;
}

std::string Sha256OfFile(const std::string& path) {
  struct Close {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  const std::unique_ptr<std::FILE, Close> file(std::fopen(path.c_str(), "rb"));
  if (!file)
    throw EDigestError(msg::Format(msg::kDigestFileUnreadable, {path, std::strerror(errno)}));
  Sha256 sha;
  std::array<std::byte, 64 * 1024> buffer;
  while (const size_t got = std::fread(buffer.data(), 1, buffer.size(), file.get())) {
    sha.Update(std::span(buffer.data(), got));
  }
  if (std::ferror(file.get()))
    throw EDigestError(msg::Format(msg::kDigestFileUnreadable, {path, std::strerror(errno)}));
  return sha.Final();
}

}  // namespace vorncom
