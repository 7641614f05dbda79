// ambrel-decode and ambrel-decode-media: the helper processes the preview
// runs for every picture or video frame it decodes (the second with the
// codec libraries, see isolated_decoder.h). It reads one request on its standard input,
// decodes it with the Qt image readers and the codec libraries, writes one
// reply on its standard output and exits. The caller has bounded its
// address space, CPU time and wall clock; whatever the found bytes make the
// libraries do ends here.
//
// Exit codes: 0 a reply was written; 2 the request was malformed; 3 the
// memory limit was reached.
#include <unistd.h>

#include <cstdio>
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
constexpr std::size_t kMaxRequest = (std::size_t(64) << 20) + ambrel::kDecodeRequestHeader;

bool ReadAll(std::vector<std::uint8_t>& out) {
  std::uint8_t buffer[65536];
  for (;;) {
    const ssize_t n = ::read(0, buffer, sizeof buffer);
    if (n == 0) return true;
    if (n < 0) return false;
    if (out.size() + std::size_t(n) > kMaxRequest) return false;
    out.insert(out.end(), buffer, buffer + n);
  }
}

bool WriteAll(const std::vector<std::uint8_t>& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(1, bytes.data() + done, bytes.size() - done);
    if (n <= 0) return false;
    done += std::size_t(n);
  }
  return true;
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
    WriteAll({'A', 'M', 'D', 'R', 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF});
    std::exit(0);
  }
}
#endif

}  // namespace

#if defined(__SANITIZE_ADDRESS__)
// In a sanitized build the libraries' allocations still held at the exit
// must not turn a good reply into a failed exit.
extern "C" const char* __asan_default_options() { return "detect_leaks=0"; }
#endif

int main() {
  // Out of the address space the caller allowed: say so and end, whatever
  // library was allocating.
  std::set_new_handler([] { ::_exit(kOutOfMemory); });
  std::vector<std::uint8_t> message;
  if (!ReadAll(message)) return kMalformed;
  const std::optional<ambrel::DecodeRequestView> request =
      ambrel::ParseDecodeRequest(ambrel::ByteSpan(message.data(), message.size()));
  if (!request) return kMalformed;
#ifdef AMBREL_DECODE_TEST_HOOKS
  Misbehave(request->data);
#endif
#ifdef AMBREL_DECODE_MEDIA
  ambrel::DecodeOutcome outcome = ambrel::imaging::DecodeMedia(request->data, request->maxSide);
#else
  ambrel::DecodeOutcome outcome(ambrel::DecodeFailure::kNotAPicture);
#endif
  if (!outcome) {
    ambrel::imaging::QtImageDecoder qt;
    ambrel::DecodeOutcome picture = qt.Decode(request->data, request->maxSide);
    if (picture || outcome.failure == ambrel::DecodeFailure::kNotAPicture) outcome = std::move(picture);
  }
  return WriteAll(ambrel::EncodeDecodeReply(outcome)) ? 0 : kMalformed;
}
