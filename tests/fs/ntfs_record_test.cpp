// MFT record decoding: records cut from the mkntfs/ntfs-3g fixture and
// crafted records for the edges real tools do not produce.
#include "fs/ntfs/ntfs_record.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>

#include "fs/ntfs/ntfs_run_list.h"
#include "fs/ntfs/ntfs_time.h"
#include "ntfs_test_support.h"

namespace ambrel {
namespace {

using test::Record;
using test::RecordBuilder;

const bool kUtc = [] {
  setenv("TZ", "UTC", 1);
  tzset();
  return true;
}();

// 2023-04-05 06:07:08 UTC
constexpr std::uint64_t kFileTime = 133251484280000000ull;
constexpr std::uint32_t kSystem = 0x4;

class NtfsFixtureRecords : public ::testing::Test {
 protected:
  void SetUp() override {
    image_ = test::FixtureImage("ntfs-basic");
    ASSERT_FALSE(image_.empty()) << "fixtures/images/ntfs-basic.img.gz missing";
  }
  std::optional<MftRecordSummary> Decode(std::uint32_t number, bool keepSystem = false) {
    record_ = test::FixtureRecord(image_, number);
    EXPECT_EQ(record_.size(), 1024u);
    return DecodeMftRecord(record_, keepSystem);
  }
  std::string image_;
  Record record_;
};

TEST(NtfsRunList, DecodesLengthsOffsetsSignsAndSparseRuns) {
  // +0x1000 for 16 clusters; -0x100000 for 16; sparse 4; 8-byte offset form.
  const std::vector<std::uint8_t> bytes = {0x31, 0x10, 0x00, 0x10, 0x00, 0x31, 0x10,
                                           0x00, 0x00, 0xF0, 0x01, 0x04, 0x11, 0x02,
                                           0x05, 0x00, 0x11, 0x01, 0x01};
  auto runs = DecodeRunList(bytes);
  ASSERT_EQ(runs.size(), 4u);
  EXPECT_EQ(runs[0].lcnDelta, 0x1000);
  EXPECT_EQ(runs[0].clusterCount, 16u);
  EXPECT_EQ(runs[1].lcnDelta, -0x100000);
  EXPECT_EQ(runs[2].lcnDelta, 0);
  EXPECT_TRUE(runs[2].sparse);
  EXPECT_EQ(runs[2].clusterCount, 4u);
  EXPECT_EQ(runs[3].lcnDelta, 5);
  EXPECT_FALSE(runs[3].sparse);
}

TEST(NtfsRunList, StopsAtTheBlockEndAndKeepsLow32BitsOfLengths) {
  // The second run's offset field would pass the end of the block.
  const std::vector<std::uint8_t> truncated = {0x11, 0x01, 0x02, 0x32, 0x01, 0x00, 0x05};
  EXPECT_EQ(DecodeRunList(truncated).size(), 1u);
  // Header 0x95: 5 length bytes, 8 offset bytes; the fifth length byte is dropped.
  std::vector<std::uint8_t> wide = {0x95, 0x01, 0x00, 0x00, 0x00, 0x07, 0xFF,
                                    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  auto runs = DecodeRunList(wide);
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].clusterCount, 1u);
  EXPECT_EQ(runs[0].lcnDelta, -1);
  EXPECT_TRUE(DecodeRunList(std::vector<std::uint8_t>{}).empty());
  EXPECT_TRUE(DecodeRunList(std::vector<std::uint8_t>{0x00, 0x11, 0x01, 0x01}).empty());
}

TEST(NtfsRunList, ResolvesRelativeRunsAndKeepsThePositionOverSparseRuns) {
  std::vector<RunEntry> runs = {{10, 2, false}, {0, 3, true}, {-4, 1, false}};
  ExtentList extents;
  ASSERT_TRUE(ResolveExtents(100, 8, runs, extents));
  ASSERT_EQ(extents.size(), 3u);
  EXPECT_EQ(extents[0].startSector, 180u);
  EXPECT_EQ(extents[0].sectorCount, 16u);
  EXPECT_TRUE(extents[1].sparse);
  EXPECT_EQ(extents[1].sectorCount, 24u);
  EXPECT_EQ(extents[2].startSector, 148u);  // relative to the last real run
  EXPECT_FALSE(ResolveExtents(100, 8, {}, extents));
}

// A protected record of `bytes` as a volume writes it: the array at 0x30
// holds the sequence number 0x0102 and, per 512-byte block, the two bytes
// that the number replaced at the block's end (0xB0 + block, 0xC0 + block).
Record ProtectedRecord(std::size_t bytes) {
  Record record(bytes, 0);
  std::memcpy(record.data(), "FILE", 4);
  const std::size_t blocks = bytes / 512;
  record[0x04] = 0x30;
  record[0x06] = static_cast<std::uint8_t>(blocks + 1);
  record[0x1C] = static_cast<std::uint8_t>(bytes & 0xFF);
  record[0x1D] = static_cast<std::uint8_t>(bytes >> 8);
  record[0x30] = 0x02;
  record[0x31] = 0x01;
  for (std::size_t b = 0; b < blocks; ++b) {
    record[0x32 + 2 * b] = static_cast<std::uint8_t>(0xB0 + b);
    record[0x33 + 2 * b] = static_cast<std::uint8_t>(0xC0 + b);
    record[(b + 1) * 512 - 2] = 0x02;
    record[(b + 1) * 512 - 1] = 0x01;
  }
  return record;
}

TEST(NtfsRecordFixups, EveryBlockTailIsCheckedAndRestoredForEachRecordSize) {
  for (std::size_t bytes : {1024u, 4096u}) {
    Record record = ProtectedRecord(bytes);
    EXPECT_EQ(StatedRecordBytes(record), bytes);
    ASSERT_EQ(ApplyRecordFixups(record), RecordFixup::kApplied) << bytes;
    for (std::size_t b = 0; b < bytes / 512; ++b) {
      EXPECT_EQ(record[(b + 1) * 512 - 2], 0xB0 + b) << bytes << " block " << b;
      EXPECT_EQ(record[(b + 1) * 512 - 1], 0xC0 + b) << bytes << " block " << b;
    }
  }
}

TEST(NtfsRecordFixups, ATornBlockIsReportedAndLeftAsRead) {
  // The last block of a 4096-byte record only: a check of two blocks (the
  // 1024-byte layout) would never see it.
  Record record = ProtectedRecord(4096);
  record[4094] = 0x03;
  EXPECT_EQ(ApplyRecordFixups(record), RecordFixup::kTorn);
  EXPECT_EQ(record[4094], 0x03);
  EXPECT_EQ(record[510], 0xB0);  // the good blocks are still restored
  Record first = ProtectedRecord(1024);
  first[511] = 0x00;
  EXPECT_EQ(ApplyRecordFixups(first), RecordFixup::kTorn);
}

TEST(NtfsRecordFixups, AnArrayThatDoesNotFitTheRecordIsRefused) {
  Record wrongCount = ProtectedRecord(4096);
  wrongCount[0x06] = 3;  // the 1024-byte count in a 4096-byte record
  EXPECT_EQ(ApplyRecordFixups(wrongCount), RecordFixup::kNoSequence);
  EXPECT_EQ(StatedRecordBytes(wrongCount), 0u);
  Record odd = ProtectedRecord(1024);
  odd[0x04] = 0x31;
  EXPECT_EQ(ApplyRecordFixups(odd), RecordFixup::kNoSequence);
  Record late = ProtectedRecord(1024);
  late[0x04] = 0xFE;
  late[0x05] = 0x01;  // 0x1FE: the array would cover the first block's tail
  EXPECT_EQ(ApplyRecordFixups(late), RecordFixup::kNoSequence);
  Record cut(1000, 0);
  EXPECT_EQ(ApplyRecordFixups(cut), RecordFixup::kNoSequence);
  // A stated size that is not a power of two, or beyond 64 KiB.
  Record sizes = ProtectedRecord(1024);
  sizes[0x1C] = 0x00;
  sizes[0x1D] = 0x06;  // 1536
  EXPECT_EQ(StatedRecordBytes(sizes), 0u);
  sizes[0x1D] = 0x00;
  sizes[0x1E] = 0x02;  // 128 KiB
  EXPECT_EQ(StatedRecordBytes(sizes), 0u);
}

TEST(NtfsTime, FileTimeBecomesPackedLocalTime) {
  const PackedTime t = FileTimeToPackedTime(kFileTime);
  EXPECT_EQ(t, PackPackedTime(2023, 4, 5, 6, 7, 8));
  EXPECT_EQ(t & 63, 8u);
  EXPECT_EQ((t >> 22) & 15, 4u);
  EXPECT_EQ(t >> 26, 2023u - 1980u);
  EXPECT_EQ(FileTimeToPackedTime(0), 0u);
  EXPECT_EQ(PackPackedTime(2000, 13, 0, 25, 61, 60), PackPackedTime(2000, 1, 1, 23, 59, 59));
}

TEST_F(NtfsFixtureRecords, FolderFileAndDeletedEntries) {
  auto documents = Decode(64);
  ASSERT_TRUE(documents);
  EXPECT_EQ(documents->name, "Documents");
  EXPECT_EQ(documents->parentId, 5u);
  EXPECT_EQ(documents->nodeFlags & (kFlagPresent | kFlagDirectory), kFlagPresent | kFlagDirectory);
  EXPECT_NE(documents->created, 0u);

  auto deletedFolder = Decode(70);
  ASSERT_TRUE(deletedFolder);
  EXPECT_EQ(deletedFolder->name, "ToDelete");
  EXPECT_EQ(deletedFolder->nodeFlags & (kFlagPresent | kFlagDirectory), kFlagDirectory);

  auto deletedFile = Decode(82);
  ASSERT_TRUE(deletedFile);
  EXPECT_EQ(deletedFile->name, "长文件名_with_mixed_名字_and_a_rather_long_tail.dat");
  EXPECT_EQ(deletedFile->parentId, 68u);
  EXPECT_EQ(deletedFile->size, 5000u);
  EXPECT_EQ(deletedFile->nodeFlags & kFlagPresent, 0);
}

TEST_F(NtfsFixtureRecords, ResidentAndFragmentedData) {
  auto resident = Decode(76);
  ASSERT_TRUE(resident);
  EXPECT_EQ(resident->size, 600u);
  EXPECT_TRUE(resident->nodeFlags & kFlagResident);
  EXPECT_TRUE(resident->runList.empty());
  auto data = FindAttribute(record_, std::nullopt, 0x80);
  ASSERT_TRUE(data);
  EXPECT_FALSE(FindAttribute(record_, data->offset + 1, 0x80));
  auto value = ResidentValue(*data);
  ASSERT_TRUE(value);
  EXPECT_EQ(value->size(), 600u);

  // Grown by alternate appends: six one-cluster runs two clusters apart
  // (istat: 2615 2617 ... 2625).
  auto fragmented = Decode(97);
  ASSERT_TRUE(fragmented);
  EXPECT_EQ(fragmented->size, 24576u);
  EXPECT_FALSE(fragmented->nodeFlags & kFlagResident);
  ExtentList extents;
  ASSERT_TRUE(ResolveExtents(0, 8, DecodeRunList(fragmented->runList), extents));
  ASSERT_EQ(extents.size(), 6u);
  for (std::size_t i = 0; i < extents.size(); ++i) {
    EXPECT_EQ(extents[i].startSector, (2615u + 2 * i) * 8);
    EXPECT_EQ(extents[i].sectorCount, 8u);
  }
}

TEST_F(NtfsFixtureRecords, SystemFilesAndTheRecycleBin) {
  EXPECT_FALSE(Decode(0));  // $MFT
  auto mft = Decode(0, true);
  ASSERT_TRUE(mft);
  EXPECT_EQ(mft->name, "$MFT");
  auto bitmap = Decode(6, true);
  ASSERT_TRUE(bitmap);
  EXPECT_EQ(bitmap->name, "$Bitmap");
  EXPECT_EQ(bitmap->size, (16u * 1024 * 1024 / 4096 + 7) / 8);

  auto bin = Decode(72);
  ASSERT_TRUE(bin);
  EXPECT_EQ(bin->name, "回收站");
  EXPECT_EQ(bin->nodeFlags & (kFlagPresent | kFlagDirectory), kFlagDirectory);
}

TEST(NtfsCraftedRecords, RecordNumberBound) {
  auto make = [](std::uint32_t number) {
    return RecordBuilder(number).FileName(5, u"a.txt", 1).Build();
  };
  auto last = DecodeMftRecord(make(0x1FFFFF), false);
  ASSERT_TRUE(last);
  EXPECT_EQ(last->recordNumber, 0x1FFFFFu);
  EXPECT_FALSE(DecodeMftRecord(make(0x200000), false));
  Record noSignature = make(7);
  noSignature[0] = 'B';
  EXPECT_FALSE(DecodeMftRecord(noSignature, false));
  EXPECT_FALSE(DecodeMftRecord(ByteSpan(make(7)).first(1023), false));
}

TEST(NtfsCraftedRecords, NamespacePrecedence) {
  auto dosOnly = DecodeMftRecord(RecordBuilder(40).FileName(5, u"LONGNA~1.TXT", 2).Build(), false);
  ASSERT_TRUE(dosOnly);
  EXPECT_FALSE(dosOnly->hasName);

  auto posixThenWin32 = DecodeMftRecord(
      RecordBuilder(40).FileName(5, u"posix", 0).FileName(9, u"win32", 1).Build(), false);
  ASSERT_TRUE(posixThenWin32);
  EXPECT_EQ(posixThenWin32->name, "win32");
  EXPECT_EQ(posixThenWin32->parentId, 9u);

  auto win32ThenPosix = DecodeMftRecord(
      RecordBuilder(40).FileName(9, u"win32", 3).FileName(5, u"posix", 0).Build(), false);
  ASSERT_TRUE(win32ThenPosix);
  EXPECT_EQ(win32ThenPosix->name, "win32");

  auto twoPosix = DecodeMftRecord(
      RecordBuilder(40).FileName(5, u"first", 0).FileName(5, u"second", 0).Build(), false);
  ASSERT_TRUE(twoPosix);
  EXPECT_EQ(twoPosix->name, "first");
}

// The name length bounds an NTFS name; a NUL code unit inside it must not cut
// the rest off (the catalogue's names end at a NUL), so it is kept visible.
TEST(NtfsCraftedRecords, NulInsideANameIsKeptVisible) {
  auto decoded = DecodeMftRecord(RecordBuilder(40).FileName(5, std::u16string(u"be\0fore.txt", 11), 1).Build(), false);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->name, "be\u2400fore.txt");
}

TEST(NtfsCraftedRecords, SystemNamesAndRecycleBinInAnyCase) {
  auto bin = DecodeMftRecord(RecordBuilder(40, 3)
                                 .StandardInformation(kFileTime, kFileTime, kSystem)
                                 .FileName(5, u"$Recycle.Bin", 1)
                                 .Build(),
                             false);
  ASSERT_TRUE(bin);
  EXPECT_EQ(bin->name, "回收站");
  EXPECT_EQ(bin->nodeFlags & (kFlagPresent | kFlagDirectory), kFlagDirectory);
  EXPECT_EQ(bin->created, FileTimeToPackedTime(kFileTime));

  auto systemDollar =
      RecordBuilder(41).StandardInformation(0, 0, kSystem).FileName(5, u"$Other", 1);
  EXPECT_FALSE(DecodeMftRecord(systemDollar.Build(), false));
  EXPECT_TRUE(DecodeMftRecord(systemDollar.Build(), true));
  // Without the system attribute a '$' name is an ordinary file.
  auto plain = DecodeMftRecord(
      RecordBuilder(42).StandardInformation(0, 0, 0).FileName(5, u"$RECYCLE.BIN", 1).Build(),
      false);
  ASSERT_TRUE(plain);
  EXPECT_EQ(plain->name, "$RECYCLE.BIN");
}

TEST(NtfsCraftedRecords, DataAttributeRules) {
  EXPECT_FALSE(DecodeMftRecord(RecordBuilder(40)
                                   .Resident(0x80, std::vector<std::uint8_t>(10, 1))
                                   .FileName(5, u"late-name", 1)
                                   .Build(),
                               false));

  auto big = DecodeMftRecord(RecordBuilder(40)
                                 .FileName(5, u"big", 1)
                                 .Resident(0x80, std::vector<std::uint8_t>(800, 1))
                                 .Build(),
                             false);
  ASSERT_TRUE(big);
  EXPECT_TRUE(big->nodeFlags & kFlagResident);
  EXPECT_EQ(big->size, 0u);

  auto fits = DecodeMftRecord(RecordBuilder(40)
                                  .FileName(5, u"fits", 1)
                                  .Resident(0x80, std::vector<std::uint8_t>(768, 1))
                                  .Build(),
                              false);
  ASSERT_TRUE(fits);
  EXPECT_EQ(fits->size, 768u);

  const std::vector<std::uint8_t> runs = {0x21, 0x04, 0x00, 0x01};
  auto piece = DecodeMftRecord(
      RecordBuilder(40).FileName(5, u"piece", 1).NonResident(0x80, 12, 99999, runs).Build(), false);
  ASSERT_TRUE(piece);
  EXPECT_EQ(piece->size, 0u);
  EXPECT_TRUE(piece->runList.empty());

  auto firstDataOnly = DecodeMftRecord(RecordBuilder(40)
                                           .FileName(5, u"two", 1)
                                           .NonResident(0x80, 0, 5000, runs)
                                           .Resident(0x80, std::vector<std::uint8_t>(3, 1))
                                           .Build(),
                                       false);
  ASSERT_TRUE(firstDataOnly);
  EXPECT_EQ(firstDataOnly->size, 5000u);
  EXPECT_FALSE(firstDataOnly->nodeFlags & kFlagResident);
  ASSERT_GE(firstDataOnly->runList.size(), runs.size());
  EXPECT_TRUE(std::equal(runs.begin(), runs.end(), firstDataOnly->runList.begin()));
}

TEST(NtfsCraftedRecords, IndexAllocationRunsAreCollected) {
  const std::vector<std::uint8_t> runs = {0x11, 0x01, 0x30};
  auto folder = DecodeMftRecord(
      RecordBuilder(40, 3).FileName(5, u"dir", 1).NonResident(0xA0, 0, 4096, runs).Build(), false);
  ASSERT_TRUE(folder);
  ASSERT_EQ(folder->indexRuns.size(), 1u);
  ASSERT_EQ(folder->indexRuns[0].size(), 1u);
  EXPECT_EQ(folder->indexRuns[0][0].lcnDelta, 0x30);
}

// A file spread by an attribute list: the base record keeps the first
// $DATA piece but its name moved out; extension records (base reference at
// 0x20) hold the name and the later pieces, each piece's first run placed
// from cluster 0.
TEST(NtfsCraftedRecords, SpreadFilePiecesJoinInVcnOrder) {
  RecordBuilder baseRecord(40);
  baseRecord.Resident(0x20, std::vector<std::uint8_t>(32, 0)).NonResident(0x80, 0, 9 * 4096, {0x21, 0x04, 0x00, 0x01});
  auto base = DecodeMftRecord(baseRecord.Build(), false);
  ASSERT_TRUE(base) << "a base record whose name moved out is not garbage";
  EXPECT_TRUE(base->attributeList);
  EXPECT_FALSE(base->hasName);
  EXPECT_EQ(base->size, 9u * 4096);

  RecordBuilder second(41), third(42);
  second.Put32(0x20, 40);
  third.Put32(0x20, 40);
  second.FileName(5, u"spread.bin", 1).NonResident(0x80, 4, 0, {0x21, 0x03, 0x80, 0x00});
  third.NonResident(0x80, 7, 0, {0x01, 0x01, 0x11, 0x01, 0x10});
  auto withName = DecodeMftRecord(second.Build(), false);
  auto tail = DecodeMftRecord(third.Build(), false);
  ASSERT_TRUE(withName && tail);
  EXPECT_EQ(withName->baseRecord, 40u);
  EXPECT_EQ(withName->name, "spread.bin");
  ASSERT_EQ(withName->pieces.size(), 1u);
  EXPECT_TRUE(withName->pieces[0].unnamedData);

  // Met in any order, joined by VCN: 4 clusters at 0x100, 3 at 0x80, one
  // sparse, one at 0x10.
  MftRecordSummary joined = *base;
  for (auto* e : {&*tail, &*withName})
    for (auto& p : e->pieces) joined.pieces.push_back(p);
  JoinDataPieces(joined);
  EXPECT_FALSE(joined.dataMarks & kNtfsDataDamaged);
  EXPECT_TRUE(joined.pieces.empty());
  ExtentList extents;
  ASSERT_TRUE(ResolveExtents(0, 8, DecodeRunList(ByteSpan(joined.runList.data(), joined.runList.size())), extents));
  ASSERT_EQ(extents.size(), 4u);
  EXPECT_EQ(extents[0].startSector, 0x100u * 8);
  EXPECT_EQ(extents[1].startSector, 0x80u * 8);
  EXPECT_EQ(extents[1].sectorCount, 3u * 8);
  EXPECT_TRUE(extents[2].sparse);
  EXPECT_EQ(extents[3].startSector, 0x10u * 8);

  // A piece missing between them (a torn extension record): the data is
  // damaged, never read with a hole closed up.
  MftRecordSummary gap = *base;
  for (auto& p : tail->pieces) gap.pieces.push_back(p);
  JoinDataPieces(gap);
  EXPECT_TRUE(gap.dataMarks & kNtfsDataDamaged);
}

TEST(NtfsRunList, EncodedRunsDecodeToTheSameRuns) {
  const std::vector<RunEntry> runs = {{0x12345678, 1, false}, {-0x7F, 0xFFFFFFFFu, false}, {0, 200, true},
                                      {-0x80000000ll, 128, false}, {127, 256, false}, {-1, 1, false}};
  const std::vector<std::uint8_t> bytes = EncodeRunList(runs);
  const std::vector<RunEntry> back = DecodeRunList(ByteSpan(bytes.data(), bytes.size()));
  ASSERT_EQ(back.size(), runs.size());
  for (std::size_t i = 0; i < runs.size(); ++i) {
    EXPECT_EQ(back[i].lcnDelta, runs[i].lcnDelta) << i;
    EXPECT_EQ(back[i].clusterCount, runs[i].clusterCount) << i;
    EXPECT_EQ(back[i].sparse, runs[i].sparse) << i;
  }
  EXPECT_EQ(bytes.back(), 0);
}

TEST(NtfsCraftedRecords, OutOfRecordFieldsAreNeverRead) {
  // An attribute whose length runs past the record end ends the walk.
  RecordBuilder longAttribute(40);
  longAttribute.FileName(5, u"kept", 1);
  const std::size_t at = longAttribute.position();
  longAttribute.Resident(0x80, std::vector<std::uint8_t>(8, 1));
  Record r = longAttribute.Build();
  std::uint32_t huge = 1024 - static_cast<std::uint32_t>(at) + 8;
  std::memcpy(r.data() + at + 4, &huge, 4);
  auto cut = DecodeMftRecord(r, false);
  ASSERT_TRUE(cut);
  EXPECT_EQ(cut->name, "kept");
  EXPECT_EQ(cut->size, 0u);
  EXPECT_FALSE(cut->nodeFlags & kFlagResident);

  // A name length pointing past the attribute is not taken.
  Record badName = RecordBuilder(40).FileName(5, u"ab", 1).Build();
  badName[0x38 + 0x18 + 0x40] = 200;
  auto unnamed = DecodeMftRecord(badName, false);
  ASSERT_TRUE(unnamed);
  EXPECT_FALSE(unnamed->hasName);

  // A resident value offset beyond the attribute gives size 0.
  RecordBuilder badValue(40);
  badValue.FileName(5, u"v", 1);
  const std::size_t dataAt = badValue.position();
  badValue.Resident(0x80, std::vector<std::uint8_t>(16, 1));
  Record rv = badValue.Build();
  rv[dataAt + 0x14] = 0xF0;
  auto valueOut = DecodeMftRecord(rv, false);
  ASSERT_TRUE(valueOut);
  EXPECT_EQ(valueOut->size, 0u);

  // A first-attribute offset at the very end, and a zero-length attribute.
  Record endOffset = RecordBuilder(40).Build();
  endOffset[0x14] = 0xFC;
  endOffset[0x15] = 0x03;
  EXPECT_TRUE(DecodeMftRecord(endOffset, false));
  Record zeroLength = RecordBuilder(40).FileName(5, u"z", 1).Build();
  std::memset(zeroLength.data() + 0x38 + 4, 0, 4);
  auto zero = DecodeMftRecord(zeroLength, false);
  ASSERT_TRUE(zero);
  EXPECT_FALSE(zero->hasName);
}

}  // namespace
}  // namespace ambrel
