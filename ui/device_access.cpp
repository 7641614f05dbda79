#include "fs/boot_probe.h"
#include "device_access.h"

#include <QDir>
#include <QFileInfo>

#include "device/device_enum.h"
#include "device/disk_handle.h"
#include "qt_text.h"

namespace ambrel::ui {

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

const char* ImageCheckMessage(ImageCheck check) {
  switch (check) {
    case ImageCheck::kCannotOpen: return "打开文件失败！";
    case ImageCheck::kTooSmall: return "镜像文件太小，必须大于128(MB)！";
    case ImageCheck::kAccepted: break;
  }
  return "";
}

std::string PermissionProblem() {
  const QStringList names = QDir(QStringLiteral("/sys/block")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
  int present = 0, readable = 0;
  for (const QString& name : names) {
    if (name.startsWith(QLatin1String("loop")) || name.startsWith(QLatin1String("ram")) ||
        name.startsWith(QLatin1String("zram")))
      continue;
    const QFileInfo node(QStringLiteral("/dev/") + name);
    if (!node.exists()) continue;
    ++present;
    if (node.isReadable()) ++readable;
  }
  if (present == 0 || readable > 0) return {};
  return "没有读取磁盘设备的权限，无法列出磁盘和分区。\n"
         "请用管理员权限运行本程序：pkexec ambrel\n"
         "或者把当前用户加入 disk 组：sudo usermod -aG disk $USER（重新登录后生效）。\n"
         "也可以点击[打开镜像文件]恢复磁盘镜像文件中的数据。";
}

}  // namespace ambrel::ui
