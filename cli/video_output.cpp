#include "video_output.h"

#include <cinttypes>

#include "common/text.h"
#include "text_output.h"

namespace ambrel::cli {

std::string RecordingState(const video::Recording& r) {
  if (r.verified) return "verified";
  return Format("partial: %u%% of samples verified", r.VerifiedPercent());
}

void PrintRecordings(std::FILE* out, const std::vector<video::Recording>& recordings) {
  std::fprintf(out, "recordings: %zu\n", recordings.size());
  for (const video::Recording& r : recordings) {
    std::fprintf(out, "  %-20s %14" PRIu64 " bytes  %zu fragment(s)  %s\n", PrintableText(r.name).c_str(), r.size,
                 r.fragments.size(), RecordingState(r).c_str());
    for (const video::Fragment& f : r.fragments)
      std::fprintf(out, "      LBA %-12" PRIu64 " %10" PRIu64 " sectors\n", f.startLba, f.sectors);
  }
}

Json RecordingsJson(const std::vector<video::Recording>& recordings) {
  Json list = Json::array();
  for (const video::Recording& r : recordings) {
    Json j;
    j["name"] = JsonText(r.name);
    j["kind"] = r.kind == video::RecordingKind::kTransportStream ? "mts" : "quicktime";
    j["size"] = r.size;
    j["skip"] = r.skip;
    j["verified"] = r.verified;
    j["samplesChecked"] = r.samplesChecked;
    j["samplesVerified"] = r.samplesVerified;
    Json fragments = Json::array();
    for (const video::Fragment& f : r.fragments) {
      Json piece;
      piece["lba"] = f.startLba;
      piece["sectors"] = f.sectors;
      fragments.push_back(std::move(piece));
    }
    j["fragments"] = std::move(fragments);
    list.push_back(std::move(j));
  }
  return list;
}

}  // namespace ambrel::cli
