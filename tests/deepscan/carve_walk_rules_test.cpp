// The size rules that walk a file's records or measure its text: real
// files carved to the byte and typed by their content, files cut short
// never sized, and the cases where the structure must decide (a damaged
// chunk, a scattered recording, text that is only a piece).
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "carve_support.h"
#include "deepscan/carve/carve_units.h"
#include "deepscan/carve/signature_detect.h"
#include "support/test_paths.h"

namespace ambrel {
namespace {

using test::Bytes;

constexpr std::uint64_t kAt = 100;

test::CarvedHit CarveAlone(const Bytes& file, std::uint64_t at = kAt, std::uint8_t fill = 0) {
  Bytes image(at * 512 + file.size() + 0x10000, fill);
  test::Plant(image, at, file);
  // The rest of the file's last sector is zeros, as a file system leaves it.
  std::fill(image.begin() + static_cast<std::ptrdiff_t>(at * 512 + file.size()),
            image.begin() + static_cast<std::ptrdiff_t>((at * 512 + file.size() + 511) / 512 * 512), 0);
  test::CarveRun run = test::CarveImage(image);
  auto it = run.hits.find(at);
  return it == run.hits.end() ? test::CarvedHit{} : it->second;
}

// Serves only the bytes it holds: what lies beyond can never be read.
class PrefixDisk final : public SectorHitSource {
 public:
  explicit PrefixDisk(const Bytes& bytes) : bytes_(bytes) {}
  bool ReadDisk(std::uint64_t lba, std::uint32_t count, std::uint8_t* out) override {
    const std::uint64_t at = lba * 512, n = std::uint64_t{count} * 512;
    if (at > bytes_.size() || n > bytes_.size() - at) return false;
    std::memcpy(out, bytes_.data() + at, n);
    return true;
  }
  void PushHint(std::uint64_t) override {}

 private:
  const Bytes& bytes_;
};

// The rule of the file's type over `bytes` alone, with nothing known about
// what follows them (the device goes on, but is not read yet).
RuleResult RuleOnPrefix(const Bytes& bytes) {
  Bytes first(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(bytes.size(), 512)));
  first.resize(512, 0);
  const auto match = DetectSignature(ByteSpan(first.data(), first.size()));
  if (!match) return RuleResult::kInvalid;
  PrefixDisk disk(bytes);
  std::vector<std::uint8_t> scratch;
  CarveInput in;
  in.chunk = ChunkData{ByteSpan(bytes.data(), bytes.size()), 0};
  in.disk = &disk;
  in.scratch = &scratch;
  CarveState state;
  state.type = match->type;
  state.unit = match->unit;
  return SizeRule(state, in);
}

struct Sample {
  const char* path;
  int type;  // after the rule
};

// One real file per new rule and type, each carved whole.
const std::vector<Sample>& Samples() {
  static const std::vector<Sample> samples = {
      {"png/testPNG.png", 44},
      {"png/exif.png", 44},
      {"png/monty-truth.png", 44},
      {"gif/testGIF.gif", 45},
      {"gif/iss634.gif", 45},
      {"pdf/testPDF.pdf", 40},
      {"pdf/testPDF_Version.11.x.PDFA-1b.pdf", 40},
      {"pdf/testPDF_incrementalUpdates.pdf", 40},
      {"docx/testWORD.docx", 37},
      {"xlsx/unicodeSheetName.xlsx", 38},
      {"pptx/with_japanese.pptx", 89},
      {"zip/testZipEntryNameCharsetShiftSJIS.zip", 61},
      {"mov/bt601.mov", 67},
      {"mov/dolbyVision-hdr.MOV", 67},
      {"mp4/sample.mp4", 72},
      {"mp4/testVideoMp4.mp4", 72},
      {"3gp/bbb_176x144_128kbps_15fps_h263.3gp", 68},
      {"m4a/testMP4.m4a", 69},
      {"7z/test-documents.7z", 60},
      {"7z/test_read_format_7zip_bcj2_lzma2_1.7z", 60},
      {"ogg/bear.opus", 55},
      {"ogg/bear_vorbis.ogg", 55},
      {"ogg/testVORBIS.ogg", 55},
      {"tif/testTIFF.tif", 51},
      {"tif/sample.tif", 51},
      {"tif/testTIFF_multipage.tif", 51},
      {"nef/testNEF.nef", 92},
      {"dng/DNG.dng", 52},
      {"ts/sample_h264.ts", 143},
      {"ts/test-012.ts", 143},
      {"mts/M2TS.mts", 88},
      {"psd/testPSD.psd", 47},
      {"psd/hopper.psd", 47},
      {"cab/test-documents.cab", 84},
      {"cab/test_read_format_cab_filename_cp932.cab", 84},
      {"mid/Twinkle.mid", 57},
      {"mpg/sample_ac3.mpg", 82},
      {"mpg/sample_h262_mpeg_audio.mpg", 82},
      {"rtf/testRTF.rtf", 164},
      {"rtf/testRTFJapanese.rtf", 164},
      {"html/testHTML_utf8.html", 79},
      {"html/testHTML_charset_utf16le.html", 79},
      {"html/_mozilla_bug171813_text.html", 79},
      {"xml/testXML.xml", 163},
      {"xml/w3cn.org.xml", 163},
      {"txt/utf8-bom.txt", 161},
      {"txt/utf16le-bom.txt", 161},
      {"txt/utf16be-bom.txt", 161},
      {"txt/cp936-gb2312.txt", 161},
      {"txt/testTXTNonASCIIUTF8.txt", 161},
      {"ico/python.ico", 162},
      {"ico/hopper_256x256.ico", 162},
      {"exe/EXE.exe", 74},
      {"exe/testWindows-x86-32.exe", 74},
      {"rar/rar5-crc.rar", 62},
      {"wav/testWAV.wav", 53},
      {"wav/sample.wav", 53},
      {"swf/test1.swf", 146},
      {"swf/test2.swf", 146},
      {"mdb/testACCESS.mdb", 77},
      {"mdb/testAccess_V1997.mdb", 77},
      {"accdb/testAccess2.accdb", 78},
      {"raf/FujiFilm.raf", 144},
      {"mkv/testMKV.mkv", 86},
      {"mkv/sample.mkv", 86},
      {"webm/testWEBM.webm", 86},
  };
  return samples;
}

TEST(CarveWalkRules, RealFilesAreCarvedToTheByteAndTypedByTheirContent) {
  if (test::CorpusDir().empty()) GTEST_SKIP() << "corpus not found";
  for (const Sample& sample : Samples()) {
    const Bytes file = test::CorpusFile(sample.path);
    ASSERT_FALSE(file.empty()) << sample.path;
    const test::CarvedHit hit = CarveAlone(file);
    EXPECT_EQ(hit.kind, sample.type) << sample.path;
    EXPECT_EQ(hit.status, 4) << sample.path;
    EXPECT_EQ(hit.size, file.size()) << sample.path;
  }
}

// Followed by random bytes instead of zeros: the end is the format's, not
// where the junk stops looking like the file.
TEST(CarveWalkRules, RealFilesBeforeRandomBytesKeepTheirSize) {
  if (test::CorpusDir().empty()) GTEST_SKIP() << "corpus not found";
  std::mt19937 random(7);
  for (const Sample& sample : Samples()) {
    if (sample.type == 161) continue;  // plain text needs zeros after its end
    const Bytes file = test::CorpusFile(sample.path);
    Bytes image((kAt + 4) * 512 + file.size() + 0x10000);
    for (auto& b : image) b = static_cast<std::uint8_t>(random());
    std::fill(image.begin(), image.begin() + kAt * 512, 0);
    test::Plant(image, kAt, file);
    const std::size_t end = kAt * 512 + file.size();
    std::fill(image.begin() + static_cast<std::ptrdiff_t>(end),
              image.begin() + static_cast<std::ptrdiff_t>((end + 511) / 512 * 512), 0);
    test::CarveRun run = test::CarveImage(image);
    EXPECT_EQ(run.hits[kAt].status, 4) << sample.path;
    EXPECT_EQ(run.hits[kAt].size, file.size()) << sample.path;
  }
}

// Given only the first 25, 50 or 99 % of a file, a rule waits for more or
// rejects the file; it never tells a size.
TEST(CarveWalkRules, CutFilesAreNeverSized) {
  if (test::CorpusDir().empty()) GTEST_SKIP() << "corpus not found";
  for (const Sample& sample : Samples()) {
    const Bytes file = test::CorpusFile(sample.path);
    for (int percent : {25, 50, 99}) {
      const std::size_t keep = std::max<std::size_t>(1, file.size() * percent / 100);
      const Bytes cut(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(keep));
      const RuleResult r = RuleOnPrefix(cut);
      EXPECT_TRUE(r == RuleResult::kPending || r == RuleResult::kInvalid)
          << sample.path << " cut at " << percent << " %: " << int(StatusOf(r));
    }
    // The whole file, with nothing after it read yet, is not sized either
    // when its end can only be seen from what follows (text); the others are.
    const RuleResult whole = RuleOnPrefix(file);
    EXPECT_TRUE(whole == RuleResult::kSized || whole == RuleResult::kPending) << sample.path;
  }
}

// A crafted PNG: signature, IHDR, IDAT and IEND with their CRCs.
Bytes CraftedPng() {
  Bytes png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  auto chunk = [&](const char* type, const Bytes& data) {
    Bytes body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    const std::uint32_t length = static_cast<std::uint32_t>(data.size());
    for (int i = 3; i >= 0; --i) png.push_back(static_cast<std::uint8_t>(length >> (8 * i)));
    png.insert(png.end(), body.begin(), body.end());
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::uint8_t b : body) {
      crc ^= b;
      for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    crc = ~crc;
    for (int i = 3; i >= 0; --i) png.push_back(static_cast<std::uint8_t>(crc >> (8 * i)));
  };
  chunk("IHDR", Bytes{0, 0, 0, 1, 0, 0, 0, 1, 8, 0, 0, 0, 0});
  chunk("IDAT", Bytes(3000, 0x5A));
  chunk("IEND", Bytes{});
  return png;
}

TEST(CarveWalkRules, APngChunkWithABadCrcIsNoPng) {
  Bytes png = CraftedPng();
  EXPECT_EQ(CarveAlone(png).size, png.size());
  png[8 + 25 + 100] ^= 0x01;  // a byte of IDAT's data
  EXPECT_EQ(CarveAlone(png).status, 5);
}

// A PNG across the first chunk boundary whose IDAT straddles it.
TEST(CarveWalkRules, AChunkAcrossAChunkBoundaryIsCheckedWhole) {
  const Bytes png = CraftedPng();
  for (std::uint64_t before : {1ull, 3ull, 6ull}) {
    const test::CarvedHit hit = CarveAlone(png, kChunkSectors - before);
    EXPECT_EQ(hit.status, 4) << before;
    EXPECT_EQ(hit.size, png.size()) << before;
  }
}

// An MP4: the type atom, then a movie whose one chunk lies in the data
// atom and the data atom of `dataSize` bytes (or the data atom first when
// `movieLast`, as cameras write them).
Bytes CraftedMp4(std::uint32_t dataSize, std::uint32_t chunkOffset, bool movieLast = false) {
  Bytes f;
  auto u32 = [&](std::uint32_t v) {
    for (int i = 3; i >= 0; --i) f.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  };
  auto text = [&](const char* t) { f.insert(f.end(), t, t + 4); };
  auto data = [&] {
    u32(8 + dataSize), text("mdat");
    f.insert(f.end(), dataSize, 0x3C);
  };
  u32(24), text("ftyp"), text("isom"), u32(0), text("isom"), text("mp41");
  if (movieLast) data();
  // moov > trak > mdia > minf > stbl > stco with one offset.
  const std::uint32_t stco = 8 + 8 + 4, stbl = 8 + stco, minf = 8 + stbl, mdia = 8 + minf, trak = 8 + mdia;
  u32(8 + trak), text("moov"), u32(trak), text("trak"), u32(mdia), text("mdia"), u32(minf), text("minf");
  u32(stbl), text("stbl"), u32(stco), text("stco"), u32(0), u32(1), u32(chunkOffset);
  if (!movieLast) data();
  return f;
}

TEST(CarveWalkRules, AQuickTimeFileInOnePieceIsSized) {
  for (bool movieLast : {false, true}) {
    const Bytes mp4 = CraftedMp4(20000, 200, movieLast);
    const test::CarvedHit hit = CarveAlone(mp4);
    EXPECT_EQ(hit.kind, 72);
    EXPECT_EQ(hit.status, 4);
    EXPECT_EQ(hit.size, mp4.size());
  }
}

// A recording whose movie names chunks past where its atoms end, or whose
// data atom's end does not meet the movie that follows it (its pieces lie
// elsewhere on the disk), is not claimed: the size is left unknown for the
// video reassembly and the gap.
TEST(CarveWalkRules, AScatteredRecordingIsNotClaimed) {
  const test::CarvedHit beyond = CarveAlone(CraftedMp4(20000, 30000));
  EXPECT_EQ(beyond.status, 0);
  Bytes cut = CraftedMp4(20000, 200, true);
  cut.resize(24 + 8 + 5000);  // the data atom's rest lies elsewhere: random bytes here
  Bytes image(kAt * 512 + 0x20000, 0);
  std::mt19937 random(3);
  for (std::size_t i = kAt * 512; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(random());
  test::Plant(image, kAt, cut);
  test::CarveRun run = test::CarveImage(image);
  EXPECT_EQ(run.hits[kAt].status, 0);
}

// A transport stream over two chunks is one file: the sectors where a
// packet starts again are not files of their own.
TEST(CarveWalkRules, ATransportStreamIsOneFile) {
  if (test::CorpusDir().empty()) GTEST_SKIP() << "corpus not found";
  const Bytes ts = test::CorpusFile("ts/test-012.ts");
  Bytes image(2 * kChunkBytes, 0);
  const std::uint64_t at = kChunkSectors - 300;
  test::Plant(image, at, ts);
  test::CarveRun run = test::CarveImage(image);
  ASSERT_TRUE(run.hits.count(at));
  EXPECT_EQ(run.hits[at].size, ts.size());
  std::size_t files = 0;
  for (const auto& [lba, hit] : run.hits) files += hit.status != 5;
  EXPECT_EQ(files, 1u);
}

TEST(CarveWalkRules, TextIsAFileOnlyWhenZerosFollowItsEnd) {
  std::string line = "Notes of the day: the card was read again and every folder listed.\n";
  std::string text;
  while (text.size() < 1500) text += line;
  const Bytes file(text.begin(), text.end());
  // Zeros after it: a file, to its last byte.
  test::CarvedHit hit = CarveAlone(file);
  EXPECT_EQ(hit.kind, 161);
  EXPECT_EQ(hit.status, 4);
  EXPECT_EQ(hit.size, file.size());
  // A run of text that fills its last sector, then something else: a piece.
  Bytes piece(file.begin(), file.begin() + 1024);
  Bytes image(kAt * 512 + 0x10000, 0xF3);
  std::fill(image.begin(), image.begin() + kAt * 512, 0);
  test::Plant(image, kAt, piece);
  test::CarveRun run = test::CarveImage(image);
  EXPECT_EQ(run.hits[kAt].status, 5);
}

TEST(CarveWalkRules, MarkupEndsAtItsRootAndACutPageIsNoFile) {
  const std::string page = "<?xml version=\"1.0\"?>\n<list>\n  <item>one</item>\n  <list>inner</list>\n</list>\n";
  const Bytes xml(page.begin(), page.end());
  test::CarvedHit hit = CarveAlone(xml, kAt, 0);
  EXPECT_EQ(hit.kind, 163);
  EXPECT_EQ(hit.size, xml.size());
  // Text after the root's end in the same sector is not part of the page.
  Bytes more = xml;
  const std::string after = "Other words here";
  more.insert(more.end(), after.begin(), after.end());
  hit = CarveAlone(more);
  EXPECT_EQ(hit.size, xml.size());
  // Cut before the root closes.
  const Bytes cut(xml.begin(), xml.end() - 9);
  EXPECT_EQ(CarveAlone(cut).status, 5);
}

TEST(CarveWalkRules, RtfEndsAtTheBraceThatClosesTheFirst) {
  const std::string doc = "{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}\\f0 A \\{brace\\} and \\bin3 }}} text.\\par}";
  const Bytes rtf(doc.begin(), doc.end());
  const test::CarvedHit hit = CarveAlone(rtf);
  EXPECT_EQ(hit.kind, 164);
  EXPECT_EQ(hit.status, 4);
  EXPECT_EQ(hit.size, rtf.size());
}

// A zip whose entries keep their sizes after the data ("PK\7\8"), as
// streaming writers do.
Bytes ZipWithDescriptors(bool signedDescriptor) {
  Bytes z;
  auto u16 = [&](std::uint16_t v) { z.push_back(v & 0xFF), z.push_back(v >> 8); };
  auto u32 = [&](std::uint32_t v) { u16(v & 0xFFFF), u16(v >> 16); };
  auto text = [&](const std::string& t) { z.insert(z.end(), t.begin(), t.end()); };
  std::vector<std::uint32_t> starts;
  const char* names[] = {"a.txt", "b.bin"};
  for (const char* name : names) {
    starts.push_back(static_cast<std::uint32_t>(z.size()));
    u32(0x04034B50), u16(20), u16(8), u16(0), u16(0), u16(0), u32(0), u32(0), u32(0), u16(5), u16(0);
    text(name);
    const std::string data(700, name[0]);
    text(data);
    if (signedDescriptor) u32(0x08074B50);
    u32(0x12345678), u32(700), u32(700);
  }
  const std::uint32_t central = static_cast<std::uint32_t>(z.size());
  for (int i = 0; i < 2; ++i) {
    u32(0x02014B50), u16(20), u16(20), u16(8), u16(0), u16(0), u16(0), u32(0x12345678), u32(700), u32(700);
    u16(5), u16(0), u16(0), u16(0), u16(0), u32(0), u32(starts[i]);
    text(names[i]);
  }
  const std::uint32_t size = static_cast<std::uint32_t>(z.size()) - central;
  u32(0x06054B50), u16(0), u16(0), u16(2), u16(2), u32(size), u32(central), u16(4);
  text("note");
  return z;
}

TEST(CarveWalkRules, ZipEntriesWithDescriptorsAreSized) {
  for (bool signedDescriptor : {true, false}) {
    const Bytes zip = ZipWithDescriptors(signedDescriptor);
    const test::CarvedHit hit = CarveAlone(zip);
    EXPECT_EQ(hit.kind, 61) << signedDescriptor;
    EXPECT_EQ(hit.status, 4) << signedDescriptor;
    EXPECT_EQ(hit.size, zip.size()) << signedDescriptor;
  }
}

// An end record whose directory offset is not where the walk met the
// directory belongs to another archive: a zip cut and followed by another
// is no zip.
TEST(CarveWalkRules, AnEndRecordOfAnotherArchiveIsNotThisOnesEnd) {
  const Bytes zip = ZipWithDescriptors(true);
  const std::size_t firstEntry = 30 + 5 + 700 + 16;
  Bytes joined(firstEntry + zip.size());
  std::copy_n(zip.begin(), firstEntry, joined.begin());
  std::copy(zip.begin(), zip.end(), joined.begin() + static_cast<std::ptrdiff_t>(firstEntry));
  EXPECT_EQ(CarveAlone(joined).status, 5);
}

// An Office document whose content types are not its first member is
// still typed by its members, and named with its own extension.
TEST(CarveWalkRules, OfficeDocumentsAreTypedByTheirMembersInAnyOrder) {
  if (!test::ToolAvailable("zip")) GTEST_SKIP() << "zip missing";
  const std::string dir = test::TempDir("carve-ooxml");
  test::CommandLines("cd '" + dir + "' && mkdir -p word xl && echo '<w/>' > word/document.xml && "
                     "echo '<x/>' > xl/workbook.xml && echo '<T/>' > '[Content_Types].xml' && "
                     "zip -q doc.zip word/document.xml '[Content_Types].xml' && "
                     "zip -q book.zip xl/workbook.xml '[Content_Types].xml' && "
                     "zip -q plain.zip word/document.xml && echo ok");
  struct Case {
    const char* name;
    int type;
  };
  for (const Case& c : {Case{"doc.zip", 37}, Case{"book.zip", 38}, Case{"plain.zip", 61}}) {
    const Bytes zip = test::ReadImage(dir + "/" + c.name);
    ASSERT_FALSE(zip.empty()) << c.name;
    const test::CarvedHit hit = CarveAlone(zip);
    EXPECT_EQ(hit.kind, c.type) << c.name;
    EXPECT_EQ(hit.size, zip.size()) << c.name;
  }
}

// A PDF cut short and followed by another PDF: the first is no file, the
// second is whole.
TEST(CarveWalkRules, APdfCutBeforeAnotherPdfIsNoFile) {
  if (test::CorpusDir().empty()) GTEST_SKIP() << "corpus not found";
  const Bytes pdf = test::CorpusFile("pdf/testPDF.pdf");
  Bytes image(0x40000, 0);
  const Bytes cut(pdf.begin(), pdf.begin() + 8192);
  test::Plant(image, 10, cut);
  test::Plant(image, 30, pdf);
  test::CarveRun run = test::CarveImage(image);
  EXPECT_EQ(run.hits[10].status, 5);
  EXPECT_EQ(run.hits[30].status, 4);
  EXPECT_EQ(run.hits[30].size, pdf.size());
}

// A Matroska file cut inside its first cluster, random bytes after the
// cut: its Segment's size names an end, but the walk of the Segment's
// children meets no child where the cluster should end; the text file
// lying inside that size is found on its own.
TEST(CarveWalkRules, AMatroskaFileCutInsideAClusterIsNoFile) {
  if (test::CorpusDir().empty()) GTEST_SKIP() << "corpus not found";
  const Bytes mkv = test::CorpusFile("mkv/sample.mkv");
  const Bytes text = test::CorpusFile("txt/utf16le-bom.txt");
  std::mt19937 random(11);
  Bytes image(0x80000);
  for (auto& b : image) b = static_cast<std::uint8_t>(random());
  std::fill(image.begin(), image.begin() + 10 * 512, 0);
  const Bytes cut(mkv.begin(), mkv.begin() + 40 * 512);
  test::Plant(image, 10, cut);
  const std::size_t textAt = 10 + 60;
  test::Plant(image, textAt, text);
  std::fill(image.begin() + static_cast<std::ptrdiff_t>(textAt * 512 + text.size()),
            image.begin() + static_cast<std::ptrdiff_t>((textAt + 8) * 512), 0);
  test::CarveRun run = test::CarveImage(image);
  EXPECT_NE(run.hits[10].status, 4);
  EXPECT_EQ(run.hits[textAt].status, 4);
  EXPECT_EQ(run.hits[textAt].size, text.size());
}

// Monkey's Audio from version 3.98: the descriptor's lengths, then an
// APE tag led by its header.
TEST(CarveWalkRules, MonkeysAudioIsSizedByItsDescriptorAndTag) {
  Bytes ape(52, 0);
  std::memcpy(ape.data(), "MAC ", 4);
  test::PutU16(ape, 4, 3990);
  test::PutU32(ape, 8, 52);      // descriptor
  test::PutU32(ape, 12, 24);     // header
  test::PutU32(ape, 16, 40);     // seek table
  test::PutU32(ape, 20, 44);     // WAV header data
  test::PutU32(ape, 24, 5000);   // frame data
  test::PutU32(ape, 32, 0);      // terminating data
  ape.resize(52 + 24 + 40 + 44 + 5000, 0x61);
  Bytes tag(32, 0);
  std::memcpy(tag.data(), "APETAGEX", 8);
  test::PutU32(tag, 8, 2000);
  test::PutU32(tag, 12, 64 + 32);    // items and footer
  test::PutU32(tag, 20, 0xA0000000u);  // a header, this is it
  ape.insert(ape.end(), tag.begin(), tag.end());
  ape.resize(ape.size() + 64 + 32, 0x62);
  const test::CarvedHit hit = CarveAlone(ape);
  EXPECT_EQ(hit.kind, 56);
  EXPECT_EQ(hit.status, 4);
  EXPECT_EQ(hit.size, ape.size());
  for (std::size_t keep : {ape.size() / 4, ape.size() / 2, ape.size() - 10}) {
    const RuleResult r = RuleOnPrefix(Bytes(ape.begin(), ape.begin() + static_cast<std::ptrdiff_t>(keep)));
    EXPECT_TRUE(r == RuleResult::kPending || r == RuleResult::kInvalid) << keep;
  }
}

// The tag Monkey's Audio writes without a header: items, then the footer
// counting them; an ID3v1 tag may follow. Bytes after the file that only
// begin like items are no tag.
TEST(CarveWalkRules, MonkeysAudioTagWithoutAHeader) {
  Bytes ape(52, 0);
  std::memcpy(ape.data(), "MAC ", 4);
  test::PutU16(ape, 4, 3990);
  test::PutU32(ape, 8, 52);
  test::PutU32(ape, 12, 24);
  test::PutU32(ape, 16, 40);
  test::PutU32(ape, 20, 44);
  test::PutU32(ape, 24, 3000);
  ape.resize(52 + 24 + 40 + 44 + 3000, 0x61);
  const std::size_t audioEnd = ape.size();
  auto item = [&](const std::string& key, const std::string& value) {
    Bytes head(8, 0);
    test::PutU32(head, 0, static_cast<std::uint32_t>(value.size()));
    ape.insert(ape.end(), head.begin(), head.end());
    ape.insert(ape.end(), key.begin(), key.end());
    ape.push_back(0);
    ape.insert(ape.end(), value.begin(), value.end());
  };
  item("Artist", "Someone");
  item("Title", "A song of some length");
  Bytes footer(32, 0);
  std::memcpy(footer.data(), "APETAGEX", 8);
  test::PutU32(footer, 8, 2000);
  test::PutU32(footer, 12, static_cast<std::uint32_t>(ape.size() - audioEnd + 32));
  test::PutU32(footer, 16, 2);
  ape.insert(ape.end(), footer.begin(), footer.end());
  const std::size_t tagEnd = ape.size();
  test::CarvedHit hit = CarveAlone(ape);
  EXPECT_EQ(hit.status, 4);
  EXPECT_EQ(hit.size, tagEnd);
  Bytes id3(128, ' ');
  std::memcpy(id3.data(), "TAG", 3);
  Bytes withId3 = ape;
  withId3.insert(withId3.end(), id3.begin(), id3.end());
  hit = CarveAlone(withId3);
  EXPECT_EQ(hit.size, tagEnd + 128);
  // The footer miscounts the items: no tag, the file ends with its audio.
  Bytes miscounted = ape;
  test::PutU32(miscounted, tagEnd - 16, 3);
  hit = CarveAlone(miscounted);
  EXPECT_EQ(hit.status, 4);
  EXPECT_EQ(hit.size, audioEnd);
}

}  // namespace
}  // namespace ambrel
