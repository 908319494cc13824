#include "archive/coder_state.h"

#include <climits>

#include "archive/coders.h"

namespace vorncom::archive {
namespace {

void RunCoder(ByteLayer& io, const TCoderState::Run& run) {
  using M = TCompressMethod;
  switch (run.method) {
    case M::cmNone:
      run.expand ? DecodeStored(io) : EncodeStored(io);
      break;
    case M::cmRLE:
      run.expand ? DecodeRle(io) : EncodeRle(io);
      break;
    case M::cmLZH:
      run.expand ? DecodeLzh(io, run.count) : EncodeLzh(io);
      break;
    case M::cmLH5:
      run.expand ? DecodeLh5(io, run.count) : EncodeLh5(io);
      break;
    case M::cmCustom:
      break;
  }
}

}  // namespace

int64_t TCoderState::Process(std::ostream& dest, std::istream& source, const Run& run,
                             uint32_t& checksum) {
  checksum = 0;
  if (run.progress) {
    int percent = 0;
    run.progress(percent);
    if (percent == -1) return 0;
  }

  ByteLayer::Options options;
  options.input_size = run.input_size;
  options.budget = run.expand ? run.count : run.input_size;
  options.expanding = run.expand;
  options.key = static_cast<uint32_t>(run.key);
  options.xor_on_write = !run.expand && run.key > 0;
  options.xor_on_read = run.expand && run.locked;
  options.progress = run.progress;

  struct Release {
    std::optional<ByteLayer>& io;
    ~Release() { io.reset(); }
  } release{io_};
  ByteLayer& io = io_.emplace(source, dest, std::move(options));

  if (static_cast<int>(run.method) < kMethodCount) RunCoder(io, run);
  checksum = run.expand ? io.write_sum() : io.read_sum();
  io.Flush();
  const int64_t written = io.bytes_written();
  io_.reset();

  if (run.progress) {
    int percent = 100;
    run.progress(percent);
  }
  return written;
}

}  // namespace vorncom::archive
