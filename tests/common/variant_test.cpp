#include "common/variant.h"

#include <gtest/gtest.h>

namespace vorncom {
namespace {

TEST(VariantTest, TextConversionsFollowTheLibraryFormats) {
  const OleDate noon = FromCivil({2001, 5, 9, 12, 30, 5, 0});
  EXPECT_EQ(Variant(noon).ToString(), "09/05/2001 12:30:05");
  EXPECT_EQ(Variant(FromCivil({2001, 5, 9, 0, 0, 0, 0})).ToString(), "09/05/2001");
  EXPECT_EQ(Variant(OleDate{0.5}).ToString(), "12:00:00");
  EXPECT_EQ(Variant(1.5).ToString(), "1,5");
  EXPECT_EQ(Variant(1234567.0).ToString(), "1234567");
  EXPECT_EQ(Variant(true).ToString(), "True");
  EXPECT_EQ(Variant().ToString(), "");
  EXPECT_EQ(Variant::Null().ToString(), "");
}

TEST(VariantTest, OleDatesRoundTripThroughCivilTime) {
  EXPECT_DOUBLE_EQ(FromCivil({1899, 12, 30, 0, 0, 0, 0}).value, 0.0);
  EXPECT_DOUBLE_EQ(FromCivil({1900, 1, 1, 0, 0, 0, 0}).value, 2.0);
  EXPECT_DOUBLE_EQ(FromCivil({1899, 12, 29, 6, 0, 0, 0}).value, -1.25);
  const CivilDateTime c = ToCivil(OleDate{-1.25});
  EXPECT_EQ(c.day, 29);
  EXPECT_EQ(c.hour, 6);
}

TEST(VariantTest, ParsesTheStoredDateTimeForms) {
  EXPECT_EQ(Variant("09/05/2001 12:30:05").ToDate(), FromCivil({2001, 5, 9, 12, 30, 5, 0}));
  EXPECT_EQ(Variant("31/12/1999").ToDate(), FromCivil({1999, 12, 31, 0, 0, 0, 0}));
  EXPECT_FALSE(ParseDateTime("31/02/2001").has_value());
  EXPECT_FALSE(ParseDateTime("09/05/2001 25:00:00").has_value());
  EXPECT_FALSE(ParseDateTime("09/05/2001 12:30:05 x").has_value());
  EXPECT_THROW(Variant("ontem").ToDate(), EVariantError);
}

TEST(VariantTest, NumericConversions) {
  EXPECT_EQ(Variant("  42 ").ToInteger(), 42);
  EXPECT_EQ(Variant("2,5").ToDouble(), 2.5);
  EXPECT_EQ(Variant(2.5).ToInteger(), 2);  // banker's rounding
  EXPECT_EQ(Variant(3.5).ToInteger(), 4);
  EXPECT_TRUE(Variant("TRUE").ToBoolean());
  EXPECT_FALSE(Variant(0).ToBoolean());
  EXPECT_THROW(Variant("12abc").ToInteger(), EVariantError);
  EXPECT_THROW(Variant(1e12).ToInteger(), EVariantError);
  EXPECT_THROW(Variant(VariantArray{}).ToString(), EVariantError);
}

TEST(VariantTest, ArraysHonourTheirBounds) {
  Variant data = Variant::Array(1, 14);
  EXPECT_EQ(data.LowerBound(), 1);
  EXPECT_EQ(data.UpperBound(), 14);
  data.At(14) = "mensagem";
  EXPECT_EQ(data.At(14).ToString(), "mensagem");
  EXPECT_THROW(data.At(0), EVariantError);
  EXPECT_THROW(data.At(15), EVariantError);
  EXPECT_THROW(Variant(3).At(1), EVariantError);
  Variant bytes(ByteArray{1, {1, 2, 3}});
  EXPECT_EQ(bytes.UpperBound(), 3);
}

}  // namespace
}  // namespace vorncom
