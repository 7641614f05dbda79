// The measures of WAVE and Flash files from their first bytes: real files
// followed by junk or by the start of another file, files cut short,
// decoys that only begin like one, and the cases that leave the size to
// the gap (sizes a recorder never wrote back).
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "carve_support.h"
#include "deepscan/carve/carve_units.h"
#include "preview/walk_result.h"
#include "support/test_paths.h"

namespace ambrel {
namespace {

using test::Bytes;
using Extent = int (*)(const ByteCursor&, std::uint64_t&);

struct Measured {
  int walk = -1;
  std::uint64_t size = 0;
};

Measured Measure(Extent extent, const Bytes& bytes) {
  Measured m;
  m.walk = extent(ByteCursor(bytes.data(), bytes.size()), m.size);
  return m;
}

Bytes Join(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Bytes Random(std::mt19937& random, std::size_t n) {
  Bytes b(n);
  for (auto& v : b) v = static_cast<std::uint8_t>(random());
  return b;
}

struct RealFile {
  const char* path;
  Extent extent;
};

const RealFile kFiles[] = {
    {"wav/testWAV.wav", WaveExtent},
    {"wav/sample.wav", WaveExtent},
    {"swf/test1.swf", FlashExtent},  // zlib
    {"swf/test2.swf", FlashExtent},  // uncompressed
};

TEST(CarveExtent, RealFilesAmongJunkOrBeforeAnotherFile) {
  if (test::CorpusDir().empty()) GTEST_SKIP() << "corpus not found";
  std::mt19937 random(11);
  const Bytes next = test::CorpusFile("jpg/tokyo.jpg");
  for (const RealFile& f : kFiles) {
    const Bytes file = test::CorpusFile(f.path);
    ASSERT_FALSE(file.empty()) << f.path;
    for (const Bytes& after : {Bytes{}, Random(random, 70000), Bytes(4096, 0),
                               Bytes(next.begin(), next.begin() + 4096)}) {
      const Measured m = Measure(f.extent, Join(file, after));
      EXPECT_EQ(m.walk, kWalkOk) << f.path;
      EXPECT_EQ(m.size, file.size()) << f.path;
    }
  }
}

// A Flash movie cut anywhere wants more; a WAVE header tells its size as
// soon as the data chunk's header is in (the rule then waits for the last
// byte), and wants more before.
TEST(CarveExtent, CutFilesWantMore) {
  if (test::CorpusDir().empty()) GTEST_SKIP() << "corpus not found";
  for (const RealFile& f : kFiles) {
    const Bytes file = test::CorpusFile(f.path);
    const bool flash = f.extent == FlashExtent;
    for (int percent : {25, 50, 99}) {
      const Bytes cut(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(file.size() * percent / 100));
      const Measured m = Measure(f.extent, cut);
      if (flash) EXPECT_EQ(m.walk, kWalkNeedMore) << f.path << " at " << percent << " %";
      else EXPECT_EQ(m.size, file.size()) << f.path;
    }
    EXPECT_EQ(Measure(f.extent, Bytes(file.begin(), file.begin() + 30)).walk, kWalkNeedMore) << f.path;
  }
}

// The first sectors of a real file followed by random bytes (what a cut
// decoy leaves on a disk): not taken for a Flash movie.
TEST(CarveExtent, FlashDecoysAreRejected) {
  if (test::CorpusDir().empty()) GTEST_SKIP() << "corpus not found";
  std::mt19937 random(5);
  for (const char* path : {"swf/test1.swf", "swf/test2.swf"}) {
    const Bytes file = test::CorpusFile(path);
    for (std::size_t keep : {std::size_t{512}, std::size_t{4096}, file.size() / 2}) {
      const Bytes decoy = Join(Bytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(keep)),
                               Random(random, file.size()));
      EXPECT_EQ(Measure(FlashExtent, decoy).walk, kWalkMalformed) << path << " kept " << keep;
      // Zeros after the cut: read as an End tag, but not at the stated end;
      // in a deflate stream, never its end.
      const Bytes zeros = Join(Bytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(keep)),
                               Bytes(file.size(), 0));
      const int walk = Measure(FlashExtent, zeros).walk;
      EXPECT_TRUE(walk == kWalkMalformed || (file[0] == 'C' && walk == kWalkNeedMore)) << path << " kept " << keep;
    }
  }
}

// An LZMA movie: header, uncompressed length, LZMA data length, the five
// property bytes, the data.
Bytes LzmaMovie(std::uint32_t dataLength, std::uint8_t props) {
  Bytes m(17 + std::size_t{dataLength}, 0x5A);
  m[0] = 'Z';
  m[1] = 'W';
  m[2] = 'S';
  m[3] = 13;
  test::PutU32(m, 4, dataLength * 3);
  test::PutU32(m, 8, dataLength);
  m[12] = props;
  test::PutU32(m, 13, 1u << 20);
  return m;
}

TEST(CarveExtent, LzmaFlashIsItsStatedLength) {
  Measured m = Measure(FlashExtent, Join(LzmaMovie(5000, 0x5D), Bytes(600, 0xEE)));
  EXPECT_EQ(m.walk, kWalkOk);
  EXPECT_EQ(m.size, 5017u);
  EXPECT_EQ(Measure(FlashExtent, LzmaMovie(5000, 225)).walk, kWalkMalformed) << "no such properties";
  EXPECT_EQ(Measure(FlashExtent, LzmaMovie(0, 0x5D)).walk, kWalkMalformed);
  const Bytes movie = LzmaMovie(5000, 0x5D);
  EXPECT_EQ(Measure(FlashExtent, Bytes(movie.begin(), movie.begin() + 12)).walk, kWalkNeedMore);
}

TEST(CarveExtent, FlashMovieMustInflateToItsStatedLength) {
  if (test::CorpusDir().empty()) GTEST_SKIP() << "corpus not found";
  Bytes file = test::CorpusFile("swf/test1.swf");
  ASSERT_EQ(file.size(), 21054u);
  test::PutU32(file, 4, 54938 + 1);
  EXPECT_EQ(Measure(FlashExtent, file).walk, kWalkMalformed);
  test::PutU32(file, 4, 54938 - 100);
  EXPECT_EQ(Measure(FlashExtent, file).walk, kWalkMalformed);
}

// A WAVE header: RIFF size, format chunk of 16 bytes, an optional chunk,
// data chunk.
Bytes Wave(std::uint32_t riff, std::uint32_t data, bool listFirst = false, bool dataFirst = false) {
  Bytes w;
  auto id = [&](const char* t) { w.insert(w.end(), t, t + 4); };
  auto u32 = [&](std::uint32_t v) { for (int i = 0; i < 4; ++i) w.push_back(static_cast<std::uint8_t>(v >> (8 * i))); };
  auto u16 = [&](std::uint16_t v) { w.push_back(v & 0xFF); w.push_back(static_cast<std::uint8_t>(v >> 8)); };
  id("RIFF"); u32(riff); id("WAVE");
  auto format = [&] { id("fmt "); u32(16); u16(1); u16(2); u32(44100); u32(176400); u16(4); u16(16); };
  if (!dataFirst) format();
  if (listFirst) { id("LIST"); u32(5); w.insert(w.end(), {'I', 'N', 'F', 'O', 'x', 0}); }
  id("data"); u32(data);
  if (dataFirst) format();
  w.resize(w.size() + 64, 0x22);
  return w;
}

TEST(CarveExtent, WaveSizesFromTheRiffHeader) {
  Measured m = Measure(WaveExtent, Wave(1000, 900, true));
  EXPECT_EQ(m.walk, kWalkOk);
  EXPECT_EQ(m.size, 1008u);
  // Sizes never written back: the gap decides.
  EXPECT_EQ(Measure(WaveExtent, Wave(0xFFFFFFFFu, 0xFFFFFFFFu)).walk, kWalkUnknown);
  EXPECT_EQ(Measure(WaveExtent, Wave(0, 0)).walk, kWalkUnknown);
  EXPECT_EQ(Measure(WaveExtent, Wave(36, 900)).walk, kWalkUnknown) << "data past the RIFF size";
  // Not a WAVE file: data before the format, a chunk past the RIFF size,
  // an id that is no text.
  EXPECT_EQ(Measure(WaveExtent, Wave(1000, 900, false, true)).walk, kWalkMalformed);
  EXPECT_EQ(Measure(WaveExtent, Wave(30, 0, true)).walk, kWalkMalformed);
  Bytes binary = Wave(1000, 900, true);
  binary[36] = 0x01;
  EXPECT_EQ(Measure(WaveExtent, binary).walk, kWalkMalformed);
  Bytes silent = Wave(1000, 900);
  test::PutU16(silent, 22, 0);  // no channels
  EXPECT_EQ(Measure(WaveExtent, silent).walk, kWalkMalformed);
}

// A page saved as one file: the mail header naming the boundary, the page
// and a picture, the closing boundary line.
std::string SavedPage(const std::string& eol = "\r\n") {
  const std::string b = "----=_NextPart_000_0000_01D9C3A1.5E2F4B30";
  std::string m = "From: <Saved by Windows Internet Explorer 8>" + eol + "Subject: card" + eol +
                  "MIME-Version: 1.0" + eol + "Content-Type: multipart/related;" + eol + "\ttype=\"text/html\";" +
                  eol + "\tboundary=\"" + b + "\"" + eol + eol + "This is a multi-part message in MIME format." +
                  eol + eol;
  m += "--" + b + eol + "Content-Type: text/html" + eol + eol + "<html><body>--" + b + "- is not a line</body></html>" +
       eol;
  m += "--" + b + eol + "Content-Type: image/png" + eol + "Content-Transfer-Encoding: base64" + eol + eol;
  for (int i = 0; i < 40; ++i) m += "iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mP8z8BQDwAEhQGA" + eol;
  m += "--" + b + "--" + eol;
  return m;
}

Bytes AsBytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

TEST(CarveExtent, MhtEndsWithItsClosingBoundaryLine) {
  std::mt19937 random(3);
  for (const std::string eol : {"\r\n", "\n"}) {
    const Bytes page = AsBytes(SavedPage(eol));
    for (const Bytes& after : {Bytes{}, Random(random, 3000), AsBytes("MIME-Version: 1.0\r\n")}) {
      const Measured m = Measure(MhtExtent, Join(page, after));
      EXPECT_EQ(m.walk, kWalkOk);
      EXPECT_EQ(m.size, page.size()) << eol.size();
    }
    for (std::size_t percent : {25u, 50u, 99u}) {
      const Bytes cut(page.begin(), page.begin() + static_cast<std::ptrdiff_t>(page.size() * percent / 100));
      EXPECT_EQ(Measure(MhtExtent, cut).walk, kWalkNeedMore) << percent;
    }
  }
  // The closing line without its line break yet: it may still follow.
  const Bytes page = AsBytes(SavedPage());
  EXPECT_EQ(Measure(MhtExtent, Bytes(page.begin(), page.end() - 1)).walk, kWalkNeedMore);
  EXPECT_EQ(Measure(MhtExtent, Bytes(page.begin(), page.end() - 2)).walk, kWalkNeedMore);
}

TEST(CarveExtent, MhtWithoutAMultipartHeader) {
  // A single message states no end; a multipart one must name its boundary.
  EXPECT_EQ(Measure(MhtExtent, AsBytes("From: a@b\r\nSubject: x\r\nContent-Type: text/plain\r\n\r\nhello\r\n")).walk,
            kWalkUnknown);
  EXPECT_EQ(Measure(MhtExtent, AsBytes("MIME-Version: 1.0\r\nContent-Type: multipart/related\r\n\r\n--x--\r\n")).walk,
            kWalkMalformed);
  EXPECT_EQ(Measure(MhtExtent, AsBytes("MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"\"\r\n\r\n")).walk,
            kWalkMalformed);
  // An unquoted boundary ends at the parameter's end.
  Measured m = Measure(MhtExtent, AsBytes("MIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=ab12;"
                                          " charset=x\n\n--ab12\n\nbody\n--ab12--\nepilogue"));
  EXPECT_EQ(m.walk, kWalkOk);
  EXPECT_EQ(m.size, 97u);
  // No empty line within the first 64 KiB: not a mail header.
  Bytes endless = AsBytes("MIME-Version: 1.0\r\n");
  endless.resize(0x10010, 'a');
  EXPECT_EQ(Measure(MhtExtent, endless).walk, kWalkMalformed);
}

// Planted on a disk: found, typed and carved to the byte.
TEST(CarveExtent, MhtCarvedFromADisk) {
  const Bytes page = AsBytes(SavedPage());
  Bytes image(100 * 512 + page.size() + 0x10000, 0);
  test::Plant(image, 100, page);
  test::CarveRun run = test::CarveImage(image);
  EXPECT_EQ(run.hits[100].kind, 43);
  EXPECT_EQ(run.hits[100].status, 4);
  EXPECT_EQ(run.hits[100].size, page.size());
}

}  // namespace
}  // namespace ambrel
