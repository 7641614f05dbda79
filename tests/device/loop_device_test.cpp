// The machine enumeration against a fixture disk attached as a loop device
// (needs root and loop devices; skipped otherwise).
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <unistd.h>

#include "app/progress.h"
#include "device/device_enum.h"
#include "support/test_paths.h"
#include "fs/boot_probe.h"

namespace ambrel {
namespace {

std::string Run(const std::string& command) {
  std::string out;
  if (FILE* p = ::popen(command.c_str(), "r")) {
    char buf[256];
    while (std::fgets(buf, sizeof buf, p)) out += buf;
    ::pclose(p);
  }
  while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
  return out;
}

// Attaches an image read-only with partition scanning; detaches on scope exit.
struct LoopAttachment {
  std::string device;
  explicit LoopAttachment(const std::string& image)
      : device(Run("losetup -f --show -P -r '" + image + "' 2>/dev/null")) {}
  ~LoopAttachment() {
    if (!device.empty()) Run("losetup -d " + device + " 2>/dev/null");
  }
};

TEST(LoopDeviceEnumeration, AttachedFixtureShowsItsDiskAndVolumes) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root for losetup";
  LoopAttachment loop(test::FixtureImage("disk-mbr"));
  if (loop.device.rfind("/dev/loop", 0) != 0) GTEST_SKIP() << "no loop device available";

  std::vector<DeviceInfo> rows;
  DeviceEnumerator enumerator;
  auto box = std::make_shared<ProgressMailbox>();
  ASSERT_TRUE(enumerator.Enumerate(rows, 0, JudgeSector, {}, box));
  const DeviceLists lists = enumerator.Lists();
  const DeviceInfo* disk = nullptr;
  const std::vector<DeviceInfo>& disks = lists.disks;
  for (const DeviceInfo& d : disks)
    if (d.diskPath == loop.device) disk = &d;
  if (!disk) GTEST_SKIP() << loop.device << " is beyond the first ten disks";
  EXPECT_EQ(disk->kind, 0);
  EXPECT_GE(disk->diskNumber, 0);
  EXPECT_LT(disk->diskNumber, kMaxDisks);
  EXPECT_EQ(disk->sectorCount, 212992u);
  EXPECT_EQ(disk->displayName, loop.device);  // a loop device has no model
  EXPECT_EQ(disk->removable, 0);

  struct Want {
    std::uint64_t start, sectors;
    std::int32_t kind;
    const char* label;
  } want[] = {{2048, 65536, kFsFat16, "AMB_FAT16"},
              {67584, 81920, kFsFat32, "AMB_FAT32"},
              {151552, 32768, kFsNtfs, "AmbrelNTFS"},
              {186368, 16384, kFsExfat, "AmbExfat"}};
  std::vector<DeviceInfo> mine;
  for (const DeviceInfo& v : lists.volumes)
    if (v.diskNumber == disk->diskNumber) mine.push_back(v);
  ASSERT_EQ(mine.size(), 4u);
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(mine[i].volumePath);
    EXPECT_EQ(mine[i].startLba, want[i].start);
    EXPECT_EQ(mine[i].sectorCount, want[i].sectors);
    EXPECT_EQ(mine[i].fsKind, want[i].kind);
    EXPECT_EQ(mine[i].volumeLabel, want[i].label);
    EXPECT_EQ(mine[i].diskPath, loop.device);
    EXPECT_EQ(mine[i].diskSectorCount, 212992u);
  }
  // Stage-5 progress was published: the first record stays in the mailbox
  // until taken.
  ScanProgress p;
  ASSERT_TRUE(box->Take(p));
  EXPECT_EQ(p.stage, kStageEnumerate);
  EXPECT_GE(p.u.enumerate.volumesFound, 1u);
  // The views: volumes, then disks.
  ASSERT_EQ(rows.size(), lists.volumes.size() + disks.size());
  EXPECT_EQ(rows.front().kind, 1);
  EXPECT_EQ(rows.back().kind, 0);
}

}  // namespace
}  // namespace ambrel
