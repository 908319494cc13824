#include "package/binary_file.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace vorncom::package {

TBinaryFile::TBinaryFile(std::string file_name, uint16_t mode)
    : file_name_(std::move(file_name)), mode_(mode) {
  try {
    const auto folder = std::filesystem::path(file_name_).parent_path();
    std::error_code ignored;
    if (!folder.empty()) std::filesystem::create_directory(folder, ignored);
    if (mode_ == kModeRead) {
      std::error_code ec;
      if (std::filesystem::is_directory(file_name_, ec)) {
        throw EBinaryFileError("Cannot open file \"" + file_name_ + "\". " + std::strerror(EISDIR));
      }
      in_.open(file_name_, std::ios::binary);
      if (!in_) {
        throw EBinaryFileError("Cannot open file \"" + file_name_ + "\". " + std::strerror(errno));
      }
    } else if (mode_ == kModeCreate) {
      out_ = std::make_unique<AtomicFile>(file_name_);
    } else {
      throw EBinaryFileError("Invalid file open mode " + std::to_string(mode_));
    }
  } catch (const EBinaryFileError&) {
    throw;
  } catch (const std::exception& e) {
    throw EBinaryFileError(e.what());
  }
}

bool TBinaryFile::WriteData(const Variant& data) {
  try {
    if (!out_ || !data.IsBytes()) return false;
    const ByteArray& array = data.AsBytes();
    const int64_t upper =
        static_cast<int64_t>(array.lower_bound) + static_cast<int64_t>(array.bytes.size()) - 1;
    const size_t count = upper > 0 ? static_cast<size_t>(upper) : 0;
    if (count > array.bytes.size()) return false;
    std::ofstream out(out_->temp_path(), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(array.bytes.data()),
              static_cast<std::streamsize>(count));
    out.close();
    if (!out) return false;
    out_->Commit();
    out_.reset();
    return true;
  } catch (...) {
    return false;
  }
}

void TBinaryFile::ReadData(Variant& data) {
  if (!in_.is_open()) throw EBinaryFileError("Stream read error: file not open for reading");
  // The size of the file that was opened, not of whatever the name points to now: another
  // process may have replaced it since.
  in_.clear();
  in_.seekg(0, std::ios::end);
  const std::streamoff size = in_.tellg();
  if (size < 0) throw EBinaryFileError("Stream read error");
  ByteArray array;
  array.lower_bound = 1;
  array.bytes.resize(static_cast<size_t>(size));
  in_.seekg(0);
  in_.read(reinterpret_cast<char*>(array.bytes.data()), static_cast<std::streamsize>(size));
  if (in_.gcount() != size) throw EBinaryFileError("Stream read error");
  data = Variant(std::move(array));
}

}  // namespace vorncom::package
