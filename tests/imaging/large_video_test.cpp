// A video over the large-file limit whose index (moov) follows its frames,
// as a camera writes it: previewed from its first and last 16 MiB, read
// through the copy-out's reader from a FAT32 volume, it shows its first
// frame at the size ffprobe gives; so does one with the index first. Read
// from its start alone, the first kind gives no frame.
#include <gtest/gtest.h>

#include "catalog/node_table.h"
#include "preview/isolated_decoder.h"
#include "preview/preview_loader.h"
#include "preview/preview_test_support.h"
#include "recovery/read_file.h"
#include "session/preview_service.h"
#include "session/program.h"
#include "session/source_session.h"
#include "support/test_paths.h"

namespace ambrel {
namespace {

ByteSpan Span(const std::vector<std::uint8_t>& v) { return {v.data(), v.size()}; }

IsolatedDecoder& Helper() {
  static IsolatedDecoder decoder(AMBREL_DECODE_HELPER, AMBREL_DECODE_MEDIA_HELPER);
  return decoder;
}

std::uint32_t FindByName(const PartitionInfo& volume, const std::string& name) {
  for (std::uint32_t i = 0; i < volume.table.count; ++i) {
    const FoundFileNode* node = NodeAt(volume.table, i);
    if (node && node->name && name == node->name) return i;
  }
  return 0;
}

TEST(LargeVideoPreview, AClipOverTheLimitShowsItsFirstFrameWhereverItsIndexLies) {
  if (!test::HaveTool("ffmpeg") || !test::HaveTool("ffprobe") || !test::HaveTool("mkfs.vfat") ||
      !test::HaveTool("mcopy"))
    GTEST_SKIP() << "ffmpeg, mkfs.vfat or mtools missing";
  const std::string dir = test::TempDir("large-video");
  // Uncompressed 320 x 240 frames (4:2:2) of 154 KB: 240 of them make 37 MB.
  const std::string source = "-f lavfi -i testsrc=size=320x240:rate=25 -frames:v 240 -c:v rawvideo -pix_fmt uyvy422";
  test::RunCommand("ffmpeg -nostdin -v error " + source + " -y " + test::ShellQuote(dir + "/end.mov"));
  test::RunCommand("ffmpeg -nostdin -v error " + source + " -movflags +faststart -y " +
                   test::ShellQuote(dir + "/start.mov"));
  const std::vector<std::uint8_t> end = test::ReadBytes(dir + "/end.mov");
  ASSERT_GT(end.size(), kPreviewLargeFile);
  ASSERT_GT(end.size(), kVideoViewHead + kVideoViewTail);
  const std::string probed = test::RunCommand("ffprobe -v error -select_streams v:0 -show_entries stream=width,height "
                                              "-of csv=p=0 " + test::ShellQuote(dir + "/end.mov"));
  ASSERT_EQ(probed.substr(0, probed.find_first_of("\r\n")), "320,240");
  // The index is at the end: moov is the last box.
  ASSERT_NE(std::string(end.end() - 16 * 1024, end.end()).find("moov"), std::string::npos);

  // From its start alone: no frame.
  const std::vector<std::uint8_t> start(end.begin(), end.begin() + std::ptrdiff_t(kVideoViewHead));
  EXPECT_FALSE(Helper().Decode(Span(start), kThumbnailSide));
  // From its start and end: the first frame, the frames up to the gap
  // counted, nothing called damaged.
  const std::vector<std::uint8_t> last(end.end() - std::ptrdiff_t(kVideoViewTail), end.end());
  const DecodeOutcome viewed = Helper().DecodeView(Span(start), Span(last), end.size(), kPanePictureSide);
  ASSERT_TRUE(viewed) << int(viewed.failure);
  EXPECT_TRUE(viewed->video);
  EXPECT_FALSE(viewed->damaged);
  EXPECT_EQ(viewed->width, 320u);
  EXPECT_EQ(viewed->height, 240u);
  EXPECT_GT(viewed->frames, 100u);
  EXPECT_LT(viewed->frames, 240u);
  // Parts that overlap or lie outside the file are refused.
  EXPECT_FALSE(Helper().DecodeView(Span(start), Span(last), kVideoViewHead + 10, kThumbnailSide));

  // Both clips from a FAT32 volume, read as the copy-out reads them.
  const std::string image = dir + "/clips.img";
  const std::string script = "truncate -s 160M " + test::ShellQuote(image) + " && mkfs.vfat -F 32 " +
                             test::ShellQuote(image) + " && MTOOLS_SKIP_CHECK=1 mcopy -i " + test::ShellQuote(image) +
                             " " + test::ShellQuote(dir + "/end.mov") + " " + test::ShellQuote(dir + "/start.mov") +
                             " ::/";
  ASSERT_EQ(std::system(("(" + script + ") >/dev/null 2>&1").c_str()), 0);
  SetSettingsLoaded(true);
  OverrideSetting("ParseFileSys", "1");
  std::unique_ptr<SourceSession> session = SourceSession::Open(image);
  ASSERT_TRUE(session);
  VolumeListing listing = session->ListVolume(1, ListScope::kAll);
  ASSERT_TRUE(listing.volume);
  for (const char* name : {"end.mov", "start.mov"}) {
    SCOPED_TRACE(name);
    const std::uint32_t id = FindByName(*listing.volume, name);
    ASSERT_NE(id, 0u);
    const PreviewResult shown = PreviewVolumeFile(*listing.volume, id, &Helper(), false);
    EXPECT_EQ(int(shown.content.kind), int(PreviewKind::kImage));
    ASSERT_TRUE(shown.picture) << int(shown.pictureFailure);
    EXPECT_TRUE(shown.picture->video);
    EXPECT_EQ(shown.picture->sourceWidth, 320u);
    EXPECT_EQ(shown.picture->sourceHeight, 240u);
    EXPECT_FALSE(shown.damaged);
    // The dump keeps the large-file cap.
    EXPECT_LE(shown.content.data.size(), kPreviewLargeRead);
  }

  // The tail read through the copy-out's reader is the file's last bytes.
  SaveNode node;
  node.partition = listing.volume.get();
  node.record = *NodeAt(listing.volume->table, FindByName(*listing.volume, "end.mov"));
  node.record.childIds = nullptr;
  for (std::uint64_t length : {std::uint64_t(1), std::uint64_t(511), std::uint64_t(4097), kVideoViewTail}) {
    const FileBytes tail = ReadFileTail(node, {}, length);
    ASSERT_EQ(tail.data.size(), length);
    EXPECT_TRUE(std::equal(tail.data.begin(), tail.data.end(), end.end() - std::ptrdiff_t(length))) << length;
  }
  EXPECT_EQ(ReadFileTail(node, {}, end.size() + 100).data.size(), end.size());
}

}  // namespace
}  // namespace ambrel
