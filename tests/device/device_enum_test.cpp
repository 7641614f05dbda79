// Volume discovery: the boot-sector probe, display names, the views and
// range lookups of the device lists, and the description of the fixture
// disks (MBR and GPT images) as disks with volumes.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sys/wait.h>
#include <unistd.h>

#include "catalog/partition_info.h"
#include "app/settings.h"
#include "device/device_enum.h"
#include "device/faulty_device.h"
#include "device/memory_device.h"
#include "device/window_device.h"
#include "fs/boot_probe.h"
#include "fs/ntfs/ntfs_boot_sector.h"
#include "support/test_paths.h"

namespace ambrel {
namespace {

struct VolumeWant {
  std::uint64_t start, sectors;
  std::int32_t kind;
  const char* fsName;
  const char* label;
};

const VolumeWant kMbrVolumes[] = {
    {2048, 65536, kFsFat16, "FAT", "AMB_FAT16"},
    {67584, 81920, kFsFat32, "FAT32", "AMB_FAT32"},
    {151552, 32768, kFsNtfs, "NTFS", "AmbrelNTFS"},
    {186368, 16384, kFsExfat, "exFAT", "AmbExfat"},
};
const VolumeWant kGptVolumes[] = {
    {2048, 81920, kFsFat32, "FAT32", "AMB_FAT32"},
    {83968, 143360, kFsNtfs, "NTFS", "GptNTFS"},
    {227328, 16384, kFsExfat, "exFAT", "本地磁盘"},  // made without a label
    {243712, 40960, kFsFat16, "FAT", "GPT_FAT16"},
};

void ExpectVolumes(const std::vector<DeviceInfo>& rows, const VolumeWant* want, std::size_t n,
                   const DeviceInfo& disk) {
  ASSERT_EQ(rows.size(), n);
  for (std::size_t i = 0; i < n; ++i) {
    const DeviceInfo& v = rows[i];
    SCOPED_TRACE(v.volumePath);
    EXPECT_EQ(v.kind, 1);
    EXPECT_EQ(v.startLba, want[i].start);
    EXPECT_EQ(v.sectorCount, want[i].sectors);
    EXPECT_EQ(v.fsKind, want[i].kind);
    EXPECT_EQ(v.fsName, want[i].fsName);
    EXPECT_EQ(v.volumeLabel, want[i].label);
    EXPECT_EQ(v.diskPath, disk.diskPath);
    EXPECT_EQ(v.diskNumber, disk.diskNumber);
    EXPECT_EQ(v.diskSectorCount, disk.sectorCount);
    EXPECT_EQ(v.bootSector[510], 0x55);  // sector 0 of the volume was kept
    EXPECT_NE(v.volumeSerial, 0u);
    EXPECT_NE(v.displayName.find(std::string(": ") + want[i].fsName + ")"), std::string::npos);
  }
}

TEST(DescribeDiskFixtures, MbrImageIsADiskWithFourVolumes) {
  std::string path = test::FixtureImage("disk-mbr");
  DiskDescription d;
  ASSERT_TRUE(DescribeDisk(path, d, JudgeSector));
  EXPECT_EQ(d.tableKind, TableKind::kMbr);
  EXPECT_EQ(d.disk.kind, 0);
  EXPECT_EQ(d.disk.sectorCount, 212992u);
  EXPECT_EQ(d.disk.displayName, path);  // an image has no model name
  ExpectVolumes(d.volumes, kMbrVolumes, 4, d.disk);
  EXPECT_EQ(d.volumes[0].volumeSerial, 0x1234ABCDu);
  EXPECT_EQ(d.volumes[2].driveLetter, "disk-mbr.img#5");
  EXPECT_EQ(d.volumes[2].displayName, "AmbrelNTFS (disk-mbr.img#5: NTFS)");
}

TEST(DescribeDiskFixtures, GptImageIsADiskWithFourVolumes) {
  DiskDescription d;
  ASSERT_TRUE(DescribeDisk(test::FixtureImage("disk-gpt"), d, JudgeSector));
  EXPECT_EQ(d.tableKind, TableKind::kGpt);
  ExpectVolumes(d.volumes, kGptVolumes, 4, d.disk);
}

// A volume that is none of ours is still named by the system's probe (the
// probe is narrowed to our kinds only where the boot sector names one).
TEST(DescribeDiskFixtures, OtherFileSystemsKeepTheSystemsName) {
  const std::string dir = test::TempDir("other-fs");
  const std::string swap = dir + "/swap.img", ext = dir + "/ext2.img";
  for (const std::string& image : {swap, ext}) {
    std::unique_ptr<FILE, int (*)(FILE*)> f(std::fopen(image.c_str(), "wb"), &std::fclose);
    ASSERT_TRUE(f);
    ASSERT_EQ(::ftruncate(fileno(f.get()), 4 << 20), 0);
  }
  if (std::system(("mkswap -L OTHERSWAP " + swap + " > /dev/null 2>&1").c_str()) != 0 ||
      std::system(("mke2fs -q -F -t ext2 -L OtherExt " + ext + " > /dev/null 2>&1").c_str()) != 0)
    GTEST_SKIP() << "mkswap or mke2fs is missing";
  const struct {
    std::string path;
    const char* fsName;
    const char* label;
  } cases[] = {{swap, "swap", "OTHERSWAP"}, {ext, "ext2", "OtherExt"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    DiskDescription d;
    ASSERT_TRUE(DescribeDisk(c.path, d, JudgeSector));
    ASSERT_EQ(d.volumes.size(), 1u);
    EXPECT_EQ(d.volumes[0].fsKind, kFsUnknown);
    EXPECT_EQ(d.volumes[0].fsName, c.fsName);
    EXPECT_EQ(d.volumes[0].volumeLabel, c.label);
  }
}

TEST(DescribeDiskFixtures, SingleVolumeImagesAreOneWholeVolume) {
  struct {
    const char* image;
    std::int32_t kind;
  } cases[] = {{"ntfs-basic", kFsNtfs}, {"fat16-basic", kFsFat16}, {"fat32-basic", kFsFat32},
               {"exfat-basic", kFsExfat}};
  for (const auto& c : cases) {
    std::string path = test::FixtureImage(c.image);
    if (path.empty()) continue;  // made by the per-kind fixture scripts
    SCOPED_TRACE(c.image);
    DiskDescription d;
    ASSERT_TRUE(DescribeDisk(path, d, JudgeSector));
    EXPECT_EQ(d.tableKind, TableKind::kNone);
    ASSERT_EQ(d.volumes.size(), 1u);
    EXPECT_EQ(d.volumes[0].startLba, 0u);
    EXPECT_EQ(d.volumes[0].sectorCount, d.disk.sectorCount);
    EXPECT_EQ(d.volumes[0].fsKind, c.kind);
    EXPECT_EQ(d.volumes[0].volumePath, path);
  }
}

TEST(DescribeDiskFixtures, RefusesNonImages) {
  std::string dir = test::TempDir("describe");
  DiskDescription d;
  std::string why;
  EXPECT_FALSE(DescribeDisk(dir, d, JudgeSector, &why));
  EXPECT_FALSE(DescribeDisk(dir + "/nothing", d, JudgeSector, &why));
  EXPECT_FALSE(DescribeDisk("/dev/null", d, JudgeSector, &why));
  EXPECT_EQ(why, "not a disk, partition or image file");
}

// A handle onto one fixture volume, optionally with chosen sectors failing.
struct FixtureVolume {
  std::shared_ptr<FaultyDevice> faulty;
  DiskHandle handle;
};

FixtureVolume OpenVolume(const char* image, std::uint64_t start, std::uint64_t sectors) {
  DiskHandle disk;
  EXPECT_TRUE(OpenByPath(test::FixtureImage(image), disk));
  auto window = std::make_shared<WindowDevice>(disk.device, start * 512, sectors * 512, image);
  auto faulty = std::make_shared<FaultyDevice>(window);
  return {faulty, HandleForDevice(faulty, image)};
}

TEST(DetectFsKindTest, MainAndBackupBootSectors) {
  for (const VolumeWant& w : kMbrVolumes) {
    FixtureVolume v = OpenVolume("disk-mbr", w.start, w.sectors);
    SectorVerdict verdict;
    BootSector boot{};
    ASSERT_TRUE(DetectFsKind(v.handle, w.sectors, JudgeSector, verdict, boot));
    EXPECT_EQ(verdict.fsKind, w.kind);
    EXPECT_FALSE(verdict.truncated);
    // Sector 0 unreadable: the backups decide (FAT16 has none).
    v.faulty->FailSectors(0, 1);
    bool found = DetectFsKind(v.handle, w.sectors, JudgeSector, verdict, boot);
    EXPECT_EQ(found, w.kind != kFsFat16) << w.fsName;
    if (found) {
      EXPECT_EQ(verdict.fsKind, w.kind);
      EXPECT_FALSE(verdict.truncated) << w.fsName << " judged from its backup";
    }
    if (w.kind == kFsNtfs) {
      EXPECT_TRUE(IsNtfsBootSector(boot));
    }
  }
}

TEST(DetectFsKindTest, ProbeOnlyAbove0x20000Sectors) {
  // The GPT disk's NTFS volume is 143360 sectors; windows onto it of
  // 0x20000 and 0x20001 sectors.
  for (std::uint64_t sectors : {std::uint64_t{0x20000}, std::uint64_t{0x20001}}) {
    FixtureVolume v = OpenVolume("disk-gpt", 83968, sectors);
    DeviceInfo row;
    row.sectorCount = sectors;
    ProbePartition(row, v.handle, JudgeSector);
    EXPECT_EQ(row.fsKind, sectors > 0x20000 ? kFsNtfs : kFsUnknown);
    EXPECT_EQ(row.fsName, sectors > 0x20000 ? "NTFS" : "");
    if (sectors == 0x20000) {
      EXPECT_EQ(v.faulty->ReadCount(), 0u);
    }
  }
  FixtureVolume fat = OpenVolume("disk-mbr", 2048, 65536);
  DeviceInfo small;
  small.sectorCount = 65536;
  ProbePartition(small, fat.handle, JudgeSector);
  EXPECT_EQ(small.fsKind, kFsUnknown);
}

TEST(VolumeFactsTest, NamesAndKindsFromTheSystem) {
  EXPECT_EQ(ApiFsName("vfat", "FAT12"), "FAT");
  EXPECT_EQ(ApiFsName("vfat", "FAT16"), "FAT");
  EXPECT_EQ(ApiFsName("vfat", "FAT32"), "FAT32");
  EXPECT_EQ(ApiFsName("ntfs", ""), "NTFS");
  EXPECT_EQ(ApiFsName("exfat", "1.0"), "exFAT");
  EXPECT_EQ(FsKindOfApiName("FAT"), kFsFat16);
  EXPECT_EQ(FsKindOfApiName("FAT32"), kFsFat32);
  EXPECT_EQ(FsKindOfApiName("exFAT"), kFsExfat);
  EXPECT_EQ(FsKindOfApiName("exFat"), kFsUnknown);  // exact comparison
  EXPECT_EQ(FsKindOfApiName("ext4"), kFsUnknown);
  EXPECT_EQ(SerialFromUuid("1234-ABCD"), 0x1234ABCDu);
  EXPECT_EQ(SerialFromUuid("0DDA7859F43E9A01"), 0xF43E9A01u);
  EXPECT_EQ(SerialFromUuid(""), 0u);
}

TEST(MakeDisplayNameTest, LabelLetterAndFileSystem) {
  DeviceInfo row;
  row.volumeLabel = "DATA";
  row.driveLetter = "/mnt/data";
  row.volumePath = "/dev/sdb1";
  row.fsName = "NTFS";
  EXPECT_EQ(MakeDisplayName(row), "DATA (/mnt/data: NTFS)");
  row.volumeLabel = std::string(31, 'x');
  EXPECT_EQ(MakeDisplayName(row), std::string(31, 'x') + " (/mnt/data: NTFS)");
  row.volumeLabel = std::string(32, 'x');  // too long: left out
  EXPECT_EQ(MakeDisplayName(row), " (/mnt/data: NTFS)");
  row.volumeLabel = "本地磁盘";  // counted in characters, not bytes
  EXPECT_EQ(MakeDisplayName(row), "本地磁盘 (/mnt/data: NTFS)");
  std::string thirty;
  for (int i = 0; i < 30; ++i) thirty += "中";  // 90 bytes, 30 characters
  row.volumeLabel = thirty;
  EXPECT_EQ(MakeDisplayName(row), thirty + " (/mnt/data: NTFS)");
  row.volumeLabel = "";
  row.volumePath = "sdb1";  // four characters or fewer: no letter part
  EXPECT_EQ(MakeDisplayName(row), "");
}

DeviceInfo Row(int kind, int disk, std::uint64_t start, int removable, const char* name) {
  DeviceInfo r;
  r.kind = kind;
  r.diskNumber = disk;
  r.startLba = start;
  r.removable = removable;
  r.displayName = name;
  return r;
}

std::vector<std::string> Names(const std::vector<DeviceInfo>& rows) {
  std::vector<std::string> out;
  for (const DeviceInfo& r : rows) out.push_back(r.displayName);
  return out;
}

TEST(DeviceListsTest, ViewsAndShowUsbDev) {
  DeviceLists lists{{Row(0, 0, 0, 0, "d0"), Row(0, 1, 0, 1, "usb1")},
                    {Row(1, 0, 2048, 0, "v0a"), Row(1, 0, 900000, 0, "v0b"), Row(1, 1, 63, 1, "v1")}};
  using V = std::vector<std::string>;
  auto view = [&lists](int n) {
    std::vector<DeviceInfo> out;
    lists.FillView(out, n);
    return Names(out);
  };
  EXPECT_EQ(view(1), (V{"v0a", "v0b", "v1"}));
  EXPECT_EQ(view(2), (V{"d0", "usb1"}));
  EXPECT_EQ(view(3), V{});
  EXPECT_EQ(view(0), (V{"v0a", "v0b", "v1", "d0", "usb1"}));
  bool wasLoaded = SettingsLoaded();
  SetSettingsLoaded(true);
  OverrideSetting("ShowUsbDev", "1");
  EXPECT_EQ(view(3), (V{"v1", "usb1"}));  // whatever the view
  lists = DeviceLists{{Row(0, 0, 0, 0, "d0")}, {Row(1, 0, 2048, 0, "v0a")}};
  EXPECT_EQ(view(0), V{});  // nothing removable: empty
  OverrideSetting("ShowUsbDev", "0");
  SetSettingsLoaded(wasLoaded);
}

TEST(DeviceListsTest, OneEnumerationAtATimeAndCancel) {
  DeviceEnumerator enumerator;
  std::vector<DeviceInfo> out;
  // Cancelled at once: false, the caller's list untouched, and the thread
  // still ends by itself (its status word is its own).
  out.push_back(Row(0, 9, 0, 0, "mine"));
  EXPECT_FALSE(enumerator.Enumerate(out, 0, JudgeSector, [] { return true; }));
  EXPECT_EQ(out.size(), 1u);
  ASSERT_TRUE(enumerator.WaitUntilIdle(60000));
  EXPECT_FALSE(enumerator.Running());

  // While one runs, a second call of the same owner is refused; another
  // owner's enumeration is its own.
  std::atomic<bool> secondRefused{false};
  std::atomic<bool> otherRan{false};
  std::vector<DeviceInfo> first;
  enumerator.Enumerate(first, 0, JudgeSector, [&] {
    std::vector<DeviceInfo> second;
    if (!enumerator.Enumerate(second, 0, JudgeSector)) secondRefused = true;
    if (!otherRan.exchange(true)) {
      DeviceEnumerator other;
      std::vector<DeviceInfo> theirs;
      other.Enumerate(theirs, 0, JudgeSector);
      other.WaitUntilIdle(60000);
    }
    return false;
  });
  EXPECT_TRUE(secondRefused.load());
  ASSERT_TRUE(enumerator.WaitUntilIdle(60000));
}

TEST(DeviceListsTest, DiskNumberingOrderIsStable) {
  using V = std::vector<std::string>;
  EXPECT_EQ(OrderDiskNames({"loop10", "sdaa", "nvme0n1", "sdb", "loop2", "vda", "sda", "mmcblk0", "sdz"}),
            (V{"sda", "sdb", "sdz", "sdaa", "vda", "nvme0n1", "mmcblk0", "loop2", "loop10"}));
  EXPECT_EQ(OrderDiskNames({"nvme10n1", "nvme2n1", "nvme2n10", "nvme2n2"}),
            (V{"nvme2n1", "nvme2n2", "nvme2n10", "nvme10n1"}));
}

TEST(DeviceListsTest, VolumesInRange) {
  const DeviceLists lists{{}, {Row(1, 0, 2048, 0, "a"), Row(1, 0, 900000, 0, "b"), Row(1, 1, 2048, 0, "c")}};
  std::vector<DeviceInfo> out;
  EXPECT_TRUE(lists.VolumesInRange(out, 0, 2048, 900000));  // first <= start < end
  EXPECT_EQ(Names(out), std::vector<std::string>{"a"});
  out.clear();
  EXPECT_TRUE(lists.VolumesInRange(out, 0, 0, ~std::uint64_t{0}));
  EXPECT_EQ(out.size(), 2u);
  out.clear();
  EXPECT_FALSE(lists.VolumesInRange(out, 0, 2049, 900000));
  EXPECT_FALSE(lists.VolumesInRange(out, 2, 0, ~std::uint64_t{0}));
  EXPECT_TRUE(out.empty());
}

TEST(PartitionInfoTest, MakePartitionInfoCopiesTheRowAndReads) {
  DiskDescription d;
  ASSERT_TRUE(DescribeDisk(test::FixtureImage("disk-gpt"), d, JudgeSector));
  const DeviceInfo& ntfs = d.volumes[1];
  PartitionInfo p;
  p.origin = kOriginMftRun;
  EXPECT_EQ(MakePartitionInfo(ntfs, p), 1);
  EXPECT_EQ(p.origin, kOriginNone);  // cleared first
  EXPECT_EQ(p.startLba, 83968u);
  EXPECT_EQ(p.sectorCount, 143360u);
  EXPECT_EQ(p.fsKind, kFsNtfs);
  EXPECT_EQ(p.volumeLabel, "GptNTFS");
  EXPECT_EQ(p.diskPath, d.disk.diskPath);
  EXPECT_EQ(p.bootSector, ntfs.bootSector);
  EXPECT_EQ(MakePartitionInfo(d.disk, p), 0);

  // Reads through the partition use absolute disk LBAs up to its last sector.
  ASSERT_TRUE(MakePartitionInfo(ntfs, p) == 1);
  DiskHandle h;
  ASSERT_TRUE(OpenPartition(p, h));
  EXPECT_EQ(h.name, ntfs.displayName);
  EXPECT_EQ(h.reopenPath, d.disk.diskPath);
  EXPECT_EQ(h.lastLba, 83968u + 143360 - 1);
  std::vector<std::uint8_t> buf(4 * 512, 0xCC);
  EXPECT_TRUE(ReadSectors(h, h.lastLba, 4, buf.data()));  // clipped to the one sector
  EXPECT_TRUE(IsNtfsBootSector(ByteSpan(buf.data(), 512)));  // the backup boot sector
  EXPECT_EQ(buf[600], 0);
  EXPECT_FALSE(ReadSectors(h, h.lastLba + 1, 1, buf.data()));

  // Unknown size (2^48 sectors): any LBA below 2^48 may be asked for; the
  // image's own end still limits what arrives.
  p.sectorCount = kUnknownPartitionSize;
  ASSERT_TRUE(OpenPartition(p, h));
  EXPECT_EQ(h.lastLba, kUnknownPartitionSize);
  EXPECT_TRUE(ReadSectors(h, 83968, 1, buf.data()));
  EXPECT_TRUE(IsNtfsBootSector(ByteSpan(buf.data(), 512)));
  EXPECT_FALSE(ReadSectors(h, kUnknownPartitionSize - 1, 1, buf.data()));  // past the image: fails
  EXPECT_FALSE(ReadSectors(h, kUnknownPartitionSize + 1, 1, buf.data()));

  p.sectorCount = 0;  // its last LBA would wrap below its start
  EXPECT_FALSE(OpenPartition(p, h));
  p.sectorCount = 10;
  p.diskPath = "/nonexistent/disk";
  EXPECT_FALSE(OpenPartition(p, h));
}

// A partition record of unknown size reads any LBA below 2^48 through the
// one read path (a device that answers everywhere).
class EverywhereDevice final : public BlockDevice {
 public:
  std::int64_t ReadAt(std::uint64_t offset, void* buffer, std::size_t length) override {
    std::memset(buffer, static_cast<int>(offset / 512 & 0xFF), length);
    last = offset;
    return static_cast<std::int64_t>(length);
  }
  std::uint64_t SizeBytes() override { return kUnknownPartitionSize * 512 + 512; }
  std::string Path() const override { return "everywhere"; }
  std::uint64_t last = 0;
};

TEST(PartitionInfoTest, UnknownSizeReadsBelow2To48) {
  auto device = std::make_shared<EverywhereDevice>();
  DiskHandle h = HandleForDevice(device, "all");
  h.lastLba = kUnknownPartitionSize;  // as OpenPartition sets it
  std::vector<std::uint8_t> buf(512);
  std::uint64_t lba = kUnknownPartitionSize - 1;
  EXPECT_TRUE(ReadSectors(h, lba, 1, buf.data()));
  EXPECT_EQ(device->last, lba * 512);
  EXPECT_EQ(buf[0], static_cast<std::uint8_t>(lba & 0xFF));
  EXPECT_TRUE(ReadSectors(h, kUnknownPartitionSize, 1, buf.data()));
  EXPECT_FALSE(ReadSectors(h, kUnknownPartitionSize + 1, 1, buf.data()));
}

}  // namespace
}  // namespace ambrel
