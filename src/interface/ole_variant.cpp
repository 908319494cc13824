#include "interface/ole_variant.h"

#include <cstring>
#include <string>

#include "common/cp1252.h"

namespace vorncom::iface {
namespace {

constexpr int kMaxDepth = 16;  // nested variant arrays deeper than this are refused
constexpr uint32_t kMaxElements = 64u * 1024 * 1024;

std::string BstrToUtf8(BSTR s) {
  if (!s) return {};
  const uint32_t units = VornComBstrByteLength(s) / 2;
  std::string out;
  out.reserve(units);
  for (uint32_t i = 0; i < units; ++i) {
    uint32_t cp = s[i];
    if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < units && s[i + 1] >= 0xDC00 && s[i + 1] < 0xE000) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    }
    AppendUtf8(out, cp);
  }
  return out;
}

Variant Convert(const VARIANT& v, int depth);

Variant ConvertArray(VARTYPE element_type, const SAFEARRAY* a, int depth) {
  if (!a) throw EVariantError("Variant array without data");
  if (a->cDims != 1) throw EVariantError("Only one-dimensional variant arrays are supported");
  const uint32_t count = a->rgsabound[0].cElements;
  const int32_t lower = a->rgsabound[0].lLbound;
  if (count > kMaxElements || (count > 0 && !a->pvData)) {
    throw EVariantError("Variant array too large");
  }
  if (element_type == VT_UI1 || element_type == VT_I1) {
    if (a->cbElements != 1) throw EVariantError("Byte array with wrong element size");
    const auto* bytes = static_cast<const uint8_t*>(a->pvData);
    return Variant(ByteArray{lower, std::vector<uint8_t>(bytes, bytes + count)});
  }
  VariantArray out;
  out.lower_bound = lower;
  out.items.reserve(count);
  for (uint32_t i = 0; i < count; ++i) {
    const char* element = static_cast<const char*>(a->pvData) + size_t{i} * a->cbElements;
    VARIANT item;
    VornComVariantInit(&item);
    switch (element_type) {
      case VT_VARIANT:
        if (a->cbElements != sizeof(VARIANT)) throw EVariantError("Bad variant array");
        out.items.push_back(Convert(*reinterpret_cast<const VARIANT*>(element), depth + 1));
        continue;
      case VT_BSTR:
        item.vt = VT_BSTR;
        item.bstrVal = *reinterpret_cast<BSTR const*>(element);
        break;
      case VT_I4:
      case VT_INT:
        item.vt = VT_I4;
        item.lVal = *reinterpret_cast<const int32_t*>(element);
        break;
      case VT_R8:
        item.vt = VT_R8;
        item.dblVal = *reinterpret_cast<const double*>(element);
        break;
      case VT_BOOL:
        item.vt = VT_BOOL;
        item.boolVal = *reinterpret_cast<const VARIANT_BOOL*>(element);
        break;
      default:
        throw EVariantError("Unsupported array element type");
    }
    out.items.push_back(Convert(item, depth + 1));
  }
  return Variant(std::move(out));
}

Variant Convert(const VARIANT& v, int depth) {
  if (depth > kMaxDepth) throw EVariantError("Variant nesting too deep");
  const VARTYPE vt = v.vt;
  if (vt & VT_BYREF) {
    if (!v.byref) throw EVariantError("Null by-reference variant");
    const VARTYPE base = vt & ~VT_BYREF;
    if (base == VT_VARIANT) return Convert(*static_cast<const VARIANT*>(v.byref), depth + 1);
    if (base & VT_ARRAY) {
      return ConvertArray(base & ~VT_ARRAY, *static_cast<SAFEARRAY* const*>(v.byref), depth);
    }
    VARIANT copy;
    VornComVariantInit(&copy);
    copy.vt = base;
    switch (base) {
      case VT_BSTR:
        copy.bstrVal = *static_cast<BSTR const*>(v.byref);
        break;
      case VT_I4:
      case VT_INT:
        copy.lVal = *static_cast<const int32_t*>(v.byref);
        break;
      case VT_R8:
      case VT_DATE:
        copy.dblVal = *static_cast<const double*>(v.byref);
        break;
      case VT_BOOL:
        copy.boolVal = *static_cast<const VARIANT_BOOL*>(v.byref);
        break;
      default:
        throw EVariantError("Unsupported by-reference variant");
    }
    return Convert(copy, depth + 1);
  }
  if (vt & VT_ARRAY) return ConvertArray(vt & ~VT_ARRAY, v.parray, depth);
  switch (vt) {
    case VT_EMPTY:
      return Variant();
    case VT_NULL:
      return Variant::Null();
    case VT_I1:
      return Variant(static_cast<int32_t>(v.cVal));
    case VT_UI1:
      return Variant(static_cast<int32_t>(v.bVal));
    case VT_I2:
      return Variant(static_cast<int32_t>(v.iVal));
    case VT_UI2:
      return Variant(static_cast<int32_t>(v.uiVal));
    case VT_I4:
    case VT_INT:
      return Variant(v.lVal);
    case VT_UI4:
    case VT_UINT:
      if (v.ulVal > INT32_MAX) return Variant(static_cast<double>(v.ulVal));
      return Variant(static_cast<int32_t>(v.ulVal));
    case VT_I8:
      if (v.llVal >= INT32_MIN && v.llVal <= INT32_MAX) {
        return Variant(static_cast<int32_t>(v.llVal));
      }
      return Variant(static_cast<double>(v.llVal));
    case VT_R4:
      return Variant(static_cast<double>(v.fltVal));
    case VT_R8:
      return Variant(v.dblVal);
    case VT_CY:
      return Variant(static_cast<double>(v.cyVal) / 10000.0);
    case VT_DATE:
      return Variant(OleDate{v.date});
    case VT_BOOL:
      return Variant(v.boolVal != 0);
    case VT_BSTR:
      return Variant(BstrToUtf8(v.bstrVal));
    default:
      break;
  }
  throw EVariantError("Unsupported variant type " + std::to_string(vt));
}

}  // namespace

Variant FromOle(const VARIANT& v) { return Convert(v, 0); }

void ToOle(const Variant& value, VARIANT& out) {
  VornComVariantInit(&out);
  switch (value.type()) {
    case Variant::Type::kEmpty:
      return;
    case Variant::Type::kNull:
      VornComVariantSetNull(&out);
      return;
    case Variant::Type::kBoolean:
      VornComVariantSetBool(&out, value.ToBoolean());
      return;
    case Variant::Type::kInteger:
      VornComVariantSetInt(&out, value.ToInteger());
      return;
    case Variant::Type::kDouble:
      VornComVariantSetDouble(&out, value.ToDouble());
      return;
    case Variant::Type::kDate:
      VornComVariantSetDate(&out, value.ToDate().value);
      return;
    case Variant::Type::kString:
      VornComVariantSetString(&out, value.AsString().c_str());
      return;
    case Variant::Type::kBytes: {
      const ByteArray& b = value.AsBytes();
      SAFEARRAY* a = VornComSafeArrayCreateVector(VT_UI1, b.lower_bound,
                                                  static_cast<uint32_t>(b.bytes.size()));
      if (!a) return;
      if (!b.bytes.empty()) std::memcpy(a->pvData, b.bytes.data(), b.bytes.size());
      out.vt = VT_ARRAY | VT_UI1;
      out.parray = a;
      return;
    }
    case Variant::Type::kArray: {
      const VariantArray& items = value.AsArray();
      if (!VornComVariantSetArray(&out, items.lower_bound,
                                  static_cast<uint32_t>(items.items.size()))) {
        return;
      }
      for (size_t i = 0; i < items.items.size(); ++i) {
        ToOle(items.items[i], *static_cast<VARIANT*>(VornComSafeArrayElement(
                                  out.parray, items.lower_bound + static_cast<int32_t>(i))));
      }
      return;
    }
  }
}

}  // namespace vorncom::iface
