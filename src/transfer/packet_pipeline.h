#pragma once

#include <cstdint>
#include <functional>
#include <istream>
#include <ostream>

#include "rpc/reception_server.h"
#include "transfer/packet_window.h"

namespace vorncom::transfer {

// Called after each acknowledged packet with the bytes now done; false stops posting (Cancel).
using PacketAcknowledged = std::function<bool(int64_t done)>;

enum class PipelineEnd : uint8_t {
  kComplete,   // every byte moved
  kStopped,    // the caller said stop; calls may still be in flight: drop the connection
  kShort,      // download: the server ended before the size it announced
  kOversized,  // download: the server sent more than it announced
};

// Sends `file` from byte `offset` on in packets of `packet_size` through `server`'s pipeline,
// as many in flight as `window` allows, in one packet buffer. The upload ends with the first
// packet shorter than the packet size, or without one when the file ends on a packet boundary,
// as a version-1 server expects. Throws what a packet call threw (the upload is then lost on
// this connection) and Exception when the file cannot be read.
PipelineEnd UploadPackets(rpc::ReceptionServer& server, std::istream& file, int64_t offset,
                          int32_t packet_size, PacketWindow& window,
                          const PacketAcknowledged& acknowledged);

// Fetches the bytes from `offset` up to `size` into `out`, the replies decoded one at a time. A
// pipelined session asks for exactly the packets that cover the size; a version-1 session asks
// one packet at a time until one comes back short or empty, as it always did. Throws what a
// packet call threw and Exception when `out` cannot be written.
PipelineEnd DownloadPackets(rpc::ReceptionServer& server, std::ostream& out, int64_t offset,
                            int64_t size, int32_t packet_size, PacketWindow& window,
                            const PacketAcknowledged& acknowledged);

}  // namespace vorncom::transfer
