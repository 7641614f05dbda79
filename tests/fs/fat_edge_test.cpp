// Edge cases of FAT directory decoding, walking, extents and the FAT32
// high-word recovery, on crafted entries and on modified copies of the
// fixture images.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>

#include "catalog/node_table.h"
#include "platform/block_device.h"
#include "fs/fat/fat32_high_words.h"
#include "fs/fat/fat_directory.h"
#include "fs/fat/fat_reader.h"
#include "fs/fat_test_support.h"
#include "support/test_paths.h"

namespace ambrel {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes ShortEntry(const char* name11, std::uint8_t attr, std::uint32_t cluster = 3, std::uint32_t size = 100) {
  Bytes e(32, 0);
  std::memcpy(e.data(), name11, 11);
  e[11] = attr;
  e[20] = static_cast<std::uint8_t>(cluster >> 16);
  e[21] = static_cast<std::uint8_t>(cluster >> 24);
  e[26] = static_cast<std::uint8_t>(cluster);
  e[27] = static_cast<std::uint8_t>(cluster >> 8);
  for (int i = 0; i < 4; ++i) e[28 + i] = static_cast<std::uint8_t>(size >> (8 * i));
  e[16] = 0x21;  // 1 January 1980... + 1 day
  return e;
}

// Long-name pieces of `name` (ASCII) in physical order, for `shortName11`.
Bytes LongPieces(const std::string& name, const char* shortName11, bool deleted = false) {
  std::uint8_t sum = FatShortNameChecksum(reinterpret_cast<const std::uint8_t*>(shortName11));
  std::size_t pieces = (name.size() + 1 + 12) / 13;
  static const int offs[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
  Bytes out;
  for (std::size_t k = pieces; k-- > 0;) {
    Bytes e(32, 0);
    e[0] = static_cast<std::uint8_t>((k + 1) | (k + 1 == pieces ? 0x40 : 0));
    if (deleted) e[0] = 0xE5;
    e[11] = 0x0F;
    e[13] = sum;
    for (int c = 0; c < 13; ++c) {
      std::size_t idx = k * 13 + c;
      std::uint16_t ch = idx < name.size() ? static_cast<std::uint8_t>(name[idx]) : idx == name.size() ? 0 : 0xFFFF;
      e[offs[c]] = static_cast<std::uint8_t>(ch);
      e[offs[c] + 1] = static_cast<std::uint8_t>(ch >> 8);
    }
    out.insert(out.end(), e.begin(), e.end());
  }
  return out;
}

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

std::vector<std::string> Names(const Bytes& dir, bool fat32 = false) {
  std::vector<std::string> out;
  for (const auto& e : DecodeFatDirectory(dir, fat32)) out.push_back(e.name + (e.deleted ? "*" : ""));
  return out;
}

TEST(FatDirectory, ShortNamesAttributesAndDotEntries) {
  Bytes dir = Cat({ShortEntry(".          ", 0x10), ShortEntry("..         ", 0x10),
                   ShortEntry("\xE5OO     TXT", 0x20), ShortEntry("NOATTR  TXT", 0x00),
                   ShortEntry("ARCHIVE TXT", 0x20), ShortEntry("LABEL      ", 0x08),
                   ShortEntry("NOEXT      ", 0x20), ShortEntry("SUBDIR     ", 0x10)});
  EXPECT_EQ(Names(dir), (std::vector<std::string>{"!OO.TXT*", "ARCHIVE.TXT", "NOEXT", "SUBDIR"}));
  auto entries = DecodeFatDirectory(dir, false);
  EXPECT_TRUE(entries[3].directory);
  EXPECT_NE(entries[1].created, 0u);
  // An end marker stops the directory.
  dir = Cat({ShortEntry("A       TXT", 0x20), Bytes(32, 0), ShortEntry("B       TXT", 0x20)});
  EXPECT_EQ(Names(dir), (std::vector<std::string>{"A.TXT"}));
}

// Short names as Windows and Linux store them: the case flags of byte 12,
// 0x05 for a first byte 0xE5, blanks only as padding, OEM bytes.
TEST(FatDirectory, ShortNamesKeepTheirStoredCase) {
  auto withCase = [](const char* name11, std::uint8_t flags, std::uint8_t attr = 0x20) {
    Bytes e = ShortEntry(name11, attr);
    e[12] = flags;
    return e;
  };
  Bytes dir = Cat({withCase("NOTES46 JPG", 0x18), withCase("README  TXT", 0x08), withCase("PHOTO   JPG", 0x10),
                   withCase("\xE5IECE2  DAT", 0x18), withCase("DCIM       ", 0x08, 0x10),
                   withCase("MAKEFILE   ", 0x10)});
  EXPECT_EQ(Names(dir), (std::vector<std::string>{"notes46.jpg", "readme.TXT", "PHOTO.jpg", "!iece2.dat*", "dcim",
                                                  "MAKEFILE"}));
  // A blank inside the base is part of the name; only trailing blanks pad it.
  // An empty base would make a hidden ".TXT"; a NUL ends a damaged name.
  dir = Cat({ShortEntry("A B     TXT", 0x20), ShortEntry("        TXT", 0x20), ShortEntry("AB\0CD   TXT", 0x20)});
  EXPECT_EQ(Names(dir), (std::vector<std::string>{"A B.TXT", "_.TXT", "AB.TXT"}));
  // 0x05 stands for a first byte 0xE5; bytes above 0x7F are in the OEM code
  // page (GBK here): "\xB2\xE2\xCA\xD4" is 测试. Case flags leave them alone.
  dir = Cat({withCase("\xB2\xE2\xCA\xD4    TXT", 0x18), ShortEntry("\x05\xB0\xA1     TXT", 0x20)});
  const auto names = Names(dir);
  ASSERT_EQ(names.size(), 2u);
  EXPECT_EQ(names[0], "测试.txt");
  EXPECT_EQ(names[1].substr(names[1].size() - 4), ".TXT");
  EXPECT_EQ(DecodeFatDirectory(dir, false)[1].deleted, false);
}

TEST(FatDirectory, LongNamesLiveDeletedBrokenAndStray) {
  const char* s1 = "DELETE~1TXT";
  // A deleted three-piece name takes its state from the deleted short entry.
  Bytes deleted3 = Cat({LongPieces("deleted three piece name.txt", s1, true), ShortEntry("\xE5" "ELETE~1TXT", 0x20)});
  ASSERT_EQ(deleted3.size(), 4u * 32);
  EXPECT_EQ(Names(deleted3), (std::vector<std::string>{"deleted three piece name.txt*"}));
  // A live name whose checksum does not match is listed under the 8.3 name.
  Bytes broken = Cat({LongPieces("A Long Name.txt", "OTHER   TXT"), ShortEntry("ALONGN~1TXT", 0x20)});
  EXPECT_EQ(Names(broken), (std::vector<std::string>{"ALONGN~1.TXT"}));
  Bytes good = Cat({LongPieces("A Long Name.txt", "ALONGN~1TXT"), ShortEntry("ALONGN~1TXT", 0x20)});
  EXPECT_EQ(Names(good), (std::vector<std::string>{"A Long Name.txt"}));
  // Deleted pieces followed by a live entry are stray: skipped, the rest listed.
  Bytes stray = Cat({LongPieces("stray pieces here", "STRAY   TXT", true), ShortEntry("LIVE    TXT", 0x20),
                     ShortEntry("AFTER   TXT", 0x20)});
  EXPECT_EQ(Names(stray), (std::vector<std::string>{"LIVE.TXT", "AFTER.TXT"}));
  // A live run that claims more pieces than the buffer holds.
  Bytes cut = LongPieces("a name that runs past the end of the buffer.txt", "ANAMET~1TXT");
  cut.resize(64);
  EXPECT_TRUE(Names(cut).empty());
  Bytes deletedAtEnd = LongPieces("deleted to the end", "DELETE~2TXT", true);
  EXPECT_TRUE(Names(deletedAtEnd).empty());
}

TEST(FatDirectory, Fat32ClusterWordsAndRecycleBin) {
  auto e = DecodeFatDirectory(ShortEntry("BIG     BIN", 0x20, 0xF0051234), true);
  ASSERT_EQ(e.size(), 1u);
  EXPECT_EQ(e[0].firstCluster, 0x00051234u);
  EXPECT_EQ(DecodeFatDirectory(ShortEntry("BIG     BIN", 0x20, 0x00051234), false)[0].firstCluster, 0x1234u);

  PartitionInfo p;
  p.fsKind = kFsFat32;
  InitTable(p.table);
  Bytes dir = Cat({ShortEntry("$RECYCLEBIN", 0x16), ShortEntry("$RECYCLEBIN", 0x10)});
  dir[8] = 'B';  // "$RECYCLE" + "BIN" with the dot from the 8.3 split
  std::memcpy(dir.data(), "$RECYCLEBIN", 11);
  std::memcpy(dir.data() + 32, "$RECYCLEBIN", 11);
  ParseFatDirectory(p, dir.data(), dir.size(), nullptr, kRootId);
  const FoundFileNode* bin = NodeAt(p.table, 6);
  const FoundFileNode* plain = NodeAt(p.table, 7);
  ASSERT_TRUE(bin && plain);
  EXPECT_STREQ(bin->name, "回收站");
  EXPECT_EQ(KindOf(*bin), kDeletedFolder);
  EXPECT_STREQ(plain->name, "$RECYCLE.BIN");
  EXPECT_EQ(KindOf(*plain), kPresentFolder);
  EXPECT_EQ(plain->typeCode, kTypeFatDirectory);
}

// An image file loaded into memory, so that tests can change its bytes.
class MemoryImage : public BlockDevice {
 public:
  explicit MemoryImage(const std::string& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    bytes.resize(static_cast<std::size_t>(in.tellg()));
    in.seekg(0);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  std::int64_t ReadAt(std::uint64_t offset, void* buffer, std::size_t length) override {
    if (offset >= failFrom && offset < failTo) return -1;
    if (offset >= bytes.size()) return 0;
    std::size_t n = std::min<std::uint64_t>(length, bytes.size() - offset);
    std::memcpy(buffer, bytes.data() + offset, n);
    return static_cast<std::int64_t>(n);
  }
  std::uint64_t SizeBytes() override { return bytes.size(); }
  std::string Path() const override { return "memory"; }
  std::vector<std::uint8_t> bytes;
  std::uint64_t failFrom = 0, failTo = 0;
};

struct LoadedImage {
  std::shared_ptr<MemoryImage> image;
  PartitionInfo partition;
  FatGeometry geometry;
  DiskHandle handle;
};

LoadedImage Load(const char* name, std::int32_t kind) {
  LoadedImage l;
  std::string path = test::FixtureImage(name);
  l.image = std::make_shared<MemoryImage>(path);
  l.partition = test::ImagePartition(path, kind);
  l.geometry = *FatGeometryOf(l.partition);
  return l;
}

bool Read(LoadedImage& l, ParseContext* context = nullptr) {
  l.handle = HandleForDevice(l.image, "memory");
  return ReadFatVolume(nullptr, l.partition, l.handle, context);
}

// Byte offset of the short entry of a listed node (searched by cluster and name bytes).
std::size_t EntryOffset(const LoadedImage& l, const char* name11) {
  const auto& b = l.image->bytes;
  for (std::size_t off = l.geometry.rootStart * 512; off + 32 <= b.size(); off += 32)
    if (std::memcmp(b.data() + off, name11, 11) == 0) return off;
  return 0;
}

TEST(FatWalk, SmallFat16KeepsItsSizeInThe16BitField) {
  LoadedImage l = Load("fat16-basic", kFsFat16);
  EXPECT_EQ(l.partition.bootSector[32] | l.partition.bootSector[33], 0);
  EXPECT_EQ(l.geometry.totalSectors, 32760u);
  EXPECT_GT(l.geometry.clusterCount, 4085u);
}

TEST(FatWalk, DirectoryLinkingBackToItsParentIsReadOnce) {
  LoadedImage l = Load("fat16-basic", kFsFat16);
  std::size_t reports = EntryOffset(l, "REPORTS    ");
  std::size_t docs = EntryOffset(l, "DOCS       ");
  ASSERT_TRUE(reports && docs);
  // docs/reports now points at docs itself.
  std::memcpy(&l.image->bytes[reports + 26], &l.image->bytes[docs + 26], 2);
  ASSERT_TRUE(Read(l));
  auto paths = test::NodePaths(l.partition.table);
  EXPECT_TRUE(paths.count("docs/readme.txt"));
  EXPECT_TRUE(paths.count("docs/reports"));
  EXPECT_FALSE(paths.count("docs/reports/readme.txt"));
}

TEST(FatWalk, LoopingAndRunawayChainsEndTheDirectory) {
  LoadedImage l = Load("fat32-basic", kFsFat32);
  std::size_t many = EntryOffset(l, "PHOTOS     ");
  ASSERT_TRUE(many);
  std::uint32_t c = l.image->bytes[many + 26] | l.image->bytes[many + 27] << 8 |
                    l.image->bytes[many + 20] << 16 | l.image->bytes[many + 21] << 24;
  std::size_t fatEntry = l.geometry.fatStart * 512 + std::size_t(c) * 4;
  for (std::uint32_t next : {c, 0x0FFFFFF0u - 100}) {  // to itself, then off the volume
    std::memcpy(&l.image->bytes[fatEntry], &next, 4);
    ASSERT_TRUE(Read(l));
    auto paths = test::NodePaths(l.partition.table);
    int photos = 0;
    for (const auto& [path, id] : paths) photos += path.rfind("photos/", 0) == 0;
    EXPECT_EQ(photos, 6);
  }
}

TEST(FatWalk, SubdirectoryAtClusterZeroIsNotTheRootAgain) {
  LoadedImage l = Load("fat32-basic", kFsFat32);
  std::size_t docs = EntryOffset(l, "DOCS       ");
  ASSERT_TRUE(docs);
  std::memset(&l.image->bytes[docs + 20], 0, 2);
  std::memset(&l.image->bytes[docs + 26], 0, 2);
  ASSERT_TRUE(Read(l));
  auto paths = test::NodePaths(l.partition.table);
  EXPECT_TRUE(paths.count("docs"));
  EXPECT_FALSE(paths.count("docs/FILLER.BIN"));
}

TEST(FatLoad, UnreadableFirstFatFallsBackToTheSecond) {
  LoadedImage l = Load("fat16-basic", kFsFat16);
  Bytes expected(l.image->bytes.begin() + l.geometry.fatStart * 512,
                 l.image->bytes.begin() + (l.geometry.fatStart + l.geometry.fatSectors) * 512);
  l.image->failFrom = l.geometry.fatStart * 512;
  l.image->failTo = l.image->failFrom + 512;
  l.handle = HandleForDevice(l.image, "memory");
  EXPECT_TRUE(LoadFat(l.partition, l.handle, nullptr));
  EXPECT_EQ(l.partition.fat, expected);
  // Both copies fail in one sector: read sector by sector, reported as failed.
  l.image->failTo = (l.geometry.fatStart + 2 * l.geometry.fatSectors) * 512;
  l.image->failFrom = l.geometry.fatStart * 512;
  EXPECT_FALSE(LoadFat(l.partition, l.handle, nullptr));
  EXPECT_EQ(l.partition.fat.size(), expected.size());
}

TEST(FatLoad, SizesFromDiskAreCapped) {
  // A FAT size above 0x40000 sectors is limited to (sectors / spc) / 8.
  LoadedImage l = Load("fat32-basic", kFsFat32);
  std::uint32_t fs = 0x40001, total = 0x100000;
  std::memcpy(&l.partition.bootSector[36], &fs, 4);
  std::memcpy(&l.partition.bootSector[32], &total, 4);
  l.partition.sectorCount = total;
  l.handle = HandleForDevice(l.image, "memory");
  LoadFat(l.partition, l.handle, nullptr);
  EXPECT_EQ(l.partition.fat.size(), std::size_t(total) / 8 * 512);
  // A FAT16 root of 65535 entries is read no further than the directory buffer.
  LoadedImage r = Load("fat16-basic", kFsFat16);
  r.partition.bootSector[17] = 0xFF;
  r.partition.bootSector[18] = 0xFF;
  r.partition.bootSector[13] = 1;  // one sector per cluster: a 1024-sector buffer
  r.handle = HandleForDevice(r.image, "memory");
  std::vector<std::uint8_t> buffer;
  std::unordered_set<std::uint64_t> visited;
  EXPECT_EQ(ReadFatDirectory(r.partition, nullptr, r.handle, 0, buffer, visited), 1024u * 512);
  EXPECT_EQ(ReadFatDirectory(r.partition, nullptr, r.handle, 0, buffer, visited), 0u) << "already read";
}

TEST(FatLoad, FirstCopyIsTheAllocationMap) {
  std::string path = test::FixtureImage("fat16-basic");
  PartitionInfo p = test::ImagePartition(path, kFsFat16);
  std::vector<std::uint8_t> map;
  ASSERT_TRUE(LoadFatCopy(p, map));
  FatGeometry g = *FatGeometryOf(p);
  EXPECT_EQ(map.size(), g.fatSectors * 512);
  EXPECT_EQ(map[0], 0xF8);
  p.bootSector[22] = p.bootSector[23] = 0;  // FAT32 layout with a FAT size of 0: unusable
  std::memset(&p.bootSector[36], 0, 4);
  EXPECT_FALSE(LoadFatCopy(p, map));
  EXPECT_TRUE(map.empty());
}

TEST(FatExtents, DeletedFileWithClearedFatReadsContiguousClusters) {
  LoadedImage l = Load("fat16-basic", kFsFat16);
  l.partition.fat.assign(l.geometry.fatSectors * 512, 0);
  FoundFileNode node{};
  node.firstCluster = 100;
  node.size = 3 * l.geometry.spc * 512 - 10;
  SetKind(node, kDeletedFile);
  ExtentList extents;
  ASSERT_TRUE(FatFileExtents(l.partition, node, extents));
  ASSERT_EQ(extents.size(), 1u);
  EXPECT_EQ(extents[0].startSector, l.geometry.ClusterLba(100));
  EXPECT_EQ(extents[0].sectorCount, 3u * l.geometry.spc);
  node.size = 0;
  EXPECT_FALSE(FatFileExtents(l.partition, node, extents));
  node.firstCluster = 1;
  node.size = 10;
  EXPECT_FALSE(FatFileExtents(l.partition, node, extents));
}

TEST(Fat32HighWords, NeighbourInTimeGivesTheHighWord) {
  PartitionInfo p;
  p.fsKind = kFsFat32;
  BootSector& b = p.bootSector;
  b[12] = 2;  // 512 bytes per sector
  b[13] = 1;
  b[14] = 32;
  b[16] = 2;
  std::uint32_t fs = 0x60000 * 4 / 512;
  std::memcpy(&b[36], &fs, 4);
  std::uint32_t total = 32 + 2 * fs + 0x70000;
  std::memcpy(&b[32], &total, 4);
  p.sectorCount = total;
  p.fat.assign(std::size_t(fs) * 512, 0);
  auto setFat = [&](std::uint32_t c, std::uint32_t v) { std::memcpy(&p.fat[c * 4], &v, 4); };
  setFat(0x41234, 0x0FFFFFFF);  // taken: the far neighbour's candidate is not free
  InitTable(p.table);
  auto add = [&](std::uint32_t cluster, PackedTime created, NodeKind kind) {
    FoundFileNode n{};
    n.parentId = kRootId;
    n.firstCluster = cluster;
    n.created = created;
    n.name = CopyNodeName("f.dat");
    SetKind(n, kind);
    return AddNode(p.table, n, false);
  };
  add(0x30010, 100, kPresentFile);
  add(0x40010, 900, kPresentFile);
  std::uint32_t target = add(0x1234, 1000, kDeletedFile);
  add(0x50010, 1001, kPresentFile);
  add(0x60010, 5000, kPresentFile);
  add(0x20010, 7000, kPresentFile);
  FatGeometry g = *FatGeometryOf(p);
  ASSERT_TRUE(RecoverFat32HighWords(nullptr, p, kRootId, p.table.count, false, ClusterKindTable(g, {})));
  EXPECT_EQ(std::uint32_t{NodeAt(p.table, target)->firstCluster}, 0x51234u);
}

TEST(Fat32HighWords, DeletedFileOnTheFixtureIsFoundWithTheScanHits) {
  test::EnableParsing();
  LoadedImage l = Load("fat32-basic", kFsFat32);
  ASSERT_TRUE(Read(l));
  auto paths = test::NodePaths(l.partition.table);
  auto it = paths.find("!rash/!one.txt");
  ASSERT_NE(it, paths.end());
  const std::uint32_t truth = NodeAt(l.partition.table, it->second)->firstCluster;
  // A typed file: the cluster kinds of the scan decide (the content estimate).
  const std::uint8_t type = NodeAt(l.partition.table, it->second)->typeCode;
  EXPECT_TRUE(type > 35 && type < 237) << int(type);
  ASSERT_GT(truth, 0xFFFFu);
  // Hits a deep scan would make on this image: the start of every file that
  // has a type, with that type.
  std::vector<ClusterKindHit> hits;
  for (std::uint32_t id = 6; id < l.partition.table.count; ++id)
    if (const FoundFileNode* n = NodeAt(l.partition.table, id))
      if (n->firstCluster >= 2)
        hits.push_back({l.geometry.ClusterLba(n->firstCluster), n->typeCode});
  hits.push_back({~0ull - 7, 5});  // far outside the table: skipped
  // Deletion on Windows clears the high word of the first cluster.
  std::size_t off = EntryOffset(l, "\xE5ONE    TXT");
  ASSERT_TRUE(off);
  std::memset(&l.image->bytes[off + 20], 0, 2);
  // The hits belong to this parse's task alone.
  ParseContext scan;
  scan.scanCompleted = true;
  scan.scanHits = hits;
  ASSERT_TRUE(Read(l, &scan));
  paths = test::NodePaths(l.partition.table);
  const FoundFileNode* gone = NodeAt(l.partition.table, paths.at("!rash/!one.txt"));
  EXPECT_EQ(std::uint32_t{gone->firstCluster}, truth);
  ExtentList extents;
  ASSERT_TRUE(FatFileExtents(l.partition, *gone, extents));
  DiskHandle h = HandleForDevice(l.image, "memory");
  EXPECT_EQ(test::Md5OfExtents(h, extents, gone->size), "11b2b7b57add37ea7274a3766946e2a0");
}

}  // namespace
}  // namespace ambrel
