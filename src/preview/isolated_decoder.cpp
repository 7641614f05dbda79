#include "preview/isolated_decoder.h"

#include <algorithm>
#include <initializer_list>

#include "platform/files.h"
#include "preview/decode_reply.h"

namespace ambrel {

namespace {

// The exit codes of the helper other than 0 (a reply written).
constexpr int kHelperOutOfMemory = 3;

}  // namespace

ChildLimits DefaultDecodeLimits() {
  ChildLimits limits;
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
  // The sanitizers reserve terabytes of shadow address space up front.
  limits.addressSpaceBytes = std::uint64_t(1) << 30;
#endif
  limits.cpuSeconds = 10;
  limits.wallMs = 15'000;
  return limits;
}

IsolatedDecoder::IsolatedDecoder(std::string pictureHelper, std::string mediaHelper, ChildLimits limits)
    : pictureHelper_(std::move(pictureHelper)), mediaHelper_(std::move(mediaHelper)), limits_(limits) {}

bool NeedsMediaHelper(ByteSpan d) {
  auto starts = [&](std::initializer_list<std::uint8_t> sig) {
    return d.size() >= sig.size() && std::equal(sig.begin(), sig.end(), d.begin());
  };
  return !(starts({0xFF, 0xD8}) || starts({0x89, 'P', 'N', 'G'}) || starts({'G', 'I', 'F', '8'}) ||
           starts({'B', 'M'}) || starts({0x00, 0x00, 0x01, 0x00}));
}

DecodeOutcome IsolatedDecoder::Decode(ByteSpan data, std::uint32_t maxSide) {
  if (data.empty()) return DecodeFailure::kNotAPicture;
  const std::string& helper = NeedsMediaHelper(data) ? mediaHelper_ : pictureHelper_;
  if (helper.empty()) return DecodeFailure::kNoDecoder;
  ChildLimits limits = limits_;
  const std::uint64_t side = maxSide == 0 ? 0 : maxSide;
  const std::uint64_t pixels = side == 0 ? kDecodeReplyMaxPixels : side * side;
  limits.maxOutputBytes = kDecodeReplyHeader + pixels * 4;
  const ChildRun run = RunBoundedChild(helper, {}, EncodeDecodeRequest(data, maxSide), limits);
  switch (run.end) {
    case ChildEnd::kCannotStart: return DecodeFailure::kNoDecoder;
    case ChildEnd::kTimedOut: return DecodeFailure::kTimedOut;
    case ChildEnd::kCrashed:
    case ChildEnd::kOutputTooLong: return DecodeFailure::kCrashed;
    case ChildEnd::kExited: break;
  }
  if (run.exitCode == kHelperOutOfMemory) return DecodeFailure::kOutOfMemory;
  if (run.exitCode != 0) return DecodeFailure::kCrashed;
  std::optional<DecodeOutcome> reply = ParseDecodeReply(ByteSpan(run.output.data(), run.output.size()), maxSide);
  if (!reply) return DecodeFailure::kCrashed;  // a helper that answers nonsense has gone wrong
  return std::move(*reply);
}

std::string FindDecodeHelper(const std::string& name, const std::string& fallback) {
  const std::string beside = ExecutableFolder() + name;
  if (FileSize(beside) > 0) return beside;
  if (!fallback.empty() && FileSize(fallback) > 0) return fallback;
  return "";
}

}  // namespace ambrel
