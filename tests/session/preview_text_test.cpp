// The preview panel's words: the information block with its size and time
// forms, the notice lines and the switch button.
#include <gtest/gtest.h>

#include "session/texts.h"

namespace ambrel {
namespace {

TEST(PreviewText, InformationBlockByteForByte) {
  const PackedTime t = PackPackedTime(2023, 4, 5, 6, 7, 8);
  EXPECT_EQ(FormatFileInfo("court-exif.jpg", 80603, t, 0),
            "文件名: court-exif.jpg\r\n文件大小: 78.71 KB\r\n创建时间: 2023-04-05  06:07:08\r\n"
            "修改时间: 1900-01-01  00:00\r\n");
}

TEST(PreviewText, SizeUnitsAtTheirBounds) {
  EXPECT_EQ(PreviewSizeText(0), "0.00 KB");
  EXPECT_EQ(PreviewSizeText(0xFFFFF), "1024.00 KB");
  EXPECT_EQ(PreviewSizeText(0x100000), "1.00 MB");
  EXPECT_EQ(PreviewSizeText(0x3FFFFFFF), "1024.00 MB");
  EXPECT_EQ(PreviewSizeText(0x40000000), "1.00 GB");
  EXPECT_EQ(PreviewSizeText((1ull << 40) - 1), "1024.00 GB");
  EXPECT_EQ(PreviewSizeText(1ull << 40), "1.00 TB");
  EXPECT_EQ(PreviewSizeText(40'000'000), "38.15 MB");
}

TEST(PreviewText, NoticeAndSwitchByKind) {
  EXPECT_EQ(PreviewSwitchText(PreviewKind::kImage), "浏览图像");
  EXPECT_EQ(PreviewSwitchText(PreviewKind::kText), "浏览文字");
  EXPECT_EQ(PreviewSwitchText(PreviewKind::kHex), "");
  EXPECT_EQ(PreviewNoticeText(PreviewKind::kText),
            "预览数据仅供参考，建议您点击下面的【恢复】按钮，恢复后查看文件内容！\r\n\r\n");
  EXPECT_EQ(PreviewNoticeText(PreviewKind::kHex),
            "暂时不能预览的文件，建议您点击下面的【恢复】按钮，恢复后查看文件内容！\r\n");
}

}  // namespace
}  // namespace ambrel
