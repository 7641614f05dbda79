// What one chunk yields to the QuickTime reassembly, and the sample tests
// that later decide where a recording's pieces lie.
#include <gtest/gtest.h>

#include <cstring>

#include "video/mov_chunk_scan.h"
#include "video/sample_checks.h"
#include "video/video_support.h"

namespace ambrel::video {
namespace {

using test::Bytes;

constexpr std::size_t kChunk = 1 << 20;

ChunkFinds ScanChunk(const Bytes& chunk, CandidateSwitches on = {}) {
  MovChunkScanner scanner;
  ChunkFinds finds;
  MemoryByteSource rest(ByteSpan(chunk.data(), chunk.size()), 0);
  scanner.Scan(ByteSpan(chunk.data(), chunk.size()), 0, on, &rest, finds);
  return finds;
}

void Put(Bytes& b, std::size_t at, std::initializer_list<std::uint8_t> bytes) {
  std::copy(bytes.begin(), bytes.end(), b.begin() + static_cast<std::ptrdiff_t>(at));
}

TEST(ChunkScan, FtypOnlyAtASectorStartAndBelow511Bytes) {
  Bytes c(kChunk, 0xAA);
  Put(c, 512, {0, 0, 0, 32, 'f', 't', 'y', 'p'});
  Put(c, 1024 + 4, {0, 0, 0, 32, 'f', 't', 'y', 'p'});  // not at a sector start
  Put(c, 2048, {0, 0, 1, 0xFF, 'f', 't', 'y', 'p'});     // 511 bytes
  Put(c, 2560, {0, 0, 1, 0xFE, 'f', 't', 'y', 'p'});     // 510 bytes
  const ChunkFinds f = ScanChunk(c);
  std::vector<std::uint32_t> at;
  for (const AtomFind& a : f.atoms)
    if (a.kind == AtomKind::kFtyp) at.push_back(a.offset);
  EXPECT_EQ(at, (std::vector<std::uint32_t>{512, 2560}));
}

TEST(ChunkScan, AMoovOf32MiBOrMoreIsNotRecorded) {
  Bytes c(kChunk, 0xAA);
  Put(c, 100, {0x01, 0xFF, 0xFF, 0xFF, 'm', 'o', 'o', 'v'});
  Put(c, 300, {0x02, 0x00, 0x00, 0x00, 'm', 'o', 'o', 'v'});
  Put(c, 500, {0, 0, 0, 1, 'm', 'd', 'a', 't', 0, 0, 0, 2, 0, 0, 0, 0});
  const ChunkFinds f = ScanChunk(c);
  ASSERT_EQ(f.atoms.size(), 2u);
  EXPECT_EQ(f.atoms[0].kind, AtomKind::kMoov);
  EXPECT_EQ(f.atoms[0].offset, 100u);
  EXPECT_EQ(f.atoms[1].kind, AtomKind::kMdat);
  EXPECT_EQ(f.atoms[1].size, 0x200000000ull);
}

TEST(ChunkScan, CandidateTests) {
  Bytes c(kChunk, 0xAA);
  Put(c, 1001, {0, 0, 0, 2, 0x09, 0xF0});  // delimiter: length-2 and sample-start lists
  Put(c, 2000, {0, 0, 1, 0x65});           // a start code
  Put(c, 3000, {0, 0, 0, 36, 0x67});       // length 36 at a multiple of 4 (and an SPS)
  Put(c, 3001 + 1000, {0, 0, 0, 40, 0x06}); // length 40 off the multiple of 4
  Put(c, 5000, {0, 0, 0x30, 0x00, 0x65, 0x88});  // an IDR slice of 0x3000 bytes
  CandidateSwitches on;
  on.startCode = on.length2 = on.length20 = true;
  const ChunkFinds f = ScanChunk(c, on);
  EXPECT_EQ(f.candidates[std::size_t(CandidateList::kLength2)], std::vector<std::uint32_t>{1001});
  EXPECT_EQ(f.candidates[std::size_t(CandidateList::kStartCode)], std::vector<std::uint32_t>{2000});
  EXPECT_EQ(f.candidates[std::size_t(CandidateList::kLength20)], std::vector<std::uint32_t>{3000});
  EXPECT_EQ(f.candidates[std::size_t(CandidateList::kNalStart)],
            (std::vector<std::uint32_t>{1001, 3000, 4001, 5000}));
}

TEST(ChunkScan, SwitchedOffListsStayEmpty) {
  Bytes c(kChunk, 0xAA);
  Put(c, 1001, {0, 0, 0, 2, 0x09, 0xF0});
  const ChunkFinds f = ScanChunk(c);
  EXPECT_TRUE(f.candidates[std::size_t(CandidateList::kLength2)].empty());
  EXPECT_TRUE(f.candidates[std::size_t(CandidateList::kSize)].empty());
}

// Units of `lengths` from `at`, each a 32-bit length and its payload.
std::vector<std::uint32_t> PutChain(Bytes& c, std::size_t at, const std::vector<std::uint32_t>& lengths,
                                    bool padded = false) {
  std::vector<std::uint32_t> starts;
  for (std::uint32_t l : lengths) {
    starts.push_back(static_cast<std::uint32_t>(at));
    test::PutBe32(c, at, l);
    at += padded ? (l + 11) / 8 * 8 : 4 + l;
  }
  return starts;
}

TEST(LengthChain, AChainOfFiveUnitsIsKeptWithoutItsLastTwo) {
  Bytes c(kChunk, 0xAA);
  const auto starts = PutChain(c, 1000, {9000, 10000, 11000, 12000, 13000, 14000, 15000});
  CandidateSwitches on;
  on.size = true;
  const ChunkFinds f = ScanChunk(c, on);
  // Seven units: the first five are taken, the last two only vouch.
  EXPECT_EQ(f.candidates[std::size_t(CandidateList::kSize)],
            std::vector<std::uint32_t>(starts.begin(), starts.begin() + 5));
}

TEST(LengthChain, FourUnitsAreNotEnoughAndLengthsMustExceed8192) {
  Bytes c(kChunk, 0xAA);
  PutChain(c, 1000, {9000, 10000, 11000, 12000, 13000, 14000});  // 4 taken
  PutChain(c, 200000, {9000, 8192, 11000, 12000, 13000, 14000, 15000});
  CandidateSwitches on;
  on.size = true;
  EXPECT_TRUE(ScanChunk(c, on).candidates[std::size_t(CandidateList::kSize)].empty());
}

TEST(LengthChain, PaddedUnitsOnlyWithTheVariantSwitch) {
  Bytes c(kChunk, 0xAA);
  const auto starts = PutChain(c, 1000, {9001, 10003, 11005, 12007, 13001, 14003, 15005}, true);
  CandidateSwitches on;
  on.size = true;
  EXPECT_TRUE(ScanChunk(c, on).candidates[std::size_t(CandidateList::kSize)].empty());
  on.padded = true;
  EXPECT_EQ(ScanChunk(c, on).candidates[std::size_t(CandidateList::kSize)],
            std::vector<std::uint32_t>(starts.begin(), starts.begin() + 5));
}

TEST(LengthChain, AChainRunsOnPastTheChunkThroughTheDisk) {
  Bytes disk(2 * kChunk, 0xAA);
  const auto starts = PutChain(disk, kChunk - 20000, {9000, 10000, 11000, 12000, 13000, 14000, 15000});
  MemoryByteSource rest(ByteSpan(disk.data(), disk.size()), 0);
  MovChunkScanner scanner;
  ChunkFinds f;
  CandidateSwitches on;
  on.size = true;
  scanner.Scan(ByteSpan(disk.data(), kChunk), 0, on, &rest, f);
  EXPECT_EQ(f.candidates[std::size_t(CandidateList::kSize)],
            std::vector<std::uint32_t>(starts.begin(), starts.begin() + 5));
  // Without the disk behind it the chain stops at the chunk's end.
  scanner.Scan(ByteSpan(disk.data(), kChunk), 0, on, nullptr, f);
  EXPECT_TRUE(f.candidates[std::size_t(CandidateList::kSize)].empty());
}

TEST(ChunkScan, PictureHeadersAtSectorStarts) {
  Bytes c(kChunk, 0xAA);
  Put(c, 512, {0xFF, 0xD8, 0xFF, 0xE1});
  Put(c, 1024, {0xFF, 0xD8, 0xFF, 0xE2});  // E2 is not in the list
  Put(c, 1536, {0x49, 0x49, 0x2A, 0x00});
  Put(c, 2049, {0xFF, 0xD8, 0xFF, 0xE0});  // not a sector start
  const ChunkFinds f = ScanChunk(c);
  ASSERT_EQ(f.pictures.size(), 2u);
  EXPECT_EQ(f.pictures[0].sector, 1u);
  EXPECT_EQ(f.pictures[0].type, 46);
  EXPECT_EQ(f.pictures[1].sector, 3u);
  EXPECT_EQ(f.pictures[1].type, 49);
}

TEST(ChunkScan, ZeroRunsEndingInALengthStillYieldIt) {
  Bytes c(kChunk, 0);
  Put(c, 777, {0, 0, 0, 2, 0x09, 0x10});
  CandidateSwitches on;
  on.length2 = true;
  EXPECT_EQ(ScanChunk(c, on).candidates[std::size_t(CandidateList::kLength2)], std::vector<std::uint32_t>{777});
}

class BytesReader final : public FileReader {
 public:
  explicit BytesReader(const Bytes& b) : b_(b) {}
  bool Read(std::uint64_t at, std::uint8_t* out, std::size_t n) override {
    if (at > b_.size() || n > b_.size() - at) return false;
    std::memcpy(out, b_.data() + at, n);
    return true;
  }

 private:
  const Bytes& b_;
};

TEST(SampleCheck, TheNalChainMustSumToTheSampleSize) {
  Bytes s;
  test::AppendBe32(s, 2);
  s.insert(s.end(), {0x09, 0xF0});
  test::AppendBe32(s, 10);
  s.insert(s.end(), {0x41, 1, 2, 3, 4, 5, 6, 7, 8, 9});
  BytesReader r(s);
  EXPECT_TRUE(CheckSample(r, 0, 20, SampleFormat::kAvc, 4).ok);
  EXPECT_FALSE(CheckSample(r, 0, 19, SampleFormat::kAvc, 4).ok);
  EXPECT_EQ(CheckSample(r, 0, 20, SampleFormat::kAvc, 4).lastByte, 10u);
  s[10] = 0x80;  // forbidden bit
  EXPECT_FALSE(CheckSample(r, 0, 20, SampleFormat::kAvc, 4).ok);
  EXPECT_FALSE(CheckSample(r, 0, 20, SampleFormat::kUnknown, 4).checkable);
}

TEST(SampleCheck, AudioFrameHeaders) {
  Bytes ac3(768, 0x11);
  ac3[0] = 0x0B, ac3[1] = 0x77, ac3[4] = 20;  // 48 kHz, 192 kbit/s: 768 bytes
  BytesReader r(ac3);
  EXPECT_TRUE(CheckSample(r, 0, 768, SampleFormat::kAc3, 4).ok);
  EXPECT_FALSE(CheckSample(r, 0, 640, SampleFormat::kAc3, 4).ok);
  Bytes adts(16, 0x21);  // a 16-byte ADTS frame
  const std::uint8_t header[] = {0xFF, 0xF1, 0x50, 0x80, 0x02, 0x1F, 0xFC};
  std::memcpy(adts.data(), header, sizeof(header));
  BytesReader a(adts);
  EXPECT_TRUE(CheckSample(a, 0, 16, SampleFormat::kAac, 4).ok);
  EXPECT_FALSE(CheckSample(a, 0, 17, SampleFormat::kAac, 4).ok);
  EXPECT_TRUE(RawAacStart(0x21));   // channel pair, instance 0
  EXPECT_FALSE(RawAacStart(0x23));  // channel pair, instance 1
  EXPECT_FALSE(RawAacStart(0xE0));  // end element first
  const std::uint8_t mp3[4] = {0xFF, 0xFB, 0x90, 0x00};  // 128 kbit/s, 44.1 kHz
  EXPECT_EQ(MpegAudioFrameBytes(mp3), 417u);
}

TEST(StartCodes, NoneMayHideInNalPayloadEvenAcrossPieces) {
  const std::uint8_t clean[] = {1, 0, 0, 3, 0, 0, 5, 0};
  int zeros = 0;
  EXPECT_TRUE(FreeOfStartCodes(clean, sizeof(clean), zeros));
  EXPECT_EQ(zeros, 1);
  const std::uint8_t next[] = {0, 2};  // 00 | 00 02 across the pieces
  EXPECT_FALSE(FreeOfStartCodes(next, sizeof(next), zeros));
}

}  // namespace
}  // namespace ambrel::video
