#include "deepscan/organise/exfat_volumes.h"

#include "device/device_enum.h"
#include "fs/exfat/exfat_reader.h"

namespace ambrel {

bool RebuildExfatVolumes(const std::atomic<std::uint32_t>* stopWord, DiskHandle& disk,
                         const std::vector<ScanHit*>& hits,
                         std::vector<std::unique_ptr<PartitionInfo>>& found,
                         const std::vector<PartitionInfo>& otherVolumes,
                         const std::string& displayName) {
  std::vector<std::uint64_t> lbas;
  for (const ScanHit* h : hits)
    if (h->kind == kHitExfatRootDirectory || h->kind == kHitExfatDirectory) lbas.push_back(h->lba);
  if (lbas.empty()) return false;
  // The rebuild compares with the exFAT volumes already found by their
  // layout only: hand it light copies of those.
  std::vector<const PartitionInfo*> volumes;
  for (const auto& p : found) volumes.push_back(p.get());
  for (const PartitionInfo& p : otherVolumes) volumes.push_back(&p);
  std::vector<PartitionInfo> known;
  for (const PartitionInfo* p : volumes) {
    if (!p || p->fsKind != kFsExfat) continue;
    PartitionInfo light;
    light.fsKind = p->fsKind;
    light.startLba = p->startLba;
    light.sectorCount = p->sectorCount;
    light.bootSector = p->bootSector;
    known.push_back(std::move(light));
  }
  const std::size_t before = known.size();
  ScanProgress progress{};
  progress.stage = kStageParse;
  if (!RebuildExfatFromScan(stopWord, &progress, disk, displayName, lbas, known) ||
      known.size() <= before)
    return false;
  auto rebuilt = std::make_unique<PartitionInfo>(std::move(known.back()));
  rebuilt->origin = kOriginDirectoryEntries;
  rebuilt->fsName = "ExfatDir";
  if (rebuilt->volumeLabel.empty()) rebuilt->volumeLabel = kDefaultVolumeLabel;
  found.push_back(std::move(rebuilt));
  return true;
}

}  // namespace ambrel
