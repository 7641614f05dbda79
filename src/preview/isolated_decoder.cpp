#include "preview/isolated_decoder.h"

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

IsolatedDecoder::IsolatedDecoder(std::string helper, ChildLimits limits)
    : helper_(std::move(helper)), limits_(limits) {}

DecodeOutcome IsolatedDecoder::Decode(ByteSpan data, std::uint32_t maxSide) {
  if (data.empty()) return DecodeFailure::kNotAPicture;
  if (helper_.empty()) return DecodeFailure::kNoDecoder;
  ChildLimits limits = limits_;
  const std::uint64_t side = maxSide == 0 ? 0 : maxSide;
  const std::uint64_t pixels = side == 0 ? kDecodeReplyMaxPixels : side * side;
  limits.maxOutputBytes = kDecodeReplyHeader + pixels * 4;
  const ChildRun run = RunBoundedChild(helper_, {}, EncodeDecodeRequest(data, maxSide), limits);
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

std::string FindDecodeHelper(const std::string& fallback) {
  const std::string beside = ExecutableFolder() + "ambrel-decode";
  if (FileSize(beside) > 0) return beside;
  if (!fallback.empty() && FileSize(fallback) > 0) return fallback;
  return "";
}

}  // namespace ambrel
