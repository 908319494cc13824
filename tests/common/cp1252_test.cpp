#include "common/cp1252.h"

#include <gtest/gtest.h>

namespace vorncom {
namespace {

TEST(Cp1252Test, EveryByteSurvivesTheRoundTrip) {
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  EXPECT_EQ(Utf8ToCp1252(Cp1252ToUtf8(all)), all);
}

TEST(Cp1252Test, AccentsAndHighControlsMapToTheirCodePoints) {
  EXPECT_EQ(Cp1252ToUtf8("Recep\xE7\xE3o"), "Recepção");
  EXPECT_EQ(Cp1252ToUtf8("\x80"), "€");
  EXPECT_EQ(Utf8ToCp1252("Informação"), "Informa\xE7\xE3o");
  EXPECT_EQ(Utf8ToCp1252("€ “x”"), "\x80 \x93x\x94");
}

TEST(Cp1252Test, UnmappableAndMalformedBecomeQuestionMarks) {
  EXPECT_EQ(Utf8ToCp1252("a\xE2\x82"), "a??");  // each byte of a truncated sequence
  EXPECT_EQ(Utf8ToCp1252("\xFF"), "?");         // invalid lead byte
  EXPECT_EQ(Utf8ToCp1252("中"), "?");           // no Windows-1252 form
}

TEST(Cp1252Test, CaseFoldingCoversAccentedLetters) {
  EXPECT_TRUE(EqualsIgnoreCase("Seção", "SEÇÃO"));
  EXPECT_TRUE(EqualsIgnoreCase("ÿ", "Ÿ"));
  EXPECT_FALSE(EqualsIgnoreCase("secao", "seção"));
  EXPECT_EQ(ToUpperUtf8("×÷ß"), "×÷ß");  // not letters with case pairs
}

}  // namespace
}  // namespace vorncom
