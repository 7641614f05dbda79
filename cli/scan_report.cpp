#include "scan_report.h"

#include <cinttypes>
#include <cstdio>
#include <map>

namespace ambrel::cli {

namespace {

bool IsStructureKind(std::uint8_t kind) { return CarriesSectorCopy(kind) || kind == kHitGptHeader; }

bool NamedMft(const ScanHit& hit) {
  return hit.record && hit.record->name == u"$MFT";
}

}  // namespace

std::vector<FileRecordRun> FileRecordRuns(const ScanSession& scan) {
  std::vector<FileRecordRun> runs;
  FileRecordRun current;
  auto close = [&] {
    if (current.records > 3) runs.push_back(current);
    current = FileRecordRun{};
  };
  scan.ForEachHit([&](const ScanHit& hit) {
    if (hit.kind != kHitFileRecord) return;
    if (current.records != 0 && hit.lba == current.firstLba + 2ull * current.records) {
      ++current.records;
      return;
    }
    close();
    current.firstLba = hit.lba;
    current.records = 1;
    current.holdsMft = NamedMft(hit);
  });
  close();
  return runs;
}

void AddScanStructures(const ScanSession& scan, Json& out) {
  std::map<std::uint8_t, std::uint64_t> counts;
  Json structures = Json::array();
  scan.ForEachHit([&](const ScanHit& hit) {
    ++counts[hit.kind];
    if (!IsStructureKind(hit.kind)) return;
    Json one = Json::object();
    one["kind"] = HitKindName(hit.kind);
    one["kindCode"] = hit.kind;
    one["lba"] = hit.lba;
    structures.push_back(std::move(one));
  });
  Json perKind = Json::array();
  for (const auto& [kind, n] : counts) {
    Json one = Json::object();
    one["kind"] = HitKindName(kind);
    one["kindCode"] = kind;
    one["hits"] = n;
    perKind.push_back(std::move(one));
  }
  Json runs = Json::array();
  for (const FileRecordRun& run : FileRecordRuns(scan)) {
    Json one = Json::object();
    one["firstLba"] = run.firstLba;
    one["records"] = run.records;
    one["holdsMft"] = run.holdsMft;
    runs.push_back(std::move(one));
  }
  const ScanProgress p = scan.Progress();
  out["sectorsScanned"] = p.u.scan.doneSectors;
  out["sectorsTotal"] = p.u.scan.totalSectors;
  out["readsFailed"] = scan.ReadsFailed();
  out["reads"] = scan.ReadsCounted();
  out["hitsPerKind"] = std::move(perKind);
  out["structures"] = std::move(structures);
  out["fileRecordRuns"] = std::move(runs);
}

void PrintScanStructures(const ScanSession& scan) {
  std::map<std::uint8_t, std::uint64_t> counts;
  std::printf("structures found:\n");
  scan.ForEachHit([&](const ScanHit& hit) {
    ++counts[hit.kind];
    if (IsStructureKind(hit.kind))
      std::printf("  %s at %" PRIu64 "\n", HitKindName(hit.kind).c_str(), hit.lba);
  });
  const auto runs = FileRecordRuns(scan);
  if (!runs.empty()) std::printf("FILE-record runs:\n");
  for (const FileRecordRun& run : runs)
    std::printf("  %u records from %" PRIu64 "%s\n", run.records, run.firstLba, run.holdsMft ? " ($MFT)" : "");
  std::printf("hits per kind:\n");
  for (const auto& [kind, n] : counts) std::printf("  %u %s: %" PRIu64 "\n", kind, HitKindName(kind).c_str(), n);
  const ScanProgress p = scan.Progress();
  std::printf("sectors scanned: %" PRIu64 " of %" PRIu64 "\n", p.u.scan.doneSectors, p.u.scan.totalSectors);
  std::printf("reads failed: %" PRIu64 " of %" PRIu64 "\n", scan.ReadsFailed(), scan.ReadsCounted());
}

}  // namespace ambrel::cli
