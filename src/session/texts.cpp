#include "session/texts.h"

#include "session/file_state.h"

#include "common/text.h"
#include "diag/format_size.h"

namespace ambrel {

namespace {

constexpr const char* kCableAdvice =
    "\n可能是电脑、读卡器、USB线、USB口等设备接触不良。建议您更换电脑、读卡器、USB线，"
    "并将存储设备插在电脑机箱后面的USB口，再重新恢复您的数据！";

std::string ScanReadErrorText(std::uint64_t failed, std::uint64_t megabytes, bool removable) {
  std::string text =
      megabytes <= 2000
          ? Format("扫描数据时，发生了%u次读磁盘错误，至少%u(MB)数据读失败，可能影响您的恢复效果！",
                   static_cast<unsigned>(failed), static_cast<unsigned>(megabytes))
          : Format("扫描数据时，发生了%u次读磁盘错误，至少%.2f(GB)数据读失败，可能会严重影响您的恢复效果！",
                   static_cast<unsigned>(failed), double(megabytes) / 1024.0);
  if (removable) text += kCableAdvice;
  return text;
}

}  // namespace

std::string PromptText(const PromptMessage& m) {
  switch (m.id) {
    case PromptId::kSettingsError: return "抱歉，获取软件配置参数失败！";
    case PromptId::kSecondInstance: return Format("已经有一个%s软件运行了!", m.subject.c_str());
    case PromptId::kOutOfMemory: return "分配内存失败: " + FormatSize(m.count);
    case PromptId::kOverwriteFile: return m.subject + "，已经存在，是否覆盖？";
    case PromptId::kReuseSavedScan: return "磁盘上保存有当前设备以前扫描的数据，是否复用？";
    case PromptId::kSaveScanAtEnd: return "是否保存当前已扫描的数据？";
    case PromptId::kScanSaved: return "保存扫描数据成功！";
    case PromptId::kScanSaveFailed: return "保存扫描数据失败！";
    case PromptId::kScanLoadFailed: return "加载保存在磁盘上的数据失败！";
    case PromptId::kScanStateDamaged: return "保存的扫描数据已损坏（校验不符），不能复用，将重新扫描。";
    case PromptId::kScanStateNotAFile:
      return "扫描数据文件“" + m.subject + "”不是普通文件，没有读取，将重新扫描。";
    case PromptId::kScanStateUnchecked: return "保存的扫描数据是旧版本，没有校验值，无法确认其完整，仍按原样复用。";
    case PromptId::kDeviceSizeWrong: return "设备大小不正确！";
    case PromptId::kScanReadErrors: return ScanReadErrorText(m.count, m.amount, m.flag);
  }
  return {};
}

std::optional<std::string> ReadErrorSummaryText(std::uint32_t failed, std::uint32_t reads,
                                                bool removable) {
  if (failed <= 10 || failed > reads) return std::nullopt;
  return ScanReadErrorText(failed, std::uint64_t(failed) * 8, removable);
}

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

std::string CopyRefusalText(CopyRefusal refusal, const std::string& verb) {
  switch (refusal) {
    case CopyRefusal::kNone: return {};
    case CopyRefusal::kFat32DeletedScanRunning:
      return Format("FAT32分区删除的文件，扫描完后才能%s，请耐心等待!", verb.c_str());
    case CopyRefusal::kScanMustEnd: return Format("扫描完后才能%s，请耐心等待!", verb.c_str());
    case CopyRefusal::kNothingChosen: return "请至少选择一个需要恢复的文件或目录!";
    case CopyRefusal::kNoTargetFolder: return "请选择文件恢复后的保存目录！";
    case CopyRefusal::kTargetInvalid: return "选择的目录不合法，恢复失败！";
    case CopyRefusal::kTargetOnSource:
      return "您选择的恢复文件保存目录在您需要恢复数据的分区里，请选择其他分区里的目录!";
    case CopyRefusal::kNotEnoughSpace: return "您选择的目录所在磁盘的空间不足!";
    case CopyRefusal::kTooManyTempFiles: return "请关闭刚才打开的临时文件，再打开新的文件！";
    case CopyRefusal::kAnotherRun:  // the run could not start: it ended before it began
    case CopyRefusal::kStopped: return "恢复文件终止！";
  }
  return {};
}

std::string CompletionReportText(std::uint32_t files, std::uint64_t bytes) {
  if (bytes > 1288490188ull)  // 1.2 GiB
    return Format("恢复结束！本次恢复%u个文件，共计%.2f(GB)数据！", files, static_cast<double>(bytes >> 20) / 1024.0);
  if (bytes > 1258291ull)  // 1.2 MiB
    return Format("恢复结束！本次恢复%u个文件，共计%.2f(MB)数据！", files, static_cast<double>(bytes) / 1048576.0);
  if (bytes > 1228ull)  // 1.2 KiB
    return Format("恢复结束！本次恢复%u个文件，共计%u(KB)数据！", files, static_cast<unsigned>(bytes >> 10));
  return Format("恢复结束！本次恢复%u个文件，共计%u(B)数据！", files, static_cast<unsigned>(bytes));
}

std::string ReadErrorReportText(std::uint32_t failedReads, bool removable) {
  std::string text = Format("恢复文件时，发生了%u次读磁盘错误，导致部分文件恢复失败！", failedReads);
  if (removable) text += kCableAdvice;
  return text;
}

std::string FailedFilesReportText(std::size_t failedFiles) {
  return Format("有%zu个文件没有完整恢复（读取或写入失败）！", failedFiles);
}

unsigned OverwrittenPercent(std::uint64_t taken, std::uint64_t clusters) {
  if (clusters == 0 || taken == 0) return 0;
  if (taken >= clusters) return 100;
  // Rounded down, and never 0 when one cluster is taken.
  const std::uint64_t p = taken * 100 / clusters;
  return static_cast<unsigned>(p == 0 ? 1 : p);
}

std::string FileStateWords(const ListedFileState& s) {
  switch (s.overwrite) {
    case OverwriteState::kIntact: return "完好";
    case OverwriteState::kPartlyOverwritten: return Format("部分覆盖 %u%%", s.overwrittenPercent);
    case OverwriteState::kOverwritten: return "已覆盖";
    case OverwriteState::kUnknown: break;
  }
  if (s.damage == DataDamage::kNotValidData) return "不完整";
  if (s.damage != DataDamage::kNone) return "损坏";
  return "";
}

std::string DamagedFileText(const DamagedFileReport& d) {
  std::string why;
  auto add = [&why](const std::string& text) { why += (why.empty() ? "" : "; ") + text; };
  if (d.badSectors > 0) add(Format("%llu unreadable sector(s)", static_cast<unsigned long long>(d.badSectors)));
  if (d.undecodableUnits > 0)
    add(Format("%llu undecodable compression unit(s)", static_cast<unsigned long long>(d.undecodableUnits)));
  if (d.damage == DataDamage::kOverwritten || d.damage == DataDamage::kPartlyOverwritten) {
    const std::string by = d.overwrittenBy.empty() ? "" : ", first by " + d.overwrittenBy;
    add(Format("%s: %llu of %llu clusters in use by other files (%u%%%s), %llu of %llu bytes", DamageText(d.damage),
               static_cast<unsigned long long>(d.takenClusters), static_cast<unsigned long long>(d.clusters),
               OverwrittenPercent(d.takenClusters, d.clusters), by.c_str(), static_cast<unsigned long long>(d.readable),
               static_cast<unsigned long long>(d.size)));
  } else if (d.damage == DataDamage::kCrossLinked) {
    add(Format("%s with %s: %llu of %llu bytes", DamageText(d.damage), d.crossLinkedWith.c_str(),
               static_cast<unsigned long long>(d.readable), static_cast<unsigned long long>(d.size)));
  } else if (d.damage == DataDamage::kNotValidData) {
    add(Format("partial: %s: %llu of %llu bytes valid", DamageText(d.damage),
               static_cast<unsigned long long>(d.validLength), static_cast<unsigned long long>(d.size)));
  } else if (d.damage != DataDamage::kNone) {
    add(Format("%s: %llu of %llu bytes", DamageText(d.damage), static_cast<unsigned long long>(d.readable),
               static_cast<unsigned long long>(d.size)));
  }
  if (d.readFailed) add("unreadable data");
  if (d.shortCopy) add("short copy");
  add(d.written ? "written, flagged damaged" : "skipped, not written");
  return d.path + ": " + why;
}

namespace {

// At most 20 lines of a list, then the count of the rest.
std::string ListLines(const std::vector<std::string>& lines) {
  std::string text;
  for (std::size_t i = 0; i < lines.size() && i < 20; ++i) text += "\n" + lines[i];
  if (lines.size() > 20) text += Format("\n……（另有%zu个）", lines.size() - 20);
  return text;
}

}  // namespace

std::string UnreadMetadataText(const UnreadMetadata& u) {
  const auto first = static_cast<unsigned long long>(u.first), count = static_cast<unsigned long long>(u.count),
             lba = static_cast<unsigned long long>(u.lba);
  switch (u.kind) {
    case UnreadMetadataKind::kMftRecords:
      return count == 1 ? Format("MFT record %llu (sector %llu)", first, lba)
                        : Format("MFT records %llu to %llu (from sector %llu)", first, first + count - 1, lba);
    case UnreadMetadataKind::kFolderSectors:
      return Format("folder %s: %llu sector(s) of %s (from sector %llu)", u.folder.c_str(), count,
                    u.first == 0 ? "the root area" : Format("cluster %llu", first).c_str(), lba);
    case UnreadMetadataKind::kFatSectors:
      return Format("FAT sector(s) %llu to %llu (from sector %llu), in every copy", first, first + count - 1, lba);
    case UnreadMetadataKind::kTornMftRecord:
      return count == 1 ? Format("MFT record %llu (sector %llu) is torn (its update sequence does not match)", first, lba)
                        : Format("MFT records %llu to %llu (from sector %llu) are torn (their update sequences do not "
                                 "match)",
                                 first, first + count - 1, lba);
  }
  return {};
}

std::vector<std::string> UnreadMetadataTexts(const std::vector<UnreadMetadata>& pieces, std::uint64_t dropped) {
  std::vector<std::string> lines;
  for (const UnreadMetadata& u : pieces) lines.push_back(UnreadMetadataText(u));
  if (dropped > 0) lines.push_back(Format("%llu more", static_cast<unsigned long long>(dropped)));
  return lines;
}

std::string FatCopiesText(const FatCopyDisagreement& copies) {
  if (!copies.Any()) return {};
  std::string text = Format("the FAT copies disagree in %llu %s", static_cast<unsigned long long>(copies.entries),
                            copies.entries == 1 ? "entry" : "entries");
  std::vector<std::string> parts;
  if (copies.chainsFromSecond)
    parts.push_back(Format("%u %s the second copy", copies.chainsFromSecond,
                           copies.chainsFromSecond == 1 ? "file follows" : "files follow"));
  if (copies.chainsUnresolved)
    parts.push_back(Format("%u %s neither", copies.chainsUnresolved, copies.chainsUnresolved == 1 ? "fits" : "fit"));
  if (parts.empty()) parts.push_back("every file follows the first copy");
  text += "; " + parts[0];
  for (std::size_t i = 1; i < parts.size(); ++i) text += ", " + parts[i];
  return text;
}

std::string FatBootText(const FatBootCheck& check) {
  if (!check.Any()) return {};
  std::vector<std::string> parts;
  for (FatBootProblem p : check.problems) {
    switch (p) {
      case FatBootProblem::kNoFats: parts.push_back("no FAT"); break;
      case FatBootProblem::kNoReservedSectors: parts.push_back("no reserved sectors"); break;
      case FatBootProblem::kClusterSizeNotPowerOfTwo: parts.push_back("sectors per cluster not a power of two"); break;
      case FatBootProblem::kRootEntriesPartialSector:
        parts.push_back("the root directory does not fill whole sectors");
        break;
      case FatBootProblem::kNoRootEntries: parts.push_back("no root directory entries"); break;
      case FatBootProblem::kFatTooSmall: parts.push_back("the FAT is smaller than the clusters need"); break;
    }
  }
  std::string text = "boot sector fields a checker rejects: ";
  if (parts.empty()) text = "boot sector: ";
  for (std::size_t i = 0; i < parts.size(); ++i) text += (i ? ", " : "") + parts[i];
  if (check.rootEntriesUsed != check.rootEntriesRecorded)
    text += Format("%sread with %u root entries (recorded %u), as the folders show", parts.empty() ? "" : "; ",
                   check.rootEntriesUsed, check.rootEntriesRecorded);
  return text;
}

std::string FatCopiesWarningText(const FatCopyDisagreement& copies) {
  if (!copies.Any()) return {};
  std::string text = Format("两份FAT表有%llu处不一致", static_cast<unsigned long long>(copies.entries));
  if (copies.chainsFromSecond) text += Format("，%u个文件按第二份读取", copies.chainsFromSecond);
  if (copies.chainsUnresolved) text += Format("，%u个文件两份都不符", copies.chainsUnresolved);
  if (!copies.chainsFromSecond && !copies.chainsUnresolved) text += "，所有文件按第一份读取";
  return text;
}

std::string FatBootWarningText(const FatBootCheck& check) {
  if (!check.Any()) return {};
  std::vector<std::string> parts;
  for (FatBootProblem p : check.problems) {
    switch (p) {
      case FatBootProblem::kNoFats: parts.push_back("没有FAT表"); break;
      case FatBootProblem::kNoReservedSectors: parts.push_back("没有保留扇区"); break;
      case FatBootProblem::kClusterSizeNotPowerOfTwo: parts.push_back("每簇扇区数不是2的幂"); break;
      case FatBootProblem::kRootEntriesPartialSector: parts.push_back("根目录不是整数个扇区"); break;
      case FatBootProblem::kNoRootEntries: parts.push_back("没有根目录项"); break;
      case FatBootProblem::kFatTooSmall: parts.push_back("FAT表小于簇数所需"); break;
    }
  }
  std::string text = "引导扇区的字段有误";
  for (std::size_t i = 0; i < parts.size(); ++i) text += (i ? "、" : "：") + parts[i];
  if (check.rootEntriesUsed != check.rootEntriesRecorded)
    text += Format("；按目录实际使用的%u个根目录项读取（记录为%u）", check.rootEntriesUsed, check.rootEntriesRecorded);
  return text;
}

std::string FatWarningsReportText(const std::vector<std::string>& lines) {
  return "以下分区的文件系统结构有误，已按最可信的数据读取，部分文件可能不完整：" + ListLines(lines);
}

std::string UnreadMetadataReportText(const std::vector<std::string>& lines) {
  return "文件系统的部分元数据无法读取，其中记录的文件没有列出：" + ListLines(lines);
}

std::string DamagedFilesReportText(const std::vector<std::string>& damaged) {
  return Format("有%zu个文件已损坏，未能完整恢复：", damaged.size()) + ListLines(damaged);
}

std::string ShortenedNamesReportText(const std::vector<std::string>& shortened) {
  return Format("有%zu个名称过长，已缩短：", shortened.size()) + ListLines(shortened);
}

std::vector<std::string> CopyReportTexts(const SaveRunResult& r, const std::string& verb) {
  std::vector<std::string> texts;
  if (r.refusal != CopyRefusal::kNone) {
    texts.push_back(CopyRefusalText(r.refusal, verb));
    return texts;
  }
  if (!r.started) return texts;
  if (r.readErrors > 0) texts.push_back(ReadErrorReportText(r.readErrors, r.removableSource));
  if (!r.failedFiles.empty()) texts.push_back(FailedFilesReportText(r.failedFiles.size()));
  if (!r.damagedFiles.empty()) {
    std::vector<std::string> lines;
    for (const DamagedFileReport& d : r.damagedFiles) lines.push_back(DamagedFileText(d));
    texts.push_back(DamagedFilesReportText(lines));
  }
  if (!r.shortenedNames.empty()) {
    std::vector<std::string> lines;
    for (const auto& [from, to] : r.shortenedNames) lines.push_back(from + " -> " + to);
    texts.push_back(ShortenedNamesReportText(lines));
  }
  texts.push_back(CompletionReportText(r.files, r.bytes));
  return texts;
}

std::string PreviewSizeText(std::uint64_t bytes) {
  const double b = static_cast<double>(bytes);
  if (bytes < 0x100000ull) return Format("%0.2f KB", b / 1024.0);
  if (bytes < 0x40000000ull) return Format("%0.2f MB", b / (1024.0 * 1024.0));
  if (bytes >= (1ull << 40)) return Format("%0.2f TB", b / (1024.0 * 1024.0 * 1024.0 * 1024.0));
  return Format("%0.2f GB", b / (1024.0 * 1024.0 * 1024.0));
}

std::string PreviewTimeText(PackedTime time) {
  if (time == 0) return "1900-01-01  00:00";
  const UnpackedTime t = UnpackPackedTime(time);
  return Format("%d-%02d-%02d  %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute, t.second);
}

std::string FormatFileInfo(std::string_view name, std::uint64_t size, PackedTime created, PackedTime modified) {
  return "文件名: " + std::string(name) + "\r\n文件大小: " + PreviewSizeText(size) + "\r\n创建时间: " +
         PreviewTimeText(created) + "\r\n修改时间: " + PreviewTimeText(modified) + "\r\n";
}

std::string FormatFileInfo(const FoundFileNode& node) {
  return FormatFileInfo(node.name ? std::string_view(node.name) : std::string_view(), node.size, node.created,
                        node.modified);
}

std::string PreviewNoticeText(PreviewKind kind) {
  switch (kind) {
    case PreviewKind::kImage: return "预览数据仅供参考，建议您点击下面的【恢复】按钮，恢复后查看文件内容！\r\n";
    case PreviewKind::kText: return "预览数据仅供参考，建议您点击下面的【恢复】按钮，恢复后查看文件内容！\r\n\r\n";
    default: return "暂时不能预览的文件，建议您点击下面的【恢复】按钮，恢复后查看文件内容！\r\n";
  }
}

std::string PreviewSwitchText(PreviewKind kind) {
  switch (kind) {
    case PreviewKind::kImage: return "浏览图像";
    case PreviewKind::kText: return "浏览文字";
    default: return "";
  }
}

std::string PreviewPictureText(const PreviewResult& r) {
  if (r.content.kind != PreviewKind::kImage || !r.picture || !r.picture->video) return "";
  return Format("视频：已解码%u帧。\r\n", r.picture->frames);
}

std::string DecodeFailureText(DecodeFailure failure) {
  switch (failure) {
    case DecodeFailure::kTooLarge: return "图像无法解码（图像尺寸超出限制）。\r\n";
    case DecodeFailure::kOutOfMemory: return "图像无法解码（解码所需内存超出限制）。\r\n";
    case DecodeFailure::kTimedOut: return "图像无法解码（解码超时）。\r\n";
    case DecodeFailure::kCrashed: return "图像无法解码（解码程序异常退出）。\r\n";
    case DecodeFailure::kNoDecoder: return "图像无法解码（找不到解码程序）。\r\n";
    default: return "图像无法解码。\r\n";
  }
}

std::string PreviewDamageText(const PreviewResult& r) {
  std::string text;
  if (!r.found) return "无法读取该文件的数据！\r\n";
  if (r.readable < r.request.size)
    text += "该文件只能恢复 " + PreviewSizeText(r.readable) + "（共 " + PreviewSizeText(r.request.size) +
            "），预览的是恢复后的内容。\r\n";
  else if (r.damaged)
    text += "该文件有无法读取的扇区，预览的是恢复后的内容。\r\n";
  if (r.content.kind == PreviewKind::kImage && r.picture && r.picture->damaged)
    text += "图像数据已损坏，只显示能解码的部分。\r\n";
  if (r.content.kind == PreviewKind::kImage && !r.picture) text += DecodeFailureText(r.pictureFailure);
  return text;
}

}  // namespace ambrel
