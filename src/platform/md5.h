// MD5 digests through libmd (MD5Init / MD5Update / MD5Final).
// Pure function; any thread.
#pragma once

#include <cstddef>
#include <string>

namespace ambrel {

// 32 upper-case hexadecimal digits, high nibble first.
std::string Md5Hex(const void* bytes, std::size_t length);

}  // namespace ambrel
