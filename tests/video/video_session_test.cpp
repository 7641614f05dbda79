// The video reassembly as the deep scan's analysing thread: a whole scan
// of a disk in memory, the result partition "视频文件" and its records, the
// progress stages, a stop before the end.
#include <gtest/gtest.h>

#include <cstring>

#include "catalog/found_file_node.h"
#include "catalog/node_table.h"
#include "deepscan/scan_session.h"
#include "app/settings.h"
#include "device/memory_device.h"
#include "video/video_reassembly.h"
#include "video/video_support.h"

namespace ambrel::video {
namespace {

using test::Bytes;

constexpr std::uint64_t kCluster = 32768;

struct VideoScan {
  std::shared_ptr<BlockDevice> device;
  std::unique_ptr<VideoReassembly> video;
  std::unique_ptr<ScanSession> session;

  VideoScan(Bytes disk, const VideoSettings& settings) {
    const std::uint64_t sectors = disk.size() / 512;
    device = std::make_shared<MemoryDevice>(std::move(disk));
    video = VideoReassembly::Create(settings);
    ScanEnvironment env;
    env.analyser = video.get();
    env.open = [this](const PartitionInfo&, DiskHandle& h) {
      h = HandleForDevice(device, "test");
      return true;
    };
    env.pollMs = 2;
    env.organiseDelayMs = 0;
    PartitionInfo p;
    p.startLba = 0;
    p.sectorCount = p.diskSectorCount = sectors;
    p.diskPath = "memory";
    const DeepScanSettings scan = DefaultScanSettings(p, RecoveryMode::kDiskFiles);
    session = std::make_unique<ScanSession>(std::move(p), RecoveryMode::kDiskFiles, scan, std::move(env));
  }
  void Scan() {
    ASSERT_TRUE(session->Start());
    session->Join();
  }
};

VideoSettings MovSettings() {
  VideoSettings s;
  s.movOn = true;
  s.sampleSize = s.sample01 = s.sample02 = s.sample20 = true;
  return s;
}

const FoundFileNode* FileNamed(const PartitionInfo& part, const std::string& name) {
  for (std::uint32_t id = 0; id < part.table.count; ++id) {
    const FoundFileNode* n = NodeAt(part.table, id);
    if (n && IsFileKind(KindOf(*n)) && n->name && name == n->name) return n;
  }
  return nullptr;
}

TEST(VideoSession, AFragmentedRecordingBecomesAFileOfTheVideoPartition) {
  test::ClipShape shape;
  shape.seed = 3;
  shape.videoSamples = 200;
  shape.minSample = 20000;
  shape.maxSample = 60000;
  const auto clip = test::MakeQuickTimeClip(shape);
  const std::uint64_t n = (clip.file.size() + kCluster - 1) / kCluster;
  // 20 MiB: the pieces straddle the 8 MiB chunks.
  Bytes disk = test::NoiseWithoutZeros(640 * kCluster, 5);
  test::Lay(disk, clip.file, kCluster, {{0, 100, 200}, {100, 50, 20}, {150, n - 150, 400}});
  VideoScan run(disk, MovSettings());
  run.Scan();
  EXPECT_TRUE(run.session->Completed());
  ASSERT_EQ(run.video->Recordings().size(), 1u);
  const Recording& r = run.video->Recordings()[0];
  EXPECT_TRUE(r.verified);
  auto results = run.video->TakeResults();
  ASSERT_EQ(results.size(), 1u);
  const PartitionInfo& part = *results[0];
  EXPECT_EQ(part.fsKind, kFsSignature);
  EXPECT_EQ(part.volumeLabel, "视频文件");
  const FoundFileNode* node = FileNamed(part, r.name);
  ASSERT_TRUE(node);
  EXPECT_EQ(+node->typeCode, 67);  // packed fields: compared by value
  EXPECT_TRUE(node->flags & kFlagVideoRebuilt);
  EXPECT_EQ(+node->firstCluster, 3u);
  EXPECT_EQ(+node->size, clip.file.size());
  EXPECT_EQ(+node->dataSector, 200 * kCluster / 512);
  std::uint64_t second[2];
  std::memcpy(second, static_cast<const std::uint8_t*>(node->extra) + 16, 16);
  EXPECT_EQ(second[0], 20 * kCluster / 512);
  EXPECT_EQ(second[1], 50 * kCluster / 512);
  EXPECT_NE(+node->created, 0u);
}

TEST(VideoSession, TransportStreamsScanAtStage13) {
  const Bytes ts = test::MakeTransportStream(12000, 1000, 2000, 8);
  const std::uint64_t n = (ts.size() + kCluster - 1) / kCluster;
  Bytes disk = test::NoiseWithoutZeros(400 * kCluster, 6);
  for (std::uint64_t k = 0; k < n; ++k) {
    const std::uint64_t to = (k < 40 ? 300 + k : 10 + k - 40) * kCluster;
    const std::size_t len = std::min<std::size_t>(kCluster, ts.size() - k * kCluster);
    std::memcpy(disk.data() + to, ts.data() + k * kCluster, len);
    std::memset(disk.data() + to + len, 0, kCluster - len);  // slack
  }
  VideoSettings settings;
  settings.mtsOn = true;
  VideoScan run(disk, settings);
  EXPECT_EQ(run.video->ProgressStage(), kStageMtsScan);
  run.Scan();
  EXPECT_EQ(run.session->Progress().stage, kStageMtsScan);
  EXPECT_GE(run.session->Progress().u.scan.filesFound, 2u);
  ASSERT_EQ(run.video->Recordings().size(), 1u);
  const Recording& r = run.video->Recordings()[0];
  EXPECT_TRUE(r.verified);
  EXPECT_EQ(r.size, ts.size());
  EXPECT_EQ(r.fragments.size(), 2u);
  auto results = run.video->TakeResults();
  ASSERT_EQ(results.size(), 1u);
  const FoundFileNode* node = FileNamed(*results[0], r.name);
  ASSERT_TRUE(node);
  EXPECT_EQ(+node->typeCode, 88);
  EXPECT_EQ(+node->fileCount, 0u);  // bytes to skip in the first sector
}

TEST(VideoSession, NeitherSwitchNoJob) { EXPECT_FALSE(VideoReassembly::Create(VideoSettings{})); }

TEST(VideoSession, TheQuickTimeSwitchWinsOverTheTransportStreamOne) {
  VideoSettings both;
  both.movOn = both.mtsOn = true;
  auto job = VideoReassembly::Create(both);
  ASSERT_TRUE(job);
  EXPECT_EQ(job->ProgressStage(), kStageDeepScan);
  EXPECT_STREQ(job->ThreadName(), "VideoFragmentScanHandThread");
}

TEST(VideoSession, AStoppedScanRebuildsNothing) {
  test::ClipShape shape;
  const auto clip = test::MakeQuickTimeClip(shape);
  Bytes disk = test::NoiseWithoutZeros(40 * kCluster, 7);
  test::Lay(disk, clip.file, kCluster, {{0, 20, 2}});
  VideoScan run(disk, MovSettings());
  run.session->Stop();  // before the start: the scan runs and is stopped at once
  ASSERT_TRUE(run.session->Start());
  run.session->Stop();
  run.session->Join();
  if (!run.session->Completed()) {
    EXPECT_TRUE(run.video->Recordings().empty());
  }
}

}  // namespace
}  // namespace ambrel::video

namespace ambrel::video {
namespace {

void SetDefault(const std::string& key, const std::string& value) {
  Settings().Set("Default-" + key + ":", value);
  SetSettingsLoaded(true);
}

TEST(VideoSettingsFromTheProgram, TheExtensionIsMp4OnlyWhenTheNameHoldsMp4AfterItsStart) {
  SetDefault("LocalName", "MP4 Recovery");
  EXPECT_FALSE(VideoSettingsFromProgram().mp4Extension);
  SetDefault("LocalName", "Super MP4 Recovery");
  EXPECT_TRUE(VideoSettingsFromProgram().mp4Extension);
  SetDefault("LocalName", "Ambrel");
  EXPECT_FALSE(VideoSettingsFromProgram().mp4Extension);
}

TEST(VideoSettingsFromTheProgram, SwitchesAndTheVariantKey) {
  SetDefault("MovFragRecovery", "1");
  SetDefault("MtsFragRecovery", "0");
  SetDefault("VideoSample02", "1");
  SetDefault("Key", "118");
  const VideoSettings s = VideoSettingsFromProgram();
  EXPECT_TRUE(s.movOn);
  EXPECT_FALSE(s.mtsOn);
  EXPECT_TRUE(s.sample02);
  EXPECT_EQ(s.variantKey, 118);
  SetDefault("MovFragRecovery", "0");
  SetDefault("Key", "0");
}

}  // namespace
}  // namespace ambrel::video
