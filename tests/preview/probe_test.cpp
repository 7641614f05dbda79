// The camera raw and MP3 size probes against exiftool and ffprobe, on the
// corpus, on images made by ffmpeg and exiftool, and on crafted inputs.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>

#include "preview/mp3_probe.h"
#include "preview/preview_test_support.h"
#include "preview/tiff_raw_probe.h"
#include "support/test_paths.h"

namespace ambrel {
namespace {

using test::PutU16;
using test::PutU32;

std::string ExifMake(const std::string& path) {
  std::string make = test::RunCommand("exiftool -s3 -Make " + test::ShellQuote(path));
  while (!make.empty() && (make.back() == '\n' || make.back() == '\r')) make.pop_back();
  return make;
}

TEST(ProbeTiffRaw, CorpusRawFilesMeasureTheirSizeAndMaker) {
  std::vector<std::string> files;
  for (const char* folder : {"cr2", "nef", "arw", "dng", "pef", "rw2"}) {
    auto more = test::CorpusFiles(folder);
    files.insert(files.end(), more.begin(), more.end());
  }
  if (files.empty()) GTEST_SKIP() << "no corpus";
  if (!test::HaveTool("exiftool")) GTEST_SKIP() << "exiftool missing";
  for (const auto& path : files) {
    auto bytes = test::ReadBytes(path);
    auto extent = MeasureTiff(bytes);
    ASSERT_TRUE(extent) << path;
    const std::string make = ExifMake(path);
    std::printf("%s: %zu bytes, walk ends at %llu, make \"%s\" (exiftool \"%s\")\n", path.c_str(),
                bytes.size(), static_cast<unsigned long long>(extent->end), extent->make.c_str(),
                make.c_str());
    EXPECT_EQ(extent->make, make) << path;
    // The stubs keep a few bytes of maker trailer after the last structure.
    EXPECT_LE(extent->end, bytes.size()) << path;
    EXPECT_GE(extent->end + 32, bytes.size()) << path;
    // Real raw photos are larger than 2 MiB; these stubs are not taken.
    BufferCarveSource source(bytes);
    EXPECT_EQ(ProbeTiffRaw(source).result, kWalkMalformed) << path;
  }
}

TEST(ProbeTiffRaw, LargeTiffFromFfmpegWithMakersFromExiftool) {
  if (!test::HaveTool("ffmpeg") || !test::HaveTool("exiftool")) GTEST_SKIP() << "tools missing";
  const std::string dir = test::TempDir("tiff-raw");
  const std::string base = dir + "/base.tif";
  test::RunCommand("ffmpeg -v error -f lavfi -i testsrc=size=1280x720 -frames:v 1 -pix_fmt rgb24 "
                   "-compression_algo raw " + base);
  ASSERT_GT(test::ReadBytes(base).size(), 0x1FFFFFu);
  const std::pair<const char*, std::uint32_t> makers[] = {
      {"Canon", 49}, {"NIKON CORPORATION", 92}, {"SONY", 101}, {"OLYMPUS IMAGING CORP.", 104},
      {"PENTAX", 98}, {"FUJIFILM", 50}};
  for (const auto& [make, type] : makers) {
    const std::string path = dir + "/raw.tif";
    test::RunCommand("exiftool -q -o " + path + " -Make=" + test::ShellQuote(make) + " " + base +
                     " && true");
    auto bytes = test::ReadBytes(path);
    ASSERT_FALSE(bytes.empty());
    ASSERT_EQ(ExifMake(path), make);
    BufferCarveSource source(bytes);
    SizeProbe probe = ProbeTiffRaw(source);
    std::printf("%s: %zu bytes, probe %d size %llu type %u\n", make, bytes.size(), probe.result,
                static_cast<unsigned long long>(probe.size), probe.typeCode);
    EXPECT_EQ(probe.result, kWalkOk) << make;
    EXPECT_EQ(probe.size, bytes.size()) << make;
    EXPECT_EQ(probe.typeCode, type) << make;
    bytes.insert(bytes.end(), 50000, 0xEE);   // the next file on the disk
    BufferCarveSource more(bytes);
    EXPECT_EQ(ProbeTiffRaw(more).size, probe.size) << make;
    std::filesystem::remove(path);
  }
}

// A little-endian TIFF with one directory of the given entries at 8, and
// room up to `size` bytes.
struct TiffEntry {
  std::uint16_t tag, type;
  std::uint32_t count, value;
};

std::vector<std::uint8_t> Tiff(std::size_t size, std::uint32_t ifd,
                               const std::vector<TiffEntry>& entries, std::uint32_t next = 0) {
  std::vector<std::uint8_t> t(size, 0);
  t[0] = 'I';
  t[1] = 'I';
  PutU16(t, 2, 42);
  PutU32(t, 4, ifd);
  PutU16(t, ifd, static_cast<std::uint16_t>(entries.size()));
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const std::size_t at = ifd + 2 + 12 * i;
    PutU16(t, at, entries[i].tag);
    PutU16(t, at + 2, entries[i].type);
    PutU32(t, at + 4, entries[i].count);
    PutU32(t, at + 8, entries[i].value);
  }
  PutU32(t, ifd + 2 + 12 * entries.size(), next);
  t.resize(size);
  return t;
}

TEST(ProbeTiffRaw, SizeOfExactly0x1FFFFFIsNotRecognised) {
  auto at = [](std::uint32_t end) {
    return Tiff(end + 16, 8, {{273, 4, 1, 100}, {279, 4, 1, end - 100}});
  };
  auto small = at(0x1FFFFF);
  BufferCarveSource s1(small);
  EXPECT_EQ(ProbeTiffRaw(s1).result, kWalkMalformed);
  auto large = at(0x200000);
  BufferCarveSource s2(large);
  SizeProbe probe = ProbeTiffRaw(s2);
  EXPECT_EQ(probe.result, kWalkOk);
  EXPECT_EQ(probe.size, 0x200000u);
  EXPECT_EQ(probe.typeCode, 50u);
}

TEST(ProbeTiffRaw, DirectoryThatNamesItselfEndsTheWalk) {
  // Sub-directory and Exif tags that point back at their own directory
  // would recurse without end.
  auto t = Tiff(4096, 8, {{330, 4, 1, 8}, {34665, 4, 1, 8}}, 8);
  auto extent = MeasureTiff(t);
  ASSERT_TRUE(extent);
  EXPECT_EQ(extent->directories, 1u);
}

TEST(ProbeTiffRaw, DirectoriesAreCappedInDepthAndNumber) {
  // A ladder of directories, each naming the next as its sub-directory.
  std::vector<std::uint8_t> t(0x40000, 0);
  t[0] = 'I';
  t[1] = 'I';
  PutU32(t, 4, 8);
  for (std::uint32_t k = 0; k < 100; ++k) {
    const std::uint32_t at = 8 + 32 * k;
    PutU16(t, at, 1);
    PutU16(t, at + 2, 330);
    PutU16(t, at + 4, 4);
    PutU32(t, at + 6, 1);
    PutU32(t, at + 10, at + 32);
  }
  auto extent = MeasureTiff(t);
  ASSERT_TRUE(extent);
  EXPECT_EQ(extent->directories, 5u);   // the top one and four levels below it
  // Many sub-directories in one entry: at most 512 directories in all.
  std::vector<std::uint8_t> wide(0x80000, 0);
  wide[0] = 'I';
  wide[1] = 'I';
  PutU32(wide, 4, 8);
  PutU16(wide, 8, 1);
  PutU16(wide, 10, 330);
  PutU16(wide, 12, 4);
  PutU32(wide, 14, 2000);
  PutU32(wide, 18, 0x100);
  for (std::uint32_t k = 0; k < 2000; ++k) {
    PutU32(wide, 0x100 + 4 * k, 0x4000 + 8 * k);
    PutU16(wide, 0x4000 + 8 * k, 1);   // a directory of one empty entry
  }
  auto many = MeasureTiff(wide);
  ASSERT_TRUE(many);
  EXPECT_LE(many->directories, 512u);
  EXPECT_GE(many->directories, 500u);
}

TEST(ProbeTiffRaw, DirectoryOfMoreThan512EntriesEndsTheWalk) {
  std::vector<TiffEntry> entries(513, TiffEntry{1, 1, 1, 0});
  auto t = Tiff(16384, 8, entries);
  auto extent = MeasureTiff(t);
  ASSERT_TRUE(extent);
  EXPECT_EQ(extent->directories, 0u);
  EXPECT_FALSE(MeasureTiff(std::vector<std::uint8_t>(64, 'x')));
}

// ---- MP3 ------------------------------------------------------------------

// End of the last audio frame ffprobe reads (packets of a few bytes at the
// very end are trailing junk), plus an ID3v1 tag that follows it.
std::uint64_t FfprobeAudioEnd(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::istringstream in(test::RunCommand(
      "ffprobe -v error -select_streams a:0 -show_entries packet=pos,size -of compact " +
      test::ShellQuote(path)));
  std::uint64_t end = 0;
  std::string line;
  while (std::getline(in, line)) {
    const auto s = line.find("size="), p = line.find("pos=");
    if (s == std::string::npos || p == std::string::npos || line.compare(p + 4, 3, "N/A") == 0)
      continue;
    const std::uint64_t size = std::stoull(line.substr(s + 5)), pos = std::stoull(line.substr(p + 4));
    if (size > 4) end = std::max(end, pos + size);
  }
  if (end + 128 <= bytes.size() && bytes[end] == 'T' && bytes[end + 1] == 'A' && bytes[end + 2] == 'G')
    end += 128;
  return end;
}

TEST(ProbeMp3, CorpusFilesMatchFfprobe) {
  const auto files = test::CorpusFiles("mp3");
  if (files.empty()) GTEST_SKIP() << "no corpus";
  if (!test::HaveTool("ffprobe")) GTEST_SKIP() << "ffprobe missing";
  for (const auto& path : files) {
    auto bytes = test::ReadBytes(path);
    BufferCarveSource source(bytes);
    SizeProbe probe = ProbeMp3(source);
    const std::uint64_t oracle = FfprobeAudioEnd(path, bytes);
    std::printf("%s: %zu bytes, ffprobe audio ends at %llu, probe %d size %llu\n", path.c_str(),
                bytes.size(), static_cast<unsigned long long>(oracle), probe.result,
                static_cast<unsigned long long>(probe.size));
    if (bytes.size() < 8192) {
      // Ten frames or fewer after the tag: not recognised (or, when the
      // sample is cut inside a frame, waiting for more data).
      EXPECT_TRUE(probe.result == kWalkMalformed || probe.result == kWalkNeedMore) << path;
      continue;
    }
    EXPECT_EQ(probe.result, kWalkOk) << path;
    EXPECT_EQ(probe.size, oracle) << path;
    bytes.insert(bytes.end(), 4096, 0x00);
    BufferCarveSource padded(bytes);
    EXPECT_EQ(ProbeMp3(padded).size, probe.size) << path;
  }
}

std::vector<std::uint8_t> Id3(std::uint32_t size) {
  std::vector<std::uint8_t> b = {'I', 'D', '3', 3, 0, 0,
                                 std::uint8_t(size >> 21 & 0x7F), std::uint8_t(size >> 14 & 0x7F),
                                 std::uint8_t(size >> 7 & 0x7F), std::uint8_t(size & 0x7F)};
  b.resize(10 + size, 0x20);
  return b;
}

// MPEG-1 layer III, 128 kbit/s, 44.1 kHz: 417 bytes a frame.
void Frames(std::vector<std::uint8_t>& b, int n) {
  for (int i = 0; i < n; ++i) {
    const std::size_t at = b.size();
    b.resize(at + 417, 0x55);
    b[at] = 0xFF;
    b[at + 1] = 0xFB;
    b[at + 2] = 0x90;
    b[at + 3] = 0x00;
  }
}

TEST(ProbeMp3, TenFramesOrFewerAreNotRecognised) {
  auto ten = Id3(100);
  Frames(ten, 10);
  BufferCarveSource s10(ten);
  EXPECT_EQ(ProbeMp3(s10).result, kWalkMalformed);
  auto eleven = Id3(100);
  Frames(eleven, 11);
  const std::size_t end = eleven.size();
  eleven.resize(end + 1000, 0x00);
  BufferCarveSource s11(eleven);
  SizeProbe probe = ProbeMp3(s11);
  EXPECT_EQ(probe.result, kWalkOk);
  EXPECT_EQ(probe.size, end);
}

TEST(ProbeMp3, ApeTagOfSizeZeroStillMovesOn) {
  auto b = Id3(20);
  for (int k = 0; k < 20; ++k) {
    const std::size_t at = b.size();
    b.resize(at + 32, 0);
    std::copy_n("APETAGEX", 8, b.begin() + at);
    PutU32(b, at + 12, 0);            // size 0
    PutU32(b, at + 20, 0xA0000000);   // a header
  }
  Frames(b, 2);
  BufferCarveSource source(b);
  SizeProbe probe = ProbeMp3(source);
  EXPECT_EQ(probe.result, kWalkOk);
  EXPECT_EQ(probe.size, b.size());
}

TEST(ProbeMp3, FreeFormatAndReservedHeadersAreRejected) {
  const std::uint8_t freeFormat[4] = {0xFF, 0xFB, 0x00, 0x00};
  const std::uint8_t badBitrate[4] = {0xFF, 0xFB, 0xF0, 0x00};
  const std::uint8_t badRate[4] = {0xFF, 0xFB, 0x9C, 0x00};
  const std::uint8_t badVersion[4] = {0xFF, 0xEB, 0x90, 0x00};
  const std::uint8_t badLayer[4] = {0xFF, 0xF9, 0x90, 0x00};
  for (const auto* h : {freeFormat, badBitrate, badRate, badVersion, badLayer})
    EXPECT_FALSE(MpegFrameLength(ByteCursor(h, 4)));
  const std::uint8_t mpeg1[4] = {0xFF, 0xFB, 0x92, 0x00};   // with padding
  EXPECT_EQ(MpegFrameLength(ByteCursor(mpeg1, 4)), 418u);
  const std::uint8_t mpeg2[4] = {0xFF, 0xF3, 0x10, 0x00};   // layer III, 8 kbit/s at 22.05 kHz
  EXPECT_EQ(MpegFrameLength(ByteCursor(mpeg2, 4)), 26u);
  // Free-format frames after a tag end the walk at once.
  auto b = Id3(10);
  for (int i = 0; i < 50; ++i) b.insert(b.end(), freeFormat, freeFormat + 4);
  BufferCarveSource source(b);
  EXPECT_EQ(ProbeMp3(source).result, kWalkMalformed);
}

TEST(ProbeMp3, HugeOrMissingId3TagIsNotRecognised) {
  auto big = Id3(0);
  big[6] = 0x05;   // 0xA00000 + more
  big[7] = 0x7F;
  BufferCarveSource s1(big);
  EXPECT_EQ(ProbeMp3(s1).result, kWalkMalformed);
  std::vector<std::uint8_t> bare;
  Frames(bare, 30);
  BufferCarveSource s2(bare);
  EXPECT_EQ(ProbeMp3(s2).result, kWalkMalformed);
}

}  // namespace
}  // namespace ambrel
