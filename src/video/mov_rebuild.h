// The rebuild of QuickTime / MP4 recordings after the scan: each moov's
// sample table is laid over the candidate lists, paired with its ftyp (and
// mdat), and its pieces placed and checked (mov_placement.h).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "video/atoms.h"
#include "video/byte_source.h"
#include "video/mov_chunk_scan.h"
#include "video/mov_placement.h"
#include "video/recording.h"

namespace ambrel::video {

struct FtypRecord {
  std::uint64_t position = 0;  // absolute byte
  std::uint32_t size = 0;
};
struct MdatRecord {
  std::uint64_t position = 0;
  std::uint64_t size = 0;
};
struct MoovRecord {
  std::uint64_t position = 0;
  MoovInfo info;
  std::vector<std::uint8_t> head;  // the moov's first bytes, as read at its place
};

// Everything the scan recorded, in absolute byte positions.
struct MovScanFinds {
  std::vector<FtypRecord> ftyps;
  std::vector<MdatRecord> mdats;
  std::vector<MoovRecord> moovs;
  std::array<std::vector<std::uint64_t>, kCandidateLists> lists;  // sorted, without repeats
  NalStartIndex nalIndex;
  // Sorts the lists and the index (after the last chunk's finds were added).
  void Finish();
  bool NoCandidates() const;
};

struct MovRebuildSettings {
  bool mp4Extension = false;  // name the recordings .mp4 instead of .mov
};

struct RebuildHooks {
  std::function<void(const std::string&)> log;
  // Recordings rebuilt so far of the total.
  std::function<void(std::uint32_t done, std::uint32_t total)> progress;
  std::function<bool()> stopped;
};

// The moovs in the order they are matched: by the file offset of their
// last video sample, smallest first.
std::vector<const MoovRecord*> MoovsInMatchOrder(const MovScanFinds& finds);

// The list tried for a moov of `samples` samples: the first of size,
// start-code, length-2, length-20 and then the sample-start list that
// holds at least half as many positions and for which MapSamples,
// CheckCoverage and FillGaps succeed; -1 when none. `mapped` receives M.
int MatchSampleList(const std::vector<std::uint64_t>& samples,
                    const std::array<std::vector<std::uint64_t>, kCandidateLists>& lists,
                    std::vector<std::uint64_t>& mapped);

std::vector<Recording> RebuildMov(MovScanFinds& finds, ByteSource& disk, const MovRebuildSettings& settings,
                                  const RebuildHooks& hooks);

}  // namespace ambrel::video
