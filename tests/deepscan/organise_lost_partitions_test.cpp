// Lost partitions of a disk made by sfdisk with FAT16, FAT32, NTFS and
// exFAT volumes (the disk-mbr fixture), damaged the way users damage disks:
// the partition table wiped, boot sectors overwritten. Every volume comes
// back, once, with its files; how it was found tells which structure the
// rebuild used.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <map>

#include "catalog/node_table.h"
#include "deepscan/organise/partition_views.h"
#include "deepscan/scan_settings.h"
#include "deepscan_support.h"
#include "organise_support.h"
#include "support/test_paths.h"

namespace ambrel {
namespace {

constexpr std::uint64_t kFat16Start = 2048, kFat32Start = 67584, kNtfsStart = 151552,
                        kExfatStart = 186368, kExtendedStart = 149504;

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
  return s;
}

// The live files of one volume of the fixture's manifest, lower-case.
std::set<std::string> ManifestLiveFiles(const std::string& volume, const std::string& fixture = "disk-mbr") {
  std::set<std::string> out;
  for (const test::ManifestEntry& e : test::LoadManifest(fixture))
    if (e.volume == volume && !e.directory && !e.deleted) out.insert(Lower(e.path));
  return out;
}

std::set<std::string> LiveFiles(const PartitionInfo& p) {
  std::set<std::string> all = test::FilePaths(p), deleted = test::DeletedFilePaths(p), out;
  for (const std::string& f : all)
    if (!deleted.count(f)) out.insert(Lower(f));
  return out;
}

class LostPartitions : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = test::TempDir("organise-lost");
    image = dir + "/disk.img";
    ASSERT_TRUE(test::CopyFixture("disk-mbr", image));
  }
  // Every start appears once among the results of one file-system kind.
  static void ExpectEachStartOnce(const test::OrganisedScan& scan) {
    std::map<std::pair<std::uint64_t, int>, int> seen;
    for (const auto& p : scan.results)
      if (p->fsKind != kFsSignature) ++seen[{p->startLba, p->table.listingScope}];
    for (const auto& [key, n] : seen) EXPECT_EQ(n, 1) << "start " << key.first;
  }
  std::string dir, image;
};

TEST_F(LostPartitions, IntactDiskGivesEachRealVolumeAsPresentAndDeletedViews) {
  for (bool live : {false, true}) {
    test::OrganisedScan scan = test::ScanAndOrganise(image, RecoveryMode::kAllFiles, live);
    ASSERT_TRUE(scan.organised);
    EXPECT_EQ(test::ResultsBy(scan, kOriginReal).size(), 8u) << "live " << live;
    for (const auto& p : scan.results) {
      EXPECT_EQ(p->origin, kOriginReal);
      EXPECT_NE(p->table.listingScope, 0u);
    }
    ExpectEachStartOnce(scan);
  }
}

TEST(OrganiseViews, DeletedFilesModeKeepsOnlyTheDeletedView) {
  const std::string image = test::TempDir("organise-mode2") + "/fat32.img";
  ASSERT_TRUE(test::CopyFixture("fat32-basic", image));
  test::OrganisedScan scan = test::ScanAndOrganise(image, RecoveryMode::kDeletedFiles, false);
  ASSERT_TRUE(scan.organised);
  ASSERT_EQ(scan.results.size(), 1u);
  EXPECT_EQ(scan.results[0]->table.listingScope, 2u);
  // A present file stays only inside a deleted folder (it goes with it).
  const FoundFileTable& t = scan.results[0]->table;
  for (std::uint32_t id = kRootId + 1; id < t.count; ++id) {
    const FoundFileNode* n = NodeAt(t, id);
    if (!n || KindOf(*n) != kPresentFile) continue;
    bool underDeleted = false;
    for (std::uint32_t up = n->parentId, depth = 0; up != kRootId && depth < 64; ++depth) {
      const FoundFileNode* a = NodeAt(t, up);
      if (!a) break;
      underDeleted |= KindOf(*a) == kDeletedFolder;
      up = a->parentId;
    }
    EXPECT_TRUE(underDeleted) << n->name;
  }
  EXPECT_FALSE(test::DeletedFilePaths(*scan.results[0]).empty());
}

TEST_F(LostPartitions, WipedTableGivesEveryVolumeBackWithItsFiles) {
  test::ZeroSectors(image, 0, 34);
  test::OrganisedScan scan = test::ScanAndOrganise(image, RecoveryMode::kAllFiles, false);
  ASSERT_TRUE(scan.organised);
  EXPECT_TRUE(test::ResultsBy(scan, kOriginReal).empty());
  const std::map<std::string, std::pair<std::uint64_t, std::int32_t>> volumes = {
      {"1", {kFat16Start, kFsFat16}}, {"2", {kFat32Start, kFsFat32}},
      {"5", {kNtfsStart, kFsNtfs}}, {"6", {kExfatStart, kFsExfat}}};
  for (const auto& [number, where] : volumes) {
    const PartitionInfo* p = test::ResultAt(scan, where.first, where.second);
    ASSERT_NE(p, nullptr) << "volume " << number;
    EXPECT_EQ(p->diskPath, image);
    const std::set<std::string> expected = ManifestLiveFiles(number);
    const std::set<std::string> found = LiveFiles(*p);
    for (const std::string& f : expected) EXPECT_TRUE(found.count(f)) << number << ": " << f;
  }
  // The logical volumes are described by the surviving extended boot record.
  EXPECT_EQ(test::ResultAt(scan, kNtfsStart)->origin, kOriginPartitionTable);
  EXPECT_EQ(test::ResultAt(scan, kExfatStart)->origin, kOriginPartitionTable);
  EXPECT_EQ(test::ResultAt(scan, kFat16Start)->origin, kOriginBootSector);
  ExpectEachStartOnce(scan);
}

TEST_F(LostPartitions, RebuiltVolumesCopyOutWithTheirFolders) {
  test::ZeroSectors(image, 0, 34);
  test::OrganisedScan scan = test::ScanAndOrganise(image, RecoveryMode::kAllFiles, false);
  ASSERT_TRUE(scan.organised);
  const std::map<std::string, std::uint64_t> volumes = {
      {"1", kFat16Start}, {"2", kFat32Start}, {"5", kNtfsStart}, {"6", kExfatStart}};
  for (const auto& [number, start] : volumes) {
    auto it = std::find_if(scan.results.begin(), scan.results.end(),
                           [start = start](const auto& p) { return p->startLba == start; });
    ASSERT_NE(it, scan.results.end());
    const auto written = test::CopyOutTree(**it, dir + "/out" + number);
    std::map<std::string, std::string> byPath;  // below the volume's folder, lower-case
    for (const auto& [path, md5] : written) byPath[Lower(path.substr(path.find('/') + 1))] = md5;
    for (const test::ManifestEntry& e : test::LoadManifest("disk-mbr")) {
      if (e.volume != number || e.directory || e.deleted) continue;
      EXPECT_EQ(byPath[Lower(e.path)], e.md5) << number << ": " << e.path;
    }
  }
}

TEST_F(LostPartitions, LiveResultsFindTheLostVolumesWhileScanning) {
  test::ZeroSectors(image, 0, 34);
  test::OrganisedScan scan = test::ScanAndOrganise(image, RecoveryMode::kAllFiles, true);
  ASSERT_TRUE(scan.organised);
  for (std::uint64_t start : {kFat16Start, kFat32Start, kNtfsStart, kExfatStart})
    EXPECT_NE(test::ResultAt(scan, start), nullptr) << start;
  ExpectEachStartOnce(scan);
}

TEST_F(LostPartitions, NtfsBootSectorWipedComesBackFromItsBackupAtTheVolumeEnd) {
  test::ZeroSectors(image, 0, 34);
  test::ZeroSectors(image, kExtendedStart, 1);  // the EBR that names it
  test::ZeroSectors(image, kNtfsStart, 1);
  test::OrganisedScan scan = test::ScanAndOrganise(image, RecoveryMode::kAllFiles, false);
  const PartitionInfo* ntfs = test::ResultAt(scan, kNtfsStart, kFsNtfs);
  ASSERT_NE(ntfs, nullptr);
  EXPECT_EQ(ntfs->origin, kOriginBackupBootSector);
  EXPECT_EQ(ntfs->volumeLabel, "AmbrelNTFS");
  for (const std::string& f : ManifestLiveFiles("5")) EXPECT_TRUE(LiveFiles(*ntfs).count(f)) << f;
  ExpectEachStartOnce(scan);
}

TEST_F(LostPartitions, Fat32BootSectorWipedComesBackFromTheBackupSixSectorsOn) {
  test::ZeroSectors(image, 0, 34);
  test::ZeroSectors(image, kFat32Start, 1);
  test::OrganisedScan scan = test::ScanAndOrganise(image, RecoveryMode::kAllFiles, false);
  const PartitionInfo* fat = test::ResultAt(scan, kFat32Start, kFsFat32);
  ASSERT_NE(fat, nullptr);
  EXPECT_EQ(fat->origin, kOriginBackupBootSector);
  for (const std::string& f : ManifestLiveFiles("2")) EXPECT_TRUE(LiveFiles(*fat).count(f)) << f;
  EXPECT_EQ(test::ResultAt(scan, kFat32Start + 6), nullptr);
}

TEST_F(LostPartitions, ExfatBootRegionWipedComesBackFromTheBackupRegion) {
  test::ZeroSectors(image, 0, 34);
  test::ZeroSectors(image, kExfatStart, 12);
  // The EBR entry of the exFAT volume points at a wiped boot sector.
  test::OrganisedScan scan = test::ScanAndOrganise(image, RecoveryMode::kAllFiles, false);
  const PartitionInfo* exfat = test::ResultAt(scan, kExfatStart, kFsExfat);
  ASSERT_NE(exfat, nullptr);
  EXPECT_EQ(exfat->origin, kOriginBackupBootSector);
  EXPECT_EQ(exfat->volumeLabel, "AmbExfat");
  for (const std::string& f : ManifestLiveFiles("6")) EXPECT_TRUE(LiveFiles(*exfat).count(f)) << f;
}

TEST_F(LostPartitions, SettingsFilterDropsTheKindsNotSearched) {
  test::ZeroSectors(image, 0, 34);
  test::OrganisedScan scan =
      test::ScanAndOrganise(image, RecoveryMode::kAllFiles, false, nullptr, {{kOptSearchNtfs, 0}, {kOptSearchExfat, 0}});
  EXPECT_EQ(test::ResultAt(scan, kNtfsStart), nullptr);
  EXPECT_EQ(test::ResultAt(scan, kExfatStart), nullptr);
  EXPECT_NE(test::ResultAt(scan, kFat16Start), nullptr);
  EXPECT_NE(test::ResultAt(scan, kFat32Start), nullptr);
}

TEST(LostGptPartitions, WipedGptGivesEveryVolumeBackByItsBootSector) {
  // disk-gpt (sgdisk): FAT32, NTFS, exFAT without a label, FAT16; the
  // protective MBR and the primary GPT wiped.
  const std::string image = test::TempDir("organise-gpt") + "/disk.img";
  ASSERT_TRUE(test::CopyFixture("disk-gpt", image));
  test::ZeroSectors(image, 0, 34);
  test::OrganisedScan scan = test::ScanAndOrganise(image, RecoveryMode::kAllFiles, false);
  ASSERT_TRUE(scan.organised);
  const std::map<std::string, std::pair<std::uint64_t, std::int32_t>> volumes = {
      {"1", {2048, kFsFat32}}, {"2", {83968, kFsNtfs}}, {"3", {227328, kFsExfat}},
      {"4", {243712, kFsFat16}}};
  for (const auto& [number, where] : volumes) {
    const PartitionInfo* p = test::ResultAt(scan, where.first, where.second);
    ASSERT_NE(p, nullptr) << "volume " << number;
    EXPECT_EQ(p->origin, kOriginBootSector);
    const std::set<std::string> found = LiveFiles(*p);
    for (const std::string& f : ManifestLiveFiles(number, "disk-gpt")) EXPECT_TRUE(found.count(f)) << number << ": " << f;
  }
  EXPECT_EQ(test::ResultAt(scan, 227328)->volumeLabel, "本地磁盘");
  EXPECT_EQ(scan.results.size(), 4u);
}

TEST_F(LostPartitions, OrganisationReportsItsStepsInOrder) {
  test::ZeroSectors(image, 0, 34);
  test::OrganisedScan scan = test::ScanAndOrganise(image, RecoveryMode::kAllFiles, false);
  ASSERT_GE(scan.steps.size(), 5u);
  EXPECT_EQ(scan.steps.front(), "处理搜索到的信息");
  EXPECT_EQ(scan.steps[1], "整理搜索到的分区关键信息!");
  EXPECT_EQ(scan.steps[2], "正在获取NTFS格式的分区信息，预计要几十秒钟，请稍等！");
  EXPECT_EQ(scan.steps[3], "正在获取exFat格式的分区信息，预计要几十秒钟，请稍等！");
  EXPECT_EQ(scan.steps.back(), "处理根据文件标志搜索到的各种文件!");
}

}  // namespace
}  // namespace ambrel
