#include "interface/library_state.h"
#include "interface/operations.h"
#include "package/message_table.h"

namespace vorncom::iface {

void DefineComProtocolDataOperation(const Variant& data) {
  LibraryState& s = State();
  try {
    for (int32_t i = 1; i <= 8; ++i) s.protocol_data.At(i) = data.At(i);
    // Element 14 may name the document-type message table; elements 12 and 6 are the request
    // type and version to look up. Neither is stored.
    if (data.UpperBound() != 14 || data.At(14).IsEmpty()) return;
    const auto message = package::LookupRequestMessage(
        data.At(14).ToString(), data.At(12).ToString(), data.At(6).ToString());
    if (message) s.protocol_data.At(14) = *message;
  } catch (const std::exception&) {
    // Any failure ends the call silently; the elements already copied keep their values.
  }
}

}  // namespace vorncom::iface
