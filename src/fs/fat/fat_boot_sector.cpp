#include "fs/fat/fat_boot_sector.h"

#include "fs/boot_sector_rules.h"

namespace ambrel {
namespace {

bool HasFatParameters(const ByteCursor& c) {
  std::uint8_t fats = c.UncheckedU8(16);
  return IsValidBytesPerSector(c.UncheckedU16(11)) &&
         IsValidSectorsPerCluster(c.UncheckedU8(13)) && (fats == 1 || fats == 2) &&
         c.UncheckedU8(21) == 0xF8 && HasUsualGeometry(c);
}

}  // namespace

bool IsFat16BootSector(ByteSpan sector) {
  if (sector.size() < 512) return false;
  ByteCursor c(sector.first(512));
  return HasBootSignature(c) && (c.UncheckedU8(0) == 0xEB || c.UncheckedU8(2) == 0x90) &&
         HasFatParameters(c) && c.Matches(54, "FAT1") && c.UncheckedU8(58) == '6';
}

bool IsFat32BootSector(ByteSpan sector) {
  if (sector.size() < 512) return false;
  ByteCursor c(sector.first(512));
  return HasBootSignature(c) && c.Matches(82, "FAT3") && c.UncheckedU8(86) == '2' &&
         (c.UncheckedU8(0) == 0xEB || c.UncheckedU8(0) == 0xE9) && HasFatParameters(c);
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
