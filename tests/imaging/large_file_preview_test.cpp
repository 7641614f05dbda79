// A found file of 4 GiB as a preview input: a sparse FAT32 image whose one
// picture's entry and cluster chain span just under 4 GiB. The preview
// reads at most 1 MiB of it and shows the dump, no thumbnail is read at
// all, the memory taken stays bounded, and the loader thread serves the
// next request.
#include <gtest/gtest.h>

#include <condition_variable>
#include <fstream>
#include <mutex>

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

constexpr std::uint32_t kClaimed = 0xFFFF0000u;  // just under 4 GiB

std::uint64_t PeakResidentKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::stoull(line.substr(6));
  return 0;
}

template <typename T>
T Load(std::fstream& f, std::uint64_t at) {
  T v{};
  f.seekg(std::streamoff(at));
  f.read(reinterpret_cast<char*>(&v), sizeof v);
  return v;
}

template <typename T>
void Store(std::fstream& f, std::uint64_t at, T v) {
  f.seekp(std::streamoff(at));
  f.write(reinterpret_cast<const char*>(&v), sizeof v);
}

// Makes `image` a sparse 4.3 GB FAT32 volume holding BIG.JPG (a JPEG start)
// whose entry claims kClaimed bytes over one contiguous cluster chain.
bool MakeBigVolume(const std::string& image) {
  const std::string dir = image.substr(0, image.rfind('/'));
  std::ofstream(dir + "/big.jpg", std::ios::binary) << std::string("\xFF\xD8\xFF\xE0", 4) << std::string(5000, 'A');
  const std::string q = test::ShellQuote(image);
  const std::string script = "truncate -s 4300M " + q + " && mkfs.vfat -F 32 -s 64 -n BIG " + q +
                             " >/dev/null && MTOOLS_SKIP_CHECK=1 mcopy -i " + q + " " +
                             test::ShellQuote(dir + "/big.jpg") + " ::/BIG.JPG";
  if (std::system(("(" + script + ") >/dev/null 2>&1").c_str()) != 0) return false;
  std::fstream f(image, std::ios::in | std::ios::out | std::ios::binary);
  const std::uint64_t bps = Load<std::uint16_t>(f, 0x0B), spc = Load<std::uint8_t>(f, 0x0D);
  const std::uint64_t reserved = Load<std::uint16_t>(f, 0x0E), fats = Load<std::uint8_t>(f, 0x10);
  const std::uint64_t fatSectors = Load<std::uint32_t>(f, 0x24), root = Load<std::uint32_t>(f, 0x2C);
  const std::uint64_t clusterBytes = bps * spc;
  const std::uint64_t data = (reserved + fats * fatSectors) * bps;
  const std::uint64_t rootAt = data + (root - 2) * clusterBytes;
  for (std::uint64_t e = rootAt; e < rootAt + clusterBytes; e += 32) {
    char name[11];
    f.seekg(std::streamoff(e));
    f.read(name, 11);
    if (std::string(name, 11) != "BIG     JPG") continue;
    const std::uint32_t first =
        (std::uint32_t(Load<std::uint16_t>(f, e + 0x14)) << 16) | Load<std::uint16_t>(f, e + 0x1A);
    const std::uint64_t clusters = (kClaimed + clusterBytes - 1) / clusterBytes;
    if (first < 2 || first + clusters + 2 > fatSectors * bps / 4) return false;
    Store<std::uint32_t>(f, e + 0x1C, kClaimed);
    for (std::uint64_t copy = 0; copy < fats; ++copy) {
      std::vector<std::uint32_t> chain(clusters);
      for (std::uint64_t i = 0; i < clusters; ++i) chain[i] = std::uint32_t(first + i + 1);
      chain.back() = 0x0FFFFFFF;
      f.seekp(std::streamoff((reserved + copy * fatSectors) * bps + first * 4ull));
      f.write(reinterpret_cast<const char*>(chain.data()), std::streamsize(chain.size() * 4));
    }
    return bool(f);
  }
  return false;
}

TEST(LargeFilePreview, AFourGiBPictureIsPreviewedFromItsFirstMiBAndTheLoaderLivesOn) {
  if (!test::HaveTool("mkfs.vfat") || !test::HaveTool("mcopy")) GTEST_SKIP() << "mkfs.vfat or mtools missing";
  const std::string image = test::TempDir("big-fat32") + "/big.img";
  ASSERT_TRUE(MakeBigVolume(image));
  SetSettingsLoaded(true);
  OverrideSetting("ParseFileSys", "1");
  std::unique_ptr<SourceSession> source = SourceSession::Open(image);
  ASSERT_TRUE(source);
  VolumeListing listing = source->ListVolume(1, ListScope::kAll);
  ASSERT_TRUE(listing.volume);
  const PartitionInfo& volume = *listing.volume;
  std::uint32_t id = 0;
  for (std::uint32_t i = 0; i < volume.table.count; ++i) {
    const FoundFileNode* node = NodeAt(volume.table, i);
    if (node && node->name && std::string(node->name) == "BIG.JPG") id = i;
  }
  ASSERT_NE(id, 0u);
  const FoundFileNode& record = *NodeAt(volume.table, id);
  ASSERT_EQ(std::uint64_t{record.size}, kClaimed);

  // The loader thread over the copy-out's reader, as the preview service runs it.
  SaveNode node;
  node.partition = &volume;
  node.record = record;
  node.record.childIds = nullptr;
  node.name = "BIG.JPG";
  std::mutex lock;
  std::condition_variable done;
  std::vector<std::uint64_t> caps;
  std::vector<PreviewResult> previews;
  std::vector<ThumbnailResult> thumbnails;
  PreviewReader reader = [&](const PreviewRequest&, std::uint64_t cap) {
    {
      std::lock_guard<std::mutex> guard(lock);
      caps.push_back(cap);
    }
    FileBytes file = ReadFileBytes(node, {}, cap);
    PreviewBytes bytes;
    bytes.found = file.opened;
    bytes.readable = file.readable;
    bytes.data = std::move(file.data);
    return bytes;
  };
  IsolatedDecoder decoder(AMBREL_DECODE_HELPER, AMBREL_DECODE_MEDIA_HELPER);
  PreviewLoader loader(
      reader, &decoder,
      [&](PreviewResult r) {
        std::lock_guard<std::mutex> guard(lock);
        previews.push_back(std::move(r));
        done.notify_all();
      },
      [&](ThumbnailResult r) {
        std::lock_guard<std::mutex> guard(lock);
        thumbnails.push_back(std::move(r));
        done.notify_all();
      });
  loader.Start();
  const std::uint64_t peakBefore = PeakResidentKiB();
  PreviewRequest request;
  request.size = record.size;
  request.typeCode = record.typeCode;
  loader.Request(request);
  request.kind = kPreviewThumbnail;
  loader.Request(request);
  {
    std::unique_lock<std::mutex> guard(lock);
    ASSERT_TRUE(done.wait_for(guard, std::chrono::seconds(300),
                              [&] { return previews.size() == 1 && thumbnails.size() == 1; }));
  }
  const std::uint64_t peakAfter = PeakResidentKiB();
  // Only the preview read, and only its first MiB; the thumbnail read nothing.
  ASSERT_EQ(caps.size(), 1u);
  EXPECT_EQ(caps[0], kPreviewLargeRead);
  const PreviewResult& shown = previews[0];
  EXPECT_TRUE(shown.found);
  EXPECT_EQ(int(shown.content.kind), int(PreviewKind::kHex));
  EXPECT_EQ(shown.content.data.size(), kPreviewLargeRead);
  EXPECT_EQ(shown.content.data[0], 0xFF);
  EXPECT_EQ(shown.readable, kClaimed);
  EXPECT_FALSE(shown.picture);
  EXPECT_FALSE(thumbnails[0].thumbnail);
  // Bounded: a few MiB for the read and the dump, nowhere near the file.
  if (peakBefore != 0) {
    EXPECT_LT(peakAfter - peakBefore, 64u * 1024);
  }

  // The thread lives: the next request is served.
  request.kind = kPreviewSelected;
  request.size = 0;
  loader.Request(request);
  {
    std::unique_lock<std::mutex> guard(lock);
    ASSERT_TRUE(done.wait_for(guard, std::chrono::seconds(60), [&] { return previews.size() == 2; }));
  }
  loader.Stop();
  EXPECT_EQ(int(previews[1].content.kind), int(PreviewKind::kText));

  // The command line's synchronous preview reads the same first MiB.
  const PreviewResult direct = PreviewVolumeFile(volume, id, &decoder);
  EXPECT_EQ(int(direct.content.kind), int(PreviewKind::kHex));
  EXPECT_EQ(direct.content.data.size(), kPreviewLargeRead);
}

}  // namespace
}  // namespace ambrel
