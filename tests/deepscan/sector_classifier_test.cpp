// The sector classifier on crafted sectors (each rule and its edges) and on
// images made by mkfs.fat, mkntfs and mkfs.exfat, checked against the
// sleuthkit's view of the same image.
#include <gtest/gtest.h>

#include <cstring>

#include "common/text.h"
#include "deepscan/record_payloads.h"
#include "deepscan/scan_hit.h"
#include "deepscan/sector_classifier.h"
#include "deepscan_support.h"
#include "support/test_paths.h"

namespace ambrel {
namespace {

using test::Bytes;
using test::PutU16;
using test::PutU32;
using test::PutU64;

std::uint8_t KindOf(const Bytes& sector, std::uint64_t lba) {
  std::uint8_t kind = 0;
  if (!ClassifySector(sector, lba, kind)) {
    EXPECT_EQ(kind, kHitDead);
  }
  return kind;
}

Bytes PartitionTable(std::uint8_t type, std::uint32_t start, std::uint32_t length) {
  Bytes s(512, 0);
  s[446 + 4] = type;
  PutU32(s, 446 + 8, start);
  PutU32(s, 446 + 12, length);
  s[510] = 0x55;
  s[511] = 0xAA;
  return s;
}

TEST(SectorClassifier, BootSectorWinsOverPartitionTable) {
  Bytes s = test::MakeFat32Boot(1 << 20);
  Bytes table = PartitionTable(0x0C, 2048, 1 << 20);
  std::memcpy(s.data() + 446, table.data() + 446, 64);
  EXPECT_EQ(KindOf(s, 5000), kHitFat32Boot);
}

TEST(SectorClassifier, PartitionTableIsMbrOnlyAtLbaZero) {
  Bytes s = PartitionTable(0x07, 2048, 16384);
  EXPECT_EQ(KindOf(s, 5000), kHitEbr);
  EXPECT_EQ(KindOf(s, 0), kHitMbr);
  EXPECT_EQ(KindOf(test::MakeNtfsBoot(1 << 20), 0), kHitNtfsBoot);
}

TEST(SectorClassifier, PartitionEntryLimits) {
  EXPECT_EQ(KindOf(PartitionTable(0x07, 2048, 16383), 9), kHitDead);
  EXPECT_EQ(KindOf(PartitionTable(0x1C, 2048, 16384), 9), kHitEbr);
  EXPECT_EQ(KindOf(PartitionTable(0x1D, 2048, 16384), 9), kHitDead);
  EXPECT_EQ(KindOf(PartitionTable(0x07, 0, 16384), 9), kHitDead);
  Bytes flagged = PartitionTable(0x07, 2048, 16384);
  flagged[446] = 0x81;
  EXPECT_EQ(KindOf(flagged, 9), kHitDead);
}

TEST(SectorClassifier, BootSectorsJudgedByConsistencyNotGeometry) {
  // Heads 16 and 32 sectors per track, and a positive FILE-record byte as
  // mkntfs writes for 512-byte clusters: still NTFS.
  Bytes ntfs = test::MakeNtfsBoot(1 << 20);
  PutU16(ntfs, 24, 32);
  PutU16(ntfs, 26, 16);
  ntfs[13] = 1;
  ntfs[64] = 2;
  EXPECT_EQ(KindOf(ntfs, 77), kHitNtfsBoot);
  // An MFT cluster beyond the volume is not.
  PutU64(ntfs, 48, 1 << 21);
  EXPECT_EQ(KindOf(ntfs, 77), kHitDead);
  Bytes fat = test::MakeFat32Boot(1 << 20);
  fat[21] = 0xF0;
  EXPECT_EQ(KindOf(fat, 77), kHitFat32Boot);
  fat[16] = 3;
  EXPECT_EQ(KindOf(fat, 77), kHitDead);
}

TEST(SectorClassifier, FileRecordHeaderRules) {
  Bytes r = test::MakeFileRecord(40, 5, u"a.txt", 1, {0x11, 0x01, 0x10, 0x00}, 100);
  Bytes first(r.begin(), r.begin() + 512);
  EXPECT_EQ(KindOf(first, 100), kHitFileRecord);
  PutU32(first, 0x18, 1024);
  EXPECT_EQ(KindOf(first, 100), kHitFileRecord);
  PutU32(first, 0x18, 1020);
  EXPECT_EQ(KindOf(first, 100), kHitDead);
  PutU32(first, 0x18, 0x1A0);
  PutU32(first, 0x38, 0x40);
  EXPECT_EQ(KindOf(first, 100), kHitDead);
}

TEST(SectorClassifier, GptHeaderOnlyAtLbaOne) {
  Bytes s(512, 0);
  std::memcpy(s.data(), "EFI PART", 8);
  EXPECT_EQ(KindOf(s, 1), kHitGptHeader);
  EXPECT_EQ(KindOf(s, 2), kHitDead);
}

Bytes FatRootSector(const char* label) {
  Bytes s(512, 0);
  std::memcpy(s.data(), label, 11);
  s[11] = 0x08;
  return s;
}

TEST(SectorClassifier, FatRootDirectoryLabel) {
  EXPECT_EQ(KindOf(FatRootSector("ELEVENCHARS"), 3000), kHitFatRootDirectory);
  Bytes s = FatRootSector("ELEVENCHARS");
  PutU32(s, 28, 1);
  EXPECT_EQ(KindOf(s, 3000), kHitDead);
  // GBK characters in the first ten bytes.
  Bytes gbk = FatRootSector("\xD6\xD0\xCE\xC4\xBE\xED\xB1\xEA   ");
  EXPECT_EQ(KindOf(gbk, 3000), kHitFatRootDirectory);
  Bytes bad = FatRootSector("AB\x01       ");
  EXPECT_EQ(KindOf(bad, 3000), kHitDead);
}

TEST(SectorClassifier, FatRootLabelWithTimeStamps) {
  Bytes s = FatRootSector("DEFFAT32   ");
  PutU32(s, 14, 0x5d895d89);  // creation and access dates as mkfs.fat writes them
  PutU32(s, 22, 0x5d89357b);
  EXPECT_EQ(KindOf(s, 3000), kHitFatRootDirectory);
  PutU16(s, 26, 5);  // a label has no cluster
  EXPECT_EQ(KindOf(s, 3000), kHitDead);
}

TEST(SectorClassifier, FatDirectoryClusterClusters) {
  Bytes s(512, 0);
  std::memcpy(s.data(), ".          ", 11);
  std::memcpy(s.data() + 32, "..         ", 11);
  PutU16(s, 20, 0x0001);
  PutU16(s, 26, 0x0203);
  PutU16(s, 32 + 26, 7);
  EXPECT_EQ(KindOf(s, 3000), kHitFatDirectory);
}

void PutEntry(Bytes& s, unsigned n, std::uint8_t type, std::uint8_t second = 0) {
  s[n * 32] = type;
  s[n * 32 + 1] = second;
  if (type == 0xC1 || type == 0x41) PutU16(s, n * 32 + 2, 'x');
}

TEST(SectorClassifier, ExfatRootNeedsACompleteSet) {
  Bytes s(512, 0);
  s[0] = 0x83;
  s[1] = 3;
  PutU16(s, 2, 'A');
  PutU16(s, 4, 'B');
  PutU16(s, 6, 'C');
  PutEntry(s, 1, 0x81);
  PutEntry(s, 2, 0x82);
  EXPECT_EQ(KindOf(s, 4000), kHitDead);  // label, bitmap and up-case only
  PutEntry(s, 3, 0x85, 2);
  PutEntry(s, 4, 0xC0);
  PutEntry(s, 5, 0xC1);
  EXPECT_EQ(KindOf(s, 4000), kHitExfatRootDirectory);
  s[1] = 2;  // a label of two characters followed by a third: invalid
  EXPECT_EQ(KindOf(s, 4000), kHitDead);
}

TEST(SectorClassifier, ExfatDirectoryEntrySets) {
  Bytes s(512, 0);
  PutEntry(s, 0, 0xC0);
  EXPECT_EQ(KindOf(s, 4000), kHitDead);  // a stream with no file before it
  PutEntry(s, 1, 0x05, 2);               // a deleted set counts as well
  PutEntry(s, 2, 0x40);
  PutEntry(s, 3, 0x41);
  EXPECT_EQ(KindOf(s, 4000), kHitExfatDirectory);
  PutEntry(s, 4, 0x85, 2);
  PutEntry(s, 5, 0xC1);  // names where the stream belongs
  EXPECT_EQ(KindOf(s, 4000), kHitDead);
}

TEST(SectorClassifier, KindNames) {
  EXPECT_EQ(HitKindName(kHitMbr), "MBR");
  EXPECT_EQ(HitKindName(kHitFatDirectory), "FAT Dir entry");
  EXPECT_EQ(HitKindName(kHitExfatDirectory), "Exfat dir entry");
  EXPECT_EQ(HitKindName(46), "jpg");
  EXPECT_EQ(HitKindName(0), "***");
  EXPECT_EQ(HitKindName(kHitGptHeader), "***");
  EXPECT_EQ(HitKindName(500), "***");
}

TEST(FileRecordSummary, TakesLongNameAndRuns) {
  Bytes r = test::MakeFileRecord(40, 5, u"report.doc", 1, {0x11, 0x01, 0x10, 0x00}, 5000);
  auto s = SummariseFileRecord(r);
  ASSERT_TRUE(s);
  EXPECT_EQ(s->recordNumber, 40u);
  EXPECT_EQ(s->parentRecord, 5u);
  EXPECT_EQ(s->name, u"report.doc");
  EXPECT_EQ(s->dataSize, 5000u);
  EXPECT_EQ(s->allocatedSize, 8192u);
  EXPECT_EQ(s->runs.size(), 8u);  // to the attribute's end
  EXPECT_EQ(s->flags, kSummaryInUse);
}

TEST(FileRecordSummary, DosOnlyNameFails) {
  Bytes r = test::MakeFileRecord(40, 5, u"REPORT~1.DOC", 2, {0x11, 0x01, 0x10, 0x00}, 5000);
  EXPECT_FALSE(SummariseFileRecord(r));
}

TEST(FileRecordSummary, NameRunningPastTheAttributeIsRejected) {
  Bytes r = test::MakeFileRecord(40, 5, u"ab", 1, {0x11, 0x01, 0x10, 0x00}, 5000);
  r[0x38 + 0x60 + 0x18 + 64] = 200;  // claims 200 characters
  EXPECT_FALSE(SummariseFileRecord(r));
}

TEST(IndxPayload, FirstLongNameGivesTheDirectory) {
  Bytes r(4096, 0);
  std::memcpy(r.data(), "INDX", 4);
  PutU32(r, 0x18, 0x28);  // first entry at 0x40
  std::size_t e = 0x40;
  PutU16(r, e + 8, 0x68);
  r[e + 80] = 8;
  r[e + 81] = 2;  // a DOS name first: skipped
  PutU32(r, e + 16, 99);
  e += 0x68;
  PutU16(r, e + 8, 0x68);
  r[e + 80] = 9;
  r[e + 81] = 1;
  PutU32(r, e + 16, 64);
  EXPECT_EQ(IndexedDirectoryOf(r).value_or(0), 64u);
  PutU16(r, e + 12, 7);  // flags neither 0 nor 1 end the walk
  EXPECT_FALSE(IndexedDirectoryOf(r));
}

// ---- images made by the real tools, against sleuthkit ----

std::vector<std::uint64_t> Numbers(const std::string& l);

struct OracleImage {
  std::string path;
  Bytes bytes;
  std::map<std::uint64_t, ScanHit> hits;
};

bool LoadOracleImage(const std::string& name, OracleImage& out) {
  out.path = test::FixtureImage(name);
  if (out.path.empty()) return false;
  out.bytes = test::ReadImage(out.path);
  out.hits = test::ClassifyImage(out.bytes);
  return true;
}

std::uint8_t HitKindAt(const OracleImage& image, std::uint64_t lba) {
  auto it = image.hits.find(lba);
  return it == image.hits.end() ? std::uint8_t{kHitDead} : it->second.kind;
}

struct FlsLine {
  bool directory = false;
  std::uint64_t inode = 0;
  std::string name;  // last path component
};

std::vector<FlsLine> Fls(const std::string& path) {
  std::vector<FlsLine> out;
  for (const std::string& l : test::CommandLines("fls -r -p '" + path + "' 2>/dev/null")) {
    auto tab = l.find('\t');
    if (tab == std::string::npos || l[0] == 'v' || l[0] == 'V') continue;
    if (l.find("(Volume Label Entry)") != std::string::npos) continue;
    FlsLine f;
    f.directory = l[2] == 'd';
    auto digits = l.find_first_of("0123456789", 4);
    f.inode = std::strtoull(l.c_str() + digits, nullptr, 10);
    const std::string full = l.substr(tab + 1);
    f.name = full.substr(full.rfind('/') == std::string::npos ? 0 : full.rfind('/') + 1);
    if (l.find(':', tab) != std::string::npos) continue;  // named streams
    if (f.name.rfind("OrphanFile-", 0) == 0 || f.name == "$OrphanFiles") continue;  // virtual
    out.push_back(f);
  }
  return out;
}

std::vector<std::uint64_t> IstatSectors(const std::string& path, std::uint64_t inode) {
  std::vector<std::uint64_t> sectors;
  bool in = false;
  for (const std::string& l : test::CommandLines("istat '" + path + "' " + std::to_string(inode))) {
    if (l.rfind("Sectors:", 0) == 0) {
      in = true;
      continue;
    }
    if (!in) continue;
    for (std::uint64_t v : Numbers(l)) sectors.push_back(v);
  }
  return sectors;
}

std::vector<std::uint64_t> Numbers(const std::string& l) {
  std::vector<std::uint64_t> out;
  for (const char* p = l.c_str(); *p;) {
    char* end = nullptr;
    const std::uint64_t v = std::strtoull(p, &end, 10);
    if (end == p) break;
    out.push_back(v);
    p = end;
  }
  return out;
}

// The clusters istat lists under an NTFS directory's $INDEX_ALLOCATION.
std::vector<std::uint64_t> IndexAllocationClusters(const std::string& path, std::uint64_t inode) {
  const auto lines = test::CommandLines("istat '" + path + "' " + std::to_string(inode));
  for (std::size_t i = 0; i + 1 < lines.size(); ++i)
    if (lines[i].find("$INDEX_ALLOCATION") != std::string::npos) return Numbers(lines[i + 1]);
  return {};
}

TEST(SectorClassifierImages, NtfsDefaultRecordsAndBootSectors) {
  if (!test::ToolAvailable("fls")) GTEST_SKIP() << "sleuthkit missing";
  OracleImage image;
  ASSERT_TRUE(LoadOracleImage("ntfs-default", image));
  const auto fsstat = test::CommandLines("fsstat '" + image.path + "'");
  const std::uint64_t mftCluster = test::NumberAfter(fsstat, "First Cluster of MFT: ");
  const std::uint64_t clusterBytes = test::NumberAfter(fsstat, "Cluster Size: ");
  ASSERT_NE(mftCluster, UINT64_MAX);
  const std::uint64_t mftLba = mftCluster * clusterBytes / 512;
  EXPECT_EQ(HitKindAt(image, 0), kHitNtfsBoot);
  EXPECT_EQ(HitKindAt(image, image.bytes.size() / 512 - 1), kHitNtfsBoot);  // the backup
  const auto files = Fls(image.path);
  ASSERT_GT(files.size(), 20u);
  for (const FlsLine& f : files) {
    SCOPED_TRACE(f.name);
    const std::uint64_t lba = mftLba + 2 * f.inode;
    ASSERT_EQ(HitKindAt(image, lba), kHitFileRecord);
    const FileRecordSummary& s = *image.hits.at(lba).record;
    EXPECT_EQ(s.recordNumber, f.inode);
    if (f.name.find('$') != 0) {
      EXPECT_EQ(Utf16ToUtf8(s.name), f.name);
    }
    EXPECT_EQ((s.flags & kSummaryDirectory) != 0, f.directory);
  }
  // Every directory with an index allocation has its INDX record found,
  // naming that directory.
  int indexed = 0;
  std::vector<FlsLine> directories = {{true, 5, "."}};  // the root is not listed
  for (const FlsLine& f : files)
    if (f.directory) directories.push_back(f);
  for (const FlsLine& f : directories) {
    const FileRecordSummary& s = *image.hits.at(mftLba + 2 * f.inode).record;
    if (!(s.flags & kSummaryHasIndexAllocation)) continue;
    const auto clusters = IndexAllocationClusters(image.path, f.inode);
    ASSERT_FALSE(clusters.empty());
    const std::uint64_t indx = clusters.front() * clusterBytes / 512;
    ASSERT_EQ(HitKindAt(image, indx), kHitIndxRecord) << f.name;
    EXPECT_EQ(image.hits.at(indx).aux1, f.inode) << f.name;
    ++indexed;
  }
  EXPECT_GE(indexed, 1);
}

TEST(SectorClassifierImages, Fat32DefaultDirectoriesAndBootSectors) {
  if (!test::ToolAvailable("fls")) GTEST_SKIP() << "sleuthkit missing";
  OracleImage image;
  ASSERT_TRUE(LoadOracleImage("fat32-default", image));
  const auto fsstat = test::CommandLines("fsstat '" + image.path + "'");
  const std::uint64_t root = test::NumberAfter(fsstat, "*** Root Directory: ");
  const std::uint64_t dataStart = test::NumberAfter(fsstat, "** Cluster Area: ");
  const std::uint64_t spc = test::NumberAfter(fsstat, "Cluster Size: ") / 512;
  EXPECT_EQ(HitKindAt(image, 0), kHitFat32Boot);
  EXPECT_EQ(HitKindAt(image, 6), kHitFat32Boot);
  EXPECT_EQ(HitKindAt(image, root), kHitFatRootDirectory);
  int directories = 0;
  for (const FlsLine& f : Fls(image.path)) {
    if (!f.directory) continue;
    const auto sectors = IstatSectors(image.path, f.inode);
    ASSERT_FALSE(sectors.empty()) << f.name;
    ASSERT_EQ(HitKindAt(image, sectors.front()), kHitFatDirectory) << f.name;
    EXPECT_EQ(image.hits.at(sectors.front()).aux1, (sectors.front() - dataStart) / spc + 2);
    ++directories;
  }
  EXPECT_GE(directories, 3);
}

TEST(SectorClassifierImages, ExfatDefaultEntrySetsAndBootSectors) {
  if (!test::ToolAvailable("fls")) GTEST_SKIP() << "sleuthkit missing";
  OracleImage image;
  ASSERT_TRUE(LoadOracleImage("exfat-default", image));
  const auto fsstat = test::CommandLines("fsstat '" + image.path + "'");
  const std::uint64_t root = test::NumberAfter(fsstat, "*** Root Directory: ");
  const std::uint64_t heap = test::NumberAfter(fsstat, "** Cluster Heap: ");
  EXPECT_EQ(HitKindAt(image, 0), kHitExfatBoot);
  EXPECT_EQ(HitKindAt(image, 12), kHitExfatBoot);
  EXPECT_EQ(HitKindAt(image, root), kHitExfatRootDirectory);
  // The sleuthkit numbers an exFAT entry 3 + 16 x (sector - heap) + index.
  int sets = 0;
  for (const FlsLine& f : Fls(image.path)) {
    if (f.name.rfind('$', 0) == 0 || f.inode < 3) continue;
    const std::uint64_t sector = heap + (f.inode - 3) / 16, index = (f.inode - 3) % 16;
    const std::uint8_t secondaries = image.bytes[sector * 512 + index * 32 + 1];
    if (index + secondaries >= 16) continue;  // the set runs on into the next sector
    const std::uint8_t kind = HitKindAt(image, sector);
    EXPECT_TRUE(kind == kHitExfatDirectory || (sector == root && kind == kHitExfatRootDirectory))
        << f.name << " at " << sector;
    ++sets;
  }
  EXPECT_GE(sets, 10);
}

TEST(SectorClassifierImages, MbrDiskTableAndEveryBootSector) {
  if (!test::ToolAvailable("mmls")) GTEST_SKIP() << "sleuthkit missing";
  OracleImage image;
  ASSERT_TRUE(LoadOracleImage("disk-mbr-default", image));
  EXPECT_EQ(HitKindAt(image, 0), kHitMbr);
  int volumes = 0;
  for (const std::string& l : test::CommandLines("mmls '" + image.path + "'")) {
    // "002:  000:000   0000002048   0000264191   ...": start and end follow the slot.
    const auto n = Numbers(l.substr(std::min<std::size_t>(l.size(), 14)));
    if (l.find("0x0c") != std::string::npos) {
      EXPECT_EQ(HitKindAt(image, n[0]), kHitFat32Boot);
      EXPECT_EQ(HitKindAt(image, n[0] + 6), kHitFat32Boot);
      ++volumes;
    } else if (l.find("0x07") != std::string::npos) {
      const std::uint8_t kind = HitKindAt(image, n[0]);
      EXPECT_TRUE(kind == kHitNtfsBoot || kind == kHitExfatBoot) << l;
      const std::uint64_t backup = kind == kHitNtfsBoot ? n[1] : n[0] + 12;
      EXPECT_EQ(HitKindAt(image, backup), kind) << "backup of " << l;
      ++volumes;
    }
  }
  EXPECT_EQ(volumes, 3);
}

}  // namespace
}  // namespace ambrel
