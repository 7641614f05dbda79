// The size rules over real files: each corpus file planted in an image of
// zeros is carved with its own size, or answers as its format makes it
// answer (a WAVE with extra chunks, a raw photo too small to be one).
#include <gtest/gtest.h>

#include <filesystem>

#include "carve_support.h"
#include "support/test_paths.h"

namespace ambrel {
namespace {

using test::Bytes;

constexpr std::uint64_t kAt = 100;

test::CarvedHit CarveAlone(const Bytes& file, std::uint64_t at = kAt) {
  Bytes image(at * 512 + file.size() + 0x10000, 0);
  test::Plant(image, at, file);
  test::CarveRun run = test::CarveImage(image);
  auto it = run.hits.find(at);
  return it == run.hits.end() ? test::CarvedHit{} : it->second;
}

struct SizedFile {
  const char* path;
  int type;  // the type after the rule (refined for documents and raw photos)
};

// Files whose structure tells their size: carved whole, to the byte.
TEST(CarveSizeRules, RealFilesAreCarvedWithTheirOwnSize) {
  const SizedFile files[] = {
      {"jpg/tokyo.jpg", 46},           {"jpg/court-exif.jpg", 46},       {"jpg/jpeg420exif.jpg", 46},
      {"jpg/testJPEG_EXIF.jpg", 46},   {"bmp/testBMP.bmp", 48},           {"wav/testWAV.wav", 53},
      {"zip/test-documents.zip", 61},  {"zip/gbk.zip", 61},               {"docx/tbl-having-tables.docx", 37},
      {"xlsx/testEXCEL.xlsx", 38},     {"pptx/testPPT.pptx", 89},         {"rar/rar3-solid.rar", 62},
      {"rar/rar3-subdirs.rar", 62},    {"doc/testWORD.doc", 36},          {"xls/testEXCEL.xls", 87},
      {"ppt/testPPT.ppt", 90},         {"avi/sample.avi", 73},            {"flv/testFLV.flv", 64},
      {"wmv/testWMV.wmv", 108},        {"asf/testASF.asf", 108},          {"mkv/testMKV.mkv", 86},
      {"chm/testChm.chm", 39},         {"mp3/testMP3id3v24.mp3", 54},    {"webm/testWEBM.webm", 86},
      {"wma/testWMA.wma", 108},        {"flv/sample.flv", 64},            {"avi/sample-with-large-length.avi", 73},
      {"bmp/mountain.bmp", 48},        {"bmp/pal8v5.bmp", 48},            {"doc/rasp.doc", 36},
      {"wav/sample.wav", 53},
  };
  if (test::CorpusDir().empty()) GTEST_SKIP() << "corpus not found";
  for (const SizedFile& f : files) {
    const Bytes file = test::CorpusFile(f.path);
    ASSERT_FALSE(file.empty()) << f.path;
    const test::CarvedHit hit = CarveAlone(file);
    EXPECT_EQ(hit.kind, f.type) << f.path;
    EXPECT_EQ(hit.status, 4) << f.path;
    EXPECT_EQ(hit.size, file.size()) << f.path;
  }
}

}  // namespace
}  // namespace ambrel

namespace ambrel {
namespace {

// The answers other than a size, as the formats give them.
TEST(CarveSizeRules, FilesTheirRuleRejectsOrCannotSize) {
  // Types without a rule keep the size unknown: the gap size applies.
  Bytes drawing(3000, 0x41);
  std::copy_n("AC1015", 6, drawing.begin());
  const test::CarvedHit dwg = CarveAlone(drawing);
  EXPECT_EQ(dwg.kind, 75);
  EXPECT_EQ(dwg.status, 0);
  EXPECT_GT(dwg.size, 0u);
}

// An Access database of `pages` pages of `pageSize` bytes: the header page,
// then data pages.
Bytes CraftedAccess(std::size_t pageSize, std::size_t pages) {
  Bytes db(pageSize * pages, 0x5A);
  test::PutU32(db, 0, 0x100);
  const char* magic = pageSize == 2048 ? "Standard Jet DB" : "Standard ACE DB";
  std::copy_n(magic, 15, db.begin() + 4);
  db[0x14] = pageSize == 2048 ? 0 : 2;
  for (std::size_t p = 1; p < pages; ++p) {
    db[p * pageSize] = p % 2 ? 0x01 : 0x04;
    db[p * pageSize + 1] = 0x01;
  }
  return db;
}

// Access databases end before the first page without a page header; the
// page size follows the version byte.
TEST(CarveSizeRules, AccessDatabasesEndAtTheirLastPage) {
  EXPECT_EQ(CarveAlone(CraftedAccess(2048, 6)).size, 6u * 2048);
  const test::CarvedHit ace = CarveAlone(CraftedAccess(4096, 5));
  EXPECT_EQ(ace.kind, 78);
  EXPECT_EQ(ace.status, 4);
  EXPECT_EQ(ace.size, 5u * 4096);
  // A 4 KiB page whose second half looks like a page of 2 KiB is no end.
  Bytes jet4 = CraftedAccess(4096, 4);
  jet4[0x14] = 1;
  std::copy_n("Standard Jet DB", 15, jet4.begin() + 4);
  jet4[2 * 4096 + 2048] = 0x01;
  jet4[2 * 4096 + 2049] = 0x01;
  EXPECT_EQ(CarveAlone(jet4).size, 4u * 4096);
  // The header page alone is no database.
  EXPECT_EQ(CarveAlone(CraftedAccess(2048, 1)).status, 5);
}

// A Fujifilm RAF whose header names a preview, a raw header and raw data.
Bytes CraftedRaf(bool secondReadout) {
  Bytes raf(0x3000, 0x00);
  std::copy_n("FUJIFILMCCD-RAW 0201FF383501", 28, raf.begin());
  auto pair = [&](std::size_t at, std::uint32_t offset, std::uint32_t length) {
    for (int i = 0; i < 4; ++i) {
      raf[at + i] = static_cast<std::uint8_t>(offset >> (24 - 8 * i));
      raf[at + 4 + i] = static_cast<std::uint8_t>(length >> (24 - 8 * i));
    }
  };
  pair(0x54, 0x94, 0x800);
  pair(0x5C, 0x900, 0x100);
  pair(0x64, 0xA00, 0x1000);
  if (secondReadout) {
    pair(0x78, 0x1A00, 0x100);
    pair(0x80, 0x1B00, 0x1400);
  }
  raf[0x94] = 0xFF;
  raf[0x95] = 0xD8;
  raf[0x96] = 0xFF;
  return raf;
}

TEST(CarveSizeRules, FujifilmRawEndsWithItsLastPart) {
  const test::CarvedHit one = CarveAlone(CraftedRaf(false));
  EXPECT_EQ(one.kind, 144);
  EXPECT_EQ(one.status, 4);
  EXPECT_EQ(one.size, 0x1A00u);
  EXPECT_EQ(CarveAlone(CraftedRaf(true)).size, 0x2F00u);
  // A header whose preview is no JPEG is no RAF.
  Bytes broken = CraftedRaf(false);
  broken[0x94] = 0;
  EXPECT_EQ(CarveAlone(broken).status, 5);
}

Bytes CraftedWave(std::uint32_t riffSize, std::uint32_t dataSize) {
  Bytes w(64 + dataSize, 0x11);
  auto put = [&](std::size_t at, const char* t) { std::copy(t, t + 4, w.begin() + at); };
  put(0, "RIFF");
  test::PutU32(w, 4, riffSize);
  put(8, "WAVE");
  put(12, "fmt ");
  test::PutU32(w, 16, 16);
  test::PutU16(w, 20, 1);
  put(36, "data");
  test::PutU32(w, 40, dataSize);
  return w;
}

// The RIFF size is the file's, also when chunks follow the data; a writer
// that never put the sizes back leaves the size to the gap.
TEST(CarveSizeRules, WaveSizeIsTheRiffSize) {
  EXPECT_EQ(CarveAlone(CraftedWave(1000 + 36, 1000)).size, 1044u);
  const test::CarvedHit tagged = CarveAlone(CraftedWave(1000 + 36 + 26, 1000));
  EXPECT_EQ(tagged.status, 4);
  EXPECT_EQ(tagged.size, 1070u);
  EXPECT_EQ(CarveAlone(CraftedWave(0xFFFFFFFFu, 1000)).status, 0);
  EXPECT_EQ(CarveAlone(CraftedWave(1000, 1000)).status, 0);
}

TEST(CarveSizeRules, BitmapWithA108ByteHeaderIsDetectedButRejected) {
  Bytes bmp(4000, 0x33);
  bmp[0] = 'B';
  bmp[1] = 'M';
  test::PutU32(bmp, 2, 4000);
  test::PutU32(bmp, 6, 0);
  test::PutU32(bmp, 10, 122);
  test::PutU32(bmp, 14, 108);
  test::CarvedHit hit = CarveAlone(bmp);
  EXPECT_EQ(hit.kind, 48);
  EXPECT_EQ(hit.status, 5);
  test::PutU32(bmp, 14, 124);
  hit = CarveAlone(bmp);
  EXPECT_EQ(hit.status, 4);
  EXPECT_EQ(hit.size, 4000u);
}

// A zip with one stored member of `dataLength` bytes: local header, data,
// central header, end record.
Bytes CraftedZip(std::size_t dataLength, std::uint16_t flags = 0) {
  Bytes z;
  auto u16 = [&](std::uint16_t v) { z.push_back(v & 0xFF); z.push_back(v >> 8); };
  auto u32 = [&](std::uint32_t v) { u16(v & 0xFFFF); u16(v >> 16); };
  auto text = [&](const char* t) { while (*t) z.push_back(static_cast<std::uint8_t>(*t++)); };
  u32(0x04034B50); u16(10); u16(flags); u16(0); u16(0); u16(0); u32(0);
  u32(static_cast<std::uint32_t>(dataLength)); u32(static_cast<std::uint32_t>(dataLength));
  u16(5); u16(0); text("a.txt");
  z.insert(z.end(), dataLength, 'x');
  const std::uint32_t central = static_cast<std::uint32_t>(z.size());
  u32(0x02014B50); u16(20); u16(10); u16(flags); u16(0); u16(0); u16(0); u32(0);
  u32(static_cast<std::uint32_t>(dataLength)); u32(static_cast<std::uint32_t>(dataLength));
  u16(5); u16(0); u16(0); u16(0); u16(0); u32(0); u32(0); text("a.txt");
  const std::uint32_t centralSize = static_cast<std::uint32_t>(z.size()) - central;
  u32(0x06054B50); u16(0); u16(0); u16(1); u16(1); u32(centralSize); u32(central); u16(0);
  return z;
}

TEST(CarveSizeRules, ZipEndingAtAChunkBoundaryIsCompletedByTheNextChunk) {
  // 30 + 5 + 938 + 46 + 5 = 1024: the end record starts the second chunk.
  const Bytes zip = CraftedZip(938);
  ASSERT_EQ(zip.size(), 1024u + 22);
  const std::uint64_t at = kChunkSectors - 2;
  const test::CarvedHit hit = CarveAlone(zip, at);
  EXPECT_EQ(hit.kind, 61);
  EXPECT_EQ(hit.status, 4);
  EXPECT_EQ(hit.size, zip.size());
}

TEST(CarveSizeRules, DataDescriptorEntriesLeaveTheSizeUnknown) {
  const test::CarvedHit hit = CarveAlone(CraftedZip(100, 0x0008));
  EXPECT_EQ(hit.kind, 61);
  EXPECT_EQ(hit.status, 0);
  EXPECT_GT(hit.size, 0u);  // the gap size
}

// Real files laid across the first chunk boundary: the sizes whose walk
// needs the next chunk wait for it, or read the straddling bytes from the disk.
TEST(CarveSizeRules, FilesAcrossAChunkBoundary) {
  const char* paths[] = {"jpg/jpeg420exif.jpg", "doc/testWORD.doc",    "zip/test-documents.zip",
                         "rar/test-documents.rar", "avi/sample.avi",   "flv/testFLV.flv",
                         "wmv/testWMV.wmv",     "mp3/testMP3id3v24.mp3", "chm/testChm.chm",
                         // the first directory after the strips, past the boundary
                         "tif/sample.tif"};
  if (test::CorpusDir().empty()) GTEST_SKIP() << "corpus not found";
  for (const char* path : paths) {
    const Bytes file = test::CorpusFile(path);
    for (std::uint64_t before : {1ull, 7ull, 40ull}) {
      const test::CarvedHit hit = CarveAlone(file, kChunkSectors - before);
      EXPECT_EQ(hit.status, 4) << path << " " << before;
      EXPECT_EQ(hit.size, file.size()) << path << " " << before;
    }
  }
}

}  // namespace
}  // namespace ambrel

#include "deepscan/carve/signature_carver.h"

namespace ambrel {
namespace {

// Reads of the carver beyond its chunk, served from the image.
class ImageDisk final : public SectorHitSource {
 public:
  explicit ImageDisk(const Bytes& image) : image_(image) {}
  bool ReadDisk(std::uint64_t lba, std::uint32_t count, std::uint8_t* out) override {
    ++reads;
    if ((lba + count) * 512 > image_.size()) return false;
    std::copy_n(image_.begin() + static_cast<std::ptrdiff_t>(lba * 512), count * 512ull, out);
    return true;
  }
  void PushHint(std::uint64_t) override {}
  int reads = 0;

 private:
  const Bytes& image_;
};

// Detects the file planted at `at` in the first chunk of `image`.
std::pair<ScanHit, std::size_t> DetectInFirstChunk(const Bytes& image, std::uint64_t at, int& reads) {
  ImageDisk disk(image);
  SignatureCarver carver;
  carver.SetAreaEnd(image.size() / 512);
  ChunkData chunk{ByteSpan(image.data(), kChunkBytes), 0};
  ChunkHitBuilder out;
  EXPECT_TRUE(carver.Detect(chunk, static_cast<std::uint32_t>(at), at, out, disk));
  reads = disk.reads;
  ScanHit hit;
  if (!out.hits.empty()) hit = std::move(out.hits.front());
  return {std::move(hit), carver.Pending().Size()};
}

TEST(CarveSizeRules, AStraddlingWindowIsReadFromTheDisk) {
  // 30 + 5 + 414 + 51 = 500: the end record starts 12 bytes before the
  // chunk's end, so its 512-byte window runs into the next chunk.
  const Bytes zip = CraftedZip(414);
  Bytes image(2 * kChunkBytes, 0);
  test::Plant(image, kChunkSectors - 1, zip);
  int reads = 0;
  auto [hit, pending] = DetectInFirstChunk(image, kChunkSectors - 1, reads);
  EXPECT_EQ(hit.status, 4);
  EXPECT_EQ(hit.Size(), zip.size());
  EXPECT_EQ(pending, 0u);
  EXPECT_GT(reads, 0);
}

TEST(CarveSizeRules, AWindowInTheNextChunkWaitsForIt) {
  const Bytes zip = CraftedZip(938);  // the end record starts the next chunk
  Bytes image(2 * kChunkBytes, 0);
  test::Plant(image, kChunkSectors - 2, zip);
  int reads = 0;
  auto [hit, pending] = DetectInFirstChunk(image, kChunkSectors - 2, reads);
  EXPECT_EQ(hit.status, 3);
  EXPECT_EQ(pending, 1u);
}

TEST(CarveSizeRules, MpegProgramStreamWalkedByPacks) {
  Bytes mpg;
  for (int pack = 0; pack < 12; ++pack) {
    const std::uint8_t header[14] = {0, 0, 1, 0xBA, 0x44, 0, 4, 0, 4, 1, 1, 0x89, 0xC3, 0xF8};
    mpg.insert(mpg.end(), header, header + 14);
    const std::uint8_t pes[6] = {0, 0, 1, 0xE0, 0, 100};
    mpg.insert(mpg.end(), pes, pes + 6);
    mpg.insert(mpg.end(), 100, 0x55);
  }
  const std::uint8_t end[4] = {0, 0, 1, 0xB9};
  mpg.insert(mpg.end(), end, end + 4);
  const test::CarvedHit hit = CarveAlone(mpg);
  EXPECT_EQ(hit.kind, 82);
  EXPECT_EQ(hit.status, 4);
  EXPECT_EQ(hit.size, mpg.size());
}

}  // namespace
}  // namespace ambrel

#include "catalog/found_file_catalog.h"
#include "deepscan/deep_scan_extensions.h"
#include "deepscan/found_files.h"
#include "device/memory_device.h"

namespace ambrel {
namespace {

// With liveResults the carved files of each chunk reach the catalogue's
// found-files slot while the scan runs; a file whose size is a gap is
// measured to the first hit of the next chunk.
TEST(LiveCarvedFiles, EachChunkAddsItsFilesToTheFoundFilesSlot) {
  if (test::CorpusDir().empty()) GTEST_SKIP() << "corpus not found";
  const Bytes jpg = test::CorpusFile("jpg/tokyo.jpg");
  Bytes drawing(3000, 0x41);  // AutoCAD: no size rule
  std::copy_n("AC1015", 6, drawing.begin());
  const Bytes zip = test::CorpusFile("zip/gbk.zip");
  Bytes image(3 * kChunkBytes, 0);
  test::Plant(image, 10, jpg);
  test::Plant(image, kChunkSectors + 10, drawing);
  test::Plant(image, 2 * kChunkSectors + 10, zip);
  auto device = std::make_shared<MemoryDevice>(image);
  PartitionInfo whole;
  whole.sectorCount = whole.diskSectorCount = image.size() / 512;
  whole.diskPath = "memory";
  FoundFileCatalog catalog;
  catalog.Reset(nullptr, false);
  DeepScanExtensions extensions(&catalog);
  ScanEnvironment env;
  env.open = [device](const PartitionInfo&, DiskHandle& h) {
    h = HandleForDevice(device, "memory");
    return true;
  };
  env.pollMs = 1;
  env.organiseDelayMs = 0;
  env.extensions = &extensions;
  DeepScanSettings settings = DefaultScanSettings(whole, RecoveryMode::kAllFiles);
  ASSERT_TRUE(settings.On(kOptLiveResults));
  ScanSession scan(std::move(whole), RecoveryMode::kAllFiles, settings, env);
  ASSERT_TRUE(scan.Start());
  scan.Join();
  const PartitionInfo* found = catalog.Partition(kSignatureSlot);
  ASSERT_NE(found, nullptr);
  std::map<std::string, FoundFileNode> files;
  for (std::uint32_t id = 0; id < found->table.count; ++id) {
    const FoundFileNode* n = NodeAt(found->table, id);
    if (n && IsFileKind(KindOf(*n))) files[n->name] = *n;
  }
  ASSERT_EQ(files.size(), 3u);
  EXPECT_EQ(files["a.jpg"].size, jpg.size());
  EXPECT_NE(files["a.jpg"].flags & kFlagStructuralSize, 0);
  EXPECT_EQ(files["400a.dwg"].size, std::uint64_t{kChunkSectors} * 512);  // to the zip
  EXPECT_EQ(files["400a.dwg"].flags & kFlagStructuralSize, 0);
  EXPECT_EQ(files["800a.zip"].size, zip.size());
  EXPECT_EQ(files["800a.zip"].parentId, 61u);
}

}  // namespace
}  // namespace ambrel

namespace ambrel {
namespace {

// A TIFF raw photo whose strip lies 20 MB into the file: its size is known
// only when the window has grown over the chunks that hold the strip.
TEST(CarveSizeRules, RawPhotoWindowGrowsUntilItHoldsTheStrips) {
  Bytes tiff(64, 0);
  tiff[0] = 'I';
  tiff[1] = 'I';
  test::PutU16(tiff, 2, 42);
  test::PutU32(tiff, 4, 8);
  test::PutU16(tiff, 8, 3);
  auto entry = [&](std::size_t at, std::uint16_t tag, std::uint16_t type, std::uint32_t count, std::uint32_t value) {
    test::PutU16(tiff, at, tag);
    test::PutU16(tiff, at + 2, type);
    test::PutU32(tiff, at + 4, count);
    test::PutU32(tiff, at + 8, value);
  };
  entry(10, 271, 2, 6, 50);            // Make, at 50
  entry(22, 273, 4, 1, 20000000);      // StripOffsets
  entry(34, 279, 4, 1, 1000000);       // StripByteCounts
  test::PutU32(tiff, 46, 0);
  std::copy_n("Canon", 6, tiff.begin() + 50);
  Bytes image(4 * kChunkBytes, 0);
  test::Plant(image, 100, tiff);
  test::CarveRun run = test::CarveImage(image);
  ASSERT_TRUE(run.hits.count(100));
  EXPECT_EQ(run.hits[100].kind, 49);
  EXPECT_EQ(run.hits[100].status, 4);
  EXPECT_EQ(run.hits[100].size, 21000000u);
  // A Nikon maker refines the type.
  std::copy_n("NIKON", 6, tiff.begin() + 50);
  test::Plant(image, 100, tiff);
  run = test::CarveImage(image);
  EXPECT_EQ(run.hits[100].kind, 92);
  EXPECT_EQ(run.hits[100].size, 21000000u);
}

}  // namespace
}  // namespace ambrel

namespace ambrel {
namespace {

// zip writing to a pipe stores zip64 sizes after the data (a descriptor):
// the data is searched for them, and the end record ends the archive.
TEST(CarveSizeRules, StreamedZip64ArchiveIsSizedThroughItsDescriptor) {
  if (!test::ToolAvailable("zip")) GTEST_SKIP() << "zip missing";
  const std::string dir = test::TempDir("carve-zip64");
  const std::string path = dir + "/streamed.zip";
  test::CommandLines("echo hello there | zip -q - - > '" + path + "' && echo ok");
  const Bytes zip = test::ReadImage(path);
  ASSERT_GT(zip.size(), 30u);
  ASSERT_EQ(zip[18], 0xFF);  // zip64 marker in the compressed size
  const test::CarvedHit hit = CarveAlone(zip);
  EXPECT_EQ(hit.kind, 61);
  EXPECT_EQ(hit.status, 4);
  EXPECT_EQ(hit.size, zip.size());
}

}  // namespace
}  // namespace ambrel
