#include "interface/library_state.h"
#include "interface/operations.h"

namespace vorncom::iface {

uint8_t FileSentOperation(const std::string& /*package_path*/) { return 4; }

}  // namespace vorncom::iface
