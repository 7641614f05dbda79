// ambrel-decode and ambrel-decode-media: the helper processes the preview
// keeps running to decode its pictures and video frames (the second with
// the codec libraries, see isolated_decoder.h). It reads requests on its
// standard input, each framed as a u64 little-endian length and the
// request, decodes each with the Qt image readers and the codec libraries
// and writes the reply on its standard output, framed the same way, until
// its input ends. The caller has bounded its address space, CPU time and
// the wall clock of each request; whatever the found bytes make the
// libraries do ends here.
//
// Exit codes: 0 the input ended between requests; 2 a request was
// malformed or the reply could not be written; 3 the memory limit was
// reached.
#include <malloc.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#ifdef AMBREL_DECODE_MEDIA
#include "media_decoders.h"
#endif
#include "preview/decode_reply.h"
#include "qt_image_decoder.h"

namespace {

constexpr int kMalformed = 2, kOutOfMemory = 3;
// The preview never decodes more than the large-file limit of bytes.
constexpr std::size_t kMaxRequest = (std::size_t(64) << 20) + ambrel::kDecodeRequestHeaderX;

// Exactly `size` bytes; false at the end of the input or an error.
bool ReadExactly(std::uint8_t* into, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::read(0, into + done, size - done);
    if (n == 0) return false;
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += std::size_t(n);
  }
  return true;
}

enum class Read : std::uint8_t { kRequest, kEnd, kMalformed };

Read ReadRequest(std::vector<std::uint8_t>& out) {
  std::uint8_t header[8];
  const ssize_t first = ::read(0, header, 1);
  if (first == 0) return Read::kEnd;
  if (first < 0 || !ReadExactly(header + 1, 7)) return Read::kMalformed;
  std::uint64_t length = 0;
  for (int i = 0; i < 8; ++i) length |= std::uint64_t(header[i]) << (8 * i);
  if (length > kMaxRequest) return Read::kMalformed;
  out.resize(std::size_t(length));
  return ReadExactly(out.data(), out.size()) ? Read::kRequest : Read::kMalformed;
}

bool WriteAll(const std::uint8_t* bytes, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::write(1, bytes + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += std::size_t(n);
  }
  return true;
}

bool WriteReply(const std::vector<std::uint8_t>& reply) {
  std::uint8_t header[8];
  for (int i = 0; i < 8; ++i) header[i] = static_cast<std::uint8_t>(std::uint64_t(reply.size()) >> (8 * i));
  return WriteAll(header, sizeof header) && WriteAll(reply.data(), reply.size());
}

#ifdef AMBREL_DECODE_TEST_HOOKS
// Only in the tests' build of the helper: inputs that make it misbehave as
// a subverted decoder would.
bool Starts(ambrel::ByteSpan d, const char* tag) {
  return d.size() >= std::strlen(tag) && std::memcmp(d.data(), tag, std::strlen(tag)) == 0;
}

void Misbehave(ambrel::ByteSpan d) {
  if (Starts(d, "AMBREL-TEST-CRASH")) std::abort();
  if (Starts(d, "AMBREL-TEST-SPIN")) {
    volatile std::uint64_t n = 0;
    for (;;) n = n + 1;
  }
  if (Starts(d, "AMBREL-TEST-SLEEP")) {
    for (;;) ::pause();
  }
  if (Starts(d, "AMBREL-TEST-EAT")) {
    // Reserved, not touched: the address-space limit stops it, not the CPU's.
    std::vector<std::unique_ptr<std::uint8_t[]>> held;
    for (;;) {
      held.emplace_back(new std::uint8_t[std::size_t(64) << 20]);
      *reinterpret_cast<volatile std::uint8_t*>(held.back().get()) = 1;
    }
  }
  if (Starts(d, "AMBREL-TEST-NONSENSE")) {
    WriteReply({'A', 'M', 'D', 'R', 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF});
    std::exit(0);
  }
  if (Starts(d, "AMBREL-TEST-HANG-AFTER")) {
    // Answers, then neither reads its input nor exits.
    WriteReply(ambrel::EncodeDecodeReply(ambrel::DecodeOutcome(ambrel::DecodeFailure::kNotAPicture)));
    for (;;) ::pause();
  }
  if (Starts(d, "AMBREL-TEST-EXIT")) std::exit(0);  // ends without a reply
  if (Starts(d, "AMBREL-TEST-BURN")) {
    // 0.7 s of CPU, then an ordinary answer: a slow but honest decode.
    const std::clock_t until = std::clock() + CLOCKS_PER_SEC * 7 / 10;
    volatile std::uint64_t n = 0;
    while (std::clock() < until) n = n + 1;
  }
}
#endif

}  // namespace

#if defined(__SANITIZE_ADDRESS__)
// In a sanitized build the libraries' allocations still held at the exit
// must not turn a good reply into a failed exit.
extern "C" const char* __asan_default_options() { return "detect_leaks=0"; }
#endif

static ambrel::DecodeOutcome DecodeOne(const ambrel::DecodeRequestView& request, std::uint32_t maxSide,
                                       bool quick) {
  // Only a video is looked for in a file of which the middle is missing.
  if (!request.tail.empty()) {
#ifdef AMBREL_DECODE_MEDIA
    return ambrel::imaging::DecodeVideoView(request.data, request.tail, request.fileSize, maxSide);
#else
    return ambrel::DecodeFailure::kNotAPicture;
#endif
  }
#ifdef AMBREL_DECODE_MEDIA
  ambrel::DecodeOutcome outcome = ambrel::imaging::DecodeMedia(request.data, maxSide);
#else
  ambrel::DecodeOutcome outcome(ambrel::DecodeFailure::kNotAPicture);
#endif
  if (!outcome) {
    ambrel::imaging::QtImageDecoder qt;
    ambrel::DecodeOutcome picture =
        quick ? ambrel::imaging::QuickPicture(request.data, maxSide) : qt.Decode(request.data, maxSide);
    if (picture || outcome.failure == ambrel::DecodeFailure::kNotAPicture) outcome = std::move(picture);
  }
  return outcome;
}

int main() {
  // Out of the address space the caller allowed: say so and end, whatever
  // library was allocating.
  std::set_new_handler([] { ::_exit(kOutOfMemory); });
  // A picture's buffers are tens of megabytes: left to mmap and munmap, each
  // request would fault every page of them in anew, which costs more than
  // the decoding of a large JPEG. Kept in the heap they are reused from one
  // request to the next (the caller replaces the helper every few hundred
  // requests, and its address space stays bounded).
  ::mallopt(M_MMAP_THRESHOLD, 32 << 20);
  ::mallopt(M_TRIM_THRESHOLD, 64 << 20);
  std::vector<std::uint8_t> message;
  for (;;) {
    const Read read = ReadRequest(message);
    if (read == Read::kEnd) return 0;
    if (read == Read::kMalformed) return kMalformed;
    const std::optional<ambrel::DecodeRequestView> request =
        ambrel::ParseDecodeRequest(ambrel::ByteSpan(message.data(), message.size()));
    if (!request) return kMalformed;
#ifdef AMBREL_DECODE_TEST_HOOKS
    Misbehave(request->data);
#endif
    if (request->quickSide != 0) {
      // The small picture first, written as soon as it is decoded.
      const ambrel::DecodeOutcome first = DecodeOne(*request, request->quickSide, true);
      if (!WriteReply(ambrel::EncodeDecodeReply(first))) return kMalformed;
    }
    const ambrel::DecodeOutcome outcome = DecodeOne(*request, request->maxSide, false);
    if (!WriteReply(ambrel::EncodeDecodeReply(outcome))) return kMalformed;
  }
}