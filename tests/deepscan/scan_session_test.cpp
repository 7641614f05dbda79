// The deep-scan driver over memory devices: structures planted across
// chunk boundaries, a real image, pause / resume / stop from another
// thread, the read-error summary on a faulty device, the end-of-scan
// notices.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <cstring>
#include <mutex>
#include <thread>

#include "session/worded_prompt.h"
#include "deepscan/scan_session.h"
#include "deepscan/scan_state_file.h"
#include "session/texts.h"
#include "deepscan_support.h"
#include "device/faulty_device.h"
#include "device/memory_device.h"
#include "support/test_paths.h"

namespace ambrel {
namespace {

struct RecordingListener final : NoticeListener {
  std::mutex lock;
  std::vector<std::uint32_t> notices;
  void OnNotice(std::uint32_t message, std::uint64_t, std::uint64_t) override {
    std::lock_guard<std::mutex> guard(lock);
    notices.push_back(message);
  }
};

struct RecordingPrompt final : WordedPrompt {
  std::mutex lock;
  std::vector<std::string> messages;
  void ShowMessage(const std::string& text) override {
    std::lock_guard<std::mutex> guard(lock);
    messages.push_back(text);
  }
  bool answer = false;
  bool AskYesNo(const std::string&) override { return answer; }
};

struct Harness {
  std::shared_ptr<BlockDevice> device;
  RecordingListener listener;
  RecordingPrompt prompt;
  std::int64_t fakeNow = 1000;
  std::mutex clockLock;

  ScanEnvironment Environment(bool fakeClock = false) {
    ScanEnvironment env;
    env.listener = &listener;
    env.prompt = &prompt;
    env.open = [this](const PartitionInfo&, DiskHandle& h) {
      h = HandleForDevice(device, "test");
      return true;
    };
    if (fakeClock)
      env.clock = [this] {
        std::lock_guard<std::mutex> guard(clockLock);
        return fakeNow;
      };
    env.pollMs = 2;
    env.pauseMs = 5;
    env.organiseDelayMs = 0;
    return env;
  }
};

PartitionInfo WholeDevice(std::uint64_t sectors) {
  PartitionInfo p;
  p.startLba = 0;
  p.sectorCount = p.diskSectorCount = sectors;
  p.diskPath = "memory";
  return p;
}

std::map<std::uint64_t, std::uint8_t> HitKinds(const ScanSession& s) {
  std::map<std::uint64_t, std::uint8_t> out;
  s.ForEachHit([&](const ScanHit& h) { out[h.lba] = h.kind; });
  return out;
}

TEST(ScanSession, StructuresAcrossChunkBoundaries) {
  const std::uint64_t sectors = 3 * kChunkSectors + 100;  // a clipped last chunk
  test::Bytes image(sectors * 512, 0);
  // A FILE record in the last sector of chunk 0, completed from chunk 1.
  test::Bytes record = test::MakeFileRecord(77, 5, u"boundary.txt", 1, {0x11, 0x01, 0x10, 0x00}, 10);
  std::memcpy(image.data() + (kChunkSectors - 1) * 512ull, record.data(), 1024);
  // Boot sectors in the middle chunk and in the clipped tail.
  test::Bytes ntfs = test::MakeNtfsBoot(20000);
  std::memcpy(image.data() + (kChunkSectors + 3) * 512ull, ntfs.data(), 512);
  test::Bytes fat = test::MakeFat32Boot(1 << 20);
  std::memcpy(image.data() + (3 * kChunkSectors + 50) * 512ull, fat.data(), 512);
  Harness h;
  h.device = std::make_shared<MemoryDevice>(image);
  ScanSession scan(WholeDevice(sectors), RecoveryMode::kAllFiles, DefaultScanSettings(WholeDevice(sectors), ModeFromNumber(1)),
                   h.Environment());
  ASSERT_TRUE(scan.Start());
  scan.Join();
  EXPECT_EQ(scan.State(), ScanState::kFinished);
  EXPECT_TRUE(scan.Completed());
  auto kinds = HitKinds(scan);
  EXPECT_EQ(kinds[kChunkSectors - 1], kHitFileRecord);
  EXPECT_EQ(kinds[kChunkSectors + 3], kHitNtfsBoot);
  EXPECT_EQ(kinds[3 * kChunkSectors + 50], kHitFat32Boot);
  std::u16string name;
  scan.ForEachHit([&](const ScanHit& hit) {
    if (hit.record) name = hit.record->name;
  });
  EXPECT_EQ(name, u"boundary.txt");
  const ScanProgress p = scan.Progress();
  EXPECT_EQ(p.stage, kStageDeepScan);
  EXPECT_EQ(p.u.scan.kinds[1], 1u);  // NTFS boot
  EXPECT_EQ(p.u.scan.kinds[2], 1u);  // FAT boot
  EXPECT_EQ(p.u.scan.kinds[4], 1u);  // FILE
  // Done counts the area's sectors: the clipped tail chunk is not a whole one.
  EXPECT_EQ(p.u.scan.doneSectors, sectors);
  EXPECT_EQ(p.u.scan.totalSectors, sectors);
  for (std::uint64_t c = 0; c < 4; ++c) EXPECT_EQ(scan.ChunkStateOf(c), ChunkState::kAnalysed);
  std::lock_guard<std::mutex> guard(h.listener.lock);
  EXPECT_EQ(h.listener.notices, (std::vector<std::uint32_t>{kNoticeOrganiseBegin, kNoticeOrganiseEnd}));
}

TEST(ScanSession, TwoScansInARowShareNothing) {
  test::Bytes image(2 * kChunkSectors * 512ull, 0);
  test::Bytes ntfs = test::MakeNtfsBoot(20000);
  std::memcpy(image.data() + 7 * 512, ntfs.data(), 512);
  Harness h;
  h.device = std::make_shared<MemoryDevice>(image);
  for (int round = 0; round < 2; ++round) {
    PartitionInfo p = WholeDevice(2 * kChunkSectors);
    ScanSession scan(WholeDevice(2 * kChunkSectors), RecoveryMode::kAllFiles, DefaultScanSettings(p, ModeFromNumber(1)),
                     h.Environment());
    ASSERT_TRUE(scan.Start());
    scan.Join();
    EXPECT_EQ(scan.Progress().u.scan.kinds[1], 1u) << round;
    EXPECT_EQ(HitKinds(scan).size(), 1u);
  }
}

TEST(ScanSession, PriorityRangeIsReadFirstAndOnce) {
  Harness h;
  h.device = std::make_shared<MemoryDevice>(test::Bytes(4 * kChunkSectors * 512ull, 0));
  PartitionInfo p = WholeDevice(4 * kChunkSectors);
  DeepScanSettings settings = DefaultScanSettings(p, ModeFromNumber(1));
  settings.priorityStart = 2 * kChunkSectors + 5;
  settings.priorityLength = 10;
  ScanSession scan(WholeDevice(4 * kChunkSectors), RecoveryMode::kAllFiles, settings, h.Environment());
  ASSERT_TRUE(scan.Start());
  scan.Join();
  // The priority chunk is read before the sequential pass, which skips it.
  EXPECT_EQ(scan.ReadsCounted(), 4u);
  for (std::uint64_t c = 0; c < 4; ++c) EXPECT_EQ(scan.ChunkStateOf(c), ChunkState::kAnalysed);
}

TEST(ScanSession, PauseExcludedFromElapsedAndStopSkipsOrganisation) {
  const std::uint64_t sectors = 40 * kChunkSectors;
  Harness h;
  h.device = std::make_shared<MemoryDevice>(test::Bytes(sectors * 512, 0));
  PartitionInfo p = WholeDevice(sectors);
  ScanEnvironment env = h.Environment(true);
  env.pauseMs = 2;
  ScanSession scan(WholeDevice(sectors), RecoveryMode::kAllFiles, DefaultScanSettings(p, ModeFromNumber(1)), env);
  ASSERT_TRUE(scan.Start());
  std::thread ui([&] {
    scan.Pause();
    {
      std::lock_guard<std::mutex> guard(h.clockLock);
      h.fakeNow += 600;  // ten minutes paused
    }
    EXPECT_EQ(scan.ElapsedSeconds(), 0);
    scan.Resume();
    {
      std::lock_guard<std::mutex> guard(h.clockLock);
      h.fakeNow += 5;
    }
    EXPECT_EQ(scan.ElapsedSeconds(), 5);
    scan.Stop();
  });
  ui.join();
  scan.Join();
  EXPECT_EQ(scan.State(), ScanState::kStopped);
  EXPECT_FALSE(scan.Completed());
  std::lock_guard<std::mutex> guard(h.listener.lock);
  EXPECT_TRUE(h.listener.notices.empty());
  for (std::uint64_t c = 0; c < 40; ++c) EXPECT_NE(scan.ChunkStateOf(c), ChunkState::kHandedOut);
}

TEST(ScanSession, ReadErrorSummaryOnAFaultyRemovableDevice) {
  const std::uint64_t sectors = 12 * kChunkSectors;
  auto inner = std::make_shared<MemoryDevice>(test::Bytes(sectors * 512, 0));
  auto faulty = std::make_shared<FaultyDevice>(inner);
  for (std::uint64_t c = 0; c < 11; ++c) faulty->FailSectors(c * kChunkSectors + 9, 1);
  // A boot sector in a failing chunk, outside the unreadable piece, is still found.
  test::Bytes ntfs = test::MakeNtfsBoot(20000);
  std::memcpy(inner->bytes().data() + (kChunkSectors + 300) * 512ull, ntfs.data(), 512);
  Harness h;
  h.device = faulty;
  PartitionInfo p = WholeDevice(sectors);
  p.removable = 1;
  PartitionInfo q = WholeDevice(sectors);
  q.removable = 1;
  ScanSession scan(std::move(q), RecoveryMode::kAllFiles, DefaultScanSettings(p, ModeFromNumber(1)), h.Environment());
  ASSERT_TRUE(scan.Start());
  scan.Join();
  EXPECT_EQ(scan.ReadsFailed(), 11u);
  EXPECT_EQ(HitKinds(scan)[kChunkSectors + 300], kHitNtfsBoot);
  std::lock_guard<std::mutex> guard(h.prompt.lock);
  ASSERT_EQ(h.prompt.messages.size(), 1u);
  EXPECT_NE(h.prompt.messages[0].find("发生了11次读磁盘错误，至少88(MB)"), std::string::npos);
  EXPECT_NE(h.prompt.messages[0].find("\n可能是电脑、读卡器"), std::string::npos);
}

TEST(ScanTexts, ReadErrorThresholdsAndWording) {
  EXPECT_FALSE(ReadErrorSummaryText(10, 100, false));
  EXPECT_TRUE(ReadErrorSummaryText(11, 100, false));
  EXPECT_FALSE(ReadErrorSummaryText(12, 11, false));
  EXPECT_NE(ReadErrorSummaryText(250, 300, false)->find("2000(MB)"), std::string::npos);
  EXPECT_NE(ReadErrorSummaryText(251, 300, false)->find("1.96(GB)"), std::string::npos);
  EXPECT_EQ(ReadErrorSummaryText(251, 300, false)->find("读卡器"), std::string::npos);
}

TEST(ScanSession, NtfsImageFindsEveryMftRecordOnce) {
  const std::string path = test::FixtureImage("ntfs-default");
  ASSERT_FALSE(path.empty());
  test::Bytes image = test::ReadImage(path);
  const std::uint64_t sectors = image.size() / 512;
  auto expected = test::ClassifyImage(image);
  Harness h;
  h.device = std::make_shared<MemoryDevice>(std::move(image));
  PartitionInfo p = WholeDevice(sectors);
  ScanSession scan(WholeDevice(sectors), RecoveryMode::kAllFiles, DefaultScanSettings(p, ModeFromNumber(1)), h.Environment());
  ASSERT_TRUE(scan.Start());
  scan.Join();
  auto kinds = HitKinds(scan);
  EXPECT_EQ(kinds.size(), expected.size());
  for (const auto& [lba, hit] : expected) EXPECT_EQ(kinds[lba], hit.kind) << lba;
}

}  // namespace
}  // namespace ambrel

namespace ambrel {
namespace {

// 1 GiB of pseudo-random bytes, made on the fly from the offset.
class NoiseDevice final : public BlockDevice {
 public:
  std::int64_t ReadAt(std::uint64_t offset, void* buffer, std::size_t length) override {
    if (offset >= kBytes) return 0;
    length = static_cast<std::size_t>(std::min<std::uint64_t>(length, kBytes - offset));
    auto* out = static_cast<std::uint8_t*>(buffer);
    for (std::size_t i = 0; i < length;) {
      const std::uint64_t word = (offset + i) / 8;
      std::uint64_t x = (word + 1) * 0x9E3779B97F4A7C15ull;
      x ^= x >> 31;
      x *= 0xBF58476D1CE4E5B9ull;
      x ^= x >> 29;
      const std::size_t skip = (offset + i) % 8;
      for (std::size_t b = skip; b < 8 && i < length; ++b, ++i) out[i] = static_cast<std::uint8_t>(x >> (8 * b));
    }
    return static_cast<std::int64_t>(length);
  }
  std::uint64_t SizeBytes() override { return kBytes; }
  std::string Path() const override { return "noise"; }
  static constexpr std::uint64_t kBytes = 1ull << 30;
};

// Noise never passes for a volume or a partition table: a card full of
// compressed photos must not give a flood of phantom partitions.
TEST(ScanSession, AGibOfRandomBytesHoldsNoBootSectorOrPartitionTable) {
  Harness h;
  h.device = std::make_shared<NoiseDevice>();
  const std::uint64_t sectors = NoiseDevice::kBytes / 512;
  ScanSession scan(WholeDevice(sectors), RecoveryMode::kAllFiles, DefaultScanSettings(WholeDevice(sectors), ModeFromNumber(1)),
                   h.Environment());
  ASSERT_TRUE(scan.Start());
  scan.Join();
  ASSERT_TRUE(scan.Completed());
  std::map<std::uint8_t, int> kinds;
  scan.ForEachHit([&](const ScanHit& hit) { ++kinds[hit.kind]; });
  for (std::uint8_t kind : {kHitMbr, kHitEbr, kHitNtfsBoot, kHitFat16Boot, kHitFat32Boot, kHitExfatBoot,
                            kHitGptHeader, kHitFat32FsInfo})
    EXPECT_EQ(kinds[kind], 0) << HitKindName(kind);
  EXPECT_EQ(scan.Progress().u.scan.doneSectors, sectors);
}

}  // namespace
}  // namespace ambrel

namespace ambrel {
namespace {

// Reads past the first two chunks wait at a gate; every read moves the
// scan's clock on by 61 seconds.
class CheckpointDevice final : public BlockDevice {
 public:
  CheckpointDevice(test::Bytes bytes, Harness& h) : inner_(std::make_shared<MemoryDevice>(std::move(bytes))), h_(h) {}
  std::int64_t ReadAt(std::uint64_t offset, void* buffer, std::size_t length) override {
    {
      std::lock_guard<std::mutex> guard(h_.clockLock);
      h_.fakeNow += 61;
    }
    if (offset >= 2ull * kChunkBytes) {
      std::unique_lock<std::mutex> hold(lock_);
      opened_.wait(hold, [this] { return open_; });
    }
    return inner_->ReadAt(offset, buffer, length);
  }
  std::uint64_t SizeBytes() override { return inner_->SizeBytes(); }
  std::string Path() const override { return "checkpoint"; }
  void Open() {
    {
      std::lock_guard<std::mutex> hold(lock_);
      open_ = true;
    }
    opened_.notify_all();
  }

 private:
  std::shared_ptr<MemoryDevice> inner_;
  Harness& h_;
  std::mutex lock_;
  std::condition_variable opened_;
  bool open_ = false;
};

// A scan that dies (power cut, kill -9) after its last checkpoint resumes
// from it: the checkpoint is a whole, valid save, and the next scan reads
// only the chunks it had not analysed.
TEST(ScanSession, ACheckpointWrittenMidScanIsWholeAndResumes) {
  const std::string folder = test::TempDir("scan-checkpoint");
  const std::string stateFile = folder + "/DiskScanData.dat";
  const std::uint64_t sectors = 4 * kChunkSectors;
  test::Bytes image(sectors * 512, 0);
  const test::Bytes boot = test::MakeNtfsBoot(20000);
  std::memcpy(image.data() + 5 * 512ull, boot.data(), 512);
  Harness h;
  auto device = std::make_shared<CheckpointDevice>(image, h);
  h.device = device;
  ScanEnvironment env = h.Environment(true);
  env.stateFilePath = stateFile;
  env.checkpointMinutes = 1;
  std::vector<std::uint8_t> snapshot;
  {
    ScanSession scan(WholeDevice(sectors), RecoveryMode::kAllFiles, DefaultScanSettings(WholeDevice(sectors), ModeFromNumber(1)), env);
    ASSERT_TRUE(scan.Start());
    // Wait for a checkpoint (the first comes with chunk 0, a minute in),
    // then keep it as a crash would leave it.
    for (int i = 0; i < 3000 && snapshot.empty(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      std::ifstream in(stateFile, std::ios::binary);
      std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      auto saved = DecodeScanState(bytes, 4);
      if (saved && saved->chunkMap[0] == 2) snapshot = bytes;
    }
    device->Open();
    scan.Stop();
    scan.Join();
  }
  ASSERT_FALSE(snapshot.empty()) << "no checkpoint was written";
  auto saved = DecodeScanState(snapshot, 4);
  ASSERT_TRUE(saved);
  // Chunks 2 and 3 were never read; chunk 1 may or may not have made it.
  EXPECT_EQ(saved->chunkMap[2], 0);
  EXPECT_EQ(saved->chunkMap[3], 0);
  const std::uint64_t analysed = std::count(saved->chunkMap.begin(), saved->chunkMap.end(), 2);
  ASSERT_EQ(saved->hits.size(), 1u);
  EXPECT_EQ(saved->hits[0].lba, 5u);
  { std::ofstream(stateFile, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(snapshot.data()), std::streamsize(snapshot.size())); }

  Harness again;
  again.device = std::make_shared<MemoryDevice>(image);
  again.prompt.answer = true;  // reuse the saved scan
  ScanEnvironment env2 = again.Environment();
  env2.stateFilePath = stateFile;
  ScanSession resumed(WholeDevice(sectors), RecoveryMode::kAllFiles, DefaultScanSettings(WholeDevice(sectors), ModeFromNumber(1)), env2);
  ASSERT_TRUE(resumed.Start());
  resumed.Join();
  EXPECT_TRUE(resumed.Completed());
  EXPECT_EQ(resumed.ReadsCounted(), 4u - analysed) << "only the chunks the checkpoint had not analysed";
  EXPECT_EQ(HitKinds(resumed)[5], kHitNtfsBoot);
}

}  // namespace
}  // namespace ambrel

namespace ambrel {
namespace {

// Scanning the disk that holds the program folder: no save, checkpoint or
// end-of-scan offer may write onto it.
TEST(ScanSession, NoSaveLandsOnTheScannedDisk) {
  const std::string here = test::TempDir("scan-save-source");
  struct stat folder {};
  ASSERT_EQ(::stat(here.c_str(), &folder), 0);
  const std::string sys =
      "/sys/dev/block/" + std::to_string(major(folder.st_dev)) + ":" + std::to_string(minor(folder.st_dev));
  std::error_code ec;
  const std::string node = "/dev/" + std::filesystem::read_symlink(sys, ec).filename().string();
  struct stat st {};
  if (ec || ::stat(node.c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) GTEST_SKIP() << "no device node for " << sys;
  Harness h;
  h.device = std::make_shared<MemoryDevice>(test::Bytes(2 * kChunkSectors * 512ull, 0));
  PartitionInfo disk = WholeDevice(2 * kChunkSectors);
  disk.diskPath = node;  // the scan reads memory, but names the folder's own disk
  ScanEnvironment env = h.Environment();
  env.stateFilePath = here + "/DiskScanData.dat";
  const DeepScanSettings settings = DefaultScanSettings(disk, ModeFromNumber(1));
  ScanSession scan(std::move(disk), RecoveryMode::kAllFiles, settings, env);
  ASSERT_TRUE(scan.Start());
  scan.Join();
  EXPECT_FALSE(scan.SaveScan());
  EXPECT_FALSE(std::filesystem::exists(env.stateFilePath));
  // The same scan naming an image file saves beside it.
  PartitionInfo image = WholeDevice(2 * kChunkSectors);
  image.diskPath = here + "/card.img";
  { std::ofstream(image.diskPath) << "x"; }
  ScanSession imageScan(std::move(image), RecoveryMode::kAllFiles, settings, env);
  ASSERT_TRUE(imageScan.Start());
  imageScan.Join();
  EXPECT_TRUE(imageScan.SaveScan());
  EXPECT_TRUE(std::filesystem::exists(env.stateFilePath));
}

}  // namespace
}  // namespace ambrel
