#pragma once

// The state of one coding run (one entry): the byte layer with its buffers, checksums and key
// lock. The coders keep their method state in their own frames, so nothing outlives a run and
// each entry decodes alone. Separate instances may run in separate threads.

#include <cstdint>
#include <iosfwd>
#include <optional>

#include "archive/byte_layer.h"
#include "archive/format.h"

namespace vorncom::archive {

class TCoderState {
 public:
  struct Run {
    bool expand = false;
    bool locked = false;  // expanding an entry whose lock flag is 2: XOR what is read
    TCompressMethod method = TCompressMethod::cmNone;
    // Expanding: the uncompressed size. The LZ decoders stop there; no method writes more.
    int64_t count = 0;
    int64_t input_size = 0;  // compressing: source size; expanding: stored size
    int32_t key = 0;         // positive keys lock what is written
    ProgressHandler progress;
  };

  // Codes `run.input_size` bytes of `source` into `dest`; returns the bytes written and sets
  // `checksum` to the byte sum of the uncompressed side. cmCustom and unknown methods code
  // nothing. A progress handler answering -1 to the first call ends the run before either stream
  // is touched. Throws EUnableToCompress when compressed output would outgrow the input,
  // ESizeMismatch when expanded output would pass `count` or a decoder runs out of input,
  // ELZHBadDecodeTable from the LH5 decoder and std::ios_base::failure on write errors; the
  // buffers are released on every exit.
  int64_t Process(std::ostream& dest, std::istream& source, const Run& run, uint32_t& checksum);

 private:
  std::optional<ByteLayer> io_;
};

}  // namespace vorncom::archive
