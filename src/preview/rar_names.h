// File names of RAR 1.5-4.x file headers: 8-bit in the ANSI code page, or,
// when the header's Unicode flag is set, an 8-bit name, a zero byte and the
// compact encoding of the UTF-16 name that refers back to the 8-bit one.
#pragma once

#include <string>

#include "common/byte_cursor.h"

namespace ambrel {

std::u16string DecodeRarName(ByteCursor stored, bool unicode);

}  // namespace ambrel
