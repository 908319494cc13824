#include "transfer/packet_pipeline.h"

#include <deque>
#include <vector>

#include "common/exception.h"
#include "transfer/transfer_run.h"

namespace vorncom::transfer {

using Clock = PacketWindow::Clock;

PipelineEnd UploadPackets(rpc::ReceptionServer& server, std::istream& file, int64_t offset,
                          int32_t packet_size, PacketWindow& window,
                          const PacketAcknowledged& acknowledged) {
  file.clear();
  file.seekg(offset);
  if (!file) throw Exception("cannot seek");
  // One buffer: the bytes in flight are in the kernel's send buffer, not in ours.
  Variant packet = AllocatePacket(packet_size);
  std::deque<int32_t> in_flight;  // byte counts of the calls posted, oldest first
  int64_t done = offset;
  bool file_ended = false;
  for (;;) {
    while (!file_ended && in_flight.size() < window.Limit()) {
      std::vector<uint8_t>& bytes = packet.AsBytes().bytes;
      bytes.resize(static_cast<size_t>(packet_size));
      file.read(reinterpret_cast<char*>(bytes.data()), packet_size);
      if (file.bad()) throw Exception("cannot read");
      const auto n = static_cast<int32_t>(file.gcount());
      file_ended = n < packet_size;
      if (n < 1) break;
      // The last packet carries its bytes only: the server reads `n` of them, the rest would be
      // padding on the wire.
      bytes.resize(static_cast<size_t>(n));
      server.PostDataPacket(packet, n);
      window.Posted(Clock::now());
      in_flight.push_back(n);
    }
    if (in_flight.empty()) break;
    server.CollectDataPacket();
    const int32_t n = in_flight.front();
    in_flight.pop_front();
    window.Acknowledged(n, Clock::now());
    done += n;
    // Calls still in flight are left to the connection's end: a cancelled upload is dropped.
    if (!acknowledged(done)) return PipelineEnd::kStopped;
  }
  return PipelineEnd::kComplete;
}

PipelineEnd DownloadPackets(rpc::ReceptionServer& server, std::ostream& out, int64_t offset,
                            int64_t size, int32_t packet_size, PacketWindow& window,
                            const PacketAcknowledged& acknowledged) {
  const bool pipelined = window.Limit() > 1;
  int64_t to_ask = pipelined ? size - offset : 0;  // bytes not yet asked for
  int64_t done = offset;
  size_t in_flight = 0;
  bool ended = false;  // no more calls to post
  Variant packet;
  PipelineEnd end = PipelineEnd::kComplete;
  for (;;) {
    while (!ended && in_flight < window.Limit() && (!pipelined || to_ask > 0)) {
      server.PostGetDataPacket(packet_size);
      window.Posted(Clock::now());
      ++in_flight;
      to_ask -= packet_size;
      if (!pipelined) break;
    }
    if (in_flight == 0) break;
    const int32_t n = server.CollectGetDataPacket(packet);
    --in_flight;
    if (end != PipelineEnd::kComplete) continue;  // what was in flight when the download ended
    window.Acknowledged(n > 0 ? n : 0, Clock::now());
    if (n < 1) {
      ended = true;
      if (done < size) end = PipelineEnd::kShort;
      continue;
    }
    // More than the server announced is no short read but a broken or hostile server.
    if (done + n > size) {
      ended = true;
      end = PipelineEnd::kOversized;
      continue;
    }
    const std::vector<uint8_t>& bytes = packet.AsBytes().bytes;
    if (static_cast<size_t>(n) > bytes.size()) throw Exception("short packet");
    out.write(reinterpret_cast<const char*>(bytes.data()), n);
    if (!out) throw Exception("write failed");
    done += n;
    if (!acknowledged(done)) {
      // Calls still in flight are left to the connection's end: a cancelled download is dropped.
      return PipelineEnd::kStopped;
    }
    if (n < packet_size) {
      ended = true;
      if (done < size) end = PipelineEnd::kShort;
    } else if (pipelined && done == size) {
      ended = true;
    }
  }
  return end;
}

}  // namespace vorncom::transfer
