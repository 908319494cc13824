#include "transfer/package_digest.h"

#include <openssl/evp.h>

#include <fstream>
#include <memory>
#include <vector>

#include "common/exception.h"
#include "common/messages.h"

namespace vorncom::transfer {

std::string FileSha256(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) throw Exception(msg::Format(msg::kCannotOpenFile, {path}));
  const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                        &EVP_MD_CTX_free);
  if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) {
    throw Exception("SHA-256 indisponível");
  }
  std::vector<char> buffer(1 << 16);
  while (file) {
    file.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    if (file.bad()) throw Exception(msg::Format(msg::kCannotOpenFile, {path}));
    if (file.gcount() > 0) {
      EVP_DigestUpdate(context.get(), buffer.data(), static_cast<size_t>(file.gcount()));
    }
  }
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_DigestFinal_ex(context.get(), digest, &length);
  static constexpr char kHex[] = "0123456789abcdef";
  std::string text;
  for (unsigned int i = 0; i < length; ++i) {
    text += kHex[digest[i] >> 4];
    text += kHex[digest[i] & 0x0f];
  }
  return text;
}

}  // namespace vorncom::transfer
