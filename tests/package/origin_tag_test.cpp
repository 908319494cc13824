#include "package/origin_tag.h"

#include <gtest/gtest.h>

namespace vorncom::package {
namespace {

TEST(OriginTagTest, Examples) {
  const struct {
    std::string name;  // Windows-1252
    std::string tag;   // Windows-1252
  } cases[] = {
      {"abc.xyz", "VornB[CZY"},
      {"ABC.XYZ", "VornB[CZY"},
      {"abc", "VornBDCCB"},  // S1 is also Sn-2, S2 also Sn-1
      {"FORM2001.ZIP", "VornGQPJ["},
      {"a\xE7\xE3o.zip", "VornBQ\xC8J["},                  // ç -> Ç (0xC7) -> 0xC8
      {"\xFFz.abc", std::string("Vorn\x00", 5) + "D[CB"},  // ÿ kept: 255 -> 0
      {"\xFE"
       "x.abc",
       "Vorn\xDF"
       "DYCB"},  // þ -> Þ (0xDE) -> 0xDF
      {"ab", "VornBCCB\x01"},
      {"a", "VornBB\x01\x01\x01"},
      {"", "Vorn\x01\x01\x01\x01\x01"},
  };
  for (const auto& c : cases) EXPECT_EQ(ComputeOriginTagCp1252(c.name), c.tag) << c.name;
}

TEST(OriginTagTest, Utf8NamesAndTheComparison) {
  EXPECT_EQ(ComputeOriginTag("ação.zip"), "VornBQÈJ[");
  EXPECT_TRUE(OriginTagMatches("vornb[czy", "abc.xyz"));
  EXPECT_TRUE(OriginTagMatches("VornB[CZY", "ABC.xyz"));
  EXPECT_FALSE(OriginTagMatches("VornB[CZY", "abc.xyw"));
  EXPECT_FALSE(OriginTagMatches("", "abc.xyz"));
  EXPECT_TRUE(OriginTagMatches("vornbqèj[", "AÇÃO.ZIP"));
}

}  // namespace
}  // namespace vorncom::package
