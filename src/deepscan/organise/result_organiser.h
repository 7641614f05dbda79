// The organisation of one scan's results: the real partitions of the
// scanned area, lost partitions rebuilt from partition tables, boot
// sectors and MFT runs, trees from loose records, the found-files
// pseudo-partition; and the same steps live while the scan runs.
// Every method runs on the hand thread (AddRealPartitions on the thread
// that prepares the scan, before the hand thread starts).
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "fs/cluster_map.h"
#include "fs/parse_context.h"
#include "catalog/partition_info.h"
#include "deepscan/scan_hit.h"
#include "deepscan/sector_hit.h"
#include "deepscan/organise/consumed_hits.h"
#include "device/disk_handle.h"

namespace ambrel {

class FoundFileCatalog;
class ScanSession;

// The title and step texts of the wait window while the results are
// organised.
inline constexpr const char* kOrganiseTitle = "准备恢复文件";
inline constexpr const char* kStepCollect = "处理搜索到的信息";
inline constexpr const char* kStepPartitions = "整理搜索到的分区关键信息!";
inline constexpr const char* kStepNtfsRuns = "正在获取NTFS格式的分区信息，预计要几十秒钟，请稍等！";
inline constexpr const char* kStepExfat = "正在获取exFat格式的分区信息，预计要几十秒钟，请稍等！";
inline constexpr const char* kStepLooseRecords = "通过残缺的文件记录获取文件信息，预计要较长时间，请稍等！";
inline constexpr const char* kStepFoundFiles = "处理根据文件标志搜索到的各种文件!";

class ResultOrganiser {
 public:
  // `live`: the catalogue that receives results while the scan runs (with
  // the liveResults option); may be null, and then the partitions found
  // live lead the result list.
  explicit ResultOrganiser(FoundFileCatalog* live) : live_(live) {}
  // "Add real part info": the volumes of the scanned area, before the
  // first chunk; then the boot sectors of hits loaded from a saved scan.
  void AddRealPartitions(ScanSession& session);
  bool InKnownMftExtent(std::uint64_t lba);
  // The live steps after a chunk: a partition for each boot sector found.
  void AfterChunk(ScanSession& session, const ChunkData& chunk, HitList& hits,
                  SectorHitSource& disk);
  // The end-of-scan organisation; true when the result list is not empty.
  bool OrganiseResults(ScanSession& session);
  // The results in order: without a catalogue, the partitions found live
  // come first (also when the scan was stopped before its organisation).
  std::vector<std::unique_ptr<PartitionInfo>>& Results();
  // The step texts shown so far, in order.
  const std::vector<std::string>& Steps() const { return steps_; }

 private:
  using PartitionList = std::vector<std::unique_ptr<PartitionInfo>>;
  void Step(ScanSession& session, const char* text);
  bool Parse(ScanSession& session, PartitionInfo& partition);
  void CollectRealPartitions(ScanSession& session, PartitionList& out);
  // Drops the volumes rebuilt from boot sectors, directory entries or FILE
  // records that are a real volume again (nearly all their files are its
  // files, at the same places).
  void DropRepeatedVolumes(PartitionList& found) const;
  // Gives each tree rebuilt from loose FILE records or directory clusters
  // the volumes read over its area (live or at the end).
  void MarkOverlaidTrees(PartitionList& found) const;
  PartitionList LostPartitions(ScanSession& session, DiskHandle& disk,
                               const std::vector<ScanHit*>& hits);
  void RebuiltTrees(ScanSession& session, DiskHandle& disk, const std::vector<ScanHit*>& hits,
                    PartitionList& found);
  void LiveBootSector(ScanSession& session, const ScanHit& hit);
  void AddLive(ScanSession& session, std::unique_ptr<PartitionInfo> partition);
  void GiveDiskFacts(const PartitionInfo& scanned, PartitionInfo& p) const;

  FoundFileCatalog* live_ = nullptr;
  PartitionList results_;
  PartitionList liveAdded_;  // without a catalogue
  // The data runs of the files of the real volumes parsed (all of them,
  // whatever the views show).
  std::vector<std::pair<std::uint64_t, std::uint64_t>> listedRuns_;
  // Their files' (first data sector, size), for the rebuilt volumes that
  // only repeat them.
  std::vector<std::pair<std::uint64_t, std::uint64_t>> listedFiles_;
  // Layout copies (kind, start, size, boot sector) of every partition added
  // live, for the end-of-scan steps that compare with known volumes.
  std::vector<PartitionInfo> liveVolumes_;
  // The allocation maps of the volumes added live: the trees rebuilt at the
  // end under one of them lost to it what it took.
  std::vector<std::shared_ptr<const LaterVolume>> liveAllocations_;
  std::vector<std::string> steps_;
  std::set<std::uint64_t> readDirectories_;  // FAT directory starts the readers read
  SectorRanges exfatDirectories_;             // exFAT directories the readers listed
  ParseContext parses_;                      // this scan's parses: visited directories, completed hits
  // The known MFT extents are this scan's (emptied at its start and filled
  // by the volumes added live); before that they may be a former scan's.
  bool extentsOfThisScan_ = false;
};

}  // namespace ambrel
