// The check that keeps the carving of whole QuickTime files from claiming
// a recording in pieces.
#include <gtest/gtest.h>

#include <cstring>

#include "video/contiguous_check.h"
#include "video/video_support.h"

namespace ambrel::video {
namespace {

using test::Bytes;

class RunReader final : public FileReader {
 public:
  explicit RunReader(const Bytes& b) : b_(b) {}
  bool Read(std::uint64_t at, std::uint8_t* out, std::size_t n) override {
    if (at > b_.size() || n > b_.size() - at) return false;
    std::memcpy(out, b_.data() + at, n);
    return true;
  }

 private:
  const Bytes& b_;
};

TEST(ContiguousCheck, AWholeFileHolds) {
  for (bool front : {false, true}) {
    test::ClipShape shape;
    shape.moovAtFront = front;
    const auto clip = test::MakeQuickTimeClip(shape);
    RunReader reader(clip.file);
    EXPECT_TRUE(SamplesHoldContiguously(reader, clip.file.size())) << front;
  }
}

TEST(ContiguousCheck, AFastStartFileInPiecesDoesNot) {
  test::ClipShape shape;
  shape.moovAtFront = true;
  shape.videoSamples = 120;
  const auto clip = test::MakeQuickTimeClip(shape);
  // As carving reads it: the head in place, then other bytes where the
  // second half of its data should be.
  Bytes run = clip.file;
  const Bytes other = test::NoiseWithoutZeros(run.size() / 2, 5);
  std::memcpy(run.data() + run.size() / 2, other.data(), other.size());
  RunReader reader(run);
  EXPECT_FALSE(SamplesHoldContiguously(reader, run.size()));
}

TEST(ContiguousCheck, WithoutAMoovNothingCanBeTold) {
  const Bytes bytes = test::Atom("ftyp", Bytes(16, 'a'));
  RunReader reader(bytes);
  EXPECT_TRUE(SamplesHoldContiguously(reader, bytes.size()));
}

}  // namespace
}  // namespace ambrel::video
