#include "common/text.h"

#include <gtest/gtest.h>

#include <string>

#include "common/file_names.h"

namespace vorncom {
namespace {

TEST(TextTest, EachTrimRemovesOnlyItsOwnBlanks) {
  struct Case {
    std::string text, blanks, lines, controls;
  };
  const Case cases[] = {
      {"", "", "", ""},
      {" \t ", "", "", ""},
      {" a b\t", "a b", "a b", "a b"},
      {"\ta\r", "a\r", "a", "a"},
      {"\r\n a \x01", "\r\n a \x01", "\n a \x01", "a"},
      {"\x7f"
       "a\xa0",
       "\x7f"
       "a\xa0",
       "\x7f"
       "a\xa0",
       "\x7f"
       "a\xa0"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TrimBlanks(c.text), c.blanks) << c.text;
    EXPECT_EQ(TrimBlanks(c.text, kLineBlanks), c.lines) << c.text;
    EXPECT_EQ(TrimControls(c.text), c.controls) << c.text;
  }
}

TEST(TextTest, OnlyBareNamesStayInTheirFolder) {
  for (const char* good : {"arquivo.zlk", "Declaração 2024.zlk", "..x", "a..b"}) {
    EXPECT_TRUE(IsBareFileName(good)) << good;
  }
  for (const char* bad : {"", ".", "..", "../x", "a/b", "a\\b", "c:x", "/etc/passwd"}) {
    EXPECT_FALSE(IsBareFileName(bad)) << bad;
  }
  EXPECT_FALSE(IsBareFileName(std::string("a\0b", 3)));
  EXPECT_TRUE(IsBareFileName(std::string(255, 'a')));
  EXPECT_FALSE(IsBareFileName(std::string(256, 'a')));
}

}  // namespace
}  // namespace vorncom
