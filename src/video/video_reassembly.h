// The video reassembly as the deep scan's analysing thread: the QuickTime
// job records atoms, sample-start candidates and picture headers chunk by
// chunk and rebuilds the recordings after the scan; the transport-stream
// job runs the block scanner and chains its fragments. Both hand their
// results over as one partition "视频文件" (kind 15).
//
// Threads: AnalyseChunk and Organise run on the scan's hand thread; the
// front end reads TakeResults and Recordings after the scan's Join.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "catalog/partition_info.h"
#include "deepscan/carve/signature_carver.h"
#include "deepscan/scan_session.h"
#include "video/mov_chunk_scan.h"
#include "video/mts_scanner.h"
#include "video/recording.h"

namespace ambrel::video {

inline constexpr const char* kVideoPartitionLabel = "视频文件";
inline constexpr const char* kRebuildTitle = "重组视频";
inline constexpr const char* kRebuildStep = "处理搜索到的信息";
inline constexpr const char* kVideoThreadName = "VideoFragmentScanHandThread";
// Catalogue codes of the rebuilt recordings.
inline constexpr std::uint8_t kTypeCodeMov = 67;
inline constexpr std::uint8_t kTypeCodeMts = 88;

// The settings the reassembly reads, taken once when a scan starts.
struct VideoSettings {
  bool movOn = false;     // MovFragRecovery
  bool mtsOn = false;     // MtsFragRecovery (when MovFragRecovery is off)
  bool sampleSize = false, sample01 = false, sample02 = false, sample20 = false;
  std::int32_t variantKey = 0;  // leading digits of Key
  bool mp4Extension = false;    // LocalName holds "MP4" after its first character
};
VideoSettings VideoSettingsFromProgram();

// The hit kinds of the reassembly's records.
enum class VideoHit : std::uint8_t {
  kFtyp = 200,
  kMoov = 201,
  kMdat = 202,
  kSizeList = 203,
  kLength20List = 204,
  kLength2List = 205,
  kStartCodeList = 206,
  kMtsStart = 207,
  kMtsMiddle = 208,
};

class VideoReassembly : public ChunkAnalyser {
 public:
  // The job the settings ask for, or null when neither switch is on.
  static std::unique_ptr<VideoReassembly> Create(const VideoSettings& settings);

  const char* ThreadName() const override { return kVideoThreadName; }
  std::uint32_t FoundCount() const override { return found_.load(); }
  // The result partition (empty before the organisation, or when nothing
  // was rebuilt); once.
  std::vector<std::unique_ptr<PartitionInfo>> TakeResults() { return std::move(results_); }
  const std::vector<Recording>& Recordings() const { return recordings_; }

 protected:
  explicit VideoReassembly(const VideoSettings& settings) : settings_(settings) {}
  // The partition of the recordings (and the pictures carved on the way).
  void BuildResults(ScanSession& session, const std::vector<const ScanHit*>& pictures);
  void Notice(ScanSession& session, const char* text);

  VideoSettings settings_;
  std::atomic<std::uint32_t> found_{0};
  std::vector<Recording> recordings_;
  std::vector<std::unique_ptr<PartitionInfo>> results_;
};

class MovReassembly final : public VideoReassembly {
 public:
  explicit MovReassembly(const VideoSettings& settings);
  void AnalyseChunk(ScanSession& session, const ChunkData& chunk, HitList& hits, SectorHitSource& disk) override;
  bool Organise(ScanSession& session) override;

 private:
  CandidateSwitches switches_;
  MovChunkScanner scanner_;
  ChunkFinds finds_;
  SignatureCarver carver_;
  // Bytes past the chunk (chains and moovs that run into the next one),
  // through the disk reads of the chunk in hand; the blocks read stay
  // cached from chunk to chunk.
  SectorHitSource* disk_ = nullptr;
  std::unique_ptr<SectorByteSource> beyond_;
};

class MtsReassembly final : public VideoReassembly {
 public:
  explicit MtsReassembly(const VideoSettings& settings) : VideoReassembly(settings) {}
  std::uint32_t ProgressStage() const override;
  void AnalyseChunk(ScanSession& session, const ChunkData& chunk, HitList& hits, SectorHitSource& disk) override;
  bool Organise(ScanSession& session) override;

 private:
  std::unique_ptr<MtsBlockScanner> scanner_;
  std::vector<MtsFragment> pending_;
};

}  // namespace ambrel::video
