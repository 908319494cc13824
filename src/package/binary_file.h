#pragma once

#include <cstdint>
#include <fstream>
#include <memory>
#include <string>

#include "common/atomic_file.h"
#include "common/exception.h"
#include "common/variant.h"

namespace vorncom::package {

// Raised when a binary file cannot be opened or created (with the message of the underlying
// failure), and by ReadData when the file's bytes cannot all be read.
VORNCOM_EXCEPTION(EBinaryFileError);

// A whole file moved in and out of a byte array (Variant holding a ByteArray).
class TBinaryFile {
 public:
  // Opens an existing file for reading.
  static constexpr uint16_t kModeRead = 16;
  // Replaces the file (creating it when missing) with what WriteData writes.
  static constexpr uint16_t kModeCreate = 65535;

  // Creates the last level of the file's folder when missing (failure not reported), then opens
  // the file in `mode`. In kModeCreate the new content goes to a temporary file in the same
  // folder and replaces the file only when WriteData succeeds; a file opened that way and closed
  // without a successful WriteData keeps its old content. Throws EBinaryFileError when the file
  // cannot be opened or created, or the mode is neither of the two.
  TBinaryFile(std::string file_name, uint16_t mode);

  // Writes as many bytes as the array's upper bound, starting with its first element: N bytes
  // for bounds 1..N and for bounds 0..N alike. Answers false, writing nothing, on any failure:
  // no byte array, an upper bound beyond the elements held, a file not opened for writing, or an
  // I/O error.
  bool WriteData(const Variant& data);

  // Fills `data` with the file's bytes as an array with bounds 1..size. Throws EBinaryFileError
  // when the file is not open for reading or fewer bytes than its size can be read.
  void ReadData(Variant& data);

  const std::string& file_name() const { return file_name_; }

 private:
  std::string file_name_;
  uint16_t mode_;
  std::ifstream in_;
  std::unique_ptr<AtomicFile> out_;
};

}  // namespace vorncom::package
