#include "interface/ole_variant.h"

#include <gtest/gtest.h>

namespace vorncom::iface {
namespace {

// Owns an OLE VARIANT for the length of a test.
struct OleValue {
  OleValue() { VornComVariantInit(&v); }
  ~OleValue() { VornComVariantClear(&v); }
  VARIANT v;
};

TEST(OleVariantTest, LayoutMatchesOleAutomationOn64Bits) {
  EXPECT_EQ(sizeof(VARIANT), 24u);
  EXPECT_EQ(offsetof(VARIANT, lVal), 8u);
  EXPECT_EQ(sizeof(SAFEARRAY), 32u);
  EXPECT_EQ(offsetof(SAFEARRAY, pvData), 16u);
  EXPECT_EQ(offsetof(SAFEARRAY, rgsabound), 24u);
}

TEST(OleVariantTest, ScalarsAndTextsConvert) {
  OleValue o;
  VornComVariantSetString(&o.v, "Informação €");
  EXPECT_EQ(VornComBstrByteLength(o.v.bstrVal), 2u * 12);
  EXPECT_EQ(FromOle(o.v).AsString(), "Informação €");
  VornComVariantSetString(&o.v, "𝄞");  // outside the basic plane: a surrogate pair
  EXPECT_EQ(FromOle(o.v).AsString(), "𝄞");
  VornComVariantSetBool(&o.v, 1);
  EXPECT_EQ(FromOle(o.v), Variant(true));
  VornComVariantSetDate(&o.v, 37020.5);
  EXPECT_EQ(FromOle(o.v).ToString(), "09/05/2001 12:00:00");
  VornComVariantSetNull(&o.v);
  EXPECT_TRUE(FromOle(o.v).IsNull());
  VornComVariantClear(&o.v);
  EXPECT_TRUE(FromOle(o.v).IsEmpty());
}

TEST(OleVariantTest, ArraysKeepTheirBoundsAndNesting) {
  Variant original = Variant::Array(1, 14);
  original.At(1) = "pacote.zlk";
  original.At(9) = 1234.5;
  original.At(14) = true;
  Variant inner = Variant::Array(0, 2);
  inner.At(0) = ByteArray{1, {1, 2, 3}};
  original.At(5) = inner;
  OleValue o;
  ToOle(original, o.v);
  EXPECT_EQ(o.v.vt, VT_ARRAY | VT_VARIANT);
  EXPECT_EQ(FromOle(o.v), original);
}

TEST(OleVariantTest, ByReferenceValuesAreFollowed) {
  OleValue target;
  VornComVariantSetArray(&target.v, 1, 14);
  VARIANT ref;
  VornComVariantInit(&ref);
  ref.vt = VT_BYREF | VT_VARIANT;
  ref.pvarVal = &target.v;
  EXPECT_EQ(FromOle(ref).UpperBound(), 14);
  int32_t number = 42;
  ref.vt = VT_BYREF | VT_I4;
  ref.byref = &number;
  EXPECT_EQ(FromOle(ref), Variant(42));
}

TEST(OleVariantTest, UnreadableVariantsAreRefusedNotFollowed) {
  VARIANT v;
  VornComVariantInit(&v);
  v.vt = VT_UNKNOWN;
  EXPECT_THROW(FromOle(v), EVariantError);
  v.vt = VT_ARRAY | VT_VARIANT;
  v.parray = nullptr;
  EXPECT_THROW(FromOle(v), EVariantError);
  v.vt = VT_BYREF | VT_VARIANT;
  v.byref = nullptr;
  EXPECT_THROW(FromOle(v), EVariantError);
  // A two-dimensional array is not one the library can use.
  SAFEARRAY* a = VornComSafeArrayCreateVector(VT_VARIANT, 1, 4);
  a->cDims = 2;
  v.vt = VT_ARRAY | VT_VARIANT;
  v.parray = a;
  EXPECT_THROW(FromOle(v), EVariantError);
  a->cDims = 1;
  VornComSafeArrayDestroy(a);
  // A variant that holds itself must not recurse forever.
  VARIANT self;
  VornComVariantInit(&self);
  self.vt = VT_BYREF | VT_VARIANT;
  self.pvarVal = &self;
  EXPECT_THROW(FromOle(self), EVariantError);
}

}  // namespace
}  // namespace vorncom::iface
