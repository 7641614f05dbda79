#include "scan_output.h"

#include <algorithm>
#include <cinttypes>
#include <map>

#include "session/scan_job.h"
#include "text_output.h"

namespace ambrel::cli {

const char* SizeSourceText(bool structural) { return structural ? "structure" : "gap"; }


void PrintCarvedFiles(std::FILE* out, const std::vector<CarvedFileRow>& rows) {
  std::fprintf(out, "carved files: %zu\n", rows.size());
  for (const CarvedFileRow& r : rows)
    std::fprintf(out, "  %-6s %3u  LBA %-12" PRIu64 " %14" PRIu64 " bytes  %-9s %s\n", r.extension.c_str(), r.type,
                 r.lba, r.size, SizeSourceText(r.structural), PrintableText(r.name).c_str());
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
