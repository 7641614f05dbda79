#include "deepscan/record_summary_arena.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "deepscan/scan_hit.h"

namespace ambrel {
namespace {

FileRecordSummary Summary(std::uint32_t number, std::u16string name, std::vector<std::uint8_t> runs = {}) {
  FileRecordSummary s;
  s.recordNumber = number;
  s.parentRecord = number / 7 + 5;
  s.name = std::move(name);
  s.runs = std::move(runs);
  s.dataSize = std::uint64_t(number) * 4099;
  s.allocatedSize = (s.dataSize + 4095) & ~4095ull;
  s.flags = static_cast<std::uint8_t>(number & 0x0F);
  return s;
}

TEST(RecordSummaryArena, EveryFieldComesBackAsPacked) {
  FileRecordSummary wide = Summary(0xFFFFFFFFu, u"报告\u00e9\xd800x\x0100", {0x11, 0x02, 0x30});
  wide.parentRecord = 0xFFFFFFFFu;
  wide.dataSize = ~0ull;
  wide.allocatedSize = 1ull << 63;
  const std::vector<FileRecordSummary> cases = {
      wide,
      Summary(0, u"$MFT", {0x31, 0x40, 0x00, 0x00, 0x0C}),
      Summary(1, u"caf\u00e9\u00ff.txt"),      // every unit below 0x100: one byte each
      Summary(2, std::u16string(255, u'\u4e2d')),  // the longest NTFS name, two bytes each
      Summary(3, std::u16string(1, u'\u2400'), std::vector<std::uint8_t>(1023, 0x11)),
  };
  RecordSummaryArena arena;
  std::vector<RecordSummaryRef> refs;
  for (const FileRecordSummary& s : cases) refs.push_back(arena.Add(s));
  for (std::size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(i);
    ASSERT_TRUE(refs[i]);
    EXPECT_EQ((*refs[i]).Unpack(), cases[i]);
    EXPECT_TRUE(refs[i]->name == cases[i].name);
    EXPECT_EQ(RecordSummaryRef::Pack(cases[i])->Unpack(), cases[i]);
  }
  // Narrow names take one byte a unit, wide ones two.
  EXPECT_EQ(RecordSummaryRef::Pack(Summary(1, u"caf\u4e2d\u00ff.txt")).PackedBytes(), refs[2].PackedBytes() + 9);
  EXPECT_FALSE(RecordSummaryRef());
  EXPECT_FALSE(RecordSummaryRef(nullptr));
}

TEST(RecordSummaryArena, BlocksFollowTheNumberOfHits) {
  {
    RecordSummaryArena none;
    EXPECT_EQ(none.BlocksMade(), 0u);
    EXPECT_EQ(none.BytesReserved(), 0u);
  }
  RecordSummaryArena one;
  RecordSummaryRef ref = one.Add(Summary(9, u"one.txt", {0x11, 0x01, 0x05}));
  EXPECT_EQ(one.BlocksMade(), 1u);
  EXPECT_EQ(one.BytesReserved(), RecordSummaryArena::kFirstBlockBytes);

  // A chunk's worth of records: blocks grow to the largest size and the
  // space reserved stays within one block of what the entries take.
  RecordSummaryArena many;
  std::vector<RecordSummaryRef> refs;
  std::size_t packed = 0;
  for (std::uint32_t i = 0; i < 8192; ++i) {
    refs.push_back(many.Add(Summary(i, std::u16string(6 + i % 25, static_cast<char16_t>(u'a' + i % 26)),
                                    std::vector<std::uint8_t>(4 + i % 8, 0x21))));
    packed += refs.back().PackedBytes();
  }
  EXPECT_GT(many.BlocksMade(), 4u);
  EXPECT_LT(many.BytesReserved(), packed + 2 * RecordSummaryArena::kBlockBytes);
  for (std::uint32_t i = 0; i < 8192; i += 97) {
    SCOPED_TRACE(i);
    EXPECT_EQ(refs[i]->recordNumber, i);
    EXPECT_EQ(refs[i]->name.size(), 6u + i % 25);
    EXPECT_EQ(refs[i]->runs.size(), 4u + i % 8);
  }
}

TEST(RecordSummaryArena, EntryThatDoesNotFitStartsTheNextBlockWhole) {
  RecordSummaryArena arena(RecordSummaryArena::kBlockBytes);
  std::vector<RecordSummaryRef> refs;
  std::vector<FileRecordSummary> put;
  // Fill the first block to within a few bytes of its end, then add names
  // that would straddle it.
  for (std::uint32_t i = 0; arena.BlocksMade() < 3; ++i) {
    put.push_back(Summary(i, std::u16string(100 + i % 155, static_cast<char16_t>(0x4e00 + i)),
                          std::vector<std::uint8_t>(i % 300, static_cast<std::uint8_t>(i))));
    refs.push_back(arena.Add(put.back()));
  }
  for (std::size_t i = 0; i < put.size(); ++i) ASSERT_EQ(refs[i]->Unpack(), put[i]) << i;

  // Larger than a block: a block of its own, and the block being filled
  // goes on taking the small entries.
  const std::size_t blocks = arena.BlocksMade();
  FileRecordSummary huge = Summary(77, std::u16string(40000, u'\u4e2d'), std::vector<std::uint8_t>(1000, 0x11));
  RecordSummaryRef big = arena.Add(huge);
  EXPECT_EQ(arena.BlocksMade(), blocks + 1);
  RecordSummaryRef small = arena.Add(Summary(78, u"x"));
  EXPECT_EQ(arena.BlocksMade(), blocks + 1);
  EXPECT_EQ(big->Unpack(), huge);
  EXPECT_EQ(small->name.ToU16(), u"x");
}

TEST(RecordSummaryArena, SummariesOutliveTheirArenaAndMoveWithTheirHits) {
  HitList kept;
  {
    RecordSummaryArena arena;
    HitList chunk;
    for (std::uint32_t i = 0; i < 300; ++i) {
      ScanHit hit;
      hit.kind = kHitFileRecord;
      hit.lba = 2 * i;
      hit.record = arena.Add(Summary(i, u"file" + std::u16string(1, static_cast<char16_t>(u'0' + i % 10))));
      chunk.push_back(std::move(hit));
    }
    // Half the hits go elsewhere, the rest die with the chunk.
    for (std::size_t i = 0; i < chunk.size(); i += 2) kept.push_back(std::move(chunk[i]));
  }
  ASSERT_EQ(kept.size(), 150u);
  for (std::size_t i = 0; i < kept.size(); ++i) {
    EXPECT_EQ(kept[i].record->recordNumber, 2 * i);
    EXPECT_EQ(std::u16string(kept[i].record->name), u"file" + std::u16string(1, static_cast<char16_t>(u'0' + (2 * i) % 10)));
  }
  RecordSummaryRef moved = std::move(kept[3].record);
  EXPECT_FALSE(kept[3].record);
  kept[4].record = std::move(moved);
  EXPECT_EQ(kept[4].record->recordNumber, 6u);
}

}  // namespace
}  // namespace ambrel
