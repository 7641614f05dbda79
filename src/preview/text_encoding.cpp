#include "preview/text_encoding.h"

#include <uchardet/uchardet.h>

#include <algorithm>
#include <memory>
#include <string_view>

#include "common/text.h"
#include "platform/codepage.h"

namespace ambrel {
namespace {

struct DetectorFree {
  void operator()(uchardet* d) const { uchardet_delete(d); }
};

// Multi-byte East Asian encodings: when the detector names one, it wins over
// the ANSI code page, since GBK also decodes most of their byte pairs
// (cleanly and wrongly).
bool IsEastAsian(std::string_view name) {
  static constexpr std::string_view kNames[] = {"BIG5", "SHIFT_JIS", "EUC-JP", "EUC-KR", "ISO-2022-JP",
                                                 "ISO-2022-KR", "ISO-2022-CN", "EUC-TW", "UHC", "JOHAB"};
  return std::find(std::begin(kNames), std::end(kNames), name) != std::end(kNames);
}

bool DecodesCleanly(std::string_view bytes, const char* encoding) {
  const std::string text = ToWideFrom(bytes, encoding);
  return !text.empty() && text.find("\xEF\xBF\xBD") == std::string::npos;  // U+FFFD
}

}  // namespace

std::string DetectTextEncoding(ByteSpan bytes) {
  const std::size_t n = std::min(bytes.size(), kEncodingProbeBytes);
  if (n == 0) return {};
  std::unique_ptr<uchardet, DetectorFree> detector(uchardet_new());
  if (!detector) return {};
  if (uchardet_handle_data(detector.get(), reinterpret_cast<const char*>(bytes.data()), n) != 0) return {};
  uchardet_data_end(detector.get());
  const char* name = uchardet_get_charset(detector.get());
  if (!name || !*name) return {};
  std::string upper = AsciiUpper(name);
  if (upper == "ASCII") return {};
  return upper;
}

std::string ChooseTextEncoding(ByteSpan bytes) {
  const std::string ansi = AnsiCodePage();
  const std::string detected = DetectTextEncoding(bytes);
  if (detected.empty() || detected == ansi) return ansi;
  if (IsEastAsian(detected)) return detected;
  // A cut at the probe's end may split a character: test a prefix that
  // stops before the last few bytes.
  const std::size_t n = std::min(bytes.size(), kEncodingProbeBytes);
  const std::string_view probe(reinterpret_cast<const char*>(bytes.data()), n > 8 && n < bytes.size() ? n - 4 : n);
  if (DecodesCleanly(probe, ansi.c_str())) return ansi;
  return DecodesCleanly(probe, detected.c_str()) ? detected : ansi;
}

}  // namespace ambrel
