#include "volume_checks.h"

#include <cstdio>

#include "common/text.h"
#include "session/texts.h"
#include "text_output.h"

namespace ambrel::cli {

std::string NoVolumeText(int wanted, const SourceSession& source) {
  const auto& volumes = source.Volumes();
  const char* what = source.IsImageFile() ? "image" : "device";
  std::string text = Format("no volume %d (the %s has %zu", wanted, what, volumes.size());
  bool consecutive = true;
  for (std::size_t i = 0; i < volumes.size(); ++i) consecutive = consecutive && volumes[i].number == int(i) + 1;
  if (!consecutive) {
    text += ":";
    for (std::size_t i = 0; i < volumes.size(); ++i) text += Format("%s %d", i ? "," : "", volumes[i].number);
  }
  return text + ")";
}

std::string NoVolumesText(SourceSession& source) {
  const NoVolumeReason why = source.WhyNoVolume();
  if (why == NoVolumeReason::kNtfsRecordSize)
    return "no volume found (the NTFS boot sector at sector 0 gives an MFT or index record size that is not a power "
           "of two from 512 bytes to 64 KiB of whole sectors)";
  if (why == NoVolumeReason::kNoTableNoBootSector)
    return "no volume found (no partition table and no boot sector at sector 0)";
  return Format("no volume found (the %s partition table at sector 0 has no usable entry, and sector 0 is not an "
                "NTFS, FAT16, FAT32 or exFAT boot sector)",
                TableKindName(source.Description().tableKind));
}

std::string NotFileSystemText(int number, std::uint64_t startLba, BootSectorState state) {
  const unsigned long long start = startLba;
  std::string why;
  switch (state) {
    case BootSectorState::kUnreadable: why = Format("its boot sector at sector %llu could not be read", start); break;
    case BootSectorState::kEmpty: why = Format("its boot sector at sector %llu is empty", start); break;
    case BootSectorState::kNoSignature: why = Format("no boot sector signature at sector %llu", start); break;
    case BootSectorState::kNtfsRecordSize:
      why = Format("the NTFS boot sector at sector %llu gives an MFT or index record size that is not a power of two "
                   "from 512 bytes to 64 KiB of whole sectors",
                   start);
      break;
  }
  return Format("volume %d: not NTFS, FAT or exFAT (%s)", number, why.c_str());
}

std::string ListProblemText(SourceSession& source, int number, const VolumeListing& listing) {
  const SourceVolume* v = source.Volume(number);
  switch (listing.problem) {
    case ListProblem::kNone: return {};
    case ListProblem::kNoSuchVolume: return NoVolumeText(number, source);
    case ListProblem::kNotAFileSystem: return NotFileSystemText(number, v ? v->info.startLba : 0, listing.bootSector);
    case ListProblem::kUnreadable:
      return Format("volume %d (%s): the file system could not be read", number, v ? v->info.fsName.c_str() : "");
    case ListProblem::kNoRecycleBin: return Format("volume %d has no recycle bin holding files", number);
  }
  return {};
}

std::vector<std::string> UnreadMetadataLines(int number, const SourceVolume& volume, const VolumeListing& listing) {
  std::vector<std::string> lines;
  for (const std::string& piece : UnreadMetadataTexts(listing.unread, listing.unreadDropped))
    lines.push_back(Format("volume %d (%s): unreadable metadata, the entries it held are missing: %s", number,
                           volume.info.fsName.c_str(), PrintableText(piece).c_str()));
  return lines;
}

std::vector<std::string> FatCheckLines(int number, const SourceVolume& volume, const VolumeListing& listing) {
  std::vector<std::string> lines;
  for (const std::string& text : {FatBootText(listing.fatBoot), FatCopiesText(listing.fatCopies)})
    if (!text.empty()) lines.push_back(Format("volume %d (%s): %s", number, volume.info.fsName.c_str(), text.c_str()));
  return lines;
}

namespace {

std::string PartitionText(const TablePartition& p, std::uint64_t diskSectors) {
  std::string text = Format("%d", p.number);
  if (!p.name.empty()) text += " \"" + PrintableText(p.name) + "\"";
  text += Format(" (start %llu, %llu sectors", static_cast<unsigned long long>(p.startLba),
                 static_cast<unsigned long long>(p.sectorCount));
  if (p.startLba >= diskSectors || p.sectorCount > diskSectors - p.startLba) text += ", past the end of the device";
  return text + ")";
}

}  // namespace

std::string GptLossText(const GptLoss& loss) {
  if (loss.Empty()) return {};
  std::string text = "warning: ";
  if (loss.CutShort())
    text += Format("the GPT partition entries (sector %llu on, %llu sectors) are cut short by the end of the "
                   "device after %llu sectors; ",
                   static_cast<unsigned long long>(loss.entriesLba),
                   static_cast<unsigned long long>(loss.entrySectors),
                   static_cast<unsigned long long>(loss.readableSectors));
  if (!loss.lost.empty()) {
    text += "partitions lost: ";
    for (std::size_t i = 0; i < loss.lost.size(); ++i)
      text += (i ? ", " : "") + PartitionText(loss.lost[i], loss.diskSectors);
  } else {
    text += "no partition could be read from them";
  }
  if (loss.CutShort())
    text += Format("; entries %u to %u could not be read", loss.firstUnreadableEntry, loss.entryCount);
  return text;
}

void WarnOfLostGptPartitions(SourceSession& source, const char* command) {
  const std::string text = GptLossText(source.LostGptPartitions());
  if (!text.empty()) std::fprintf(stderr, "ambrel-cli %s: %s\n", command, text.c_str());
}

std::string FolderProblemText(const FolderCheck& check) {
  switch (check.problem) {
    case FolderProblem::kNone: return {};
    case FolderProblem::kNotAFolder: return "not a folder";
    case FolderProblem::kPermissionDenied: return "permission denied";
    case FolderProblem::kReadOnly: return "read-only file system";
    case FolderProblem::kOnTheSource:
      return "您选择的恢复文件保存目录在您需要恢复数据的分区里，请选择其他分区里的目录!";
    case FolderProblem::kOther: return check.systemText;
  }
  return {};
}

}  // namespace ambrel::cli
