#include "diag/format_size.h"

#include <gtest/gtest.h>

namespace ambrel {
namespace {

TEST(FormatSize, UnitsAndRounding) {
  EXPECT_EQ(FormatSize(0), "0.00 KB");
  EXPECT_EQ(FormatSize(1023), "1.00 KB");           // 0.999 rounded
  EXPECT_EQ(FormatSize(1536), "1.50 KB");
  EXPECT_EQ(FormatSize(0xFFFFF), "1024.00 KB");
  EXPECT_EQ(FormatSize(1048576), "1.00 MB");
  EXPECT_EQ(FormatSize(1048576 + 1023), "1.00 MB");  // whole KiB first
  EXPECT_EQ(FormatSize(0x40000000ull), "1.00 GB");
  EXPECT_EQ(FormatSize(3ull << 29), "1.50 GB");
  EXPECT_EQ(FormatSize((1ull << 40) - 1), "1024.00 GB");
  EXPECT_EQ(FormatSize(1ull << 40), "1.00 TB");
  EXPECT_EQ(FormatSize(5ull << 39), "2.50 TB");
}

}  // namespace
}  // namespace ambrel
