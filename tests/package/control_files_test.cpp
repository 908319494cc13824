#include "package/control_files.h"

#include <gtest/gtest.h>

namespace vorncom::package {
namespace {

TEST(ControlFilesTest, LineBreakCoding) {
  const struct {
    std::string text;
    std::string stored;
  } cases[] = {
      {"first\r\nsecond", "first<CRLF>second"},
      {"\r\n\r\n", "<CRLF><CRLF>"},
      {"lone\rcr and lone\nlf", "lone\rcr and lone\nlf"},
      {"\n\r\n\r", "\n<CRLF>\r"},
      {"", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(EncodeLineBreaks(c.text), c.stored);
    EXPECT_EQ(DecodeLineBreaks(c.stored), c.text);
  }
  EXPECT_EQ(DecodeLineBreaks("a<CRLF>b<crlf>"), "a\r\nb<crlf>");
}

TEST(ControlFilesTest, ValidationFolderName) {
  const OleDate at = FromCivil({2026, 12, 9, 14, 5, 9, 0});
  EXPECT_EQ(ValidationFolderName("/w/", "FORM2001.ZIP", at), "/w/FORM2001140509/");
  EXPECT_EQ(ValidationFolderName("/w/", "dados.v2.zip", at), "/w/dados140509/");
  EXPECT_EQ(ValidationFolderName("/w/", "semponto", at), "/w/140509/");
  EXPECT_EQ(ValidationFolderName("/w/", "x.y", FromCivil({2026, 1, 1, 0, 0, 0, 0})), "/w/x000000/");
  // A stem of a name near the 255-byte limit is cut so the folder's name fits, never inside a
  // character ("é" is two bytes).
  EXPECT_EQ(ValidationFolderName("/w/", std::string(250, 'a') + ".zlk", at),
            "/w/" + std::string(249, 'a') + "140509/");
  EXPECT_EQ(ValidationFolderName("/w/", std::string(248, 'a') + "é.zlk", at),
            "/w/" + std::string(248, 'a') + "140509/");
}

}  // namespace
}  // namespace vorncom::package
