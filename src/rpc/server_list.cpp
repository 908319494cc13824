#include "rpc/server_list.h"

#include <cstring>
#include <string>

#include "common/cp1252.h"
#include "common/messages.h"

namespace vorncom::rpc {

namespace {

enum Tag : uint8_t {
  kEnd = 0,
  kItem = 1,
  kInt8 = 2,
  kInt16 = 3,
  kInt32 = 4,
  kShortString = 6,
  kFalse = 8,
  kTrue = 9,
  kLongString = 12,
  kCollection = 14,
};

constexpr char kComputerName[] = "ComputerName";
constexpr char kPort[] = "Port";
constexpr char kEnabled[] = "Enabled";

void PutName(std::vector<uint8_t>& out, std::string_view name) {
  out.push_back(static_cast<uint8_t>(name.size()));
  out.insert(out.end(), name.begin(), name.end());
}

void PutLittleEndian(std::vector<uint8_t>& out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void PutInteger(std::vector<uint8_t>& out, int32_t value) {
  if (value >= INT8_MIN && value <= INT8_MAX) {
    out.push_back(kInt8);
    PutLittleEndian(out, static_cast<uint32_t>(value), 1);
  } else if (value >= INT16_MIN && value <= INT16_MAX) {
    out.push_back(kInt16);
    PutLittleEndian(out, static_cast<uint32_t>(value), 2);
  } else {
    out.push_back(kInt32);
    PutLittleEndian(out, static_cast<uint32_t>(value), 4);
  }
}

void PutString(std::vector<uint8_t>& out, const std::string& utf8) {
  const std::string text = Utf8ToCp1252(utf8);
  if (text.size() < 256) {
    out.push_back(kShortString);
    out.push_back(static_cast<uint8_t>(text.size()));
  } else {
    out.push_back(kLongString);
    PutLittleEndian(out, static_cast<uint32_t>(text.size()), 4);
  }
  out.insert(out.end(), text.begin(), text.end());
}

// Bounds-checked reading of the stream; every overrun is a truncated list.
class Reader {
 public:
  explicit Reader(std::span<const uint8_t> bytes) : bytes_(bytes) {}

  uint8_t Byte() {
    Need(1);
    return bytes_[pos_++];
  }
  uint8_t Peek() {
    Need(1);
    return bytes_[pos_];
  }
  uint32_t LittleEndian(int count) {
    Need(static_cast<size_t>(count));
    uint32_t value = 0;
    for (int i = 0; i < count; ++i) value |= static_cast<uint32_t>(bytes_[pos_++]) << (8 * i);
    return value;
  }
  std::string Chars(size_t count) {
    Need(count);
    std::string s(reinterpret_cast<const char*>(bytes_.data() + pos_), count);
    pos_ += count;
    return s;
  }

 private:
  void Need(size_t count) const {
    if (bytes_.size() - pos_ < count)
      throw EServerListError(std::string(msg::kServerListTruncated));
  }
  std::span<const uint8_t> bytes_;
  size_t pos_ = 0;
};

bool IsIntegerTag(uint8_t tag) { return tag == kInt8 || tag == kInt16 || tag == kInt32; }

int32_t ReadInteger(Reader& in, uint8_t tag) {
  switch (tag) {
    case kInt8:
      return static_cast<int8_t>(in.LittleEndian(1));
    case kInt16:
      return static_cast<int16_t>(in.LittleEndian(2));
    case kInt32:
      return static_cast<int32_t>(in.LittleEndian(4));
  }
  throw EServerListError(std::string(msg::kServerListIntegerExpected));
}

std::string ReadString(Reader& in, uint8_t tag) {
  if (tag == kShortString) return Cp1252ToUtf8(in.Chars(in.Byte()));
  if (tag == kLongString) return Cp1252ToUtf8(in.Chars(in.LittleEndian(4)));
  throw EServerListError(std::string(msg::kServerListTextExpected));
}

bool ReadBoolean(uint8_t tag) {
  if (tag == kFalse) return false;
  if (tag == kTrue) return true;
  throw EServerListError(std::string(msg::kServerListBooleanExpected));
}

ServerItem ReadItem(Reader& in) {
  ServerItem item;
  for (uint8_t length = in.Byte(); length != kEnd; length = in.Byte()) {
    const std::string name = in.Chars(length);
    const uint8_t tag = in.Byte();
    // Property names resolve without regard to case, as the streaming system that wrote them does.
    if (EqualsIgnoreCase(name, kComputerName)) {
      item.computer_name = ReadString(in, tag);
    } else if (EqualsIgnoreCase(name, kPort)) {
      item.port = ReadInteger(in, tag);
    } else if (EqualsIgnoreCase(name, kEnabled)) {
      item.enabled = ReadBoolean(tag);
    } else {
      throw EServerListError(msg::Format(msg::kServerListUnknownProperty, {Cp1252ToUtf8(name)}));
    }
  }
  return item;
}

}  // namespace

std::vector<uint8_t> EncodeServerList(const std::vector<ServerItem>& servers) {
  std::vector<uint8_t> out{kCollection};
  for (const ServerItem& server : servers) {
    out.push_back(kItem);
    if (!server.computer_name.empty()) {
      PutName(out, kComputerName);
      PutString(out, server.computer_name);
    }
    if (server.port != ServerItem{}.port) {
      PutName(out, kPort);
      PutInteger(out, server.port);
    }
    if (!server.enabled) {
      PutName(out, kEnabled);
      out.push_back(kFalse);
    }
    out.push_back(kEnd);
  }
  out.push_back(kEnd);
  return out;
}

std::vector<ServerItem> DecodeServerList(std::span<const uint8_t> bytes, size_t max_servers) {
  Reader in(bytes);
  if (in.Byte() != kCollection) throw EServerListError(std::string(msg::kServerListInvalid));
  std::vector<ServerItem> servers;
  for (;;) {
    uint8_t tag = in.Byte();
    if (tag == kEnd) break;
    if (IsIntegerTag(tag)) {
      ReadInteger(in, tag);
      tag = in.Byte();
    }
    if (tag != kItem) throw EServerListError(std::string(msg::kServerListInvalid));
    if (servers.size() == max_servers) {
      throw EServerListError(
          msg::Format(msg::kServerListTooManyServers, {std::to_string(max_servers)}));
    }
    servers.push_back(ReadItem(in));
  }
  return servers;
}

}  // namespace vorncom::rpc
