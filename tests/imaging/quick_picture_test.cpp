// A large picture's first, quick picture: its bytes go to the helper once
// and the small picture comes back before the whole one; a camera's JPEG
// shows its EXIF thumbnail first, turned as the picture is and at the size
// the whole picture would be fitted to.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QImage>
#include <string>

#include "preview/isolated_decoder.h"
#include "preview/preview_loader.h"
#include "preview/preview_test_support.h"
#include "qt_image_decoder.h"
#include "support/test_paths.h"

namespace ambrel {
namespace {

ByteSpan Span(const std::vector<std::uint8_t>& v) { return {v.data(), v.size()}; }

std::vector<std::uint8_t> Jpeg(const QImage& image) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "JPEG", 90);
  return {bytes.begin(), bytes.end()};
}

// A grey picture with a grey-blue gradient: nothing in it is red.
QImage Grey(int width, int height) {
  QImage image(width, height, QImage::Format_RGB32);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) image.setPixel(x, y, qRgb(90, 90 + x * 60 / width, 120 + y * 100 / height));
  return image;
}

std::uint32_t Red(std::uint32_t argb) { return (argb >> 16) & 0xFF; }

TEST(QuickPicture, SentOnceTheSmallPictureComesFirstThenTheWhole) {
  IsolatedDecoder decoder(AMBREL_DECODE_HELPER, AMBREL_DECODE_MEDIA_HELPER);
  const std::vector<std::uint8_t> bytes = Jpeg(Grey(2000, 1500));
  int firsts = 0;
  DecodedImage quick;
  const DecodeOutcome whole = decoder.DecodeWithFirst(Span(bytes), kQuickPictureSide, kPanePictureSide,
                                                      [&](DecodeOutcome first) {
                                                        ++firsts;
                                                        ASSERT_TRUE(first);
                                                        quick = *first;
                                                      });
  ASSERT_EQ(firsts, 1);
  EXPECT_EQ(quick.width, 400u);
  EXPECT_EQ(quick.height, 300u);
  EXPECT_EQ(quick.sourceWidth, 2000u);
  ASSERT_TRUE(whole) << int(whole.failure);
  const DecodeOutcome alone = decoder.Decode(Span(bytes), kPanePictureSide);
  ASSERT_TRUE(alone);
  EXPECT_EQ(whole->width, 1600u);
  EXPECT_TRUE(whole->pixels == alone->pixels);
  // The same helper serves on after the two replies.
  const int pid = decoder.HelperPid(false);
  EXPECT_TRUE(decoder.Decode(Span(bytes), kThumbnailSide));
  EXPECT_EQ(decoder.HelperPid(false), pid);
  // Bytes that are no picture: no first picture, and the reason.
  std::vector<std::uint8_t> junk(bytes.size(), 0x5A);
  junk[0] = 0xFF;
  junk[1] = 0xD8;
  firsts = 0;
  const DecodeOutcome none = decoder.DecodeWithFirst(Span(junk), kQuickPictureSide, kPanePictureSide,
                                                     [&](DecodeOutcome) { ++firsts; });
  EXPECT_EQ(firsts, 0);
  EXPECT_EQ(int(none.failure), int(DecodeFailure::kNotAPicture));
}

TEST(QuickPicture, ACamerasJpegShowsItsExifThumbnailFirstTurnedAsThePicture) {
  if (!test::HaveTool("exiftool")) GTEST_SKIP() << "exiftool missing";
  const std::string dir = test::TempDir("quick");
  QImage red(160, 120, QImage::Format_RGB32);
  red.fill(qRgb(230, 20, 20));
  ASSERT_TRUE(red.save(QString::fromStdString(dir + "/thumb.jpg"), "JPEG", 90));
  ASSERT_TRUE(Grey(2000, 1500).save(QString::fromStdString(dir + "/camera.jpg"), "JPEG", 90));
  // Orientation 6: the camera was turned a quarter clockwise.
  test::RunCommand("exiftool -q -overwrite_original -n -Orientation=6 '-ThumbnailImage<=" + dir + "/thumb.jpg' " +
                   test::ShellQuote(dir + "/camera.jpg"));
  const std::vector<std::uint8_t> bytes = test::ReadBytes(dir + "/camera.jpg");
  const ByteSpan thumb = ExifThumbnail(Span(bytes));
  ASSERT_FALSE(thumb.empty()) << "exiftool added no thumbnail";

  const DecodeOutcome quick = imaging::QuickPicture(Span(bytes), kQuickPictureSide);
  ASSERT_TRUE(quick);
  EXPECT_EQ(quick->sourceWidth, 1500u);
  EXPECT_EQ(quick->sourceHeight, 2000u);
  EXPECT_EQ(quick->width, 300u);
  EXPECT_EQ(quick->height, 400u);
  EXPECT_GT(Red(quick->pixels[quick->pixels.size() / 2]), 180u);  // the thumbnail's red, not the picture's grey
  const DecodeOutcome whole = imaging::QtImageDecoder().Decode(Span(bytes), kPanePictureSide);
  ASSERT_TRUE(whole);
  EXPECT_EQ(whole->width, 1200u);
  EXPECT_LT(Red(whole->pixels[whole->pixels.size() / 2]), 120u);

  // Through the helper and the loader: the provisional picture is the
  // thumbnail, the final one the whole picture.
  IsolatedDecoder decoder(AMBREL_DECODE_HELPER, AMBREL_DECODE_MEDIA_HELPER);
  PreviewRequest request;
  request.size = bytes.size();
  request.typeCode = 44;  // JPEG
  std::vector<PreviewResult> early;
  std::vector<std::uint8_t> padded = bytes;
  padded.resize(std::max<std::size_t>(bytes.size(), kQuickPictureBytes + 1), 0);  // a large file, its end zeros
  request.size = padded.size();
  const PreviewResult shown = LoadPreview(request, test::ReaderOfBytes(padded), &decoder,
                                          [&](const PreviewResult& r) { early.push_back(r); });
  ASSERT_EQ(early.size(), 1u);
  EXPECT_TRUE(early[0].provisional);
  ASSERT_TRUE(early[0].picture);
  EXPECT_EQ(early[0].picture->height, 400u);
  EXPECT_GT(Red(early[0].picture->pixels[early[0].picture->pixels.size() / 2]), 180u);
  EXPECT_FALSE(shown.provisional);
  ASSERT_TRUE(shown.picture);
  EXPECT_EQ(shown.picture->height, 1600u);
  EXPECT_TRUE(shown.picture->pixels == whole->pixels);
}

// The thumbnail's offsets are the file's word: every cut of a camera's
// header gives a thumbnail inside the bytes or none.
TEST(QuickPicture, CutExifHeadersGiveAThumbnailInsideTheBytesOrNone) {
  if (!test::HaveTool("exiftool")) GTEST_SKIP() << "exiftool missing";
  const std::string dir = test::TempDir("quick-cut");
  ASSERT_TRUE(Grey(64, 48).save(QString::fromStdString(dir + "/thumb.jpg"), "JPEG", 90));
  ASSERT_TRUE(Grey(640, 480).save(QString::fromStdString(dir + "/camera.jpg"), "JPEG", 90));
  test::RunCommand("exiftool -q -overwrite_original '-ThumbnailImage<=" + dir + "/thumb.jpg' " +
                   test::ShellQuote(dir + "/camera.jpg"));
  std::vector<std::uint8_t> bytes = test::ReadBytes(dir + "/camera.jpg");
  const ByteSpan thumb = ExifThumbnail(Span(bytes));
  ASSERT_FALSE(thumb.empty());
  const std::size_t end = std::size_t(thumb.data() - bytes.data()) + thumb.size();
  for (std::size_t keep = 0; keep <= end + 1 && keep <= bytes.size(); ++keep) {
    const std::vector<std::uint8_t> cut(bytes.begin(), bytes.begin() + keep);
    const ByteSpan found = ExifThumbnail(Span(cut));
    if (!found.empty()) {
      EXPECT_GE(found.data(), cut.data());
      EXPECT_LE(found.data() + found.size(), cut.data() + cut.size());
    }
    if (keep < end) {
      EXPECT_TRUE(found.empty()) << keep;
    }
  }
  // A thumbnail offset pointing far past the end: none.
  for (std::size_t i = 0; i + 2 < bytes.size() && i < 4096; ++i)
    if (bytes[i] == 0x02 && bytes[i + 1] == 0x01) {  // the tag's bytes, either order
      std::vector<std::uint8_t> bad = bytes;
      for (std::size_t k = i + 8; k < i + 12 && k < bad.size(); ++k) bad[k] = 0xFF;
      const ByteSpan found = ExifThumbnail(Span(bad));
      if (!found.empty()) {
        EXPECT_LE(found.data() + found.size(), bad.data() + bad.size());
      }
    }
}

}  // namespace
}  // namespace ambrel
