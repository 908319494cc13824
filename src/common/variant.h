#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "common/date_time.h"
#include "common/exception.h"

namespace vorncom {

class Variant;

// A byte array with its lower bound (the by-reference packet buffers of the remote calls).
struct ByteArray {
  int32_t lower_bound = 0;
  std::vector<uint8_t> bytes;
  friend bool operator==(const ByteArray&, const ByteArray&) = default;
};

// A one-dimensional variant array with its lower bound (ProtocolData has bounds 1..14).
struct VariantArray {
  int32_t lower_bound = 0;
  std::vector<Variant> items;
  bool operator==(const VariantArray&) const;
};

// The value type of the library's variants. Texts are UTF-8. Conversions follow the library's
// date and time formats; failed conversions raise EVariantError.
class Variant {
 public:
  enum class Type { kEmpty, kNull, kBoolean, kInteger, kDouble, kDate, kString, kBytes, kArray };

  Variant() = default;
  Variant(bool v) : value_(v) {}
  Variant(int32_t v) : value_(v) {}
  Variant(double v) : value_(v) {}
  Variant(OleDate v) : value_(v) {}
  Variant(std::string v) : value_(std::move(v)) {}
  Variant(const char* v) : value_(std::string(v)) {}
  Variant(ByteArray v) : value_(std::move(v)) {}
  Variant(VariantArray v) : value_(std::move(v)) {}

  static Variant Null();
  // An array of `count` empty elements with bounds lower..lower+count-1.
  static Variant Array(int32_t lower_bound, size_t count);

  Type type() const;
  bool IsEmpty() const { return type() == Type::kEmpty; }
  bool IsNull() const { return type() == Type::kNull; }
  bool IsArray() const { return type() == Type::kArray; }
  bool IsBytes() const { return type() == Type::kBytes; }
  bool IsString() const { return type() == Type::kString; }
  // Empty or Null: the values that "not given" means in argument checks.
  bool IsEmptyOrNull() const { return IsEmpty() || IsNull(); }

  // Conversions. ToString: Empty/Null give "", booleans "True"/"False", doubles use ',' as the
  // decimal separator (the host's Brazilian locale). ToInteger rounds doubles half to even and
  // parses texts; ToBoolean treats non-zero numbers and "True"/"False" texts (any case).
  std::string ToString() const;
  int32_t ToInteger() const;
  double ToDouble() const;
  bool ToBoolean() const;
  OleDate ToDate() const;

  // Direct access; raise EVariantError when the variant holds another type.
  const std::string& AsString() const;
  const ByteArray& AsBytes() const;
  ByteArray& AsBytes();
  const VariantArray& AsArray() const;
  VariantArray& AsArray();

  // Array bounds and elements by index within the bounds; EVariantError outside them or when
  // the variant is no array.
  int32_t LowerBound() const;
  int32_t UpperBound() const;
  const Variant& At(int32_t index) const;
  Variant& At(int32_t index);

  bool operator==(const Variant& other) const { return value_ == other.value_; }

 private:
  struct NullTag {
    friend bool operator==(NullTag, NullTag) { return true; }
  };
  using Storage = std::variant<std::monostate, NullTag, bool, int32_t, double, OleDate, std::string,
                               ByteArray, VariantArray>;
  Storage value_;
};

// Formats a double as the host's locale would print it: shortest of up to 15 significant digits,
// ',' as decimal separator, no exponent for ordinary magnitudes.
std::string FormatDouble(double value);

}  // namespace vorncom
