#include "platform/codepage.h"

#include <iconv.h>

#include <cerrno>
#include <mutex>

#include "common/text.h"

namespace ambrel {
namespace {

std::mutex g_pageLock;
std::string g_page = "GBK";

// One conversion through iconv; `bad` is emitted for each input byte (or
// character) that cannot be converted, which is then skipped.
std::string Convert(std::string_view in, const char* to, const char* from, std::string_view bad,
                    bool fromUtf8) {
  iconv_t cd = ::iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::string(fromUtf8 ? in : std::string_view());
  std::string out;
  out.reserve(in.size() * 2 + 8);
  char* src = const_cast<char*>(in.data());
  std::size_t srcLeft = in.size();
  char buf[1024];
  while (srcLeft > 0) {
    char* dst = buf;
    std::size_t dstLeft = sizeof buf;
    const std::size_t r = ::iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    out.append(buf, static_cast<std::size_t>(dst - buf));
    if (r != static_cast<std::size_t>(-1)) continue;
    if (errno == E2BIG) continue;
    // EILSEQ or EINVAL (truncated tail): replace and skip one unit.
    out.append(bad);
    std::size_t skip = 1;
    if (fromUtf8) {
      while (skip < srcLeft && (static_cast<unsigned char>(src[skip]) & 0xC0) == 0x80) ++skip;
    }
    src += skip;
    srcLeft -= skip;
    ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  char* dst = buf;
  std::size_t dstLeft = sizeof buf;
  ::iconv(cd, nullptr, nullptr, &dst, &dstLeft);
  out.append(buf, static_cast<std::size_t>(dst - buf));
  ::iconv_close(cd);
  return out;
}

}  // namespace

bool SetAnsiCodePage(const std::string& name) {
  iconv_t cd = ::iconv_open("UTF-8", name.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  ::iconv_close(cd);
  std::lock_guard<std::mutex> guard(g_pageLock);
  g_page = name;
  return true;
}

std::string AnsiCodePage() {
  std::lock_guard<std::mutex> guard(g_pageLock);
  return g_page;
}

std::string ToWideFrom(std::string_view bytes, const char* codepage) {
  return Convert(bytes, "UTF-8", codepage, "\xEF\xBF\xBD", false);
}

std::string ToAnsiIn(std::string_view utf8, const char* codepage) {
  return Convert(utf8, codepage, "UTF-8", "?", true);
}

std::string ToWide(std::string_view ansi) { return ToWideFrom(ansi, AnsiCodePage().c_str()); }
std::string ToAnsi(std::string_view utf8) { return ToAnsiIn(utf8, AnsiCodePage().c_str()); }

}  // namespace ambrel
