// exFAT volumes whose boot regions are gone (the exfat-dirs fixture: 25
// folders of two files, made with mkfs.exfat and exfat-fuse): the volume is
// rebuilt from the directory sectors the scan found, its cluster size voted
// from their spacing, and its files copy out with their bytes.
#include <gtest/gtest.h>

#include "catalog/node_table.h"
#include "deepscan/scan_settings.h"
#include "fs/exfat/exfat_reader.h"
#include "organise_support.h"
#include "support/test_paths.h"

namespace ambrel {
namespace {

TEST(ExfatDirectories, BothBootRegionsWipedRebuildTheVolumeFromItsDirectories) {
  const std::string dir = test::TempDir("organise-exfat");
  const std::string image = dir + "/exfat.img";
  ASSERT_TRUE(test::CopyFixture("exfat-dirs", image));
  test::ZeroSectors(image, 0, 24);  // the main and the backup boot region
  test::OrganisedScan scan = test::ScanAndOrganise(image, RecoveryMode::kPartitionFiles, true);
  ASSERT_TRUE(scan.organised);
  const auto rebuilt = test::ResultsBy(scan, kOriginDirectoryEntries);
  ASSERT_EQ(rebuilt.size(), 1u);
  EXPECT_EQ(rebuilt[0]->fsKind, kFsExfatDirScan);
  EXPECT_EQ(rebuilt[0]->bootSector[109], 3);  // 8 sectors per cluster
  std::set<std::string> expected;
  std::map<std::string, std::string> md5;
  for (const test::ManifestEntry& e : test::LoadManifest("exfat-dirs"))
    if (!e.directory) {
      expected.insert(e.path);
      md5[e.path] = e.md5;
    }
  EXPECT_EQ(test::FilePaths(*rebuilt[0]), expected);
  auto& result = *std::find_if(scan.results.begin(), scan.results.end(),
                               [](const auto& p) { return p->origin == kOriginDirectoryEntries; });
  const auto written = test::CopyOutTree(*result, dir + "/out");
  ASSERT_EQ(written.size(), expected.size());
  for (const auto& [path, sum] : written) {
    const std::string inside = path.substr(path.find('/') + 1);  // below the label folder
    EXPECT_EQ(sum, md5[inside]) << path;
  }
}

TEST(ExfatDirectories, TheMainBootRegionWipedReadsTheVolumeFromItsBackup) {
  const std::string image = test::TempDir("organise-exfat-backup") + "/exfat.img";
  ASSERT_TRUE(test::CopyFixture("exfat-dirs", image));
  test::ZeroSectors(image, 0, 12);
  test::OrganisedScan scan = test::ScanAndOrganise(image, RecoveryMode::kPartitionFiles, false);
  ASSERT_TRUE(scan.organised);
  // One exFAT volume (as its two views), no second one from the directories.
  EXPECT_TRUE(test::ResultsBy(scan, kOriginDirectoryEntries).empty());
  ASSERT_FALSE(scan.results.empty());
  for (const auto& p : scan.results) {
    EXPECT_EQ(p->fsKind, kFsExfat);
    EXPECT_EQ(p->startLba, 0u);
  }
  EXPECT_EQ(test::FilePaths(*scan.results[0]).size(), 50u);
}

TEST(ExfatClusterVote, TheLargestPowerOfTwoThatMostGapsShare) {
  std::vector<std::uint64_t> starts;
  for (std::uint64_t i = 0; i < 30; ++i) starts.push_back(5000 + i * 8 * (i % 3 + 1));
  EXPECT_EQ(EstimateExfatClusterSize(starts), 8u);
  starts.resize(19);  // fewer than 20 runs: no estimate
  EXPECT_EQ(EstimateExfatClusterSize(starts), 0u);
  std::vector<std::uint64_t> odd;  // every gap odd: no vote for 2
  for (std::uint64_t i = 0; i < 25; ++i) odd.push_back(1 + i * 3);
  EXPECT_EQ(EstimateExfatClusterSize(odd), 0u);
}

}  // namespace
}  // namespace ambrel
