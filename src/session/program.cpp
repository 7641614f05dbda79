#include "session/program.h"

#include "fs/boot_probe.h"

namespace ambrel {

bool EnumerateMachineDevices(DeviceEnumerator& enumerator, std::vector<DeviceInfo>& out, int view,
                             const std::function<bool()>& cancelRequested,
                             std::shared_ptr<ProgressMailbox> progress) {
  return enumerator.Enumerate(out, view, JudgeSector, cancelRequested, std::move(progress));
}

namespace {

// A small image is still worth opening when it holds something the file
// system readers can parse (a partition table or a volume at sector 0).
bool HoldsVolumes(const std::string& path) {
  DiskDescription description;
  if (!DescribeDisk(path, description, JudgeSector)) return false;
  for (const DeviceInfo& v : description.volumes)
    if (v.fsKind != kFsUnknown) return true;
  return false;
}

}  // namespace

ImageCheck ImageRowFromFile(const std::string& path, DeviceInfo& row) {
  DiskHandle handle;
  if (!OpenByPath(path, handle)) return ImageCheck::kCannotOpen;
  const std::uint64_t sectors = handle.sizeBytes / kSectorSize;
  handle.Close();
  if (sectors < kMinImageSectors && !HoldsVolumes(path)) return ImageCheck::kTooSmall;
  row = DeviceInfo{};
  row.kind = 0;
  row.startLba = 0;
  row.sectorCount = sectors;
  row.diskSectorCount = sectors;
  // The full path names the image: the disk name is also the identity of a
  // saved scan, and a folder would name every image in it.
  row.displayName = path;
  row.diskName = path;
  row.diskPath = path;
  const std::uint64_t wholeGib = sectors & ~std::uint64_t(0x1FFFFF);
  row.removable = wholeGib < 0x10E00000 ? 1 : 0;
  return ImageCheck::kAccepted;
}

}  // namespace ambrel
