// Listing whole NTFS volumes: the fixture made by mkntfs and ntfs-3g against
// its manifest and against The Sleuth Kit's fls, the tree rules on altered
// copies of the image, the MFT mirror fallback, the rebuild from loose FILE
// records, file data and the stop word.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <memory>
#include <set>

#include "app/settings.h"
#include "catalog/node_table.h"
#include "common/text.h"
#include "device/disk_handle.h"
#include "device/memory_device.h"
#include "fs/ntfs/ntfs_file_data.h"
#include "fs/ntfs/ntfs_known_extents.h"
#include "fs/ntfs/ntfs_partition.h"
#include "fs/ntfs/ntfs_record_node.h"
#include "fs/ntfs/ntfs_tree_from_records.h"
#include "fs/ntfs/ntfs_volume.h"
#include "fs/parse_file_system.h"
#include "ntfs_test_support.h"
#include "platform/md5.h"

namespace ambrel {
namespace {

const bool kUtc = [] {
  setenv("TZ", "UTC", 1);
  tzset();
  return true;
}();

constexpr std::uint64_t kMftLba = 32;  // cluster 4 x 8 sectors in the fixture

struct Listed {
  std::uint32_t id = 0;
  std::uint64_t size = 0;
  bool deleted = false;
  bool directory = false;
};
using Listing = std::map<std::string, Listed>;

std::string PathOf(const FoundFileTable& table, std::uint32_t id) {
  std::string path;
  for (int depth = 0; id != kRootId && depth < 64; ++depth) {
    const FoundFileNode* node = NodeAt(table, id);
    if (!node) return "?";
    path = path.empty() ? std::string(node->name) : std::string(node->name) + "/" + path;
    id = node->parentId;
  }
  return path;
}

Listing ListTable(const FoundFileTable& table) {
  Listing listing;
  for (std::uint32_t id = 0; id < table.count; ++id) {
    const FoundFileNode* node = NodeAt(table, id);
    if (!node || id == kRootId || id == kLostFolderId) continue;
    const NodeKind kind = KindOf(*node);
    listing[PathOf(table, id)] = {id, node->size, kind == kDeletedFile || kind == kDeletedFolder,
                                  IsFolderKind(kind)};
  }
  return listing;
}

void EnableParsing() {
  SetSettingsLoaded(true);
  OverrideSetting("ParseFileSys", "1");
}

class NtfsVolume : public ::testing::Test {
 protected:
  void SetUp() override {
    image_ = test::FixtureImage("ntfs-basic");
    ASSERT_FALSE(image_.empty());
    EnableParsing();
    DiskHandle disk;
    ASSERT_TRUE(OpenByPath(image_, disk));
    partition_.diskPath = image_;
    partition_.displayName = "ntfs-basic";
    partition_.fsKind = kFsNtfs;
    partition_.sectorCount = disk.sizeBytes / 512;
    ASSERT_TRUE(ReadSectors(disk, 0, 1, partition_.bootSector.data()));
  }

  // The image in memory, to be altered, with a partition record for it.
  DiskHandle MemoryCopy(std::vector<std::uint8_t>*& bytes) {
    auto whole = test::ReadImageBytes(image_, 0, partition_.sectorCount * 512);
    auto device = std::make_shared<MemoryDevice>(std::move(whole));
    bytes = &device->bytes();
    return HandleForDevice(device, "memory copy");
  }

  // Walks an (altered) in-memory image into a fresh linked table.
  Listing WalkCopy(DiskHandle& handle, PartitionInfo& into) {
    into.bootSector = partition_.bootSector;
    into.sectorCount = partition_.sectorCount;
    ExtentList extents;
    EXPECT_TRUE(LoadMftExtents(handle, into, extents));
    EXPECT_TRUE(WalkMft(handle, into, nullptr, extents));
    InitTable(into.table);
    LinkAll(into.table);
    return ListTable(into.table);
  }

  std::string image_;
  PartitionInfo partition_;
};

std::string OnDiskPath(std::string path) {
  // The recycle bin is listed under its display name.
  if (path.rfind("$RECYCLE.BIN", 0) == 0) path.replace(0, 12, "回收站");
  return path;
}

TEST_F(NtfsVolume, EveryManifestEntryIsListedWithSizeAndState) {
  ParseContext context;
  ASSERT_TRUE(ParseFileSystem(nullptr, partition_, &context));
  const Listing listing = ListTable(partition_.table);
  const auto manifest = test::LoadManifest("ntfs-basic");
  ASSERT_GT(manifest.size(), 20u);
  for (const auto& entry : manifest) {
    const std::string path = OnDiskPath(entry.path);
    auto it = listing.find(path);
    ASSERT_NE(it, listing.end()) << path;
    EXPECT_EQ(it->second.directory, entry.directory) << path;
    if (path == "回收站") {
      EXPECT_TRUE(it->second.deleted) << "the recycle bin is always a deleted folder";
      continue;
    }
    EXPECT_EQ(it->second.deleted, entry.deleted) << path;
    if (!entry.directory) {
      EXPECT_EQ(it->second.size, entry.size) << path;
    }
  }
  // System files are not listed; the lost folder stays empty on a sound volume.
  EXPECT_EQ(listing.count("$MFT"), 0u);
  EXPECT_EQ(listing.count("$Extend"), 0u);
  const FoundFileNode* lost = NodeAt(partition_.table, kLostFolderId);
  ASSERT_NE(lost, nullptr);
  EXPECT_EQ(std::uint32_t{lost->childCount}, 0u);
  // Registered extents: the MFT's own run and the mirror's.
  EXPECT_TRUE(context.known.InMft(kMftLba));
}

// fls -r -p -l lines: "r/r *
// 82-128-2:<TAB>path<TAB>mtime<TAB>atime<TAB>ctime<TAB>crtime<TAB>size..."
Listing FlsListing(const std::string& image) {
  Listing listing;
  std::string command = "fls -r -p -l '" + image + "' 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return listing;
  char line[4096];
  while (std::fgets(line, sizeof line, pipe)) {
    std::string text(line);
    if (!text.empty() && text.back() == '\n') text.pop_back();
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (std::size_t tab; (tab = text.find('\t', start)) != std::string::npos; start = tab + 1)
      fields.push_back(text.substr(start, tab - start));
    fields.push_back(text.substr(start));
    if (fields.size() < 7) continue;
    const std::string& head = fields[0];
    const std::string& path = fields[1];
    // By design not listed: NTFS system files and their streams, named
    // streams of any file, fls's virtual $OrphanFiles folder.
    if (path.empty() || (path[0] == '$' && path.rfind("$RECYCLE.BIN", 0) != 0)) continue;
    if (path.find(':') != std::string::npos) continue;
    Listed entry;
    entry.deleted = head.find('*') != std::string::npos;
    entry.directory = head[2] == 'd';
    entry.id = static_cast<std::uint32_t>(
        std::strtoul(head.c_str() + head.find_first_of("0123456789"), nullptr, 10));
    entry.size = std::strtoull(fields[6].c_str(), nullptr, 10);
    listing[OnDiskPath(path)] = entry;
  }
  pclose(pipe);
  return listing;
}

TEST_F(NtfsVolume, AgreesWithSleuthKitFls) {
  if (std::system("command -v fls >/dev/null 2>&1") != 0) GTEST_SKIP() << "fls not installed";
  const Listing fls = FlsListing(image_);
  ASSERT_GT(fls.size(), 20u);
  ASSERT_TRUE(ParseFileSystem(nullptr, partition_));
  const Listing ours = ListTable(partition_.table);
  for (const auto& [path, theirs] : fls) {
    auto it = ours.find(path);
    ASSERT_NE(it, ours.end()) << path;
    EXPECT_EQ(it->second.id, theirs.id) << path;
    EXPECT_EQ(it->second.directory, theirs.directory) << path;
    // Differences by design: the recycle bin is always listed as deleted.
    if (path != "回收站") {
      EXPECT_EQ(it->second.deleted, theirs.deleted) << path;
    }
    if (!theirs.directory) {
      EXPECT_EQ(it->second.size, theirs.size) << path;
    }
  }
  for (const auto& [path, entry] : ours) EXPECT_TRUE(fls.count(path)) << "not in fls: " << path;
}

TEST_F(NtfsVolume, ParentSlotReusedByAFolderOrByAFile) {
  std::vector<std::uint8_t>* bytes = nullptr;
  DiskHandle handle = MemoryCopy(bytes);
  // Record 70 (the deleted "ToDelete") now holds another folder; record 71
  // ("ToDelete/Inner") now holds a file.
  auto record = [&](std::uint32_t n) { return bytes->data() + (kMftLba + 2 * n) * 512; };
  auto fileName = FindAttribute(ByteSpan(record(70), 1024), std::nullopt, 0x30);
  ASSERT_TRUE(fileName);
  const std::size_t nameOffset = fileName->offset + 0x18 + 0x42;
  ASSERT_EQ(record(70)[nameOffset], 'T');
  record(70)[nameOffset] = 'N';
  record(70)[0x16] = 3;
  record(71)[0x16] = 1;
  PartitionInfo copy;
  const Listing listing = WalkCopy(handle, copy);
  EXPECT_TRUE(listing.count("NoDelete/gone.txt"));
  EXPECT_FALSE(listing.at("NoDelete").deleted);
  EXPECT_FALSE(listing.at("NoDelete/Inner").directory);
  EXPECT_TRUE(listing.count("丢失的文件/gone-too.bin"));
}

// Records below a "$" system record ($Extend\$RmMetadata\$Txf\$TxfLog
// and its $TxfLog.blf on volumes Windows has used) are system files: they
// are neither listed in the tree nor moved to the lost-files folder.
TEST_F(NtfsVolume, FilesBelowSystemRecordsAreNotListed) {
  std::vector<std::uint8_t>* bytes = nullptr;
  DiskHandle handle = MemoryCopy(bytes);
  // Record 65 ("Documents/Reports", holding 2023 and its two files) becomes
  // a system folder "$TxfLog" in $Extend (record 11).
  std::uint8_t* record = bytes->data() + (kMftLba + 2 * 65) * 512;
  auto info = FindAttribute(ByteSpan(record, 1024), std::nullopt, 0x10);
  auto fileName = FindAttribute(ByteSpan(record, 1024), std::nullopt, 0x30);
  ASSERT_TRUE(info && fileName);
  const std::size_t infoValue = info->offset + record[info->offset + 0x14];
  record[infoValue + 0x20] |= 0x06;  // hidden, system
  const std::size_t nameValue = fileName->offset + record[fileName->offset + 0x14];
  const char16_t* newName = u"$TxfLog";
  ASSERT_EQ(record[nameValue + 0x40], 7);
  for (int i = 0; i < 7; ++i) {
    record[nameValue + 0x42 + 2 * i] = static_cast<std::uint8_t>(newName[i]);
    record[nameValue + 0x43 + 2 * i] = 0;
  }
  record[nameValue] = 11;  // parent reference: $Extend
  for (int i = 1; i < 6; ++i) record[nameValue + i] = 0;
  PartitionInfo copy;
  const Listing listing = WalkCopy(handle, copy);
  EXPECT_TRUE(listing.count("Documents/resident-600.bin"));
  for (const auto& [path, listed] : listing) {
    EXPECT_EQ(path.find("2023"), std::string::npos) << path;
    EXPECT_EQ(path.find("四月报告"), std::string::npos) << path;
    EXPECT_EQ(path.find("TxfLog"), std::string::npos) << path;
  }
}

TEST_F(NtfsVolume, MftMirrorStandsInForAnUnreadableRecordZero) {
  std::vector<std::uint8_t>* bytes = nullptr;
  DiskHandle handle = MemoryCopy(bytes);
  ExtentList sound, mirrorFile;
  ASSERT_TRUE(LoadMftExtents(handle, partition_, sound));
  ASSERT_TRUE(LoadMftMirrorExtents(handle, partition_, mirrorFile));
  EXPECT_NE(sound[0].startSector, mirrorFile[0].startSector);
  std::memset(bytes->data() + kMftLba * 512, 0, 1024);  // record 0 gone
  ExtentList fromMirror;
  ASSERT_TRUE(LoadMftExtents(handle, partition_, fromMirror));
  ASSERT_EQ(fromMirror.size(), sound.size());
  EXPECT_EQ(fromMirror[0].startSector, sound[0].startSector);
  EXPECT_EQ(fromMirror[0].sectorCount, sound[0].sectorCount);
  // Without the mirror's copy as well, the volume cannot be read.
  std::memset(bytes->data() + mirrorFile[0].startSector * 512, 0, 1024);
  EXPECT_FALSE(LoadMftExtents(handle, partition_, fromMirror));
  EXPECT_TRUE(fromMirror.empty());
}

TEST_F(NtfsVolume, TreeFromLooseFileRecordsMatchesTheWalk) {
  ASSERT_TRUE(ParseFileSystem(nullptr, partition_));
  const Listing walked = ListTable(partition_.table);
  // The hits the deep scan would report: every sector that starts a FILE
  // record, anywhere in the image.
  DiskHandle disk;
  ASSERT_TRUE(OpenByPath(image_, disk));
  std::vector<FileRecordHit> hits;
  std::vector<std::uint8_t> sector(512);
  for (std::uint64_t lba = 0; lba < partition_.sectorCount; ++lba) {
    ASSERT_TRUE(ReadSectors(disk, lba, 1, sector.data()));
    if (std::memcmp(sector.data(), "FILE", 4) == 0) {
      std::uint32_t number;
      std::memcpy(&number, sector.data() + 0x2C, 4);
      hits.push_back({lba, number});
    }
  }
  ASSERT_GT(hits.size(), 90u);  // the MFT and its mirror's four records
  std::vector<PartitionInfo> built;
  ScanProgress progress;
  ASSERT_TRUE(BuildNtfsTreeFromRecords(built, progress, disk, "rebuilt", hits, 0, 0, 8));
  ASSERT_EQ(built.size(), 1u);
  EXPECT_EQ(built[0].fsKind, kFsNtfs);
  EXPECT_EQ(built[0].sectorCount, kUnknownPartitionSize);
  const Listing rebuilt = ListTable(built[0].table);
  EXPECT_EQ(rebuilt.size(), walked.size());
  for (const auto& [path, entry] : walked) {
    auto it = rebuilt.find(path);
    ASSERT_NE(it, rebuilt.end()) << path;
    EXPECT_EQ(it->second.size, entry.size) << path;
    EXPECT_EQ(it->second.deleted, entry.deleted) << path;
  }
  EXPECT_EQ(progress.u.parse.presentDirs + progress.u.parse.deletedDirs,
            11);  // with the root record
  EXPECT_FALSE(BuildNtfsTreeFromRecords(built, progress, disk, "bad", hits, 0, 0, 3));
}

TEST_F(NtfsVolume, FileDataResidentFragmentedAndDeleted) {
  ASSERT_TRUE(ParseFileSystem(nullptr, partition_));
  std::map<std::string, std::string> md5;
  for (const auto& e : test::LoadManifest("ntfs-basic")) md5[OnDiskPath(e.path)] = e.md5;
  const Listing listing = ListTable(partition_.table);
  for (const char* path : {"Documents/resident-600.bin", "Photos/interleaved-a.bin",
                           "Documents/Reports/2023/四月报告.doc", "ToDelete/Inner/gone-too.bin",
                           "Photos/IMG_0002.JPG", "中文目录/子目录/文件.txt"}) {
    const FoundFileNode* node = NodeAt(partition_.table, listing.at(path).id);
    ASSERT_NE(node, nullptr) << path;
    std::vector<std::uint8_t> data(node->size);
    ASSERT_TRUE(ReadNtfsFileData(*node, partition_, nullptr, node->size, data.data())) << path;
    if (md5.count(path)) {
      EXPECT_EQ(AsciiLower(Md5Hex(data.data(), data.size())), md5[path]) << path;
    }
  }
  // Interleaved growth: the two files alternate cluster by cluster.
  const FoundFileNode* a = NodeAt(partition_.table, listing.at("Photos/interleaved-a.bin").id);
  ASSERT_NE(a, nullptr);
  EXPECT_GE(std::uint32_t{a->firstCluster}, 12u);
}

TEST_F(NtfsVolume, ClusterBitmapAndVolumeChecks) {
  std::vector<std::uint8_t> bitmap;
  ASSERT_TRUE(LoadNtfsClusterBitmap(partition_, nullptr, bitmap));
  // 16 MiB in 4 KiB clusters: 4096 bits; the boot cluster and the MFT are in use.
  ASSERT_EQ(bitmap.size(), 512u);
  EXPECT_TRUE(bitmap[0] & 0x01);
  EXPECT_TRUE(bitmap[0] & 0x10);
  EXPECT_FALSE(bitmap[4000 / 8] & (1u << (4000 % 8)));
  DiskHandle disk;
  ASSERT_TRUE(OpenByPath(image_, disk));
  EXPECT_TRUE(CheckMftConsistency(partition_.bootSector, disk, 0));
  EXPECT_FALSE(CheckMftConsistency(partition_.bootSector, disk, 8));
  PartitionInfo labelled;
  labelled.bootSector = partition_.bootSector;
  ASSERT_TRUE(ReadNtfsVolumeLabel(disk, labelled));
  EXPECT_EQ(labelled.volumeLabel, "AmbrelNTFS");
}

TEST_F(NtfsVolume, StopWordAndTheParseSwitch) {
  std::atomic<std::uint32_t> stop{2};
  EXPECT_FALSE(ReadNtfsPartition(&stop, partition_));
  EXPECT_EQ(NodeAt(partition_.table, kRootId), nullptr) << "a stopped walk is not linked";

  OverrideSetting("ParseFileSys", "0");
  PartitionInfo other;
  other.diskPath = image_;
  other.fsKind = kFsNtfs;
  other.sectorCount = partition_.sectorCount;
  other.bootSector = partition_.bootSector;
  EXPECT_FALSE(ParseFileSystem(nullptr, other));
  EXPECT_EQ(other.table.count, 0u);
  EnableParsing();
  other.fsKind = kFsUnknown;
  EXPECT_FALSE(ParseFileSystem(nullptr, other));
  other.fsKind = kFsNtfs;
  EXPECT_TRUE(ParseFileSystem(nullptr, other));
}

TEST_F(NtfsVolume, WalkBoundsOddSectorsAndHugeRuns) {
  std::vector<std::uint8_t>* bytes = nullptr;
  DiskHandle handle = MemoryCopy(bytes);
  // One sector per cluster: an extent of 197 sectors holds records 0..97;
  // the odd last sector is ignored.
  PartitionInfo odd;
  odd.bootSector = partition_.bootSector;
  odd.bootSector[13] = 1;
  ExtentList extents = {DataExtent{4, 197, kMftLba, 197, false}};
  ASSERT_TRUE(WalkMft(handle, odd, nullptr, extents));
  EXPECT_NE(NodeAt(odd.table, 97), nullptr);
  EXPECT_EQ(NodeAt(odd.table, 98), nullptr);
  // A run length of 2^32-1 clusters of 8 sectors: the walk ends after
  // 0x200000 records (the rest of the image reads as zeros).
  PartitionInfo huge;
  huge.bootSector = partition_.bootSector;
  extents = {DataExtent{4, 0xFFFFFFFFu, kMftLba, 0xFFFFFFFFull * 8, false},
             DataExtent{4, 0xFFFFFFFFu, kMftLba, 0xFFFFFFFFull * 8, false}};
  ASSERT_TRUE(WalkMft(handle, huge, nullptr, extents));
  EXPECT_NE(NodeAt(huge.table, 98), nullptr);
  EXPECT_LE(huge.table.capacity, 0x200000u);
}

// Sets the stop word once the first read has been served.
class StopAfterFirstRead final : public BlockDevice {
 public:
  StopAfterFirstRead(std::shared_ptr<BlockDevice> inner, std::atomic<std::uint32_t>& stop)
      : inner_(std::move(inner)), stop_(stop) {}
  std::int64_t ReadAt(std::uint64_t offset, void* buffer, std::size_t length) override {
    stop_ = 2;
    return inner_->ReadAt(offset, buffer, length);
  }
  std::uint64_t SizeBytes() override { return inner_->SizeBytes(); }
  std::string Path() const override { return inner_->Path(); }

 private:
  std::shared_ptr<BlockDevice> inner_;
  std::atomic<std::uint32_t>& stop_;
};

TEST_F(NtfsVolume, StopAfterTheFirstChunkLeavesAnUnlinkedTable) {
  std::vector<std::uint8_t>* bytes = nullptr;
  DiskHandle memory = MemoryCopy(bytes);
  ExtentList extents;
  ASSERT_TRUE(LoadMftExtents(memory, partition_, extents));
  extents.push_back(extents[0]);  // a second extent the walk must not reach
  std::atomic<std::uint32_t> stop{0};
  DiskHandle handle =
      HandleForDevice(std::make_shared<StopAfterFirstRead>(memory.device, stop), "stopping");
  PartitionInfo stopped;
  stopped.bootSector = partition_.bootSector;
  EXPECT_FALSE(WalkMft(handle, stopped, &stop, extents));
  EXPECT_NE(NodeAt(stopped.table, 64), nullptr) << "the first chunk's records stay";
  EXPECT_EQ(NodeAt(stopped.table, kLostFolderId), nullptr) << "not initialised";
  EXPECT_EQ(std::uint32_t{NodeAt(stopped.table, 64)->parentId}, kRootId);
  EXPECT_EQ(std::uint32_t{NodeAt(stopped.table, kRootId)->childCount}, 0u) << "not linked";
}

TEST(NtfsKnownExtents, RegisterOnceAndReset) {
  KnownExtents known;
  DataExtent a{0, 4, 1000, 32, false};
  EXPECT_TRUE(known.RegisterMft({a}));
  EXPECT_FALSE(known.RegisterMft({a}));
  EXPECT_EQ(known.Mft().size(), 1u);
  EXPECT_TRUE(known.InMft(1031));
  EXPECT_FALSE(known.InMft(1032));
  known.AddIndex(5000, 8);
  EXPECT_TRUE(known.InIndex(5007));
  // Another task's extents are its own.
  KnownExtents other;
  EXPECT_FALSE(other.InMft(1031));
  EXPECT_FALSE(other.InIndex(5007));
  known.Reset();
  EXPECT_TRUE(known.Mft().empty());
  EXPECT_FALSE(known.InIndex(5007));
}

}  // namespace
}  // namespace ambrel
