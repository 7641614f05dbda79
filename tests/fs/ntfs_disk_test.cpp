// NTFS volumes inside partitioned disk images (MBR and GPT fixtures): the
// reader works with the partition's absolute start, lists every manifest
// entry and reads file data through the runs.
#include <gtest/gtest.h>

#include <map>

#include "app/settings.h"
#include "catalog/node_table.h"
#include "common/text.h"
#include "device/disk_handle.h"
#include "device/partition_table.h"
#include "fs/boot_probe.h"
#include "fs/ntfs/ntfs_boot_sector.h"
#include "fs/ntfs/ntfs_file_data.h"
#include "fs/ntfs/ntfs_volume.h"
#include "fs/parse_file_system.h"
#include "platform/md5.h"
#include "support/test_paths.h"

namespace ambrel {
namespace {

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

void CheckDisk(const std::string& name, int volume, const std::string& label) {
  const std::string image = test::FixtureImage(name);
  ASSERT_FALSE(image.empty()) << name;
  SetSettingsLoaded(true);
  OverrideSetting("ParseFileSys", "1");
  DiskHandle disk;
  ASSERT_TRUE(OpenByPath(image, disk));
  PartitionInfo partition;
  for (const TablePartition& p : ReadPartitionTable(disk, JudgeSector).partitions) {
    if (p.number != volume) continue;
    partition.startLba = p.startLba;
    partition.sectorCount = p.sectorCount;
  }
  ASSERT_NE(partition.startLba, 0u) << name;
  ASSERT_TRUE(ReadSectors(disk, partition.startLba, 1, partition.bootSector.data()));
  ASSERT_TRUE(IsNtfsBootSector(partition.bootSector));
  partition.diskPath = image;
  partition.fsKind = kFsNtfs;
  EXPECT_TRUE(CheckMftConsistency(partition.bootSector, disk, partition.startLba));
  ASSERT_TRUE(ReadNtfsVolumeLabel(disk, partition));
  EXPECT_EQ(partition.volumeLabel, label);
  ASSERT_TRUE(ParseFileSystem(nullptr, partition));

  std::map<std::string, const FoundFileNode*> listed;
  for (std::uint32_t id = 0; id < partition.table.count; ++id)
    if (const FoundFileNode* n = NodeAt(partition.table, id)) listed[PathOf(partition.table, id)] = n;
  int checked = 0;
  for (const auto& entry : test::LoadManifest(name)) {
    if (entry.volume != std::to_string(volume)) continue;
    ++checked;
    auto it = listed.find(entry.path);
    ASSERT_NE(it, listed.end()) << name << ": " << entry.path;
    const FoundFileNode& node = *it->second;
    const NodeKind kind = KindOf(node);
    EXPECT_EQ(IsFolderKind(kind), entry.directory) << entry.path;
    EXPECT_EQ(kind == kDeletedFile || kind == kDeletedFolder, entry.deleted) << entry.path;
    if (entry.directory) continue;
    EXPECT_EQ(std::uint64_t{node.size}, entry.size) << entry.path;
    if (entry.md5 == "-") continue;
    std::vector<std::uint8_t> data(node.size);
    ASSERT_TRUE(node.size == 0 ||
                ReadNtfsFileData(node, partition, nullptr, node.size, data.data()))
        << entry.path;
    EXPECT_EQ(AsciiLower(Md5Hex(data.data(), data.size())), entry.md5) << entry.path;
  }
  EXPECT_GT(checked, 10) << name;
}

TEST(NtfsOnDisks, MbrLogicalVolume) { CheckDisk("disk-mbr", 5, "AmbrelNTFS"); }
TEST(NtfsOnDisks, GptVolume) { CheckDisk("disk-gpt", 2, "GptNTFS"); }

}  // namespace
}  // namespace ambrel
