// One NTFS volume (the ntfs-basic fixture, mkntfs -c 4096) reached by every
// path the organisation knows: the volume the system sees, its boot sector,
// its backup boot sector in the last sector and the run of FILE records of
// its MFT. Whatever path reaches it first, it is listed once; when both
// boot sectors are gone, the MFT run alone rebuilds it with its tree. Live
// results reach the catalogue while the scan runs and stay there when the
// end-of-scan results are loaded.
#include <gtest/gtest.h>

#include <map>

#include "catalog/found_file_catalog.h"
#include "catalog/node_table.h"
#include "deepscan/scan_settings.h"
#include "organise_support.h"
#include "support/test_paths.h"

namespace ambrel {
namespace {

constexpr std::uint64_t kVolumeSectors = 16777216 / 512;

std::set<std::string> ManifestLiveFiles() {
  std::set<std::string> out;
  for (const test::ManifestEntry& e : test::LoadManifest("ntfs-basic"))
    if (!e.directory && !e.deleted && e.path[0] != '$') out.insert(e.path);
  return out;
}

class OneVolume : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = test::TempDir("organise-once");
    image = dir + "/ntfs.img";
    ASSERT_TRUE(test::CopyFixture("ntfs-basic", image));
  }
  std::string dir, image;
};

TEST_F(OneVolume, EveryPathFindsTheSameStartAndItIsListedOnce) {
  for (bool live : {false, true}) {
    test::OrganisedScan scan = test::ScanAndOrganise(image, RecoveryMode::kAllFiles, live);
    ASSERT_TRUE(scan.organised);
    ASSERT_EQ(scan.results.size(), 2u) << "live " << live;  // present and deleted views
    for (const auto& p : scan.results) {
      EXPECT_EQ(p->origin, kOriginReal);
      EXPECT_EQ(p->startLba, 0u);
    }
  }
}

TEST_F(OneVolume, BothBootSectorsWipedLeaveTheMftRun) {
  test::ZeroSectors(image, 0, 1);
  test::ZeroSectors(image, kVolumeSectors - 1, 1);
  test::OrganisedScan scan = test::ScanAndOrganise(image, RecoveryMode::kAllFiles, false);
  ASSERT_TRUE(scan.organised);
  const auto byRun = test::ResultsBy(scan, kOriginMftRun);
  ASSERT_EQ(byRun.size(), 1u);
  EXPECT_EQ(byRun[0]->startLba, 0u);
  EXPECT_EQ(byRun[0]->bootSector[13], 8);
  const std::set<std::string> files = test::FilePaths(*byRun[0]);
  for (const std::string& f : ManifestLiveFiles()) EXPECT_TRUE(files.count(f)) << f;
  // Its records were read with the volume: no second tree from loose records.
  EXPECT_TRUE(test::ResultsBy(scan, kOriginLooseRecords).empty());
  EXPECT_EQ(scan.results.size(), 1u);
}

TEST_F(OneVolume, TheMirrorPlacesTheVolumeWhenTheMftStartIsGone) {
  // Both boot sectors and the first 16 records of the MFT (cluster 4 on)
  // overwritten: the four records of $MFTMirr are a run of their own that
  // starts with $MFT, taken as the mirror; the reader reads record 0 from
  // it and walks the rest of the MFT.
  test::ZeroSectors(image, 0, 1);
  test::ZeroSectors(image, kVolumeSectors - 1, 1);
  test::ZeroSectors(image, 4 * 8, 32);
  test::OrganisedScan scan = test::ScanAndOrganise(image, RecoveryMode::kAllFiles, false);
  ASSERT_TRUE(scan.organised);
  const auto byRun = test::ResultsBy(scan, kOriginMftRun);
  ASSERT_EQ(byRun.size(), 1u);
  EXPECT_EQ(byRun[0]->startLba, 0u);
  const std::set<std::string> files = test::FilePaths(*byRun[0]);
  for (const std::string& f : ManifestLiveFiles()) EXPECT_TRUE(files.count(f)) << f;
  EXPECT_EQ(scan.results.size(), 1u);
}

TEST_F(OneVolume, AFormerScansVolumeDoesNotHideThisScansRecords) {
  // The first scan reads the volume (its MFT extents become known); the
  // second, without live results, must still see the FILE records.
  ASSERT_TRUE(test::ScanAndOrganise(image, RecoveryMode::kAllFiles, true).organised);
  test::ZeroSectors(image, 0, 1);
  test::ZeroSectors(image, kVolumeSectors - 1, 1);
  test::OrganisedScan second = test::ScanAndOrganise(image, RecoveryMode::kAllFiles, false);
  EXPECT_EQ(test::ResultsBy(second, kOriginMftRun).size(), 1u);
}

TEST_F(OneVolume, RecycledFilesModeListsOnlyTheRecycleBin) {
  test::OrganisedScan scan = test::ScanAndOrganise(image, RecoveryMode::kRecycledFiles, false);
  ASSERT_TRUE(scan.organised);
  ASSERT_EQ(scan.results.size(), 1u);
  const std::set<std::string> files = test::FilePaths(*scan.results[0]);
  ASSERT_FALSE(files.empty());
  for (const std::string& f : files) EXPECT_EQ(f.rfind("回收站/", 0), 0u) << f;
}

TEST_F(OneVolume, TheMainBootSectorWipedIsFoundThroughItsBackupOnce) {
  test::ZeroSectors(image, 0, 1);
  test::OrganisedScan scan = test::ScanAndOrganise(image, RecoveryMode::kAllFiles, false);
  ASSERT_TRUE(scan.organised);
  std::map<std::uint64_t, int> starts;
  for (const auto& p : scan.results) starts[p->startLba] += p->table.listingScope == 2 ? 0 : 1;
  EXPECT_EQ(starts.size(), 1u);
  EXPECT_EQ(starts[0], 1);
}

class Recorder final : public NoticeListener {
 public:
  void OnNotice(std::uint32_t message, std::uint64_t wparam, std::uint64_t) override {
    if (message == kNoticeSlotAdded) slots.push_back(static_cast<std::uint32_t>(wparam));
  }
  std::vector<std::uint32_t> slots;
};

TEST_F(OneVolume, LiveResultsReachTheCatalogueAndStayAfterLoading) {
  FoundFileCatalog catalog;
  catalog.Reset(nullptr, false);
  Recorder views;
  catalog.RegisterListener(&views);
  test::OrganisedScan scan = test::ScanAndOrganise(image, RecoveryMode::kAllFiles, true, &catalog);
  ASSERT_TRUE(scan.organised);
  // The two views of the volume were added before the end of the scan.
  EXPECT_EQ(views.slots, (std::vector<std::uint32_t>{4, 5}));
  EXPECT_EQ(catalog.partitionCount(), 6u);
  EXPECT_TRUE(scan.results.empty());  // nothing new at the end
  catalog.LoadResults(std::move(scan.results), nullptr);
  EXPECT_EQ(catalog.partitionCount(), 6u);
  EXPECT_NE(catalog.GetLabel(4).find("正常文件"), std::string::npos);
  EXPECT_NE(catalog.GetLabel(5).find("删除文件"), std::string::npos);
  catalog.UnregisterListener(&views);
}

TEST(LiveBootSectors, LostVolumesReachTheCatalogueWhileScanning) {
  // disk-mbr with its partition table wiped: the system sees no volume, so
  // each one is added the moment the scan reads its boot sector.
  const std::string image = test::TempDir("organise-live-boot") + "/disk.img";
  ASSERT_TRUE(test::CopyFixture("disk-mbr", image));
  test::ZeroSectors(image, 0, 34);
  FoundFileCatalog catalog;
  catalog.Reset(nullptr, false);
  test::OrganisedScan scan = test::ScanAndOrganise(image, RecoveryMode::kAllFiles, true, &catalog);
  ASSERT_TRUE(scan.organised);
  std::set<std::uint64_t> live;
  for (std::uint32_t slot = 4; slot < catalog.partitionCount(); ++slot) {
    const PartitionInfo* p = catalog.Partition(slot);
    EXPECT_TRUE(live.insert(p->startLba).second) << p->startLba;
    EXPECT_EQ(p->origin, kOriginBootSector);
  }
  EXPECT_EQ(live, (std::set<std::uint64_t>{2048, 67584, 151552, 186368}));
  for (const auto& p : scan.results) EXPECT_FALSE(live.count(p->startLba)) << "listed twice";
  catalog.LoadResults(std::move(scan.results), nullptr);
  EXPECT_EQ(catalog.partitionCount(), 8u);
}

}  // namespace
}  // namespace ambrel
