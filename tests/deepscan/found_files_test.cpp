// The found-files pseudo-partition: gap sizes with their cap and the free
// run, nested copies absorbed, duplicates of listed files dropped, type
// folders under category folders, names, the structure / gap mark.
#include <gtest/gtest.h>

#include <memory>

#include "catalog/file_types.h"
#include "deepscan/found_files.h"

namespace ambrel {
namespace {

ScanHit Hit(std::uint8_t kind, std::uint64_t lba, std::uint8_t status = 0, std::uint64_t size = 0) {
  ScanHit h;
  h.kind = kind;
  h.lba = lba;
  h.status = status;
  h.aux1 = static_cast<std::uint32_t>(size);
  h.aux2 = static_cast<std::uint32_t>(size >> 32);
  return h;
}

template <class... H>
std::vector<ScanHit> List(H&&... h) {
  std::vector<ScanHit> v;
  (v.push_back(std::move(h)), ...);
  return v;
}

std::vector<ScanHit*> Pointers(std::vector<ScanHit>& hits) {
  std::vector<ScanHit*> p;
  for (ScanHit& h : hits) p.push_back(&h);
  return p;
}

PartitionInfo Area(std::uint64_t start, std::uint64_t sectors) {
  PartitionInfo p;
  p.startLba = start;
  p.sectorCount = p.diskSectorCount = sectors;
  p.diskPath = "image.raw";
  return p;
}

// The file nodes of the table by name.
std::map<std::string, FoundFileNode> Files(const PartitionInfo& part) {
  std::map<std::string, FoundFileNode> out;
  for (std::uint32_t id = 0; id < part.table.count; ++id) {
    const FoundFileNode* n = NodeAt(part.table, id);
    if (n && IsFileKind(KindOf(*n))) out[n->name] = *n;
  }
  return out;
}

TEST(GapSize, MeasuredToTheNextSignatureOrSectorHit) {
  std::vector<ScanHit> hits = List(Hit(46, 100), Hit(201, 150), Hit(205, 160), Hit(224, 300), Hit(40, 400));
  auto p = Pointers(hits);
  const PartitionInfo area = Area(0, 1000);
  EXPECT_EQ(GapSize(p, 0, area, nullptr), 200u * 512);  // video records 172..220 skipped
  EXPECT_EQ(GapSize(p, 4, area, nullptr), 600u * 512);  // the last: to the area's end
}

TEST(GapSize, CappedAt3686400Sectors) {
  // 2 000 000 000 bytes to the next hit: 1 887 436 800.
  std::vector<ScanHit> hits = List(Hit(46, 0), Hit(40, 2000000000ull / 512));
  auto p = Pointers(hits);
  EXPECT_EQ(GapSize(p, 0, Area(0, 1ull << 32), nullptr), 1887436800ull);
}

TEST(GapSize, NothingWhenTheNextHitIsNotBeyond) {
  std::vector<ScanHit> hits = List(Hit(46, 500), Hit(40, 500));
  auto p = Pointers(hits);
  EXPECT_EQ(GapSize(p, 0, Area(0, 1000), nullptr), 0u);
  std::vector<ScanHit> last = List(Hit(46, 1200));
  auto q = Pointers(last);
  EXPECT_EQ(GapSize(q, 0, Area(0, 1000), nullptr), 0u);
}

TEST(GapSize, CutToTheFreeRunInFreeSpaceModes) {
  // FAT16, 4 sectors per cluster from sector 100: clusters 2..9 free, 10 used.
  std::vector<std::uint8_t> fat(64, 0);
  fat[20] = 0xFF;
  fat[21] = 0xFF;  // entry 10
  FreeSpaceMap free;
  free.SetFat(100, 4, 20, 16, fat);
  std::vector<ScanHit> hits = List(Hit(46, 106), Hit(40, 900));
  auto p = Pointers(hits);
  // From sector 106 (cluster 3, third sector) to the end of cluster 9 (sector 132).
  EXPECT_EQ(GapSize(p, 0, Area(0, 1000), &free), 26u * 512);
  EXPECT_EQ(GapSize(p, 0, Area(0, 1000), nullptr), 794u * 512);
  FreeSpaceMap exfat;
  exfat.SetExfat(8);
  EXPECT_EQ(GapSize(p, 0, Area(0, 1000), &exfat), 794u * 512);
}

TEST(GapSize, AppliedOnlyToHitsWithoutASize) {
  std::vector<ScanHit> hits = List(Hit(46, 100, 4, 4096), Hit(40, 200, 3), Hit(61, 300, 5), Hit(44, 400));
  auto p = Pointers(hits);
  ApplyGapSizes(p, Area(0, 1000), nullptr);
  EXPECT_EQ(hits[0].Size(), 4096u);
  EXPECT_EQ(hits[1].Size(), 100u * 512);
  EXPECT_EQ(hits[2].Size(), 0u);
  EXPECT_EQ(hits[3].Size(), 600u * 512);
}

TEST(FoundFiles, NestedCopyOfKnownSizeIsAbsorbed) {
  // A JPEG of 20 sectors holding, 10 sectors in, a JPEG of 8 sectors.
  std::vector<ScanHit> hits = List(Hit(46, 1000, 4, 20 * 512), Hit(46, 1010, 4, 8 * 512));
  auto p = Pointers(hits);
  auto part = BuildFoundFilesPartition(p, {}, DeepScanSettings{}, Area(0, 100000));
  ASSERT_TRUE(part);
  auto files = Files(*part);
  EXPECT_EQ(files.size(), 1u);
  EXPECT_TRUE(files.count("3e8.jpg"));
  EXPECT_EQ(hits[1].status, 5);
}

// A BMP or WAVE header states a size that nothing checks: the first
// sectors of a cut file claim the whole, and the real file of the same
// kind inside that claim is its own.
TEST(FoundFiles, ClaimOfAHeaderSizedFileAbsorbsNoFileOfItsKind) {
  for (std::uint8_t kind : {std::uint8_t{48}, std::uint8_t{53}}) {
    std::vector<ScanHit> hits = List(Hit(kind, 1000, 4, 600 * 512), Hit(kind, 1100, 4, 20 * 512),
                                     Hit(161, 1200, 4, 512));
    auto p = Pointers(hits);
    auto part = BuildFoundFilesPartition(p, {}, DeepScanSettings{}, Area(0, 100000));
    ASSERT_TRUE(part);
    EXPECT_EQ(Files(*part).size(), 2u) << int(kind);
    EXPECT_EQ(hits[1].status, 4);
    EXPECT_EQ(hits[2].status, 5) << "text inside any file of known size is its text";
  }
}

TEST(FoundFiles, BothListedWhenTheOuterSizeIsAGap) {
  std::vector<ScanHit> hits = List(Hit(46, 1000, 0), Hit(46, 1010, 4, 8 * 512));
  auto p = Pointers(hits);
  ApplyGapSizes(p, Area(0, 100000), nullptr);
  auto part = BuildFoundFilesPartition(p, {}, DeepScanSettings{}, Area(0, 100000));
  ASSERT_TRUE(part);
  auto files = Files(*part);
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(files["3e8.jpg"].size, 10u * 512);
  EXPECT_EQ(files["3e8.jpg"].flags & kFlagStructuralSize, 0);
  EXPECT_EQ(files["3f2.jpg"].size, 8u * 512);
  EXPECT_NE(files["3f2.jpg"].flags & kFlagStructuralSize, 0);
}

TEST(FoundFiles, OnlyTheSameKindIsAbsorbed) {
  std::vector<ScanHit> hits = List(Hit(61, 1000, 4, 100 * 512), Hit(46, 1010, 4, 8 * 512),
                               Hit(61, 1050, 4, 60 * 512));  // runs past the outer zip
  auto p = Pointers(hits);
  auto part = BuildFoundFilesPartition(p, {}, DeepScanSettings{}, Area(0, 100000));
  ASSERT_TRUE(part);
  EXPECT_EQ(Files(*part).size(), 3u);
}

TEST(FoundFiles, NamesFromTheLbaHalves) {
  EXPECT_EQ(CarvedFileName(0x100000000ull, 46), "1_0.jpg");
  EXPECT_EQ(CarvedFileName(0x2A, 46), "2a.jpg");
  EXPECT_EQ(CarvedFileName(0x1000000ABull, 61), "1_ab.zip");
  EXPECT_EQ(CarvedFileName(0, 79), "0.html");
}

TEST(FoundFiles, TypeFoldersUnderCategoryFolders) {
  std::vector<ScanHit> hits = List(Hit(46, 0x2A, 4, 1000), Hit(46, 0x100000000ull, 4, 1000), Hit(61, 5000, 4, 300),
                               Hit(40, 6000, 5), Hit(224, 7000));
  auto p = Pointers(hits);
  PartitionInfo area = Area(0, 1ull << 33);
  auto part = BuildFoundFilesPartition(p, {}, DeepScanSettings{}, area);
  ASSERT_TRUE(part);
  EXPECT_EQ(part->fsKind, kFsSignature);
  EXPECT_EQ(part->volumeLabel, "找到的文件");
  EXPECT_EQ(part->diskPath, "image.raw");
  const FoundFileTable& t = part->table;
  EXPECT_GE(t.count, 237u);
  // Photos (7) / jpg (46), archives (11) / zip (61); no folder for the rejected pdf.
  ASSERT_TRUE(IsFolderNode(t, 7));
  EXPECT_STREQ(NodeAt(t, 7)->name, "照片");
  EXPECT_EQ(std::uint32_t{NodeAt(t, 7)->parentId}, kRootId);  // packed fields are read by value
  ASSERT_TRUE(IsFolderNode(t, 46));
  EXPECT_STREQ(NodeAt(t, 46)->name, "jpg");
  EXPECT_EQ(std::uint32_t{NodeAt(t, 46)->parentId}, 7u);
  EXPECT_EQ(std::uint32_t{NodeAt(t, 46)->childCount}, 2u);
  EXPECT_TRUE(IsFolderNode(t, 61));
  EXPECT_FALSE(IsFolderNode(t, 40));
  EXPECT_FALSE(IsFolderNode(t, 6));
  auto files = Files(*part);
  ASSERT_EQ(files.size(), 3u);
  const FoundFileNode& jpg = files["1_0.jpg"];
  EXPECT_EQ(std::uint64_t{jpg.dataSector}, 0x100000000ull);
  EXPECT_EQ(int{jpg.typeCode}, 46);
  EXPECT_EQ(std::uint32_t{jpg.parentId}, 46u);
  EXPECT_EQ(KindOf(jpg), kPresentFile);
  EXPECT_EQ(t.fileCount, 3u);
}

TEST(FoundFiles, NoPartitionWhenNothingRemains) {
  std::vector<ScanHit> hits = List(Hit(40, 6000, 5), Hit(224, 7000));
  auto p = Pointers(hits);
  EXPECT_EQ(BuildFoundFilesPartition(p, {}, DeepScanSettings{}, Area(0, 10000)), nullptr);
}

TEST(FoundFiles, CarvedCopiesOfListedFilesAreDropped) {
  auto listed = std::make_unique<PartitionInfo>();
  ASSERT_TRUE(InitTable(listed->table));
  for (std::uint32_t i = 0; i < 12; ++i) {
    FoundFileNode n{};
    n.parentId = kRootId;
    n.dataSector = 1000 + i * 100;
    SetKind(n, kPresentFile);
    AddNodeNamed(listed->table, n, "photo" + std::to_string(i) + ".jpg", true);
  }
  std::vector<std::unique_ptr<PartitionInfo>> found;
  found.push_back(std::move(listed));
  DeepScanSettings settings;
  std::vector<ScanHit> hits = List(Hit(46, 1000, 4, 512), Hit(61, 1100, 4, 512), Hit(46, 1150, 4, 512));
  {
    auto p = Pointers(hits);
    auto part = BuildFoundFilesPartition(p, found, settings, Area(0, 10000));
    EXPECT_EQ(Files(*part).size(), 3u);  // the option is off
  }
  settings.SetOption(kOptDropCarvedDuplicates, 1);
  auto p = Pointers(hits);
  auto part = BuildFoundFilesPartition(p, found, settings, Area(0, 10000));
  ASSERT_TRUE(part);
  auto files = Files(*part);
  EXPECT_EQ(files.size(), 2u);  // the jpg at 1000 repeats photo0.jpg; the zip at 1100 is another type
  EXPECT_FALSE(files.count("3e8.jpg"));
}

}  // namespace
}  // namespace ambrel

namespace ambrel {
namespace {

// Only a size the file's own structure gave is marked structural: a hit
// marked sized without a size (a damaged saved scan) gets its gap size,
// unmarked.
TEST(FoundFiles, TheStructuralMarkOnlyForARuleSize) {
  std::vector<ScanHit> hits = List(Hit(46, 100, 4, 4096), Hit(40, 200, 4, 0), Hit(44, 400, 0));
  auto p = Pointers(hits);
  ApplyGapSizes(p, Area(0, 1000), nullptr);
  EXPECT_EQ(hits[1].Size(), 200u * 512);
  EXPECT_EQ(hits[1].status, 0);
  auto part = BuildFoundFilesPartition(p, {}, DeepScanSettings{}, Area(0, 1000));
  ASSERT_TRUE(part);
  auto files = Files(*part);
  EXPECT_NE(files["64.jpg"].flags & kFlagStructuralSize, 0);
  EXPECT_EQ(files["c8.pdf"].flags & kFlagStructuralSize, 0);
  EXPECT_EQ(files["190.png"].flags & kFlagStructuralSize, 0);
  // A node made with another size than the rule's is not structural either.
  EXPECT_EQ(CarvedFileNode(hits[0], 8192).flags & kFlagStructuralSize, 0);
  EXPECT_NE(CarvedFileNode(hits[0], 4096).flags & kFlagStructuralSize, 0);
}

// Plain text inside a file of known size is that file's text, whatever
// the file's type; outside it, it is a file of its own.
TEST(FoundFiles, TextInsideASizedFileIsAbsorbed) {
  std::vector<ScanHit> hits = List(Hit(36, 1000, 4, 40 * 512), Hit(161, 1010, 4, 3 * 512 - 20),
                                   Hit(161, 1100, 4, 700));
  auto p = Pointers(hits);
  auto part = BuildFoundFilesPartition(p, {}, DeepScanSettings{}, Area(0, 100000));
  ASSERT_TRUE(part);
  EXPECT_EQ(hits[1].status, 5);
  EXPECT_EQ(hits[2].status, 4);
  EXPECT_EQ(Files(*part).size(), 2u);
}

}  // namespace
}  // namespace ambrel
