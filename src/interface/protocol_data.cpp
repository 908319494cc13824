#include "interface/library_state.h"
#include "interface/operations.h"

namespace vorncom::iface {

void DefineComProtocolDataOperation(const Variant& data) {
  LibraryState& s = State();
  try {
    for (int32_t i = 1; i <= 8; ++i) s.protocol_data.At(i) = data.At(i);
  } catch (const std::exception&) {
    // Any failure ends the call silently; the elements already copied keep their values.
  }
}

}  // namespace vorncom::iface
