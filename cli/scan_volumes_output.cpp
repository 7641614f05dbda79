#include "scan_volumes_output.h"

#include <cinttypes>
#include <cstdio>

#include "catalog/node_table.h"
#include "text_output.h"
#include "tree_output.h"

namespace ambrel::cli {
namespace {

std::uint32_t FilesOf(const PartitionInfo& p) {
  std::uint32_t files = 0;
  for (std::uint32_t id = kRootId + 1; id < p.table.count; ++id) {
    const FoundFileNode* n = NodeAt(p.table, id);
    if (n && IsFileKind(KindOf(*n))) ++files;
  }
  return files;
}

const char* ScopeText(const PartitionInfo& p) {
  switch (p.table.listingScope) {
    case 1: return "present";
    case 2: return "deleted";
    default: return "all";
  }
}

bool SizeKnown(const PartitionInfo& p) {
  return p.sectorCount != 0 && p.sectorCount != kUnknownPartitionSize;
}

}  // namespace

std::string OriginText(std::uint32_t origin) {
  switch (origin) {
    case kOriginReal: return "real";
    case kOriginPartitionTable: return "partition table";
    case kOriginBootSector: return "boot sector";
    case kOriginBackupBootSector: return "backup boot sector";
    case kOriginMftRun: return "MFT run";
    case kOriginLooseRecords: return "loose records";
    case kOriginDirectoryEntries: return "directory entries";
    case kOriginSignatures: return "signatures";
    default: return "other";
  }
}

std::string ResultKindText(const PartitionInfo& p) {
  switch (p.fsKind) {
    case kFsNtfs: return "NTFS";
    case kFsFat16: return "FAT16";
    case kFsFat32: return "FAT32";
    case kFsExfat: return "exFAT";
    case kFsFatDirScan: return "FatDir";
    case kFsExfatDirScan: return "ExfatDir";
    case kFsSignature: return "found files";
    default: return "unknown";
  }
}

void PrintRebuiltVolumes(const std::vector<std::unique_ptr<PartitionInfo>>& results) {
  std::printf("rebuilt volumes: %zu\n", results.size());
  int number = 0;
  for (const auto& p : results) {
    ++number;
    if (!p) continue;
    const std::string size = SizeKnown(*p) ? std::to_string(p->sectorCount) : "unknown";
    std::printf("  %d  %-18s start %" PRIu64 "  sectors %s  %s (%s)  \"%s\"  %u files\n", number,
                OriginText(p->origin).c_str(), p->startLba, size.c_str(), ResultKindText(*p).c_str(),
                ScopeText(*p), PrintableText(p->volumeLabel).c_str(), FilesOf(*p));
  }
}

Json RebuiltVolumesJson(const std::vector<std::unique_ptr<PartitionInfo>>& results) {
  Json list = Json::array();
  int number = 0;
  for (const auto& p : results) {
    ++number;
    if (!p) continue;
    Json v;
    v["volume"] = number;
    v["foundBy"] = OriginText(p->origin);
    v["startLba"] = p->startLba;
    if (SizeKnown(*p)) v["sectors"] = p->sectorCount;
    else v["sectors"] = nullptr;
    v["kind"] = ResultKindText(*p);
    v["scope"] = ScopeText(*p);
    v["label"] = JsonText(p->volumeLabel);
    v["files"] = FilesOf(*p);
    list.push_back(std::move(v));
  }
  return list;
}

bool PrintRebuiltTree(const std::vector<std::unique_ptr<PartitionInfo>>& results, int number,
                      bool json, Json* document) {
  if (number < 1 || static_cast<std::size_t>(number) > results.size() || !results[number - 1]) {
    std::fprintf(stderr, "ambrel-cli scan: no rebuilt volume %d (the scan rebuilt %zu)\n", number,
                 results.size());
    return false;
  }
  const PartitionInfo& p = *results[number - 1];
  const TreeEntries entries = CollectTreeEntries(p);
  if (json && document) (*document)["tree"] = TreeJson(number, p, entries);
  else PrintTreeText(number, p, entries);
  return true;
}

}  // namespace ambrel::cli
