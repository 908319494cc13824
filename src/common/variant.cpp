#include "common/variant.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "common/cp1252.h"
#include "common/text.h"

namespace vorncom {

bool VariantArray::operator==(const VariantArray& other) const {
  return lower_bound == other.lower_bound && items == other.items;
}

Variant Variant::Null() {
  Variant v;
  v.value_ = NullTag{};
  return v;
}

Variant Variant::Array(int32_t lower_bound, size_t count) {
  VariantArray array;
  array.lower_bound = lower_bound;
  array.items.resize(count);
  return Variant(std::move(array));
}

Variant::Type Variant::type() const { return static_cast<Type>(value_.index()); }

std::string FormatDouble(double value) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value > 0 ? "INF" : "-INF";
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.15G", value);
  std::string s(buf);
  for (char& c : s) {
    if (c == '.') c = ',';
  }
  return s;
}

namespace {

[[noreturn]] void Fail(const char* what) { throw EVariantError(what); }

std::string Trim(std::string_view s) { return std::string(TrimBlanks(s)); }

double ParseNumber(const std::string& text) {
  std::string s = Trim(text);
  for (char& c : s) {
    if (c == ',') c = '.';
  }
  if (s.empty()) Fail("Could not convert variant of type (String) into type (Double)");
  char* end = nullptr;
  errno = 0;
  const double v = std::strtod(s.c_str(), &end);
  if (end != s.c_str() + s.size() || errno == ERANGE) {
    Fail("Could not convert variant of type (String) into type (Double)");
  }
  return v;
}

int32_t RoundToInt32(double v) {
  const double r = std::nearbyint(v);  // default rounding mode: half to even
  if (!(r >= std::numeric_limits<int32_t>::min() && r <= std::numeric_limits<int32_t>::max())) {
    Fail("Overflow while converting variant of type (Double) into type (Integer)");
  }
  return static_cast<int32_t>(r);
}

}  // namespace

std::string Variant::ToString() const {
  switch (type()) {
    case Type::kEmpty:
    case Type::kNull:
      return {};
    case Type::kBoolean:
      return std::get<bool>(value_) ? "True" : "False";
    case Type::kInteger:
      return std::to_string(std::get<int32_t>(value_));
    case Type::kDouble:
      return FormatDouble(std::get<double>(value_));
    case Type::kDate:
      return DateToText(std::get<OleDate>(value_));
    case Type::kString:
      return std::get<std::string>(value_);
    case Type::kBytes:
    case Type::kArray:
      break;
  }
  Fail("Could not convert variant of type (Array) into type (String)");
}

double Variant::ToDouble() const {
  switch (type()) {
    case Type::kEmpty:
      return 0.0;
    case Type::kBoolean:
      return std::get<bool>(value_) ? -1.0 : 0.0;
    case Type::kInteger:
      return std::get<int32_t>(value_);
    case Type::kDouble:
      return std::get<double>(value_);
    case Type::kDate:
      return std::get<OleDate>(value_).value;
    case Type::kString:
      return ParseNumber(std::get<std::string>(value_));
    default:
      break;
  }
  Fail("Could not convert variant into type (Double)");
}

int32_t Variant::ToInteger() const {
  switch (type()) {
    case Type::kInteger:
      return std::get<int32_t>(value_);
    case Type::kBoolean:
      return std::get<bool>(value_) ? -1 : 0;
    default:
      return RoundToInt32(ToDouble());
  }
}

bool Variant::ToBoolean() const {
  if (type() == Type::kBoolean) return std::get<bool>(value_);
  if (type() == Type::kString) {
    const std::string s = Trim(std::get<std::string>(value_));
    if (EqualsIgnoreCase(s, "True")) return true;
    if (EqualsIgnoreCase(s, "False")) return false;
  }
  return ToDouble() != 0.0;
}

OleDate Variant::ToDate() const {
  switch (type()) {
    case Type::kDate:
      return std::get<OleDate>(value_);
    case Type::kString: {
      const auto parsed = ParseDateTime(Trim(std::get<std::string>(value_)));
      if (!parsed) Fail("Could not convert variant of type (String) into type (Date)");
      return *parsed;
    }
    default:
      return OleDate{ToDouble()};
  }
}

const std::string& Variant::AsString() const {
  if (auto* s = std::get_if<std::string>(&value_)) return *s;
  Fail("Variant is not a string");
}

const ByteArray& Variant::AsBytes() const {
  if (auto* b = std::get_if<ByteArray>(&value_)) return *b;
  Fail("Variant is not a byte array");
}

ByteArray& Variant::AsBytes() {
  if (auto* b = std::get_if<ByteArray>(&value_)) return *b;
  Fail("Variant is not a byte array");
}

const VariantArray& Variant::AsArray() const {
  if (auto* a = std::get_if<VariantArray>(&value_)) return *a;
  Fail("Variant is not an array");
}

VariantArray& Variant::AsArray() {
  if (auto* a = std::get_if<VariantArray>(&value_)) return *a;
  Fail("Variant is not an array");
}

int32_t Variant::LowerBound() const {
  if (auto* b = std::get_if<ByteArray>(&value_)) return b->lower_bound;
  return AsArray().lower_bound;
}

int32_t Variant::UpperBound() const {
  if (auto* b = std::get_if<ByteArray>(&value_)) {
    return b->lower_bound + static_cast<int32_t>(b->bytes.size()) - 1;
  }
  const VariantArray& a = AsArray();
  return a.lower_bound + static_cast<int32_t>(a.items.size()) - 1;
}

const Variant& Variant::At(int32_t index) const {
  const VariantArray& a = AsArray();
  const int64_t offset = static_cast<int64_t>(index) - a.lower_bound;
  if (offset < 0 || offset >= static_cast<int64_t>(a.items.size())) {
    Fail("Variant array index out of bounds");
  }
  return a.items[static_cast<size_t>(offset)];
}

Variant& Variant::At(int32_t index) {
  return const_cast<Variant&>(static_cast<const Variant&>(*this).At(index));
}

}  // namespace vorncom
