#include "preview/isolated_decoder.h"

#include <algorithm>
#include <initializer_list>

#include "platform/files.h"
#include "preview/decode_reply.h"

namespace ambrel {

namespace {

// The exit code of the helper that ran out of its address space.
constexpr int kHelperOutOfMemory = 3;
// A helper is replaced after this many requests, whatever it has used: what
// its heap gathers over thousands of pictures stays bounded, and a restart
// costs less than a tenth of a second.
constexpr std::uint32_t kRequestsPerHelper = 500;

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

IsolatedDecoder::Helper::Helper(const std::string& path, const ChildLimits& limits)
    : program(path), child(path, {}, limits, kRequestsPerHelper) {}

IsolatedDecoder::IsolatedDecoder(std::string pictureHelper, std::string mediaHelper, ChildLimits limits)
    : picture_(pictureHelper, limits), media_(mediaHelper, limits) {}

IsolatedDecoder::~IsolatedDecoder() = default;

int IsolatedDecoder::HelperPid(bool media) const {
  const Helper& helper = media ? media_ : picture_;
  std::lock_guard<std::mutex> guard(helper.lock);
  return helper.child.Pid();
}

bool NeedsMediaHelper(ByteSpan d) {
  auto starts = [&](std::initializer_list<std::uint8_t> sig) {
    return d.size() >= sig.size() && std::equal(sig.begin(), sig.end(), d.begin());
  };
  return !(starts({0xFF, 0xD8}) || starts({0x89, 'P', 'N', 'G'}) || starts({'G', 'I', 'F', '8'}) ||
           starts({'B', 'M'}) || starts({0x00, 0x00, 0x01, 0x00}));
}

namespace {

std::uint64_t ReplyBytesFor(std::uint32_t maxSide) {
  const std::uint64_t side = maxSide;
  return kDecodeReplyHeader + (side == 0 ? kDecodeReplyMaxPixels : side * side) * 4;
}

}  // namespace

DecodeOutcome IsolatedDecoder::Reply(Helper& helper, ChildRun run, std::uint32_t maxSide) {
  switch (run.end) {
    case ChildEnd::kCannotStart: return DecodeFailure::kNoDecoder;
    case ChildEnd::kTimedOut: return DecodeFailure::kTimedOut;
    case ChildEnd::kCrashed:
    case ChildEnd::kOutputTooLong: return DecodeFailure::kCrashed;
    case ChildEnd::kExited:
      return run.exitCode == kHelperOutOfMemory ? DecodeFailure::kOutOfMemory : DecodeFailure::kCrashed;
    case ChildEnd::kReplied: break;
  }
  std::optional<DecodeOutcome> reply = ParseDecodeReply(ByteSpan(run.output.data(), run.output.size()), maxSide);
  if (!reply) {
    // A helper that answers nonsense has gone wrong: it serves no more.
    helper.child.Stop();
    return DecodeFailure::kCrashed;
  }
  return std::move(*reply);
}

DecodeOutcome IsolatedDecoder::Decode(ByteSpan data, std::uint32_t maxSide) {
  if (data.empty()) return DecodeFailure::kNotAPicture;
  Helper& helper = NeedsMediaHelper(data) ? media_ : picture_;
  if (helper.program.empty()) return DecodeFailure::kNoDecoder;
  const std::vector<std::uint8_t> header = DecodeRequestHeaderX(data.size(), 0, data.size(), maxSide, 0);
  const ByteSpan parts[2] = {ByteSpan(header.data(), header.size()), data};
  std::lock_guard<std::mutex> guard(helper.lock);
  return Reply(helper, helper.child.Exchange(parts, ReplyBytesFor(maxSide)), maxSide);
}

DecodeOutcome IsolatedDecoder::DecodeWithFirst(ByteSpan data, std::uint32_t quickSide, std::uint32_t maxSide,
                                               const std::function<void(DecodeOutcome)>& first) {
  if (data.empty()) return DecodeFailure::kNotAPicture;
  Helper& helper = NeedsMediaHelper(data) ? media_ : picture_;
  if (helper.program.empty()) return DecodeFailure::kNoDecoder;
  const std::vector<std::uint8_t> header = DecodeRequestHeaderX(data.size(), 0, data.size(), maxSide, quickSide);
  const ByteSpan parts[2] = {ByteSpan(header.data(), header.size()), data};
  std::lock_guard<std::mutex> guard(helper.lock);
  DecodeOutcome quick = Reply(helper, helper.child.Exchange(parts, ReplyBytesFor(quickSide)), quickSide);
  // A helper that failed the first reply has gone (or was stopped): the
  // whole picture fails the same way.
  if (!quick && quick.failure != DecodeFailure::kNotAPicture && quick.failure != DecodeFailure::kTooLarge)
    return quick;
  if (quick && first) first(std::move(quick));
  return Reply(helper, helper.child.Receive(ReplyBytesFor(maxSide)), maxSide);
}

DecodeOutcome IsolatedDecoder::DecodeView(ByteSpan head, ByteSpan tail, std::uint64_t fileSize,
                                          std::uint32_t maxSide) {
  if (head.empty()) return DecodeFailure::kNotAPicture;
  if (tail.empty()) return Decode(head, maxSide);
  if (head.size() + tail.size() > fileSize) return DecodeFailure::kNotAPicture;  // the parts would overlap
  if (media_.program.empty()) return DecodeFailure::kNoDecoder;
  const std::vector<std::uint8_t> header = DecodeRequestHeaderX(head.size(), tail.size(), fileSize, maxSide, 0);
  const ByteSpan parts[3] = {ByteSpan(header.data(), header.size()), head, tail};
  std::lock_guard<std::mutex> guard(media_.lock);
  return Reply(media_, media_.child.Exchange(parts, ReplyBytesFor(maxSide)), maxSide);
}

std::string FindDecodeHelper(const std::string& name, const std::string& fallback) {
  const std::string beside = ExecutableFolder() + name;
  if (FileSize(beside) > 0) return beside;
  if (!fallback.empty() && FileSize(fallback) > 0) return fallback;
  return "";
}

}  // namespace ambrel
