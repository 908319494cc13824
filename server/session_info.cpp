#include "server/session_info.h"

#include <cmath>
#include <ctime>

#include "common/file_names.h"
#include "common/messages.h"

namespace vorncom::server {

const FormRule* SessionInfo::Rule() const {
  const auto it = context.config.forms.find({control.form_type, control.form_version});
  return it == context.config.forms.end() ? nullptr : &it->second;
}

std::string SessionInfo::ServerAddress() const {
  return context.config.server_address.empty() ? local_address : context.config.server_address;
}

std::string SessionInfo::ClientAddress() const {
  return control.client_address.empty() ? peer_address : control.client_address;
}

void SessionInfo::RequireControl() const {
  if (!control.received) throw ESessionError(std::string(msg::kSrvNoControl));
}

int64_t NowSeconds() { return static_cast<int64_t>(std::time(nullptr)); }

std::optional<int64_t> WholeBytes(double value, int64_t limit) {
  if (!(value >= 0) || value > static_cast<double>(limit) || std::floor(value) != value)
    return std::nullopt;
  return static_cast<int64_t>(value);
}

std::string BareFileName(const Variant& name) {
  std::string text;
  try {
    text = name.ToString();
  } catch (const EVariantError&) {
    throw ESessionError(std::string(msg::kSrvControlValueInvalid));
  }
  RequireBareFileName(text);
  return text;
}

void RequireBareFileName(const std::string& name) {
  if (!IsBareFileName(name)) throw ESessionError(msg::Format(msg::kSrvFileNameInvalid, {name}));
}

}  // namespace vorncom::server
