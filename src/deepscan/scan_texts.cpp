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
