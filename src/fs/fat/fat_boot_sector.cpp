#include "fs/fat/fat_boot_sector.h"

#include "catalog/partition_info.h"
#include "fs/boot_probe.h"

namespace ambrel {

bool IsFat16BootSector(ByteSpan sector) {
  return JudgeFatBootSector(sector, 0).fsKind == kFsFat16;
}

bool IsFat32BootSector(ByteSpan sector) {
  return JudgeFatBootSector(sector, 0).fsKind == kFsFat32;
}

std::string FatBootSectorLabel(ByteSpan sector, bool fat32) {
  const ByteCursor boot(sector);
  const std::uint64_t signatureAt = fat32 ? 66 : 38;
  const std::uint64_t labelAt = fat32 ? 71 : 43;
  if (boot.U8(signatureAt) != std::uint8_t{0x29}) return {};
  auto field = boot.Sub(labelAt, 11);
  if (!field) return {};
  std::string label(reinterpret_cast<const char*>(field->data()), field->size());
  while (!label.empty() && (label.back() == ' ' || label.back() == '\0')) label.pop_back();
  if (label == "NO NAME") return {};
  // Labels are OEM text; keep the printable ASCII ones only.
  for (char c : label)
    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E) return {};
  return label;
}

}  // namespace ambrel
