#include "fs/boot_probe.h"
#include "volume_parse.h"

#include "device/device_enum.h"
#include "fs/parse_file_system.h"

namespace ambrel::ui {

std::vector<std::unique_ptr<PartitionInfo>> PartitionsOfRow(const DeviceInfo& row) {
  std::vector<std::unique_ptr<PartitionInfo>> out;
  auto add = [&out](const DeviceInfo& volume) {
    auto part = std::make_unique<PartitionInfo>();
    MakePartitionInfo(volume, *part);
    out.push_back(std::move(part));
  };
  if (row.kind == 1) {
    add(row);
    return out;
  }
  DiskDescription description;
  if (!DescribeDisk(row.diskPath, description, JudgeSector)) return out;
  for (const DeviceInfo& volume : description.volumes) add(volume);
  return out;
}

std::uint32_t ParseIntoCatalog(FoundFileCatalog& catalog, std::vector<std::unique_ptr<PartitionInfo>> parts,
                               std::atomic<std::uint32_t>& status) {
  std::uint32_t added = 0;
  for (auto& part : parts) {
    if (status.load() == 2) break;
    if (!ParseFileSystem(&status, *part)) continue;
    if (status.load() == 2) break;
    if (catalog.AddPartition(std::move(part), nullptr, true) != 0) ++added;
  }
  return added;
}

}  // namespace ambrel::ui
