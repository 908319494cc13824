#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace vorncom::archive::testing {

using Bytes = std::vector<uint8_t>;

// A fresh directory removed with everything in it when the test ends.
class TempDir {
 public:
  TempDir() {
    static std::mt19937_64 rng(std::random_device{}());
    path_ = std::filesystem::temp_directory_path() / ("vorncom_archive_" + std::to_string(rng()));
    std::filesystem::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
  }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }
  std::string str() const { return path_.string() + "/"; }

 private:
  std::filesystem::path path_;
};

inline void WriteFile(const std::string& path, const Bytes& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

inline void WriteFile(const std::string& path, const std::string& text) {
  WriteFile(path, Bytes(text.begin(), text.end()));
}

inline Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::string ToString(const Bytes& b) { return std::string(b.begin(), b.end()); }

inline Bytes RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes b(n);
  for (auto& x : b) x = static_cast<uint8_t>(rng());
  return b;
}

// A read buffer that hands out at most `chunk` bytes per refill, so the readers meet every
// buffer boundary.
class ChunkedBuf : public std::streambuf {
 public:
  ChunkedBuf(const Bytes& data, size_t chunk) : data_(data), chunk_(chunk) {
    auto* base = reinterpret_cast<char*>(const_cast<uint8_t*>(data_.data()));
    setg(base, base, base);
  }

 protected:
  int_type underflow() override {
    if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
    auto* base = reinterpret_cast<char*>(const_cast<uint8_t*>(data_.data()));
    const size_t pos = static_cast<size_t>(egptr() - base);
    if (pos >= data_.size()) return traits_type::eof();
    const size_t n = std::min(chunk_, data_.size() - pos);
    setg(base, base + pos, base + pos + n);
    return traits_type::to_int_type(*gptr());
  }
  pos_type seekoff(off_type off, std::ios_base::seekdir dir, std::ios_base::openmode) override {
    auto* base = reinterpret_cast<char*>(const_cast<uint8_t*>(data_.data()));
    const off_type cur = gptr() - base;
    const off_type target = dir == std::ios_base::beg   ? off
                            : dir == std::ios_base::cur ? cur + off
                                                        : static_cast<off_type>(data_.size()) + off;
    return seekpos(pos_type(target), std::ios_base::in);
  }
  pos_type seekpos(pos_type pos, std::ios_base::openmode) override {
    const auto p = static_cast<off_type>(pos);
    if (p < 0 || p > static_cast<off_type>(data_.size())) return pos_type(off_type(-1));
    auto* base = reinterpret_cast<char*>(const_cast<uint8_t*>(data_.data()));
    setg(base, base + p, base + p);
    return pos;
  }

 private:
  const Bytes& data_;
  size_t chunk_;
};

}  // namespace vorncom::archive::testing
