#include "preview/compound_probe.h"

#include <string_view>

#include "preview/compound_file.h"

namespace ambrel {
namespace {

struct StreamType {
  std::string_view name;
  std::uint32_t typeCode;
};

constexpr StreamType kDocumentStreams[] = {
    {"WordDocument", 36}, {"Workbook", 87},      {"Book", 87},
    {"Props", 91},        {"VisioDocument", 96}, {"PowerPoint Document", 90},
    {"Pictures", 90},
};

std::uint32_t TypeOfName(std::string_view name) {
  for (const auto& s : kDocumentStreams)
    if (s.name == name) return s.typeCode;
  return 0;
}

std::uint32_t FirstDocumentType(const CompoundFile& file) {
  for (std::size_t i = 0; i < file.EntryCount(); ++i) {
    auto name = file.EntryName(i);
    if (!name) continue;
    if (std::uint32_t type = TypeOfName(*name)) return type;
  }
  return 0;
}

}  // namespace

SizeProbe CompoundFileSize(ByteSpan data) {
  SizeProbe probe;
  CompoundFile file(data);
  probe.result = file.OpenAllocation();
  if (probe.result != kWalkOk) return probe;
  const auto& fat = file.fat();
  std::size_t last = fat.size();
  while (last > 0 && fat[last - 1] == 0xFFFFFFFFu) --last;
  // Entry i describes sector i, stored at (i + 1) x 512: the file runs to
  // the end of the last sector in use.
  probe.size = (std::uint64_t{last} + 1) * 512;
  if (probe.size > data.size()) {
    probe.result = kWalkNeedMore;
    return probe;
  }
  probe.result = file.Open();
  if (probe.result != kWalkOk) return probe;
  probe.typeCode = FirstDocumentType(file);
  if (probe.typeCode == 0) probe.result = kWalkMalformed;
  return probe;
}

std::uint32_t DetectCompoundType(ByteSpan data) {
  CompoundFile file(data);
  if (file.Open() != kWalkOk) return 0;
  return FirstDocumentType(file);
}

}  // namespace ambrel
