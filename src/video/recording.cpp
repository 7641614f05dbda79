#include "video/recording.h"

#include "common/text.h"

namespace ambrel::video {

std::string RecordingName(std::uint64_t lba, const char* extension) {
  const auto high = static_cast<unsigned>(lba >> 32), low = static_cast<unsigned>(lba);
  if (high != 0) return Format("0x%x_%x.%s", high, low, extension);
  return Format("0x%x.%s", low, extension);
}

bool SharesSectors(const Recording& a, const Recording& b) {
  for (const Fragment& x : a.fragments)
    for (const Fragment& y : b.fragments)
      if (x.sectors && y.sectors && x.startLba < y.startLba + y.sectors && y.startLba < x.startLba + x.sectors)
        return true;
  return false;
}

}  // namespace ambrel::video
