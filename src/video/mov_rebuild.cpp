#include "video/mov_rebuild.h"

#include <algorithm>
#include <cinttypes>
#include <iterator>

#include "common/text.h"
#include "video/sample_checks.h"
#include "video/sample_map.h"

namespace ambrel::video {
namespace {

constexpr std::uint64_t kSector = 512;
constexpr std::size_t kMaxHeadAtoms = 64;
// The mdat may run this far past the last sample (padding cameras write).
constexpr std::uint64_t kMdatSlack = 0x100000;

void Log(const RebuildHooks& hooks, const std::string& text) {
  if (hooks.log) hooks.log(text);
}

bool IsPaddingAtom(std::uint32_t type) {
  return type == FourCc("free") || type == FourCc("skip") || type == FourCc("wide") || type == FourCc("uuid") ||
         type == FourCc("pnot") || type == FourCc("PICT");
}

// The top-level atoms from file offset 0 at `base`: the ftyp, padding
// atoms, a moov at `moovAt` (when not 0) and the mdat, as byte items.
struct Head {
  std::vector<PlacementItem> items;
  std::uint64_t mdatOffset = 0, mdatSize = 0;  // mdatSize 0: no mdat found
  std::uint32_t mdatHeader = 0;
  bool ok = false;
};

Head ReadHead(ByteSource& disk, std::uint64_t base, const FtypRecord& ftyp, const MoovRecord* front,
              std::uint64_t sampleStart) {
  Head head;
  PlacementItem first;
  first.kind = ItemKind::kBytes;
  first.offset = 0;
  first.size = ftyp.size;
  first.expect.resize(ftyp.size);
  if (!disk.ReadAt(ftyp.position, first.expect.data(), ftyp.size)) return head;
  head.items.push_back(std::move(first));
  std::uint64_t at = ftyp.size;
  for (std::size_t n = 0; n < kMaxHeadAtoms && at < sampleStart; ++n) {
    if (front && at == ftyp.size) {
      PlacementItem moov;
      moov.kind = ItemKind::kBytes;
      moov.offset = at;
      moov.size = front->info.size;
      moov.expect = front->head;
      moov.hint = front->position - at;
      head.items.push_back(std::move(moov));
      at += front->info.size;
      continue;
    }
    std::uint8_t bytes[16];
    if (!disk.ReadAt(base + at, bytes, sizeof(bytes))) break;
    auto h = ReadAtomHeader(ByteCursor(bytes, sizeof(bytes)), 0);
    if (!h || h->size < h->headerBytes) break;
    PlacementItem item;
    item.kind = ItemKind::kBytes;
    item.offset = at;
    item.size = h->headerBytes;
    item.expect.assign(bytes, bytes + h->headerBytes);
    item.hint = base;
    if (h->type == FourCc("mdat")) {
      head.items.push_back(std::move(item));
      head.mdatOffset = at;
      head.mdatSize = h->size;
      head.mdatHeader = h->headerBytes;
      break;
    }
    if (!IsPaddingAtom(h->type)) break;
    head.items.push_back(std::move(item));
    at += h->size;
  }
  head.ok = true;
  return head;
}

std::uint64_t MinSampleOffset(const MoovInfo& info) {
  std::uint64_t lowest = UINT64_MAX;
  for (const TrackSamples& t : info.tracks)
    for (std::uint64_t o : t.offsets) lowest = std::min(lowest, o);
  return lowest;
}

// The base that puts mapped sample i at its mapped place (modulo 2^64), or
// 0.
std::uint64_t BaseOf(const std::vector<std::uint64_t>& s, const std::vector<std::uint64_t>& m, std::size_t i) {
  if (i >= m.size() || m[i] == 0) return 0;
  const std::uint64_t base = m[i] - s[i];
  return base % kSector == 0 ? base : 0;
}

// The file read from one base.
class StartReader final : public FileReader {
 public:
  StartReader(ByteSource& disk, std::uint64_t base) : disk_(disk), base_(base) {}
  bool Read(std::uint64_t offset, std::uint8_t* out, std::size_t length) override {
    return disk_.ReadAt(base_ + offset, out, length);
  }

 private:
  ByteSource& disk_;
  std::uint64_t base_;
};

struct Pairing {
  const FtypRecord* ftyp = nullptr;
  bool front = false;
  Head head;
  std::uint64_t startBase = 0;
};

// Moov at the front: an ftyp (and padding) right before it.
bool PairFront(const MovScanFinds& finds, ByteSource& disk, const MoovRecord& moov, Pairing& out) {
  const std::uint64_t samplesFrom = MinSampleOffset(moov.info);
  for (const FtypRecord& f : finds.ftyps) {
    if (f.position + f.size != moov.position) continue;
    if (samplesFrom < std::uint64_t{f.size} + moov.info.size) continue;
    Head head = ReadHead(disk, f.position, f, &moov, samplesFrom);
    if (!head.ok) continue;
    out.ftyp = &f;
    out.front = true;
    out.head = std::move(head);
    out.startBase = f.position;
    return true;
  }
  return false;
}

// Moov at the end: the ftyp where the mapping puts the file start, or else
// the one ftyp whose mdat holds exactly this moov's samples.
bool PairEnd(const MovScanFinds& finds, ByteSource& disk, const MoovRecord& moov,
             const std::vector<std::uint64_t>& s, const std::vector<std::uint64_t>& m, Pairing& out) {
  const std::uint64_t samplesFrom = MinSampleOffset(moov.info);
  auto mdatFits = [&](const Head& head) {
    if (head.mdatSize == 0) return false;
    const std::uint64_t end = head.mdatOffset + head.mdatSize;
    return head.mdatOffset + head.mdatHeader <= samplesFrom && end >= moov.info.mediaEnd &&
           end - moov.info.mediaEnd <= kMdatSlack;
  };
  auto ftypAt = [&](std::uint64_t base) -> const FtypRecord* {
    for (const FtypRecord& f : finds.ftyps)
      if (f.position == base) return &f;
    return nullptr;
  };
  std::vector<std::uint64_t> bases;
  for (std::size_t i = 0; i < s.size() && i <= kMaxFirstMapped; ++i)
    if (const std::uint64_t b = BaseOf(s, m, i); b && std::find(bases.begin(), bases.end(), b) == bases.end())
      bases.push_back(b);
  for (std::uint64_t base : bases) {
    const FtypRecord* f = ftypAt(base);
    if (!f) continue;
    Head head = ReadHead(disk, base, *f, nullptr, samplesFrom);
    if (!head.ok || !mdatFits(head)) continue;
    out = Pairing{f, false, std::move(head), base};
    return true;
  }
  // The mapping missed the first piece: the ftyp whose head holds an mdat
  // that fits these samples and after which the first video sample opens
  // (else the one whose mdat ends exactly where the samples end).
  const TrackSamples& video = moov.info.tracks[static_cast<std::size_t>(moov.info.videoTrack)];
  std::vector<Pairing> opening, exact;
  for (const FtypRecord& f : finds.ftyps) {
    Head head = ReadHead(disk, f.position, f, nullptr, samplesFrom);
    if (!head.ok || !mdatFits(head)) continue;
    StartReader reader(disk, f.position);
    const SampleCheck c = CheckSample(reader, video.offsets[0], video.sizes[0], video.format, video.nalLengthBytes);
    const bool exactEnd = head.mdatOffset + head.mdatSize == moov.info.mediaEnd;
    if (c.checkable && c.ok) opening.push_back(Pairing{&f, false, head, f.position});
    if (exactEnd) exact.push_back(Pairing{&f, false, std::move(head), f.position});
  }
  if (opening.size() == 1) {
    out = std::move(opening.front());
    return true;
  }
  if (opening.empty() && exact.size() == 1) {
    out = std::move(exact.front());
    return true;
  }
  return false;
}

}  // namespace

void MovScanFinds::Finish() {
  for (auto& list : lists) {
    std::sort(list.begin(), list.end());
    list.erase(std::unique(list.begin(), list.end()), list.end());
  }
  nalIndex.Finish();
}

bool MovScanFinds::NoCandidates() const {
  return std::all_of(lists.begin(), lists.end(), [](const auto& l) { return l.empty(); });
}

std::vector<const MoovRecord*> MoovsInMatchOrder(const MovScanFinds& finds) {
  std::vector<const MoovRecord*> order;
  for (const MoovRecord& m : finds.moovs) order.push_back(&m);
  std::stable_sort(order.begin(), order.end(), [](const MoovRecord* a, const MoovRecord* b) {
    return a->info.lastSampleOffset < b->info.lastSampleOffset;
  });
  return order;
}

int MatchSampleList(const std::vector<std::uint64_t>& samples,
                    const std::array<std::vector<std::uint64_t>, kCandidateLists>& lists,
                    std::vector<std::uint64_t>& mapped) {
  for (std::size_t l = 0; l < lists.size(); ++l) {
    if (lists[l].empty() || lists[l].size() * 2 < samples.size()) continue;
    if (MapSamples(samples, lists[l], mapped) && CheckCoverage(samples, mapped) && FillGaps(samples, mapped))
      return static_cast<int>(l);
  }
  mapped.clear();
  return -1;
}

std::vector<Recording> RebuildMov(MovScanFinds& finds, ByteSource& disk, const MovRebuildSettings& settings,
                                  const RebuildHooks& hooks) {
  std::vector<Recording> out;
  if (finds.NoCandidates()) return out;
  const std::vector<const MoovRecord*> order = MoovsInMatchOrder(finds);
  const auto total = static_cast<std::uint32_t>(order.size());
  if (hooks.progress) hooks.progress(0, total);

  MovPlacer placer(disk, &finds.nalIndex);
  struct Pending {
    const MoovRecord* moov;
    int id;
    std::uint64_t fileEnd;
  };
  std::vector<Pending> pending;
  for (std::uint32_t i = 0; i < total; ++i) {
    if (hooks.stopped && hooks.stopped()) return {};
    const MoovRecord& moov = *order[i];
    Log(hooks, Format("Match moov: %u   0x%x   LastSampleFileOffset(MB): %u", i,
                      static_cast<unsigned>(moov.position / kSector),
                      static_cast<unsigned>(moov.info.lastSampleOffset >> 20)));
    if (hooks.progress) hooks.progress(i, total);
    const std::vector<std::uint64_t>& s = moov.info.VideoOffsets();
    if (s.empty()) continue;
    std::vector<std::uint64_t> m;
    const int list = MatchSampleList(s, finds.lists, m);
    if (list < 0) continue;
    // The positions this recording took are no one else's.
    auto& used = finds.lists[static_cast<std::size_t>(list)];
    std::vector<std::uint64_t> taken(m.begin(), m.end());
    std::sort(taken.begin(), taken.end());
    std::vector<std::uint64_t> left;
    left.reserve(used.size());
    std::set_difference(used.begin(), used.end(), taken.begin(), taken.end(), std::back_inserter(left));
    used.swap(left);
    Log(hooks, "Moov Mdat match!");
    {
      std::size_t first = 0;
      while (first < m.size() && BaseOf(s, m, first) == 0) ++first;
      Log(hooks, Format("list %d of %zu positions: first sample mapped %zu at base 0x%" PRIx64, list,
                        finds.lists[static_cast<std::size_t>(list)].size(), first,
                        first < m.size() ? BaseOf(s, m, first) : 0));
    }

    Pairing pair;
    if (!PairFront(finds, disk, moov, pair)) {
      if (const std::uint64_t d0 = BaseOf(s, m, 0))
        Log(hooks, Format("Computer Mdat lba: 0x%x", static_cast<unsigned>(d0 / kSector)));
      if (!PairEnd(finds, disk, moov, s, m, pair)) {
        Log(hooks, "no ftyp pairs with this moov");
        continue;
      }
    }

    std::vector<PlacementItem> items = std::move(pair.head.items);
    std::uint64_t fileEnd = 0;
    if (pair.front) {
      fileEnd = pair.head.mdatSize ? pair.head.mdatOffset + pair.head.mdatSize : moov.info.mediaEnd;
      fileEnd = std::max(fileEnd, moov.info.mediaEnd);
    } else {
      const std::uint64_t moovAt = pair.head.mdatOffset + pair.head.mdatSize;
      PlacementItem tail;
      tail.kind = ItemKind::kBytes;
      tail.offset = moovAt;
      tail.size = moov.info.size;
      tail.expect = moov.head;
      tail.hint = moov.position - moovAt;
      items.push_back(std::move(tail));
      fileEnd = moovAt + moov.info.size;
    }
    for (std::size_t t = 0; t < moov.info.tracks.size(); ++t) {
      const TrackSamples& track = moov.info.tracks[t];
      const bool video = static_cast<int>(t) == moov.info.videoTrack;
      for (std::size_t k = 0; k < track.offsets.size(); ++k) {
        PlacementItem item;
        item.kind = ItemKind::kSample;
        item.offset = track.offsets[k];
        item.size = track.sizes[k];
        item.format = track.format;
        item.nalLengthBytes = track.nalLengthBytes;
        item.video = track.format == SampleFormat::kAvc || track.format == SampleFormat::kHevc;
        if (video) item.hint = BaseOf(s, m, k);
        items.push_back(std::move(item));
      }
    }
    std::stable_sort(items.begin(), items.end(),
                     [](const PlacementItem& a, const PlacementItem& b) { return a.offset < b.offset; });
    // Items must not overlap: a table that makes them is not this file's.
    std::size_t overlaps = 0;
    std::vector<PlacementItem> kept;
    kept.reserve(items.size());
    for (PlacementItem& item : items) {
      if (!kept.empty() && item.offset < kept.back().offset + kept.back().size) {
        ++overlaps;
        continue;
      }
      kept.push_back(std::move(item));
    }
    if (overlaps * 100 > kept.size() || kept.empty() || kept.back().offset + kept.back().size > fileEnd) continue;
    pending.push_back({&moov, placer.Add(std::move(kept), fileEnd, pair.startBase), fileEnd});
  }

  placer.Run();
  for (const Pending& p : pending) {
    const PlacementResult& placed = placer.Result(p.id);
    for (const std::string& note : placed.notes) Log(hooks, note);
    Recording rec;
    rec.kind = RecordingKind::kQuickTime;
    rec.size = p.fileEnd;
    rec.created = p.moov->info.creationTime;
    std::string line = "FileFrag(LBA,Size): ";
    for (const PlacedRun& run : placed.runs) {
      const std::uint64_t first = run.base + run.fileFrom;
      Fragment f{first / kSector, (run.fileTo - run.fileFrom + kSector - 1) / kSector};
      line += Format("[0x%" PRIx64 ",0x%" PRIx64 "]", f.startLba, f.sectors);
      rec.fragments.push_back(f);
    }
    Log(hooks, line);
    if (rec.fragments.empty()) continue;
    rec.name = RecordingName(rec.fragments.front().startLba, settings.mp4Extension ? "mp4" : "mov");
    rec.samplesChecked = placed.samplesChecked;
    rec.samplesVerified = placed.samplesVerified;
    rec.verified = placed.placed && placed.breaksSettled && placed.samplesChecked > 0 &&
                   placed.samplesVerified == placed.samplesChecked;
    out.push_back(std::move(rec));
  }
  // A recording never takes another's sectors: both are left unverified.
  for (std::size_t a = 0; a < out.size(); ++a)
    for (std::size_t b = a + 1; b < out.size(); ++b)
      if (SharesSectors(out[a], out[b])) {
        Log(hooks, "Recordings " + out[a].name + " and " + out[b].name + " share sectors");
        out[a].verified = out[b].verified = false;
      }
  if (hooks.progress) hooks.progress(total, total);
  return out;
}

}  // namespace ambrel::video
