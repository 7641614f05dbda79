// The layout of a formatted-over exFAT volume, solved from the links
// between its directories: named subdirectory clusters against the runs of
// directory sectors found.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "fs/exfat/exfat_former_layout.h"

namespace ambrel {
namespace {

// A file entry set of two entries (0x85 + stream 0xC0), deleted when asked.
void PutSet(std::vector<std::uint8_t>& dir, std::size_t at, bool folder, std::uint32_t firstCluster,
            bool deleted = false) {
  dir[at] = deleted ? 0x05 : 0x85;
  dir[at + 1] = 1;
  dir[at + 4] = folder ? 0x10 : 0x20;
  dir[at + 32] = deleted ? 0x40 : 0xC0;
  std::memcpy(&dir[at + 32 + 20], &firstCluster, 4);
}

TEST(ExfatFormerLayout, SubdirectoryClustersOfLiveAndDeletedFoldersOnly) {
  std::vector<std::uint8_t> dir(512, 0);
  PutSet(dir, 0, true, 9);
  PutSet(dir, 64, false, 40);         // a file: not a link
  PutSet(dir, 128, true, 12, true);   // a deleted folder still names its cluster
  PutSet(dir, 192, true, 1);          // cluster 1 does not exist
  dir[256] = 0x85;                    // a folder entry whose stream entry is a file name entry
  dir[260] = 0x10;
  dir[288] = 0xC1;
  dir[480] = 0x85;                    // its stream entry cut off by the end of the bytes
  dir[484] = 0x10;
  EXPECT_EQ(ExfatSubdirectoryClusters(dir), (std::vector<std::uint32_t>{9, 12}));
  EXPECT_TRUE(ExfatSubdirectoryClusters(std::span<const std::uint8_t>(dir.data(), 40)).empty());
}

std::uint64_t At(std::uint64_t heap, std::uint32_t spc, std::uint32_t cluster) {
  return heap + std::uint64_t(cluster - 2) * spc;
}

TEST(ExfatFormerLayout, TheLayoutTheLinksAgreeOnWins) {
  // Old card: 64-sector (32 KiB) clusters, heap at 10240. Root (cluster 5)
  // names DCIM (9); DCIM names 100CANON (12) and 101CANON (20). Noise runs
  // (the new volume's own directories, a stray sector) lie in between.
  for (std::uint32_t spc : {1u, 8u, 64u, 256u, 65536u}) {
    const std::uint64_t heap = 10240;
    std::vector<FormerDirectoryRun> runs = {
        {At(heap, spc, 5), {9}, {}},       {At(heap, spc, 9), {12, 20}, {}}, {At(heap, spc, 12), {}, {}},
        {At(heap, spc, 20), {}, {}},       {777, {3}, {}},                   {At(heap, spc, 20) + 5, {}, {}},
    };
    const auto layout = SolveFormerExfatLayout(runs, 1);
    ASSERT_TRUE(layout) << spc;
    EXPECT_EQ(layout->heapLba, heap) << spc;
    EXPECT_EQ(layout->sectorsPerCluster, spc);
    EXPECT_EQ(layout->links, 3u);
  }
}

TEST(ExfatFormerLayout, OneLinkOrAnEvenSplitIsNoAnswer) {
  // One link fits every cluster size: no answer.
  std::vector<FormerDirectoryRun> one = {{20000, {9}, {}}, {20448, {}, {}}};
  EXPECT_FALSE(SolveFormerExfatLayout(one, 1));
  // No link at all.
  std::vector<FormerDirectoryRun> none = {{20000, {}, {}}, {20448, {}, {}}, {30000, {}, {}}};
  EXPECT_FALSE(SolveFormerExfatLayout(none, 1));
  // A heap before the lowest sector allowed (the volume's start) is not taken.
  // (64-sector clusters, heap at 500: clusters 9 and 12 at 948 and 1140.)
  std::vector<FormerDirectoryRun> early = {{100, {9, 12}, {}}, {948, {}, {}}, {1140, {}, {}}};
  const auto found = SolveFormerExfatLayout(early, 1);
  ASSERT_TRUE(found);
  EXPECT_EQ(found->heapLba, 500u);
  EXPECT_FALSE(SolveFormerExfatLayout(early, 600));
  // 2-sector clusters at 86 would put cluster 9 on the directory that
  // names it: only 8-sector clusters at 50 remain.
  std::vector<FormerDirectoryRun> self = {{100, {9, 12}, {}}, {106, {}, {}}, {130, {}, {}}};
  const auto notSelf = SolveFormerExfatLayout(self, 1);
  ASSERT_TRUE(notSelf);
  EXPECT_EQ(notSelf->sectorsPerCluster, 8u);
  EXPECT_EQ(notSelf->heapLba, 50u);
}

TEST(ExfatFormerLayout, HugeClusterNumbersStayInRange) {
  std::vector<FormerDirectoryRun> runs = {{5000, {0xFFFFFFF0u, 0xFFFFFFFEu}, {}}, {~std::uint64_t{0} - 4, {}, {}}};
  EXPECT_FALSE(SolveFormerExfatLayout(runs, 1));
}

// A file set with its name: 0x85, stream 0xC0 (name length at +3), then
// name entries 0xC1 of 15 UTF-16 units each.
void PutNamedFile(std::vector<std::uint8_t>& dir, std::size_t at, const std::string& name, std::uint32_t first) {
  const std::size_t nameEntries = (name.size() + 14) / 15;
  dir[at] = 0x85;
  dir[at + 1] = static_cast<std::uint8_t>(1 + nameEntries);
  dir[at + 4] = 0x20;
  dir[at + 32] = 0xC0;
  dir[at + 32 + 3] = static_cast<std::uint8_t>(name.size());
  std::memcpy(&dir[at + 32 + 20], &first, 4);
  for (std::size_t k = 0; k < name.size(); ++k) {
    const std::size_t entry = at + 64 + 32 * (k / 15);
    dir[entry] = 0xC1;
    dir[entry + 2 + 2 * (k % 15)] = static_cast<std::uint8_t>(name[k]);
  }
}

TEST(ExfatFormerLayout, FileClustersWithTheirExtensions) {
  std::vector<std::uint8_t> dir(1024, 0);
  PutNamedFile(dir, 0, "IMG_0001.JPG", 40);
  PutNamedFile(dir, 96, "A very long clip name of a camera.MOV", 90);  // three name entries
  PutNamedFile(dir, 256, "README", 7);
  PutSet(dir, 352, true, 12);  // a folder: not a file
  const auto files = ExfatFileClusters(dir);
  ASSERT_EQ(files.size(), 3u);
  EXPECT_EQ(files[0].firstCluster, 40u);
  EXPECT_EQ(files[0].extension, "jpg");
  EXPECT_EQ(files[1].firstCluster, 90u);
  EXPECT_EQ(files[1].extension, "mov");
  EXPECT_EQ(files[2].extension, "");
  // A name cut by the end of the bytes keeps what was read.
  EXPECT_EQ(ExfatFileClusters(std::span<const std::uint8_t>(dir.data(), 96 + 64 + 32)).size(), 2u);
}

TEST(ExfatFormerLayout, FilesOnTheirSignaturesPlaceTheHeap) {
  // Old layout: 64-sector clusters, heap at 4096. Two surviving thumbnail
  // folders (clusters 300 and 400) name three photos each; the photos'
  // signatures were found where the old layout puts them, beside other
  // signatures of the card (the new volume's files, carved leftovers).
  const std::uint64_t heap = 4096;
  const std::uint32_t spc = 64;
  std::vector<FormerDirectoryRun> runs(2);
  runs[0].lba = At(heap, spc, 300);
  runs[1].lba = At(heap, spc, 400);
  std::vector<SignatureStart> signatures = {{123457, "jpg"}, {At(heap, spc, 77), "mov"}, {99999, "png"}};
  for (std::uint32_t c : {301u, 303u, 305u}) {
    runs[0].files.push_back({c, "jpg"});
    signatures.push_back({At(heap, spc, c), "jpg"});
  }
  for (std::uint32_t c : {401u, 402u, 410u}) {
    runs[1].files.push_back({c, "jpg"});
    signatures.push_back({At(heap, spc, c), "jpg"});
  }
  runs[1].files.push_back({77, "mov"});
  const auto layout = SolveFormerExfatLayoutByFiles(runs, signatures, 1);
  ASSERT_TRUE(layout);
  EXPECT_EQ(layout->heapLba, heap);
  EXPECT_EQ(layout->sectorsPerCluster, spc);
  EXPECT_EQ(layout->links, 7u);
  // The links alone say nothing here.
  EXPECT_FALSE(SolveFormerExfatLayout(runs, 1));
  // Two files that agree are not enough; nor is a layout that puts the
  // directories off its cluster boundaries.
  std::vector<FormerDirectoryRun> few(1);
  few[0].lba = At(heap, spc, 300);
  few[0].files = {{301, "jpg"}, {303, "jpg"}};
  EXPECT_FALSE(SolveFormerExfatLayoutByFiles(few, signatures, 1));
  runs[0].lba += 3;
  runs[1].lba += 5;
  EXPECT_FALSE(SolveFormerExfatLayoutByFiles(runs, signatures, 1));
}

}  // namespace
}  // namespace ambrel
