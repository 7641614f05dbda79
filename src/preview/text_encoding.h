// The encoding of a text file that carries no byte-order mark: UTF-8 when
// the bytes are valid UTF-8, else what uchardet recognises (Big5, Shift_JIS,
// EUC-KR, the Windows code pages...), else the ANSI code page. Pure; the
// detector looks at a bounded prefix only.
#pragma once

#include <string>

#include "common/byte_cursor.h"

namespace ambrel {

// The bytes the detector reads at most.
inline constexpr std::size_t kEncodingProbeBytes = 0x10000;

// The iconv name of the encoding uchardet recognises in `bytes` (upper
// case, e.g. "GB18030", "BIG5", "SHIFT_JIS", "WINDOWS-1252"); empty when it
// recognises none or the text is plain ASCII.
std::string DetectTextEncoding(ByteSpan bytes);

// The iconv name to decode unmarked, non-UTF-8 `bytes` with. The ANSI code
// page holds unless the detector names a double-byte East Asian encoding, or
// the bytes do not decode cleanly in the ANSI code page and the detector
// names another encoding that does.
std::string ChooseTextEncoding(ByteSpan bytes);

}  // namespace ambrel
