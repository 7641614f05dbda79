#include "progress_texts.h"

#include <cstring>

#include "qt_text.h"

namespace ambrel::ui {

namespace {

// A NUL-terminated UTF-8 field of a record, bounded by its array.
template <std::size_t N>
QString FieldText(const char (&field)[N]) {
  return QString::fromUtf8(field, qsizetype(strnlen(field, N)));
}

QString LetterText(char32_t letter) {
  if (letter == 0) return {};
  return QString::fromUcs4(&letter, 1);
}

int Percent(std::uint64_t done, std::uint64_t total) {
  if (total == 0) return -1;  // nothing to divide by: leave the bar as it is
  if (done > total) done = total;
  return int(done * 100 / total);
}

ProgressLines ParseLines(const ScanProgress& r) {
  const auto& p = r.u.parse;
  ProgressLines out;
  out.shown = true;
  out.title = Q("正在解析磁盘上的文件，请耐心等候！");
  out.lines << Q("发现文件： %1     发现目录： %2").arg(p.presentFiles).arg(p.presentDirs)
            << Q("发现已删除文件： %1     发现已删除目录： %2").arg(p.deletedFiles).arg(p.deletedDirs);
  return out;
}

ProgressLines ScanLines(const ScanProgress& r) {
  const auto& s = r.u.scan;
  const std::uint32_t totalMb = std::uint32_t(s.totalSectors >> 11);
  std::uint32_t doneMb = std::uint32_t(s.doneSectors >> 11);
  if (doneMb > totalMb) doneMb = totalMb;
  ProgressLines out;
  out.shown = true;
  out.showBar = true;
  out.title = Q("正在扫描磁盘上的文件，请耐心等候！");
  out.lines << Q("扫描范围: %1(MB)/%2(MB)     发现文件数: %3     ").arg(doneMb).arg(totalMb).arg(s.filesFound)
            << Q("Ebr: %1     Fat dbr: %2     Ntfs dbr: %3     Exfat dbr: %4 ")
                   .arg(s.kinds[0]).arg(s.kinds[2]).arg(s.kinds[1]).arg(s.kinds[3])
            << Q("File record: %1     Fat dir: %2     Ntfs dir: %3     Exfat dbr: %4 ")
                   .arg(s.kinds[4]).arg(s.kinds[5]).arg(s.kinds[6]).arg(s.kinds[7]);
  if (s.totalSectors > 2048 && totalMb > 0) out.barPercent = int(std::uint64_t(doneMb) * 100 / totalMb);
  return out;
}

ProgressLines CopyLines(const ScanProgress& r) {
  const auto& c = r.u.copy;
  const std::uint32_t doneMb = std::uint32_t(c.bytesCopied >> 20), totalMb = std::uint32_t(c.totalBytes >> 20);
  ProgressLines out;
  out.shown = true;
  out.showBar = true;
  out.title = Q("正在恢复磁盘上的文件，请耐心等候！");
  out.lines << FieldText(c.currentName)
            << Q("总拷贝数据(MB)： %1 / %2").arg(doneMb).arg(totalMb)
            << Q("文件数： %1 / %2").arg(c.filesCopied).arg(c.totalFiles)
            << Q("当前文件拷贝数据(MB)： %1 / %2")
                   .arg(std::uint32_t(c.currentCopied >> 20)).arg(std::uint32_t(c.currentSize >> 20));
  if (totalMb != 0) out.barPercent = int(std::uint64_t(doneMb) * 100 / totalMb);
  return out;
}

ProgressLines EnumerateLines(const ScanProgress& r) {
  const auto& e = r.u.enumerate;
  ProgressLines out;
  out.shown = true;
  out.title = Q("正在获取磁盘上的分区信息，请耐心等候！");
  out.lines << Q("发现分区数： %1").arg(e.volumesFound) << Q("当前分区： %1:").arg(LetterText(e.letter))
            << Q("分区格式： %1").arg(FieldText(e.fsName)) << Q("分区卷标： %1").arg(FieldText(e.label));
  return out;
}

ProgressLines CounterLines(const ScanProgress& r, const char* title, bool bar) {
  ProgressLines out;
  out.shown = true;
  out.showBar = bar;
  out.title = Q(title);
  out.lines << Q("扇区信息：%1 / %2").arg(r.u.counter.done).arg(r.u.counter.total);
  if (bar) out.barPercent = Percent(r.u.counter.done, r.u.counter.total);
  return out;
}

ProgressLines NoticeLines(const ScanProgress& r) {
  ProgressLines out;
  out.shown = true;
  out.title = FieldText(r.u.notice.title);
  out.lines << FieldText(r.u.notice.text);
  return out;
}

}  // namespace

ProgressLines DialogLines(const ScanProgress& r) {
  switch (r.stage) {
    case kStageParse: return ParseLines(r);
    case kStageDeepScan: return ScanLines(r);
    case kStageCopy: return CopyLines(r);
    case kStageEnumerate: return EnumerateLines(r);
    case kStageLoadScan: return CounterLines(r, "读取保存的扇区信息！", true);
    case kStageSaveScan: return CounterLines(r, "保存扫描的扇区信息！", true);
    case kStageNotice: return NoticeLines(r);
    default: return {};
  }
}

namespace {

ProgressLines PanelScanLines(const ScanProgress& r, const char* title, const char* format, const QString& timing) {
  const auto& s = r.u.scan;
  const std::uint64_t done = s.doneSectors > s.totalSectors ? s.totalSectors : s.doneSectors;
  ProgressLines out;
  out.shown = true;
  out.showBar = true;
  out.title = Q(title);
  out.lines << Q(format).arg(std::uint32_t(done / 2048)).arg(std::uint32_t(s.totalSectors / 2048)).arg(s.filesFound) +
                   timing;
  if (s.totalSectors > 2048) out.barPercent = int(done * 100 / s.totalSectors);
  return out;
}

ProgressLines PanelCounter(const ScanProgress& r, const char* title, const char* format, bool bar) {
  ProgressLines out;
  out.shown = true;
  out.showBar = bar;
  out.title = Q(title);
  out.lines << Q(format).arg(r.u.counter.done).arg(r.u.counter.total);
  if (bar) out.barPercent = Percent(r.u.counter.done, r.u.counter.total);
  return out;
}

}  // namespace

ProgressLines PanelLines(const ScanProgress& r, const QString& timing) {
  switch (r.stage) {
    case kStageParse: {
      const auto& p = r.u.parse;
      ProgressLines out;
      out.shown = true;
      out.title = Q("正在解析磁盘上的文件，请耐心等候！");
      out.lines << Q("发现文件: %1   发现目录: %2       发现已删除文件: %3   发现已删除目录: %4")
                       .arg(p.presentFiles).arg(p.presentDirs).arg(p.deletedFiles).arg(p.deletedDirs);
      return out;
    }
    case kStageDeepScan:
      return PanelScanLines(r, "正在扫描文件，如果已经找到您丢失的文件，可以立即恢复，不用等待扫描结束！",
                            "扫描范围: %1(MB)/%2(MB)     发现文件数: %3     ", timing);
    case kStageMtsScan:
      return PanelScanLines(r, "正在扫描MTS视频数据，请耐心等待扫描结束！",
                            "扫描范围: %1(MB)/%2(MB)     发现MTS视频碎片数: %3     ", timing);
    case kStageLoadScan: return PanelCounter(r, "读取保存的扇区信息！", "扇区信息：%1 / %2", true);
    case kStageSaveScan: return PanelCounter(r, "保存扫描的扇区信息！", "扇区信息：%1 / %2", true);
    case kStageClassify: return PanelCounter(r, "正在对文件分类，请耐心等候！", "已分类文件数: %1    总文件数: %2", false);
    case kStageVideoRebuild:
      return PanelCounter(r, "正在重组视频碎片，可能需要几分钟时间，请耐心等候！", "已重组个数: %1    总个数: %2", true);
    case kStageNotice: {
      ProgressLines out;
      out.shown = true;
      const QString text = FieldText(r.u.notice.text);
      out.title = text.isEmpty() ? FieldText(r.u.notice.title) : text;
      return out;
    }
    default: return {};
  }
}

}  // namespace ambrel::ui
