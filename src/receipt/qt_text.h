#pragma once

#include <QString>
#include <string_view>

namespace vorncom::receipt {

// A message-table text (UTF-8) as Qt shows it.
inline QString Q(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace vorncom::receipt
