// The exFAT reader on an image made by mkfs.exfat and exfat-fuse, checked
// against the manifest written when it was made and against fls.
#include <gtest/gtest.h>

#include <set>

#include "catalog/node_table.h"
#include "fs/exfat/exfat_reader.h"
#include "fs/fat_test_support.h"
#include "support/test_paths.h"

namespace ambrel {
namespace {

TEST(ExfatFixture, ListsEveryManifestEntryWithItsDataAndAgreesWithFls) {
  std::string image = test::FixtureImage("exfat-basic");
  ASSERT_FALSE(image.empty());
  test::EnableParsing();
  PartitionInfo p = test::ImagePartition(image, kFsExfat);
  ASSERT_TRUE(ReadExfatPartition(nullptr, p));
  EXPECT_FALSE(p.allocationBitmap.empty());
  auto paths = test::NodePaths(p.table);
  auto manifest = test::LoadManifest("exfat-basic");
  ASSERT_GT(manifest.size(), 100u);
  DiskHandle handle;
  ASSERT_TRUE(OpenPartition(p, handle));
  for (const auto& m : manifest) {
    auto it = paths.find(m.path);
    ASSERT_NE(it, paths.end()) << m.path;
    const FoundFileNode* n = NodeAt(p.table, it->second);
    NodeKind k = KindOf(*n);
    EXPECT_EQ(IsFolderKind(k), m.directory) << m.path;
    EXPECT_EQ(k == kDeletedFile || k == kDeletedFolder, m.deleted) << m.path;
    if (m.directory) continue;
    EXPECT_EQ(std::uint64_t{n->size}, m.size) << m.path;
    if (m.md5 == "-" || m.size == 0) continue;
    ExtentList extents;
    ASSERT_GT(ExfatFileExtents(extents, *n, p), 0u) << m.path;
    std::uint64_t sectors = 0;
    for (const auto& e : extents) sectors += e.sectorCount;
    EXPECT_GE(sectors * 512, m.size) << m.path;
    EXPECT_LT(sectors * 512 - m.size, 4096u) << m.path;
    EXPECT_EQ(test::Md5OfExtents(handle, extents, m.size), m.md5) << m.path;
  }
  if (!test::FlsAvailable()) GTEST_SKIP() << "fls not installed";
  // fls adds the bitmap, up-case table and its own virtual entries.
  std::set<std::pair<std::string, bool>> ours, theirs;
  for (const auto& [path, id] : paths) {
    if (path.rfind("丢失的文件", 0) == 0) continue;
    NodeKind k = KindOf(*NodeAt(p.table, id));
    ours.insert({path, k == kDeletedFile || k == kDeletedFolder});
  }
  for (const auto& e : test::RunFls(image))
    if (e.path[0] != '$') theirs.insert({e.path, e.deleted});
  EXPECT_EQ(ours, theirs);
}

TEST(ExfatFixture, LabelAndVolumeChecksOnTheRealBootSector) {
  std::string image = test::FixtureImage("exfat-basic");
  ASSERT_FALSE(image.empty());
  PartitionInfo found = test::ImagePartition(image, kFsExfat);
  DiskHandle handle;
  ASSERT_TRUE(OpenByPath(image, handle));
  EXPECT_TRUE(IsExfatVolumeAt(found.bootSector, handle, 0));
  EXPECT_FALSE(IsExfatVolumeAt(found.bootSector, handle, 1));
  PartitionInfo made;
  MakeExfatPartition(made, found.bootSector, handle, 0);
  EXPECT_EQ(made.fsKind, kFsExfat);
  EXPECT_EQ(made.volumeLabel, "EXFATTEST");
  EXPECT_EQ(made.sectorCount, found.sectorCount);
}

}  // namespace
}  // namespace ambrel
