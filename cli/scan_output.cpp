#include "scan_output.h"

#include <algorithm>
#include <cinttypes>
#include <map>

#include "catalog/file_types.h"
#include "deepscan/found_files.h"
#include "text_output.h"

namespace ambrel::cli {

std::vector<CarvedFileRow> CarvedFileRows(const PartitionInfo* found) {
  std::vector<CarvedFileRow> rows;
  if (!found) return rows;
  const FoundFileTable& t = found->table;
  for (std::uint32_t id = 0; id < t.count; ++id) {
    const FoundFileNode* n = NodeAt(t, id);
    if (!n || !IsFileKind(KindOf(*n))) continue;
    CarvedFileRow row;
    row.type = n->typeCode;
    if (const FileTypeEntry* type = FindFileType(n->typeCode)) row.extension = type->extension;
    row.name = n->name;
    row.lba = n->dataSector;
    row.size = n->size;
    row.structural = (n->flags & kFlagStructuralSize) != 0;
    rows.push_back(std::move(row));
  }
  std::sort(rows.begin(), rows.end(), [](const CarvedFileRow& a, const CarvedFileRow& b) { return a.lba < b.lba; });
  return rows;
}

const char* SizeSourceText(bool structural) { return structural ? "structure" : "gap"; }

void PrintStructures(std::FILE* out, const ScanSession& scan) {
  std::map<std::uint8_t, std::uint64_t> counts;
  std::fprintf(out, "structures found:\n");
  scan.ForEachHit([&](const ScanHit& hit) {
    ++counts[hit.kind];
    if (CarriesSectorCopy(hit.kind))
      std::fprintf(out, "  %s at %" PRIu64 "\n", HitKindName(hit.kind).c_str(), hit.lba);
  });
  std::fprintf(out, "hits per kind:\n");
  for (const auto& [kind, n] : counts)
    std::fprintf(out, "  %u %s: %" PRIu64 "\n", kind, HitKindName(kind).c_str(), n);
  const ScanProgress p = scan.Progress();
  std::fprintf(out, "sectors scanned: %" PRIu64 " of %" PRIu64 "\n", p.u.scan.doneSectors,
               p.u.scan.totalSectors);
}

void PrintCarvedFiles(std::FILE* out, const std::vector<CarvedFileRow>& rows) {
  std::fprintf(out, "carved files: %zu\n", rows.size());
  for (const CarvedFileRow& r : rows)
    std::fprintf(out, "  %-6s %3u  LBA %-12" PRIu64 " %14" PRIu64 " bytes  %-9s %s\n", r.extension.c_str(), r.type,
                 r.lba, r.size, SizeSourceText(r.structural), PrintableText(r.name).c_str());
}

void AddStructuresJson(Json& j, const ScanSession& scan) {
  std::map<std::uint8_t, std::uint64_t> counts;
  Json structures = Json::array();
  scan.ForEachHit([&](const ScanHit& hit) {
    ++counts[hit.kind];
    if (CarriesSectorCopy(hit.kind)) {
      Json s;
      s["kind"] = hit.kind;
      s["name"] = HitKindName(hit.kind);
      s["lba"] = hit.lba;
      structures.push_back(std::move(s));
    }
  });
  Json perKind = Json::array();
  for (const auto& [kind, n] : counts) {
    Json k;
    k["kind"] = kind;
    k["name"] = HitKindName(kind);
    k["count"] = n;
    perKind.push_back(std::move(k));
  }
  const ScanProgress p = scan.Progress();
  j["structures"] = std::move(structures);
  j["hitsPerKind"] = std::move(perKind);
  j["sectorsScanned"] = p.u.scan.doneSectors;
  j["sectorsTotal"] = p.u.scan.totalSectors;
}

Json CarvedFilesJson(const std::vector<CarvedFileRow>& rows) {
  Json files = Json::array();
  for (const CarvedFileRow& r : rows) {
    Json f;
    f["type"] = r.type;
    f["extension"] = r.extension;
    f["name"] = JsonText(r.name);
    f["lba"] = r.lba;
    f["size"] = r.size;
    f["sizeFrom"] = SizeSourceText(r.structural);
    f["structural"] = r.structural;
    files.push_back(std::move(f));
  }
  return files;
}

}  // namespace ambrel::cli
