#include "common/byte_cursor.h"

#include <gtest/gtest.h>

#include <vector>

using ambrel::ByteCursor;

TEST(ByteCursor, LoadsAreLittleAndBigEndianAndFailPastTheEnd) {
  const std::uint8_t bytes[] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09};
  ByteCursor c(bytes, sizeof bytes);
  EXPECT_EQ(*c.U16(0), 0x0201);
  EXPECT_EQ(*c.U32(1), 0x05040302u);
  EXPECT_EQ(*c.U64(1), 0x0908070605040302ull);
  EXPECT_EQ(*c.U32Be(0), 0x01020304u);
  EXPECT_FALSE(c.U64(2).has_value());
  EXPECT_FALSE(c.U8(9).has_value());
  EXPECT_FALSE(c.U16(~std::uint64_t{0}).has_value());
}

TEST(ByteCursor, SubRangesRejectOverflowingOffsetsAndLengths) {
  std::vector<std::uint8_t> bytes(16, 0xAA);
  ByteCursor c(bytes.data(), bytes.size());
  EXPECT_TRUE(c.Sub(0, 16).has_value());
  EXPECT_TRUE(c.Sub(16, 0).has_value());
  EXPECT_FALSE(c.Sub(17, 0).has_value());
  EXPECT_FALSE(c.Sub(8, 9).has_value());
  EXPECT_FALSE(c.Sub(1, ~std::uint64_t{0}).has_value());
  EXPECT_FALSE(c.Sub(~std::uint64_t{0}, 2).has_value());
  auto s = c.Sub(4, 4);
  ASSERT_TRUE(s);
  EXPECT_FALSE(s->U8(4).has_value());
}

TEST(ByteCursor, VariableWidthFieldsSignExtend) {
  // Run-list style fields: 1 to 8 bytes, signed offsets.
  const std::uint8_t bytes[] = {0xFF, 0x7F, 0x00, 0x80, 0x34, 0x12};
  ByteCursor c(bytes, sizeof bytes);
  EXPECT_EQ(*c.SIntN(0, 1), -1);
  EXPECT_EQ(*c.SIntN(0, 2), 0x7FFF);
  EXPECT_EQ(*c.SIntN(2, 2), -32768);
  EXPECT_EQ(*c.UIntN(4, 2), 0x1234u);
  EXPECT_EQ(*c.SIntN(0, 0), 0);
  EXPECT_FALSE(c.UIntN(5, 2).has_value());
  EXPECT_FALSE(c.UIntN(0, 9).has_value());
}
