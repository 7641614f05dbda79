#include "session/program.h"

#include "fs/boot_probe.h"
#include "session/source_session.h"

namespace ambrel {

bool EnumerateMachineDevices(DeviceEnumerator& enumerator, std::vector<DeviceInfo>& out, int view,
                             const std::function<bool()>& cancelRequested,
                             std::shared_ptr<ProgressMailbox> progress) {
  return enumerator.Enumerate(out, view, JudgeSector, cancelRequested, std::move(progress));
}

namespace {

// The file systems of the volumes the image holds (a partition table or a
// volume at sector 0), each kind once in table order: "FAT32", "NTFS,
// exFAT"; empty when none is known. A small image is still worth opening
// when this is not empty.
std::string VolumeKinds(const std::string& path) {
  DiskDescription description;
  if (!DescribeDisk(path, description, JudgeSector)) return {};
  std::string kinds;
  for (const DeviceInfo& v : description.volumes) {
    if (v.fsKind == kFsUnknown) continue;
    const std::string name = VolumeKindName(v);
    if ((", " + kinds + ",").find(" " + name + ",") != std::string::npos) continue;
    kinds += (kinds.empty() ? "" : ", ") + name;
  }
  return kinds;
}

}  // namespace

ImageCheck ImageRowFromFile(const std::string& path, DeviceInfo& row) {
  DiskHandle handle;
  if (!OpenByPath(path, handle)) return ImageCheck::kCannotOpen;
  const std::uint64_t sectors = handle.sizeBytes / kSectorSize;
  handle.Close();
  const std::string kinds = VolumeKinds(path);
  if (sectors < kMinImageSectors && kinds.empty()) return ImageCheck::kTooSmall;
  row = DeviceInfo{};
  row.kind = 0;
  row.startLba = 0;
  row.sectorCount = sectors;
  row.diskSectorCount = sectors;
  // The row shows the image's folder (with its separator); the full path
  // names the image: the disk name is also the identity of a saved scan,
  // and a folder would name every image in it.
  const std::size_t slash = path.rfind('/');
  row.displayName = slash == std::string::npos ? path : path.substr(0, slash + 1);
  row.fsName = kinds;
  row.diskName = path;
  row.diskPath = path;
  const std::uint64_t wholeGib = sectors & ~std::uint64_t(0x1FFFFF);
  row.removable = wholeGib < 0x10E00000 ? 1 : 0;
  return ImageCheck::kAccepted;
}

}  // namespace ambrel
