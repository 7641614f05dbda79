// Laying a recording's sample table over the positions where samples may
// start on the disk: each sample's file offset S[i] is matched to a disk
// position M[i] (0 = not mapped) so that runs of samples keep their
// distances. Pure functions over sorted position lists.
#pragma once

#include <cstdint>
#include <vector>

namespace ambrel::video {

// Anchors sought and lost before MapSamples gives up.
inline constexpr int kMaxAnchorFailures = 50;
// Samples missed in a row before a run is left.
inline constexpr int kMaxRunMisses = 14;
// The first mapped sample must be at most this index.
inline constexpr std::size_t kMaxFirstMapped = 50;

// `samples`: S, the sample file offsets in sample order. `candidates`:
// sorted, without repeats. Fills `mapped` (one entry per sample). False
// after more than 50 anchor failures, or with fewer than 8 samples.
bool MapSamples(const std::vector<std::uint64_t>& samples, const std::vector<std::uint64_t>& candidates,
                std::vector<std::uint64_t>& mapped);

// False when fewer than a quarter of the samples are mapped or the first
// mapped one comes after index 50; otherwise places the samples before the
// first and after the last mapped one at the same distances from them.
bool CheckCoverage(const std::vector<std::uint64_t>& samples, std::vector<std::uint64_t>& mapped);

// Each sample still unmapped (from index 1 on) follows its predecessor
// contiguously. False when sample 0 is unmapped.
bool FillGaps(const std::vector<std::uint64_t>& samples, std::vector<std::uint64_t>& mapped);

}  // namespace ambrel::video
