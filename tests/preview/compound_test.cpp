// The compound-file reader and its carving probes, on the corpus Office
// 97-2003 files and on crafted damaged files.
#include <gtest/gtest.h>

#include <filesystem>

#include "preview/compound_file.h"
#include "preview/compound_probe.h"
#include "preview/preview_test_support.h"
#include "preview/walk_result.h"

namespace ambrel {
namespace {

using test::BuildCompound;
using test::PutU32;

std::vector<std::string> CompoundCorpus() {
  std::vector<std::string> all;
  for (const char* folder : {"doc", "xls", "ppt"}) {
    auto files = test::CorpusFiles(folder);
    all.insert(all.end(), files.begin(), files.end());
  }
  return all;
}

std::uint32_t ExpectedType(const std::string& path) {
  const std::string ext = std::filesystem::path(path).extension().string();
  return ext == ".doc" ? 36 : ext == ".xls" ? 87 : 90;
}

TEST(CompoundFileSize, EveryCorpusFileMeasuresItsExactSize) {
  const auto files = CompoundCorpus();
  if (files.empty()) GTEST_SKIP() << "no corpus";
  for (const auto& path : files) {
    auto bytes = test::ReadBytes(path);
    SizeProbe alone = CompoundFileSize(bytes);
    EXPECT_EQ(alone.result, kWalkOk) << path;
    EXPECT_EQ(alone.size, bytes.size()) << path;
    EXPECT_EQ(alone.typeCode, ExpectedType(path)) << path;
    EXPECT_EQ(DetectCompoundType(bytes), ExpectedType(path)) << path;
    // Carving reads past the end of the file: junk after it changes nothing.
    std::vector<std::uint8_t> padded = bytes;
    for (std::size_t i = 0; i < 70000; ++i) padded.push_back(static_cast<std::uint8_t>(i * 7 + 3));
    SizeProbe withJunk = CompoundFileSize(padded);
    EXPECT_EQ(withJunk.result, kWalkOk) << path;
    EXPECT_EQ(withJunk.size, bytes.size()) << path;
  }
}

TEST(CompoundFileSize, TruncatedFileAsksForMoreData) {
  const auto files = test::CorpusFiles("doc");
  if (files.empty()) GTEST_SKIP() << "no corpus";
  auto bytes = test::ReadBytes(files.front());
  bytes.resize(bytes.size() / 2);
  EXPECT_EQ(CompoundFileSize(bytes).result, kWalkNeedMore);
  bytes.resize(511);
  EXPECT_EQ(CompoundFileSize(bytes).result, kWalkMalformed);
}

std::vector<std::uint8_t> SmallWordFile() {
  return BuildCompound({{"WordDocument", std::vector<std::uint8_t>(4096, 'w')}});
}

TEST(CompoundFile, CraftedFileOpensAndReadsItsStream) {
  auto file = SmallWordFile();
  CompoundFile cf(file);
  ASSERT_EQ(cf.Open(), kWalkOk);
  auto stream = cf.ReadStream("WordDocument");
  ASSERT_TRUE(stream);
  EXPECT_EQ(stream->size(), 4096u);
  EXPECT_FALSE(cf.ReadStream("Workbook"));
  SizeProbe probe = CompoundFileSize(file);
  EXPECT_EQ(probe.result, kWalkOk);
  EXPECT_EQ(probe.size, file.size());
}

TEST(CompoundFile, FatListingTheSameNextSectorTwiceIsRejected) {
  auto file = SmallWordFile();
  PutU32(file, 512 + 4 * 2, 4);   // sector 2 -> 4 ...
  PutU32(file, 512 + 4 * 3, 4);   // ... and sector 3 -> 4 as well
  EXPECT_EQ(CompoundFile(file).Open(), kWalkMalformed);
  EXPECT_EQ(CompoundFileSize(file).result, kWalkMalformed);
  EXPECT_EQ(DetectCompoundType(file), 0u);
}

TEST(CompoundFile, FatValueBelowMinusFourIsRejected) {
  auto file = SmallWordFile();
  PutU32(file, 512 + 4 * 20, 0xFFFFFFFB);
  EXPECT_EQ(CompoundFile(file).Open(), kWalkMalformed);
}

TEST(CompoundFile, ChainCycleIsMalformedNotEndless) {
  // 2 -> 3 -> 2: every next value occurs once, so the table rule passes.
  auto file = SmallWordFile();
  PutU32(file, 512 + 4 * 2, 3);
  PutU32(file, 512 + 4 * 3, 2);
  PutU32(file, 512 + 4 * 4, 0xFFFFFFFF);
  PutU32(file, 512 + 4 * 5, 0xFFFFFFFF);
  CompoundFile cf(file);
  ASSERT_EQ(cf.Open(), kWalkOk);
  EXPECT_FALSE(cf.ReadStream("WordDocument"));
  // The same for the directory chain, which is read whole.
  auto looped = SmallWordFile();
  PutU32(looped, 512 + 4 * 1, 1);
  EXPECT_EQ(CompoundFile(looped).Open(), kWalkMalformed);
}

TEST(CompoundFile, StreamLargerThanTheFileIsNotRead) {
  auto file = SmallWordFile();
  PutU32(file, 1024 + 128 + 120, 0xFFFFFF00);   // WordDocument claims ~4 GiB
  CompoundFile cf(file);
  ASSERT_EQ(cf.Open(), kWalkOk);
  EXPECT_FALSE(cf.ReadStream("WordDocument"));
}

TEST(CompoundFile, DuplicateFatSectorNumberInTheDifatIsRejected) {
  auto file = SmallWordFile();
  PutU32(file, 0x2C, 2);
  PutU32(file, 0x50, 0);   // the FAT sector listed twice
  EXPECT_EQ(CompoundFileSize(file).result, kWalkMalformed);
}

TEST(CompoundFile, DifatChainThatLoopsIsRejected) {
  auto file = SmallWordFile();
  // Sector 6 is a DIFAT sector whose next DIFAT sector is itself.
  file.resize(512 * 8, 0);
  for (int i = 0; i < 127; ++i) PutU32(file, 7 * 512 + 4 * i, 0xFFFFFFFF);
  PutU32(file, 7 * 512 + 508, 6);
  PutU32(file, 0x44, 6);
  PutU32(file, 0x48, 1000);
  EXPECT_EQ(CompoundFileSize(file).result, kWalkMalformed);
}

TEST(CompoundFile, SectorBeyondTheAddressLimitIsMalformed) {
  auto file = SmallWordFile();
  PutU32(file, 0x4C, 0x40000);   // byte position 0x8000200
  EXPECT_EQ(CompoundFileSize(file).result, kWalkMalformed);
}

TEST(CompoundFile, NoDocumentStreamIsMalformed) {
  auto file = BuildCompound({{"Other", std::vector<std::uint8_t>(4096, 'x')}});
  EXPECT_EQ(CompoundFileSize(file).result, kWalkMalformed);
  EXPECT_EQ(DetectCompoundType(file), 0u);
}

TEST(CompoundFile, DetectsEachDocumentStreamName) {
  const std::pair<const char*, std::uint32_t> names[] = {
      {"WordDocument", 36}, {"Workbook", 87}, {"Book", 87}, {"Props", 91},
      {"VisioDocument", 96}, {"PowerPoint Document", 90}, {"Pictures", 90}};
  for (const auto& [name, type] : names) {
    auto file = BuildCompound({{name, std::vector<std::uint8_t>(4096, 'x')}});
    EXPECT_EQ(DetectCompoundType(file), type) << name;
  }
}

TEST(AllocationTable, ValidityRule) {
  EXPECT_TRUE(AllocationTableValid({1, 2, 0xFFFFFFFE, 0xFFFFFFFF, 0xFFFFFFFD, 0xFFFFFFFC}, 7));
  EXPECT_FALSE(AllocationTableValid({1, 1}, 3));
  EXPECT_FALSE(AllocationTableValid({9}, 2));        // beyond entries + 1
  EXPECT_TRUE(AllocationTableValid({9}, 0));         // mini FAT: no upper bound
  EXPECT_FALSE(AllocationTableValid({0xFFFFFFFB}, 0));
}

}  // namespace
}  // namespace ambrel
