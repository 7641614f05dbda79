#include "common/text.h"

#include <gtest/gtest.h>

using namespace ambrel;

TEST(Text, Utf16RoundTripsChineseAndSurrogatePairs) {
  std::u16string wide = u"丢失的文件\U0001F600a";
  std::string utf8 = Utf16ToUtf8(wide);
  EXPECT_EQ(utf8, "丢失的文件\xF0\x9F\x98\x80" "a");
  EXPECT_EQ(Utf8ToUtf16(utf8), wide);
  EXPECT_EQ(Utf8Length(utf8), 7u);
}

TEST(Text, BrokenInputBecomesReplacementCharacters) {
  const char16_t lone[] = {0xD800, u'x'};
  EXPECT_EQ(Utf16ToUtf8(std::u16string_view(lone, 2)), "\xEF\xBF\xBDx");
  EXPECT_EQ(Utf8ToUtf16("\xE4\xB8"), std::u16string(u"\uFFFD\uFFFD"));
  const std::uint8_t le[] = {0x2D, 0x4E, 0x41, 0x00};
  EXPECT_EQ(Utf16LeBytesToUtf8(le, 2), "中A");
}

TEST(Text, PrefixesNeverSplitACharacter) {
  EXPECT_EQ(Utf8Prefix("准备恢复文件", 2), "准备");
  EXPECT_EQ(Utf8Prefix("ab", 5), "ab");
  EXPECT_EQ(Utf8CutBytes("准备", 4), "准");
  EXPECT_EQ(Format("%02u月", 3u), "03月");
  EXPECT_EQ(TrimBlanks(" \tv a\t "), "v a");
}
