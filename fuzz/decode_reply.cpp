// Fuzzes the messages of the decoding helper: its reply (which a subverted
// helper may make anything) and its request, each with the edge it asks for
// taken from the first byte.
#include <cstddef>
#include <cstdint>

#include "preview/decode_reply.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ambrel;
  if (size == 0) return 0;
  const std::uint32_t side = data[0] < 128 ? data[0] : 0;
  const ByteSpan message(data + 1, size - 1);
  if (std::optional<DecodeOutcome> reply = ParseDecodeReply(message, side)) {
    if (*reply) {
      const DecodedImage& d = **reply;
      if (d.pixels.size() != std::size_t(d.width) * d.height) __builtin_trap();
      if (side != 0 && (d.width > side || d.height > side)) __builtin_trap();
      // What parsed encodes back to the same message.
      if (EncodeDecodeReply(*reply).size() != message.size()) __builtin_trap();
    }
  }
  ParseDecodeRequest(message);
  return 0;
}
