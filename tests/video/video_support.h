// Crafted recordings for the video tests: QuickTime files whose moov
// describes H.264 and AC-3 samples, transport streams in 192-byte packets,
// and disks on which they lie in pieces between other bytes.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace ambrel::test {

using Bytes = std::vector<std::uint8_t>;

// An atom: big-endian size, type, payload.
Bytes Atom(const char* type, const Bytes& payload);
void AppendBe32(Bytes& b, std::uint32_t v);
void AppendBe16(Bytes& b, std::uint16_t v);
void PutBe32(Bytes& b, std::size_t at, std::uint32_t v);
Bytes Concat(std::initializer_list<Bytes> parts);

struct QuickTimeClip {
  Bytes file;
  std::vector<std::uint64_t> videoOffsets;
  std::vector<std::uint32_t> videoSizes;
  std::vector<std::uint64_t> audioOffsets;
  std::uint64_t moovOffset = 0;
  std::uint32_t moovSize = 0;
};

struct ClipShape {
  std::uint32_t seed = 1;
  int videoSamples = 60;
  std::uint32_t minSample = 2000, maxSample = 12000;
  bool moovAtFront = false;
  bool delimiters = false;   // each video sample starts with an access unit delimiter
  bool audio = true;         // an AC-3 frame after every video sample
  std::uint32_t creation = 3000000000u;  // seconds since 1904
};
QuickTimeClip MakeQuickTimeClip(const ClipShape& shape);

// The moov atom of a clip with the given tables (one sample per chunk),
// for the moov walk tests.
Bytes MakeMoov(const std::vector<std::uint64_t>& videoOffsets, const std::vector<std::uint32_t>& videoSizes,
               const std::vector<std::uint64_t>& audioOffsets, std::uint32_t audioSize, std::uint32_t creation,
               bool co64 = false);

// One piece of a file on a disk: `clusters` clusters from file cluster
// `fileCluster` written at disk cluster `diskCluster`.
struct Piece {
  std::uint64_t fileCluster, clusters, diskCluster;
};
// Writes `file` into `disk` (whose cluster 0 starts at byte 0) piece by
// piece; the pieces must cover the file.
void Lay(Bytes& disk, const Bytes& file, std::uint64_t cluster, const std::vector<Piece>& pieces);
// Random bytes with no zero byte (so no start code can hide in them).
Bytes NoiseWithoutZeros(std::size_t n, std::uint32_t seed);

// A transport stream of `packets` 192-byte packets: the program
// association table first, video on 0x1011 and audio on 0x1100 (every
// `audioEvery`-th packet), counters from 0, arrival times from `clock`
// in steps of `step`.
Bytes MakeTransportStream(std::uint32_t packets, std::uint32_t clock, std::uint32_t step, std::uint32_t seed,
                          std::uint32_t audioEvery = 7);

}  // namespace ambrel::test
