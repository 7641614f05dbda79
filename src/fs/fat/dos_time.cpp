#include "fs/fat/dos_time.h"

namespace ambrel {

PackedTime PackDosDateTime(std::uint16_t date, std::uint16_t time) {
  if (date == 0) return 0;
  return PackPackedTime(1980 + (date >> 9), (date >> 5) & 0x0F, date & 0x1F, time >> 11, (time >> 5) & 0x3F,
                        (time & 0x1F) * 2);
}

}  // namespace ambrel
