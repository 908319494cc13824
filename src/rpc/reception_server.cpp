#include "rpc/reception_server.h"

namespace vorncom::rpc {

Variant BuildControlPacket(const std::string& form_type, const std::string& form_version,
                           const std::string& file_name, double file_size, Operation operation,
                           const std::string& local_address) {
  Variant packet = Variant::Array(1, 6);
  packet.At(1) = form_type;
  packet.At(2) = form_version;
  packet.At(3) = file_name;
  packet.At(4) = file_size;
  packet.At(5) = static_cast<int32_t>(operation);
  packet.At(6) = local_address;
  return packet;
}

bool IsAvailableStatus(int32_t status) { return status == 5 || status == 6 || status == 9; }

}  // namespace vorncom::rpc
