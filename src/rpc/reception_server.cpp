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

uint8_t MapServerStatus(int32_t status, uint8_t current) {
  switch (status) {
    case 5:
    case 6:
    case 9:
      return kConnectAvailable;
    case 1:
      return 4;
    case 2:
      return 3;
    case 7:
    case 8:
      return 6;
    case 10:
      return 13;
    case 11:
      return 14;
    case 12:
      return 15;
    default:
      return current;
  }
}

}  // namespace vorncom::rpc
