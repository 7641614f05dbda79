#include "catalog/catalog_labels.h"

#include "common/text.h"

namespace ambrel {
namespace {

const char* KindName(const PartitionInfo& part) {
  // FAT12 shares FAT16's kind code; its name tells them apart.
  if (part.fsKind == kFsFat16 && part.fsName == "FAT12") return "FAT12 ";
  switch (part.fsKind) {
    case kFsNtfs: return "NTFS ";
    case kFsFat16: return "FAT16 ";
    case kFsFat32: return "FAT32 ";
    case kFsExfat: return "EXFAT ";
    case kFsFatDirScan: return "FatDir ";
    case kFsExfatDirScan: return "ExfatDir ";
    default: return "";
  }
}

const char* ScopeName(std::uint32_t scope) {
  if (scope == 2) return "删除文件 ";
  if (scope == 1) return "正常文件 ";
  return "";
}

}  // namespace

std::string PartitionLabel(std::uint32_t slot, const PartitionInfo& part, const std::string& letter) {
  std::string text = Format("%02u ", slot >= 3 ? slot - 3 : 0u);
  if (!letter.empty()) text += letter + "盘 ";
  text += part.volumeLabel;
  text += ' ';
  text += ScopeName(part.table.listingScope);
  text += KindName(part);
  text += Format(" (%u个文件)", part.table.fileCount);
  return text;
}

std::string ClassTreeLabel(unsigned k, std::uint32_t files) {
  static const char* const kNames[] = {"按文件类型分类", "按文件创建时间分类", "按文件修改时间分类"};
  if (k > 2) return {};
  return Format("%02u  ", k) + kNames[k] + Format("     (%u个文件)", files);
}

std::string FolderText(const char* name, std::uint32_t files) {
  return Format("%s     (%u个文件)", name ? name : "", files);
}

}  // namespace ambrel
