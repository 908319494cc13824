#pragma once

#include "VornComClient.h"
#include "common/variant.h"

namespace vorncom::iface {

// Copies an OLE VARIANT the host passed into the library's own Variant. Texts become UTF-8;
// by-reference variants are followed; arrays keep their lower bound. Throws EVariantError on a
// type the library cannot hold (interfaces, records, multi-dimensional arrays, null pointers).
Variant FromOle(const VARIANT& v);

// Builds an OLE VARIANT from a Variant (used by tests and by hosts written in C++); the result
// owns its memory and is freed with VornComVariantClear.
void ToOle(const Variant& value, VARIANT& out);

}  // namespace vorncom::iface
