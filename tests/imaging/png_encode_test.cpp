// The PNG files `show --thumbnail` writes, read back by Qt's PNG reader
// (libpng): the size and every pixel survive, with and without
// transparency; a picture that is not there gives no file.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "preview/png_encode.h"
#include "qt_image_decoder.h"
#include "support/test_paths.h"

namespace ambrel {
namespace {

DecodedImage Picture(std::uint32_t width, std::uint32_t height, std::uint32_t alphaOfOdd) {
  DecodedImage image;
  image.width = width;
  image.height = height;
  for (std::uint32_t y = 0; y < height; ++y)
    for (std::uint32_t x = 0; x < width; ++x) {
      const std::uint32_t alpha = (x + y) % 2 ? alphaOfOdd : 0xFF;
      image.pixels.push_back(alpha << 24 | (x * 37 & 0xFF) << 16 | (y * 91 & 0xFF) << 8 | ((x ^ y) * 13 & 0xFF));
    }
  return image;
}

DecodeOutcome ReadBack(const std::vector<std::uint8_t>& png) {
  return imaging::QtImageDecoder().Decode(ByteSpan(png.data(), png.size()), 0);
}

TEST(PngEncode, ReadsBackWithItsSizeAndPixels) {
  // Opaque (written without alpha), translucent and half transparent (with
  // alpha; PNG alpha is straight, as the decoded pixels are).
  for (std::uint32_t alpha : {0xFFu, 0x80u, 0x00u}) {
    SCOPED_TRACE(alpha);
    const DecodedImage image = Picture(131, 7, alpha);
    const std::vector<std::uint8_t> png = EncodePng(image);
    ASSERT_GT(png.size(), 33u);
    EXPECT_EQ(png[25], alpha == 0xFF ? 2 : 6);  // IHDR colour type
    const DecodeOutcome back = ReadBack(png);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->width, 131u);
    EXPECT_EQ(back->height, 7u);
    EXPECT_EQ(back->sourceWidth, 131u);
    EXPECT_FALSE(back->damaged);
    ASSERT_EQ(back->pixels.size(), image.pixels.size());
    for (std::size_t i = 0; i < image.pixels.size(); ++i) {
      if (alpha == 0 && (image.pixels[i] >> 24) == 0) continue;  // Qt gives transparent pixels no colour
      ASSERT_EQ(back->pixels[i], image.pixels[i]) << i;
    }
  }
  // One pixel.
  const DecodeOutcome one = ReadBack(EncodePng(Picture(1, 1, 0xFF)));
  ASSERT_TRUE(one);
  EXPECT_EQ(one->pixels, Picture(1, 1, 0xFF).pixels);
}

TEST(PngEncode, NoPictureGivesNoFile) {
  DecodedImage empty;
  EXPECT_TRUE(EncodePng(empty).empty());
  DecodedImage shortOfPixels = Picture(4, 4, 0xFF);
  shortOfPixels.pixels.pop_back();
  EXPECT_TRUE(EncodePng(shortOfPixels).empty());
  const std::string dir = test::TempDir("png-encode");
  EXPECT_FALSE(WritePngFile(shortOfPixels, dir + "/short.png"));
  EXPECT_FALSE(std::filesystem::exists(dir + "/short.png"));
  // A folder is not overwritten.
  EXPECT_FALSE(WritePngFile(Picture(2, 2, 0xFF), dir));
  ASSERT_TRUE(WritePngFile(Picture(2, 2, 0xFF), dir + "/ok.png"));
  EXPECT_EQ(std::filesystem::file_size(dir + "/ok.png"), EncodePng(Picture(2, 2, 0xFF)).size());
}

}  // namespace
}  // namespace ambrel
