// The scan-state file: a round trip of every payload kind, each rule that
// makes a file count as absent, the temporary-file save, and a scan that
// resumes from a save.
#include <gtest/gtest.h>
#include <zlib.h>

#include <sys/stat.h>

#include <cstring>

#include "session/texts.h"
#include "session/worded_prompt.h"
#include "deepscan/scan_session.h"
#include "deepscan/scan_state_file.h"
#include "deepscan_support.h"
#include "device/memory_device.h"
#include "platform/files.h"
#include "support/test_paths.h"

namespace ambrel {
namespace {

HitList SampleHits() {
  HitList hits;
  ScanHit boot;
  boot.kind = kHitNtfsBoot;
  boot.lba = 7;
  boot.sector = std::make_unique<SectorCopy>();
  (*boot.sector)[3] = 'N';
  hits.push_back(std::move(boot));
  ScanHit record;
  record.kind = kHitFileRecord;
  record.lba = 16384 + 2;
  FileRecordSummary named;
  named.name = u"名字.txt";
  named.runs = {0x11, 0x02, 0x30};
  named.recordNumber = 70;
  named.dataSize = 1ull << 33;
  record.record = RecordSummaryRef::Pack(named);
  hits.push_back(std::move(record));
  ScanHit noRuns;
  noRuns.kind = kHitFileRecord;
  noRuns.lba = 16384 + 4;
  FileRecordSummary ab;
  ab.name = u"ab";
  noRuns.record = RecordSummaryRef::Pack(ab);
  hits.push_back(std::move(noRuns));
  ScanHit dir;
  dir.kind = kHitFatDirectory;
  dir.lba = 16384 + 9;
  dir.aux1 = 5;
  dir.aux2 = 2;
  hits.push_back(std::move(dir));
  ScanHit jpg;
  jpg.kind = 46;
  jpg.status = kStatusSized;
  jpg.lba = 2 * 16384;
  jpg.aux1 = 1234;
  hits.push_back(std::move(jpg));
  ScanHit set;
  set.kind = kHitExfatDirectory;
  set.lba = 2 * 16384 + 1;
  hits.push_back(std::move(set));
  return hits;
}

std::vector<std::uint8_t> Encode(const HitList& hits, std::vector<std::uint8_t> map = {2, 0, 2, 1}) {
  return EncodeScanState(u"/dev/sdz", map, 3 * 16384, 0, 3 * 16384,
                         [&](const std::function<void(const ScanHit&)>& fn) {
                           for (const ScanHit& h : hits) fn(h);
                         });
}

std::uint32_t Crc(const std::uint8_t* p, std::size_t n) {
  return static_cast<std::uint32_t>(crc32(0, p, static_cast<uInt>(n)));
}

std::uint32_t GetU32(const std::vector<std::uint8_t>& b, std::size_t at) {
  std::uint32_t v;
  std::memcpy(&v, b.data() + at, 4);
  return v;
}

// Where the hit count lies: after the magic, the name, the map and the three
// u64 of the header.
std::size_t CountOffset(const std::vector<std::uint8_t>& b) {
  const std::size_t mapAt = 8 + GetU32(b, 4) + 4;
  return mapAt + GetU32(b, mapAt - 4) + 24;
}

// Puts right every checksum of a file a test changed on purpose, so that
// the other rules of the reader are reached: each block's, then the whole
// file's.
std::vector<std::uint8_t> Reseal(std::vector<std::uint8_t> b) {
  std::size_t at = CountOffset(b) + 4;
  while (at + 8 + 4 <= b.size() - 4) {
    const std::size_t bytes = GetU32(b, at + 4);
    if (at + 8 + bytes + 4 > b.size() - 4) break;
    test::PutU32(b, at + 8 + bytes, Crc(b.data() + at, 8 + bytes));
    at += 12 + bytes;
  }
  test::PutU32(b, b.size() - 4, Crc(b.data(), b.size() - 4));
  return b;
}

// The same scan in the version before checksums: "QVD4", the records in a
// row after the count, no blocks and no trailer.
std::vector<std::uint8_t> AsUncheckedVersion(const std::vector<std::uint8_t>& b) {
  const std::size_t countAt = CountOffset(b);
  std::vector<std::uint8_t> old(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(countAt + 4));
  old[3] = '4';
  std::size_t at = countAt + 4;
  while (at + 12 <= b.size() - 4) {
    const std::size_t bytes = GetU32(b, at + 4);
    old.insert(old.end(), b.begin() + static_cast<std::ptrdiff_t>(at + 8),
               b.begin() + static_cast<std::ptrdiff_t>(at + 8 + bytes));
    at += 12 + bytes;
  }
  return old;
}

TEST(ScanStateFile, RoundTripOfEveryPayload) {
  const HitList hits = SampleHits();
  auto bytes = Encode(hits);
  EXPECT_TRUE(NamesDisk(bytes, u"/dev/sdz"));
  EXPECT_FALSE(NamesDisk(bytes, u"/dev/sdy"));
  auto saved = DecodeScanState(bytes, 4);
  ASSERT_TRUE(saved);
  EXPECT_EQ(saved->chunkMap, (std::vector<std::uint8_t>{2, 0, 2, 0}));  // 1 saved as 0
  ASSERT_EQ(saved->hits.size(), hits.size());
  for (std::size_t i = 0; i < hits.size(); ++i) {
    EXPECT_EQ(saved->hits[i].kind, hits[i].kind);
    EXPECT_EQ(saved->hits[i].lba, hits[i].lba);
    EXPECT_EQ(saved->hits[i].aux1, hits[i].aux1);
    EXPECT_EQ(saved->hits[i].aux2, hits[i].aux2);
    EXPECT_EQ(saved->hits[i].status, hits[i].status);
    if (hits[i].record) {
      EXPECT_EQ(*saved->hits[i].record, *hits[i].record);
    }
    if (hits[i].sector) {
      EXPECT_EQ(*saved->hits[i].sector, *hits[i].sector);
    }
  }
}

// Saving and loading report every record, so the progress views can show
// "n / total"; a load told to stop leaves nothing half loaded.
TEST(ScanStateFile, RecordsAreCountedBothWaysAndALoadCanBeAbandoned) {
  const HitList hits = SampleHits();
  std::vector<std::uint32_t> written;
  const auto bytes = EncodeScanState(u"/dev/sdz", {2, 0, 2, 1}, 0, 0, 3 * 16384,
                                     [&](const std::function<void(const ScanHit&)>& fn) {
                                       for (const ScanHit& h : hits) fn(h);
                                     },
                                     [&](std::uint32_t n) { written.push_back(n); });
  ASSERT_EQ(written.size(), hits.size());
  EXPECT_EQ(written.back(), hits.size());
  std::vector<std::pair<std::uint32_t, std::uint32_t>> read;
  EXPECT_TRUE(DecodeScanState(bytes, 4, [&](std::uint32_t n, std::uint32_t total) {
    read.emplace_back(n, total);
    return true;
  }));
  ASSERT_EQ(read.size(), hits.size());
  EXPECT_EQ(read.back(), std::make_pair(std::uint32_t(hits.size()), std::uint32_t(hits.size())));
  EXPECT_FALSE(DecodeScanState(bytes, 4, [](std::uint32_t n, std::uint32_t) { return n < 2; }));
}

// The summaries a scan keeps packed are written in the file's own layout
// (37-byte head, UTF-16 name, run list) and read back the same, many to a
// file, in both versions of it.
TEST(ScanStateFile, PackedRecordSummariesKeepTheFileLayout) {
  FileRecordSummary s;
  s.parentRecord = 0x01020304;
  s.recordNumber = 0xA0B0C0D0;
  s.name = u"\u540da";
  s.runs = {0x11, 0x22};
  s.dataSize = 0x1122334455667788ull;
  s.allocatedSize = ~0ull;
  s.flags = kSummaryInUse | kSummaryDirectory;
  HitList one;
  ScanHit h;
  h.kind = kHitFileRecord;
  h.lba = 5;
  h.record = RecordSummaryRef::Pack(s);
  one.push_back(std::move(h));
  const auto bytes = Encode(one);
  // The record: kind, LBA and status, then the summary.
  const std::size_t at = CountOffset(bytes) + 4 + 8 + 10;
  const std::vector<std::uint8_t> want = {
      0x04, 0x03, 0x02, 0x01, 0xD0, 0xC0, 0xB0, 0xA0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 2, 0,
      0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
      0x03, 0x0D, 0x54, 0x61, 0x00, 0x11, 0x22};
  ASSERT_GE(bytes.size(), at + want.size());
  EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                                      bytes.begin() + static_cast<std::ptrdiff_t>(at + want.size())),
            want);

  HitList many;
  std::vector<FileRecordSummary> put;
  for (std::uint32_t i = 0; i < 3000; ++i) {
    FileRecordSummary r;
    r.recordNumber = i;
    r.parentRecord = 5 + i / 40;
    r.name = std::u16string(1 + i % 200, static_cast<char16_t>(i % 3 == 0 ? 0x4e00 + i : u'a' + i % 26));
    r.runs.assign(i % 40, static_cast<std::uint8_t>(i));
    r.dataSize = std::uint64_t(i) << 30;
    r.flags = static_cast<std::uint8_t>(i & 0x0F);
    put.push_back(r);
    ScanHit hit;
    hit.kind = kHitFileRecord;
    hit.lba = i * 2 % (3 * 16384);
    hit.record = RecordSummaryRef::Pack(r);
    many.push_back(std::move(hit));
  }
  const auto file = Encode(many);
  for (const auto& version : {file, AsUncheckedVersion(file)}) {
    auto saved = DecodeScanState(version, 4);
    ASSERT_TRUE(saved);
    ASSERT_EQ(saved->hits.size(), put.size());
    for (std::size_t i = 0; i < put.size(); ++i) {
      ASSERT_TRUE(saved->hits[i].record) << i;
      ASSERT_EQ(saved->hits[i].record->Unpack(), put[i]) << i;
    }
  }
}

// A resumed scan must rebuild a 4 KiB-record volume with 4 KiB records: the
// record's size comes back with its summary; a file that never stored it
// (zero there) gives the usual 1024 bytes.
TEST(ScanStateFile, FileRecordHitsKeepTheirRecordSize) {
  HitList hits;
  for (const std::uint32_t sectors : {8u, 2u, 1u, 0u, 3u}) {
    ScanHit h;
    h.kind = kHitFileRecord;
    h.lba = hits.size() * 16;
    h.aux2 = sectors;
    FileRecordSummary s;
    s.name = u"r";
    h.record = RecordSummaryRef::Pack(s);
    hits.push_back(std::move(h));
  }
  const auto file = Encode(hits);
  for (const auto& version : {file, AsUncheckedVersion(file)}) {
    auto saved = DecodeScanState(version, 4);
    ASSERT_TRUE(saved);
    ASSERT_EQ(saved->hits.size(), 5u);
    EXPECT_EQ(RecordSectorsOf(saved->hits[0]), 8u);
    EXPECT_EQ(RecordSectorsOf(saved->hits[1]), 2u);
    EXPECT_EQ(RecordSectorsOf(saved->hits[2]), 1u);
    EXPECT_EQ(RecordSectorsOf(saved->hits[3]), 2u);  // not stored: the usual size
    EXPECT_EQ(RecordSectorsOf(saved->hits[4]), 2u);  // not a power of two
  }
}

TEST(ScanStateFile, RecordWithoutRunsTakesTenPlus37PlusName) {
  HitList one;
  ScanHit h;
  h.kind = kHitFileRecord;
  FileRecordSummary abc;
  abc.name = u"abc";
  h.record = RecordSummaryRef::Pack(abc);
  one.push_back(std::move(h));
  const auto empty = Encode({}), with = Encode(one);
  // The record, and its block's record count, byte count and checksum.
  EXPECT_EQ(with.size() - empty.size(), 10u + 37u + 6u + 12u);
}

TEST(ScanStateFile, RejectionRules) {
  const auto good = Encode(SampleHits());
  ASSERT_TRUE(DecodeScanState(good, 4));
  EXPECT_FALSE(DecodeScanState(good, 5));  // another chunk count
  auto bad = good;
  bad[0] = 'X';
  EXPECT_FALSE(DecodeScanState(bad, 4));
  bad = good;
  bad[4] = 9;  // odd name length
  EXPECT_FALSE(DecodeScanState(Reseal(bad), 4));
  bad = good;
  test::PutU32(bad, 4, 512);  // longer than 510
  EXPECT_FALSE(DecodeScanState(Reseal(bad), 4));
  const std::size_t mapAt = 8 + 16 + 4;
  bad = good;
  bad[mapAt] = 7;  // a map byte other than 0 or 2
  EXPECT_FALSE(DecodeScanState(Reseal(bad), 4));
  const std::size_t countAt = mapAt + 4 + 24;
  ASSERT_EQ(countAt, CountOffset(good));
  bad = good;
  test::PutU32(bad, countAt, 0xFFFFFFFF);  // more hits than bytes
  EXPECT_FALSE(DecodeScanState(Reseal(bad), 4));
  const std::size_t firstRecord = countAt + 4 + 8;
  bad = good;
  bad[firstRecord] = 180;  // an unknown kind
  EXPECT_FALSE(DecodeScanState(Reseal(bad), 4));
  bad = good;
  test::PutU64(bad, firstRecord + 1, 9 * 16384);  // a hit in a chunk beyond the map
  EXPECT_FALSE(DecodeScanState(Reseal(bad), 4));
  bad = good;
  test::PutU32(bad, countAt + 4, 0);  // a block of no records
  EXPECT_FALSE(DecodeScanState(Reseal(bad), 4));
  bad = good;
  test::PutU32(bad, countAt + 8, GetU32(good, countAt + 8) - 1);  // a block shorter than its records
  EXPECT_FALSE(DecodeScanState(Reseal(bad), 4));
  for (std::size_t cut = 0; cut < good.size(); cut += 7)
    EXPECT_FALSE(DecodeScanState(ByteSpan(good.data(), cut), 4)) << cut;
}

// Four changed bytes used to be reused silently (84 carved files instead of
// 91). Every change of one byte, or of four in a row, anywhere in the file
// now fails a checksum and the file is refused whole.
TEST(ScanStateFile, AnyChangedByteIsCaughtByAChecksum) {
  const auto good = Encode(SampleHits());
  EXPECT_EQ(CheckScanStateFile(good), ScanStateFault::kNone);
  for (std::size_t at = 4; at < good.size(); ++at) {
    auto bad = good;
    bad[at] ^= 0x01;
    ScanStateFault fault = ScanStateFault::kNone;
    EXPECT_FALSE(DecodeScanState(bad, 4, nullptr, &fault)) << at;
    EXPECT_EQ(fault, ScanStateFault::kChecksum) << at;
    EXPECT_NE(CheckScanStateFile(bad), ScanStateFault::kNone) << at;
  }
  for (std::size_t at = 4; at + 4 <= good.size(); at += 3) {
    auto bad = good;
    for (std::size_t i = 0; i < 4; ++i) bad[at + i] = static_cast<std::uint8_t>(bad[at + i] + 0x21);
    EXPECT_FALSE(DecodeScanState(bad, 4)) << at;
  }
  // A block whose own checksum fails is caught even when the whole-file
  // checksum was made to match.
  auto block = good;
  const std::size_t firstRecord = CountOffset(good) + 4 + 8;
  block[firstRecord + 1] ^= 0x40;  // the LBA of the first hit
  test::PutU32(block, block.size() - 4, Crc(block.data(), block.size() - 4));
  ScanStateFault fault = ScanStateFault::kNone;
  EXPECT_FALSE(DecodeScanState(block, 4, nullptr, &fault));
  EXPECT_EQ(fault, ScanStateFault::kChecksum);
}

// More hits than one block holds are written in several blocks, each read
// back and checked.
TEST(ScanStateFile, ManyHitsSpanSeveralBlocks) {
  HitList hits;
  for (std::uint32_t i = 0; i < 2 * kScanStateBlockHits + 5; ++i) {
    ScanHit h;
    h.kind = kHitFatDirectory;
    h.lba = i;
    h.aux1 = i;
    hits.push_back(std::move(h));
  }
  const auto bytes = Encode(hits);
  auto saved = DecodeScanState(bytes, 4);
  ASSERT_TRUE(saved);
  ASSERT_EQ(saved->hits.size(), hits.size());
  EXPECT_EQ(saved->hits.back().aux1, 2 * kScanStateBlockHits + 4);
  EXPECT_EQ(saved->format, ScanStateFormat::kChecked);
  auto bad = bytes;
  bad[bytes.size() / 2] ^= 0x80;  // inside the second block
  EXPECT_FALSE(DecodeScanState(bad, 4));
}

// A file of the version without checksums is still read, and says so.
TEST(ScanStateFile, TheVersionWithoutChecksumsIsStillRead) {
  const HitList hits = SampleHits();
  const auto old = AsUncheckedVersion(Encode(hits));
  ASSERT_EQ(old[3], '4');
  EXPECT_TRUE(NamesDisk(old, u"/dev/sdz"));
  EXPECT_EQ(CheckScanStateFile(old), ScanStateFault::kNone);
  auto saved = DecodeScanState(old, 4);
  ASSERT_TRUE(saved);
  EXPECT_EQ(saved->format, ScanStateFormat::kUnchecked);
  ASSERT_EQ(saved->hits.size(), hits.size());
  for (std::size_t i = 0; i < hits.size(); ++i) EXPECT_EQ(saved->hits[i].lba, hits[i].lba);
}

// A FIFO named like the state file is refused at once: the open never
// waits for a writer (it used to block the scan, deaf to SIGTERM).
TEST(ScanStateFile, OnlyARegularFileIsRead) {
  const std::string folder = test::TempDir("scan_state_fifo");
  const std::string fifo = folder + "/DiskScanData.dat";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::vector<std::uint8_t> bytes;
  EXPECT_EQ(ReadRegularFile(fifo, bytes), WholeFileRead::kNotRegular);
  EXPECT_FALSE(ReadWholeFile(fifo, bytes));
  EXPECT_FALSE(WriteWholeFile(fifo, "x", 1));  // nor opened for writing
  EXPECT_EQ(ReadRegularFile(folder, bytes), WholeFileRead::kNotRegular);
  EXPECT_EQ(ReadRegularFile(folder + "/none", bytes), WholeFileRead::kMissing);
  // The save replaces it with a regular file.
  ASSERT_TRUE(WriteScanStateFile(fifo, Encode(SampleHits())));
  EXPECT_EQ(ReadRegularFile(fifo, bytes), WholeFileRead::kRead);
  EXPECT_TRUE(DecodeScanState(bytes, 4));
}

TEST(ScanStateFile, FailedWriteKeepsThePreviousSave) {
  const std::string folder = test::TempDir("scan_state");
  const std::string path = folder + "/DiskScanData.dat";
  const auto first = Encode(SampleHits());
  ASSERT_TRUE(WriteScanStateFile(path, first));
  // The temporary name is taken by a folder: the write fails.
  ASSERT_TRUE(EnsureFolder(path + ".tmp"));
  EXPECT_FALSE(WriteScanStateFile(path, Encode({})));
  std::vector<std::uint8_t> now;
  ASSERT_TRUE(ReadWholeFile(path, now));
  EXPECT_EQ(now, first);
}

struct YesPrompt final : WordedPrompt {
  std::vector<std::string> messages;
  void ShowMessage(const std::string& t) override { messages.push_back(t); }
  bool AskYesNo(const std::string&) override { return true; }
};

TEST(ScanStateFile, ScanResumesFromASaveAndReadsNothingWhenAllDone) {
  const std::string folder = test::TempDir("scan_resume");
  const std::uint64_t sectors = 2 * kChunkSectors;
  test::Bytes image(sectors * 512, 0);
  test::Bytes ntfs = test::MakeNtfsBoot(20000);
  std::memcpy(image.data() + 5 * 512, ntfs.data(), 512);
  auto device = std::make_shared<MemoryDevice>(image);
  YesPrompt prompt;
  ScanEnvironment env;
  env.prompt = &prompt;
  env.open = [&](const PartitionInfo&, DiskHandle& h) {
    h = HandleForDevice(device, "m");
    return true;
  };
  env.pollMs = 1;
  env.organiseDelayMs = 0;
  env.stateFilePath = folder + "/DiskScanData.dat";
  auto card = [&] {
    PartitionInfo p;
    p.sectorCount = p.diskSectorCount = sectors;
    p.diskPath = "/images/card.img";
    return p;
  };
  const PartitionInfo p = card();
  {
    ScanSession first(card(), RecoveryMode::kAllFiles, DefaultScanSettings(p, ModeFromNumber(1)), env);
    ASSERT_TRUE(first.Start());
    first.Join();
    ASSERT_TRUE(first.SaveScan());
  }
  ScanSession second(card(), RecoveryMode::kAllFiles, DefaultScanSettings(p, ModeFromNumber(1)), env);
  ASSERT_TRUE(second.Start());
  second.Join();
  EXPECT_EQ(second.ReadsCounted(), 0u);
  EXPECT_TRUE(second.Completed());
  EXPECT_EQ(second.Progress().u.scan.kinds[1], 1u);  // rebuilt from the loaded hit
  int hits = 0;
  second.ForEachHit([&](const ScanHit& h) { hits += h.kind == kHitNtfsBoot; });
  EXPECT_EQ(hits, 1);
}

// Four changed bytes in a saved scan: the scan says the save is damaged
// and reads the whole device afresh, instead of reusing what it holds. A
// FIFO of that name is passed over with a message, never waited on.
TEST(ScanStateFile, ADamagedSaveIsRefusedAndTheScanStartsAfresh) {
  const std::string folder = test::TempDir("scan_damaged");
  const std::uint64_t sectors = 2 * kChunkSectors;
  test::Bytes image(sectors * 512, 0);
  test::Bytes ntfs = test::MakeNtfsBoot(20000);
  std::memcpy(image.data() + 5 * 512, ntfs.data(), 512);
  auto device = std::make_shared<MemoryDevice>(image);
  YesPrompt prompt;
  ScanEnvironment env;
  env.prompt = &prompt;
  env.open = [&](const PartitionInfo&, DiskHandle& h) {
    h = HandleForDevice(device, "m");
    return true;
  };
  env.pollMs = 1;
  env.organiseDelayMs = 0;
  env.stateFilePath = folder + "/DiskScanData.dat";
  auto card = [&] {
    PartitionInfo p;
    p.sectorCount = p.diskSectorCount = sectors;
    p.diskPath = "/images/card.img";
    return p;
  };
  const PartitionInfo p = card();
  {
    ScanSession first(card(), RecoveryMode::kAllFiles, DefaultScanSettings(p, ModeFromNumber(1)), env);
    ASSERT_TRUE(first.Start());
    first.Join();
    ASSERT_TRUE(first.SaveScan());
  }
  std::vector<std::uint8_t> saved;
  ASSERT_TRUE(ReadWholeFile(env.stateFilePath, saved));
  // The LBA of the boot-sector hit, whose chunk stays inside the map.
  const std::size_t lbaAt = CountOffset(saved) + 4 + 8 + 1;
  saved[lbaAt] = 6;
  saved[lbaAt + 1] = 1;
  saved[lbaAt + 2] = 0;
  saved[lbaAt + 3] = 0;
  ASSERT_TRUE(WriteWholeFile(env.stateFilePath, saved.data(), saved.size()));
  {
    ScanSession second(card(), RecoveryMode::kAllFiles, DefaultScanSettings(p, ModeFromNumber(1)), env);
    ASSERT_TRUE(second.Start());
    second.Join();
    EXPECT_GT(second.ReadsCounted(), 0u);  // read afresh
    std::vector<std::uint64_t> lbas;
    second.ForEachHit([&](const ScanHit& h) {
      if (h.kind == kHitNtfsBoot) lbas.push_back(h.lba);
    });
    EXPECT_EQ(lbas, std::vector<std::uint64_t>{5});
  }
  ASSERT_FALSE(prompt.messages.empty());
  EXPECT_EQ(prompt.messages.back(), PromptText({PromptId::kScanStateDamaged}));

  ASSERT_TRUE(RemoveFile(env.stateFilePath));
  ASSERT_EQ(::mkfifo(env.stateFilePath.c_str(), 0600), 0);
  prompt.messages.clear();
  {
    ScanSession third(card(), RecoveryMode::kAllFiles, DefaultScanSettings(p, ModeFromNumber(1)), env);
    ASSERT_TRUE(third.Start());
    third.Join();
    EXPECT_TRUE(third.Completed());
    EXPECT_GT(third.ReadsCounted(), 0u);
  }
  ASSERT_FALSE(prompt.messages.empty());
  EXPECT_EQ(prompt.messages.front(), PromptText({PromptId::kScanStateNotAFile, env.stateFilePath}));
}

struct CountingPrompt final : WordedPrompt {
  std::atomic<int> questions{0};
  void ShowMessage(const std::string&) override {}
  bool AskYesNo(const std::string& text) override {
    if (text == "是否保存当前已扫描的数据？") ++questions;
    return true;
  }
};

// The save offer comes only after 120 s of scanning: the clock reads the
// start on its first call and `seconds` later on every other.
int SaveQuestions(std::int64_t seconds, const std::string& folder) {
  auto device = std::make_shared<MemoryDevice>(test::Bytes(kChunkSectors * 512ull, 0));
  CountingPrompt prompt;
  auto calls = std::make_shared<std::atomic<int>>(0);
  ScanEnvironment env;
  env.prompt = &prompt;
  env.open = [&](const PartitionInfo&, DiskHandle& h) {
    h = HandleForDevice(device, "m");
    return true;
  };
  env.clock = [calls, seconds] { return std::int64_t{5000} + (calls->fetch_add(1) == 0 ? 0 : seconds); };
  env.pollMs = 1;
  env.organiseDelayMs = 0;
  env.stateFilePath = folder + "/DiskScanData.dat";
  PartitionInfo p;
  p.sectorCount = p.diskSectorCount = kChunkSectors;
  p.diskPath = "/images/offer.img";
  const DeepScanSettings settings = DefaultScanSettings(p, ModeFromNumber(1));
  ScanSession scan(std::move(p), RecoveryMode::kAllFiles, settings, env);
  scan.Start();
  scan.Join();
  return prompt.questions.load();
}

TEST(ScanStateFile, SaveOfferOnlyAfterTwoMinutes) {
  const std::string folder = test::TempDir("scan_offer");
  EXPECT_EQ(SaveQuestions(119, folder), 0);
  EXPECT_FALSE(FileExists(folder + "/DiskScanData.dat"));
  EXPECT_EQ(SaveQuestions(120, folder), 1);
  EXPECT_TRUE(FileExists(folder + "/DiskScanData.dat"));
}

}  // namespace
}  // namespace ambrel
