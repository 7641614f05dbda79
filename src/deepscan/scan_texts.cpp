#include "deepscan/scan_texts.h"

#include "common/text.h"

namespace ambrel {

std::optional<std::string> ReadErrorSummaryText(std::uint32_t failed, std::uint32_t reads,
                                                bool removable) {
  if (failed <= 10 || failed > reads) return std::nullopt;
  const std::uint64_t megabytes = std::uint64_t(failed) * 8;
  std::string text =
      megabytes <= 2000
          ? Format("扫描数据时，发生了%u次读磁盘错误，至少%u(MB)数据读失败，可能影响您的恢复效果！",
                   failed, static_cast<unsigned>(megabytes))
          : Format("扫描数据时，发生了%u次读磁盘错误，至少%.2f(GB)数据读失败，可能会严重影响您的恢复效果！",
                   failed, double(megabytes) / 1024.0);
  if (removable)
    text += "\n可能是电脑、读卡器、USB线、USB口等设备接触不良。建议您更换电脑、读卡器、USB线，并将存储设备插在电脑机箱后面的USB口，再重新恢复您的数据！";
  return text;
}

}  // namespace ambrel

namespace ambrel {
namespace {

std::string ClockText(const char* label, std::uint64_t s, bool secondsOnlyBelowMinute) {
  const auto h = static_cast<unsigned>(s / 3600), m = static_cast<unsigned>(s / 60 % 60),
             sec = static_cast<unsigned>(s % 60);
  if (s >= 3600) return Format("%s: %u:%02u:%02u     ", label, h, m, sec);
  if (s < 60 && secondsOnlyBelowMinute) return Format("%s: %02u     ", label, sec);
  return Format("%s: %02u:%02u     ", label, static_cast<unsigned>(s / 60), sec);
}

}  // namespace

std::string FormatProgress(std::uint64_t done, std::uint64_t total, std::uint64_t elapsed,
                           std::uint64_t baseline, std::uint64_t& previousRemaining) {
  if (elapsed == 0) return {};
  std::string text = ClockText("已用时间", elapsed, true);
  if (elapsed <= 60 || done <= baseline) return text;
  const std::uint64_t rate = (done - baseline) / elapsed;
  if (rate > 0) {
    std::uint64_t remaining = total >= done ? (total - done) / rate : 0;
    if (remaining > previousRemaining && remaining < previousRemaining * 110 / 100)
      remaining = previousRemaining;
    previousRemaining = remaining;
    text += remaining >= 60 ? ClockText("剩余时间", remaining, false)
                            : Format("剩余时间: %02u     ", static_cast<unsigned>(remaining));
  }
  const std::uint64_t speed = ((done - baseline) >> 11) / elapsed;
  text += Format("速度: %u(MB)/秒", static_cast<unsigned>(speed));
  if ((speed * 60) >> 10 > 2) text += Format("  %u(GB)/分钟", static_cast<unsigned>((speed * 60) >> 10));
  return text;
}

}  // namespace ambrel
