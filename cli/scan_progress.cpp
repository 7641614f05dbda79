#include "scan_progress.h"

#include <algorithm>
#include <cinttypes>

namespace ambrel::cli {

namespace {

std::string Clock(std::int64_t seconds) {
  if (seconds < 0) seconds = 0;
  char text[32];
  std::snprintf(text, sizeof text, "%" PRId64 ":%02d:%02d", seconds / 3600, int(seconds / 60 % 60),
                int(seconds % 60));
  return text;
}

}  // namespace

std::string ScanProgressText(const ScanProgress& p, std::int64_t elapsed, std::uint64_t baseline,
                             bool paused) {
  const auto& s = p.u.scan;
  const std::uint64_t total = std::max<std::uint64_t>(s.totalSectors, 1);
  const std::uint64_t done = std::min(s.doneSectors, total);
  const unsigned percent = static_cast<unsigned>(done * 100 / total);
  const std::uint64_t fresh = done > baseline ? done - baseline : 0;
  const double mbps = elapsed > 0 ? double(fresh) * 512.0 / 1e6 / double(elapsed) : 0.0;
  std::string remaining = "?";
  if (elapsed > 0 && fresh > 0) remaining = Clock(std::int64_t((total - done) * elapsed / fresh));
  char text[512];
  std::snprintf(text, sizeof text,
                "%3u%%  %.0f MB/s  elapsed %s  remaining %s  EBR %u NTFS %u FAT %u exFAT %u FILE %u "
                "FAT-dir %u INDX %u exFAT-set %u  files %u%s",
                percent, mbps, Clock(elapsed).c_str(), remaining.c_str(), s.kinds[0], s.kinds[1], s.kinds[2],
                s.kinds[3], s.kinds[4], s.kinds[5], s.kinds[6], s.kinds[7], s.filesFound,
                paused ? "  (paused: p or space resumes)" : "");
  return text;
}

void ScanProgressLine::Show(const ScanProgress& p, std::int64_t elapsed, bool paused) {
  const bool scanning = p.stage == kStageDeepScan || p.stage == kStageMtsScan;
  if (!scanning || p.u.scan.totalSectors == 0) return;
  if (!haveBaseline_) {
    haveBaseline_ = true;
    baseline_ = p.u.scan.doneSectors;
  }
  const auto now = std::chrono::steady_clock::now();
  const auto every = terminal_ ? std::chrono::milliseconds(200) : std::chrono::milliseconds(10000);
  if (shown_ && now - last_ < every) return;
  last_ = now;
  shown_ = true;
  const std::string line = ScanProgressText(p, elapsed, baseline_, paused);
  if (terminal_) std::fprintf(out_, "\r%s\033[K", line.c_str());
  else std::fprintf(out_, "%s\n", line.c_str());
  std::fflush(out_);
}

void ScanProgressLine::Finish(const ScanProgress& p, std::int64_t elapsed) {
  if ((p.stage == kStageDeepScan || p.stage == kStageMtsScan) && p.u.scan.totalSectors != 0) {
    const std::string line = ScanProgressText(p, elapsed, baseline_, false);
    std::fprintf(out_, terminal_ ? "\r%s\033[K\n" : "%s\n", line.c_str());
  }
  std::fflush(out_);
}

}  // namespace ambrel::cli
