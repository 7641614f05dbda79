#include "platform/md5.h"

#include <md5.h>

#include <cstdint>

namespace ambrel {

std::string Md5Hex(const void* bytes, std::size_t length) {
  MD5_CTX ctx;
  MD5Init(&ctx);
  if (length) MD5Update(&ctx, static_cast<const std::uint8_t*>(bytes), length);
  std::uint8_t digest[MD5_DIGEST_LENGTH];
  MD5Final(digest, &ctx);
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string hex;
  hex.reserve(2 * MD5_DIGEST_LENGTH);
  for (std::uint8_t b : digest) {
    hex += kDigits[b >> 4];
    hex += kDigits[b & 15];
  }
  return hex;
}

}  // namespace ambrel
