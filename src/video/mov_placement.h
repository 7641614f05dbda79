// Placing the pieces of QuickTime recordings on the disk, checked by their
// own bytes.
//
// A recording is a list of items at known file offsets (the atoms of its
// head, its samples, its moov). An item placed at base D lies at disk byte
// D + offset; a recording stored in pieces has one base per piece. Bases
// are taken modulo 2^64: a late piece of a file may lie nearer the disk's
// start than its own file offset. Every
// base of every recording on one volume is congruent modulo the cluster
// size, and a piece ends on a cluster boundary of the file, so where two
// bases meet the break lies on a multiple of the cluster size between the
// last byte checked at the first base and the first item at the second.
// Among those multiples the bytes decide (the items between must open at
// their places; no NAL unit payload may hold a start code or a transport
// stream; no bytes where another item was found may be taken); where they
// cannot, the ends and starts of the other recordings' pieces do (the
// pieces of a card tile its used area). A break that neither settles
// leaves the recording unverified.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "video/atoms.h"
#include "video/byte_source.h"
#include "video/recording.h"

namespace ambrel::video {

enum class ItemKind : std::uint8_t {
  kBytes,   // bytes known in advance (an atom header, the ftyp, the moov's start)
  kSample,  // a sample of a track, checked by its format
};

struct PlacementItem {
  ItemKind kind = ItemKind::kSample;
  std::uint64_t offset = 0;  // file offset
  std::uint64_t size = 0;
  SampleFormat format = SampleFormat::kUnknown;
  std::uint8_t nalLengthBytes = 4;
  bool video = false;
  std::vector<std::uint8_t> expect;  // kBytes: the bytes at `offset`
  // A first guess of the base (0: none), e.g. from the candidate mapping.
  std::uint64_t hint = 0;
};

// Plausible first NAL units found by the scan: absolute positions and the
// 32-bit length at each, for finding a sample whose place the mapping
// missed.
class NalStartIndex {
 public:
  void Add(std::uint64_t position, std::uint32_t length);
  void Finish();  // sorts; call once after the last Add
  // The positions whose length field holds `length`.
  std::vector<std::uint64_t> WithLength(std::uint32_t length) const;
  std::size_t size() const { return entries_.size(); }

 private:
  struct Entry {
    std::uint32_t length;
    std::uint64_t position;
  };
  std::vector<Entry> entries_;
};

struct PlacedRun {
  std::uint64_t base = 0;      // disk byte of file offset 0 for this piece
  std::uint64_t fileFrom = 0;  // file offsets [fileFrom, fileTo)
  std::uint64_t fileTo = 0;
};

struct PlacementResult {
  bool placed = false;        // every piece has a base
  bool breaksSettled = false; // every break was placed by the data
  std::vector<PlacedRun> runs;
  std::uint32_t samplesChecked = 0;
  std::uint32_t samplesVerified = 0;
  std::vector<std::string> notes;  // for the log
};

class MovPlacer {
 public:
  MovPlacer(ByteSource& disk, const NalStartIndex* index) : disk_(disk), index_(index) {}
  // A recording: its items sorted by offset and not overlapping, the end of
  // its file, and the base of its file start (where its ftyp lies).
  int Add(std::vector<PlacementItem> items, std::uint64_t fileEnd, std::uint64_t startBase);
  // Places every recording added.
  void Run();
  const PlacementResult& Result(int id) const { return recordings_[static_cast<std::size_t>(id)].result; }
  // The cluster size the bases agree on (0 when no recording is in pieces).
  std::uint64_t ClusterBytes() const { return cluster_; }

 private:
  struct Break {
    std::size_t before = 0, after = 0;  // the strong items on each side
    std::uint64_t baseBefore = 0, baseAfter = 0;
    std::uint64_t low = 0, high = 0;    // the break B satisfies low < B <= high
    std::vector<std::uint64_t> feasible;
    std::optional<std::uint64_t> chosen;
    bool settled = false;
  };
  struct Rec {
    std::vector<PlacementItem> items;
    std::uint64_t fileEnd = 0;
    std::uint64_t startBase = 0;
    std::vector<std::optional<std::uint64_t>> base;  // per item
    std::vector<std::uint32_t> lastByte;             // per item: last byte the check read
    std::vector<Break> breaks;
    PlacementResult result;
  };

  // Disk bytes an item was checked at: no other placement may take them.
  struct Claim {
    std::uint64_t from = 0, to = 0;  // disk bytes [from, to)
    std::size_t recording = 0;
    std::uint64_t base = 0;
  };
  void CollectClaims();
  bool ClaimedByOther(std::size_t recording, std::uint64_t base, std::uint64_t from, std::uint64_t to) const;
  bool Check(const PlacementItem& item, std::uint64_t base, std::uint32_t* lastByte = nullptr);
  bool Strong(const PlacementItem& item) const;
  void Assign(Rec& r);
  std::optional<std::uint64_t> Locate(Rec& r, std::size_t i);
  void EstimateCluster();
  void FindBreaks(Rec& r);
  void Candidates(Rec& r, Break& b);
  bool Feasible(Rec& r, const Break& b, std::uint64_t at);
  void SettleByNeighbours();
  void Finish(Rec& r);

  ByteSource& disk_;
  const NalStartIndex* index_;
  std::vector<Rec> recordings_;
  std::vector<Claim> claims_;  // by `from`
  std::uint64_t cluster_ = 0;
};

}  // namespace ambrel::video
