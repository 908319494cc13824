#pragma once

#include <string_view>

namespace vorncom {

// True for a name without folders that stays inside any folder it is joined to: not empty, not
// "." or "..", at most 255 bytes, and free of '/', '\\', ':' and NUL. A peer names files it sends
// or asks for this way, and nothing else may reach a path.
bool IsBareFileName(std::string_view name);

}  // namespace vorncom
