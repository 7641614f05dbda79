#include "video/video_reassembly.h"

#include <algorithm>
#include <cinttypes>
#include <cstdlib>
#include <cstring>

#include "app/progress.h"
#include "app/settings.h"
#include "catalog/found_file_node.h"
#include "catalog/node_table.h"
#include "catalog/type_folder.h"
#include "common/text.h"
#include "deepscan/found_files.h"
#include "diag/log.h"
#include "platform/local_time.h"
#include "video/atoms.h"
#include "video/mov_rebuild.h"
#include "video/mts_chain.h"

namespace ambrel::video {
namespace {

constexpr std::uint64_t kSector = 512;
constexpr std::uint32_t kFirstFreeId = 237;  // ids below: the category and type folders
constexpr std::size_t kMoovCheckBytes = 64;
constexpr std::uint32_t kNalListId = static_cast<std::uint32_t>(CandidateList::kNalStart);
// 16 KiB blocks read past a chunk and kept (8 MiB).
constexpr std::size_t kBeyondCacheBlocks = 512;

// The scan's disk reads as a byte source over the scanned area.
SectorByteSource DiskBytes(SectorHitSource& disk, std::uint64_t areaEndByte) {
  return SectorByteSource(
      [&disk](std::uint64_t lba, std::uint32_t count, std::uint8_t* out) { return disk.ReadDisk(lba, count, out); },
      areaEndByte, 8);
}

std::uint64_t AreaEndByte(const ScanSession& session) {
  const PartitionInfo& p = session.Partition();
  return (p.startLba + p.sectorCount) * kSector;
}

void PutU32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void PutU64(std::vector<std::uint8_t>& out, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
std::uint64_t GetLe(const std::vector<std::uint8_t>& in, std::size_t at, unsigned width) {
  std::uint64_t v = 0;
  for (unsigned i = width; i-- > 0;) v = (v << 8) | in[at + i];
  return v;
}

std::uint8_t ListHitKind(std::size_t list) {
  switch (static_cast<CandidateList>(list)) {
    case CandidateList::kLength20: return static_cast<std::uint8_t>(VideoHit::kLength20List);
    case CandidateList::kLength2: return static_cast<std::uint8_t>(VideoHit::kLength2List);
    case CandidateList::kStartCode: return static_cast<std::uint8_t>(VideoHit::kStartCodeList);
    default: return static_cast<std::uint8_t>(VideoHit::kSizeList);
  }
}

// The disk read for the rebuild: its own handle on the scanned disk.
struct RebuildDisk {
  DiskHandle handle;
  std::unique_ptr<SectorByteSource> bytes;
  bool Open(ScanSession& session) {
    if (!session.Environment().open(session.Partition(), handle)) return false;
    bytes = std::make_unique<SectorByteSource>(
        [this](std::uint64_t lba, std::uint32_t count, std::uint8_t* out) {
          return ReadSectors(handle, lba, count, out);
        },
        AreaEndByte(session), 1024);
    return true;
  }
};

RebuildHooks HooksFor(ScanSession& session, std::uint32_t stage) {
  RebuildHooks hooks;
  hooks.log = [](const std::string& text) { TraceLine(text); };
  hooks.progress = [&session, stage](std::uint32_t done, std::uint32_t total) {
    // A bar of 0 recordings is not drawn.
    if (total == 0) return;
    ScanProgress record{};
    record.stage = stage;
    record.u.counter.done = done;
    record.u.counter.total = total;
    session.PublishStage(record);
  };
  hooks.stopped = [&session] { return session.State() == ScanState::kStopped; };
  return hooks;
}

PackedTime PackedFromUnix(std::uint32_t seconds) {
  CivilTime t;
  if (seconds == 0 || !UtcSecondsToLocal(seconds, t)) return 0;
  return PackPackedTime(t.year, t.month, t.day, t.hour, t.minute, t.second);
}

}  // namespace

VideoSettings VideoSettingsFromProgram() {
  VideoSettings s;
  s.movOn = SettingOn("MovFragRecovery");
  s.mtsOn = SettingOn("MtsFragRecovery");
  s.sampleSize = SettingOn("VideoSampleSize");
  s.sample01 = SettingOn("VideoSample01");
  s.sample02 = SettingOn("VideoSample02");
  s.sample20 = SettingOn("VideoSample20");
  s.variantKey = LeadingDecimal(GetSetting("Key"));
  const std::string name = GetSetting("LocalName");
  const std::size_t at = name.find("MP4");
  s.mp4Extension = at != std::string::npos && at > 0;
  return s;
}

std::unique_ptr<VideoReassembly> VideoReassembly::Create(const VideoSettings& settings) {
  if (settings.movOn) return std::make_unique<MovReassembly>(settings);
  if (settings.mtsOn) return std::make_unique<MtsReassembly>(settings);
  return nullptr;
}

void VideoReassembly::Notice(ScanSession& session, const char* text) {
  PostNotice(kRebuildTitle, text);  // into the scan's mailbox, bound on this thread
}

void VideoReassembly::BuildResults(ScanSession& session, const std::vector<const ScanHit*>& pictures) {
  results_.clear();
  if (recordings_.empty() && pictures.empty()) return;
  const PartitionInfo& scanned = session.Partition();
  auto part = std::make_unique<PartitionInfo>();
  part->fsKind = kFsSignature;
  part->displayName = part->volumeLabel = kVideoPartitionLabel;
  part->diskPath = scanned.diskPath;
  part->diskName = scanned.diskName;
  part->diskNumber = scanned.diskNumber;
  part->startLba = scanned.startLba;
  part->sectorCount = scanned.sectorCount;
  part->diskSectorCount = scanned.diskSectorCount;
  part->removable = scanned.removable;
  FoundFileTable& table = part->table;
  table.isSignatureTable = true;
  if (!InitTable(table)) return;
  table.count = std::max(table.count, kFirstFreeId);
  std::uint32_t added = 0;
  for (const Recording& rec : recordings_) {
    const std::uint8_t code = rec.kind == RecordingKind::kTransportStream ? kTypeCodeMts : kTypeCodeMov;
    FoundFileNode n{};
    n.parentId = locked::TypeFolder(table, code);
    if (n.parentId == 0 || rec.fragments.empty()) continue;
    n.typeCode = code;
    SetKind(n, kPresentFile);
    n.flags |= kFlagVideoRebuilt;
    n.firstCluster = static_cast<std::uint32_t>(rec.fragments.size());
    n.fileCount = rec.skip;
    n.dataSector = rec.fragments.front().startLba;
    n.size = rec.size;
    n.created = n.modified = PackedFromUnix(rec.created);
    auto* extra = static_cast<std::uint8_t*>(std::malloc(rec.fragments.size() * 16));
    if (!extra) continue;
    for (std::size_t i = 0; i < rec.fragments.size(); ++i) {
      std::memcpy(extra + 16 * i, &rec.fragments[i].startLba, 8);
      std::memcpy(extra + 16 * i + 8, &rec.fragments[i].sectors, 8);
    }
    n.extra = extra;
    if (AddNodeNamed(table, n, rec.name, true)) ++added;
    else std::free(extra);
  }
  // The pictures whose end their own structure told.
  for (const ScanHit* hit : pictures) {
    if (hit->status != kStatusSized || hit->Size() == 0) continue;
    FoundFileNode node = CarvedFileNode(*hit, hit->Size());
    node.parentId = locked::TypeFolder(table, hit->kind);
    if (node.parentId == 0) continue;
    if (AddNodeNamed(table, node, CarvedFileName(hit->lba, hit->kind), true)) ++added;
  }
  if (added == 0) return;
  results_.push_back(std::move(part));
}

// ---- QuickTime ----

MovReassembly::MovReassembly(const VideoSettings& settings) : VideoReassembly(settings) {
  switches_.size = settings.sampleSize;
  switches_.startCode = settings.sample01;
  switches_.length2 = settings.sample02;
  switches_.length20 = settings.sample20;
  switches_.nalStart = true;
  const int variant = settings.variantKey % 100;
  switches_.padded = variant == 4 || variant == 18;
}

void MovReassembly::AnalyseChunk(ScanSession& session, const ChunkData& chunk, HitList& hits,
                                 SectorHitSource& disk) {
  const std::uint64_t chunkByte = chunk.firstLba * kSector;
  disk_ = &disk;
  if (!beyond_)
    beyond_ = std::make_unique<SectorByteSource>(
        [this](std::uint64_t lba, std::uint32_t count, std::uint8_t* out) {
          return disk_ && disk_->ReadDisk(lba, count, out);
        },
        AreaEndByte(session), kBeyondCacheBlocks);
  ChunkByteSource bytes(chunk.bytes, chunkByte, beyond_.get());
  scanner_.Scan(chunk.bytes, chunkByte, switches_, &bytes, finds_);
  std::uint32_t found = 0;
  for (const AtomFind& atom : finds_.atoms) {
    ScanHit hit;
    hit.lba = chunk.firstLba + atom.offset / kSector;
    switch (atom.kind) {
      case AtomKind::kFtyp:
        hit.kind = static_cast<std::uint8_t>(VideoHit::kFtyp);
        hit.status = kStatusSized;
        hit.aux1 = static_cast<std::uint32_t>(atom.size);
        hit.aux2 = atom.topBit ? 1 : 0;
        break;
      case AtomKind::kMoov: {
        hit.kind = static_cast<std::uint8_t>(VideoHit::kMoov);
        std::vector<std::uint8_t> moov(static_cast<std::size_t>(atom.size));
        if (bytes.ReadAt(chunkByte + atom.offset, moov.data(), moov.size()) && WalkMoov(moov)) {
          hit.status = kStatusSized;
          PutU32(hit.extra, atom.offset % kSector);
          hit.extra.insert(hit.extra.end(), moov.begin(), moov.end());
          ++found;
        } else {
          TraceLine(Format("VIDEO_MOOV  lba: 0x%" PRIx64 "  valid failed!", hit.lba));
        }
        break;
      }
      case AtomKind::kMdat:
        hit.kind = static_cast<std::uint8_t>(VideoHit::kMdat);
        hit.status = kStatusSized;
        PutU64(hit.extra, chunkByte + atom.offset);
        PutU64(hit.extra, atom.size);
        break;
    }
    hits.push_back(std::move(hit));
  }
  for (std::size_t list = 0; list < kCandidateLists; ++list) {
    const auto& offsets = finds_.candidates[list];
    if (offsets.empty()) continue;
    ScanHit hit;
    hit.kind = ListHitKind(list);
    hit.status = kStatusSized;
    hit.lba = chunk.firstLba;
    PutU32(hit.extra, static_cast<std::uint32_t>(list));
    for (std::uint32_t at : offsets) {
      PutU32(hit.extra, at);
      if (list == kNalListId) {
        const std::uint8_t* p = chunk.bytes.data() + at;
        PutU32(hit.extra, (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) | p[3]);
      }
    }
    hits.push_back(std::move(hit));
  }
  // The picture headers go to the picture carving.
  ChunkHitBuilder pictures;
  for (const PictureFind& p : finds_.pictures) {
    const std::size_t before = pictures.hits.size();
    if (!carver_.Detect(chunk, p.sector, chunk.firstLba + p.sector, pictures, disk)) continue;
    if (pictures.hits.size() > before && pictures.hits.back().kind != p.type) pictures.hits.pop_back();
    else ++found;
  }
  carver_.AfterChunk(session, chunk, pictures.hits, disk);
  for (ScanHit& hit : pictures.hits) hits.push_back(std::move(hit));
  found_ += found;
  disk_ = nullptr;
}

bool MovReassembly::Organise(ScanSession& session) {
  Notice(session, kRebuildStep);
  carver_.EndOfScan();
  MovScanFinds finds;
  std::vector<const ScanHit*> pictures;
  for (const HitList& list : session.ChunkHitsForOrganisation()) {
    for (const ScanHit& hit : list) {
      const std::uint64_t at = hit.lba * kSector;
      switch (hit.kind) {
        case static_cast<std::uint8_t>(VideoHit::kFtyp):
          finds.ftyps.push_back({at, hit.aux1});
          break;
        case static_cast<std::uint8_t>(VideoHit::kMoov): {
          if (hit.status != kStatusSized || hit.extra.size() < 4) break;
          const auto offset = static_cast<std::uint32_t>(GetLe(hit.extra, 0, 4));
          const ByteSpan bytes(hit.extra.data() + 4, hit.extra.size() - 4);
          auto info = WalkMoov(bytes);
          if (!info || offset >= kSector) break;
          MoovRecord moov;
          moov.position = at + offset;
          moov.info = std::move(*info);
          moov.info.position = moov.position;
          moov.head.assign(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(std::min(kMoovCheckBytes, bytes.size())));
          finds.moovs.push_back(std::move(moov));
          break;
        }
        case static_cast<std::uint8_t>(VideoHit::kMdat):
          if (hit.status == kStatusSized && hit.extra.size() >= 16)
            finds.mdats.push_back({GetLe(hit.extra, 0, 8), GetLe(hit.extra, 8, 8)});
          break;
        case static_cast<std::uint8_t>(VideoHit::kSizeList):
        case static_cast<std::uint8_t>(VideoHit::kLength20List):
        case static_cast<std::uint8_t>(VideoHit::kLength2List):
        case static_cast<std::uint8_t>(VideoHit::kStartCodeList): {
          if (hit.status != kStatusSized || hit.extra.size() < 4) break;
          const auto id = static_cast<std::uint32_t>(GetLe(hit.extra, 0, 4));
          if (id >= kCandidateLists) break;
          const std::size_t step = id == kNalListId ? 8 : 4;
          for (std::size_t k = 4; k + step <= hit.extra.size(); k += step) {
            const std::uint64_t position = at + GetLe(hit.extra, k, 4);
            finds.lists[id].push_back(position);
            if (id == kNalListId)
              finds.nalIndex.Add(position, static_cast<std::uint32_t>(GetLe(hit.extra, k + 4, 4)));
          }
          break;
        }
        default:
          if (IsSignatureKind(hit.kind)) pictures.push_back(&hit);
          break;
      }
    }
  }
  finds.Finish();
  RebuildDisk disk;
  if (!disk.Open(session)) return false;
  MovRebuildSettings settings;
  settings.mp4Extension = settings_.mp4Extension;
  recordings_ = RebuildMov(finds, *disk.bytes, settings, HooksFor(session, kStageVideoRebuild));
  BuildResults(session, pictures);
  return !results_.empty();
}

// ---- transport streams ----

std::uint32_t MtsReassembly::ProgressStage() const { return kStageMtsScan; }

void MtsReassembly::AnalyseChunk(ScanSession& session, const ChunkData& chunk, HitList& hits,
                                 SectorHitSource& disk) {
  const std::uint64_t chunkByte = chunk.firstLba * kSector;
  const std::uint64_t areaEnd = AreaEndByte(session);
  // The scanner walks the area in order from its first chunk; a chunk
  // handed out of order is caught up to through the disk.
  if (!scanner_) scanner_ = std::make_unique<MtsBlockScanner>(session.Partition().startLba * kSector);
  SectorByteSource diskBytes = DiskBytes(disk, areaEnd);
  ChunkByteSource bytes(chunk.bytes, chunkByte, &diskBytes);
  std::vector<MtsFragment> ended;
  const std::uint64_t chunkEnd = chunkByte + chunk.bytes.size();
  if (scanner_->Position() < chunkEnd) scanner_->Advance(bytes, chunkEnd, ended);
  if (chunkEnd >= areaEnd) scanner_->Finish(ended);
  for (const MtsFragment& f : ended) {
    ScanHit hit;
    hit.kind = static_cast<std::uint8_t>(f.recordingStart ? VideoHit::kMtsStart : VideoHit::kMtsMiddle);
    hit.status = kStatusSized;
    hit.lba = f.startLba;
    hit.extra = f.Encode();
    hits.push_back(std::move(hit));
  }
  found_ += static_cast<std::uint32_t>(ended.size());
}

bool MtsReassembly::Organise(ScanSession& session) {
  Notice(session, kRebuildStep);
  std::vector<MtsFragment> fragments;
  for (const HitList& list : session.ChunkHitsForOrganisation())
    for (const ScanHit& hit : list)
      if (hit.kind == static_cast<std::uint8_t>(VideoHit::kMtsStart) ||
          hit.kind == static_cast<std::uint8_t>(VideoHit::kMtsMiddle))
        if (auto f = MtsFragment::Decode(hit.extra)) fragments.push_back(*f);
  // A resumed scan walks again through chunks a saved scan had done: one
  // fragment may then be recorded twice.
  std::sort(fragments.begin(), fragments.end(), [](const MtsFragment& a, const MtsFragment& b) {
    return a.StartByte() != b.StartByte() ? a.StartByte() < b.StartByte() : a.EndByte() > b.EndByte();
  });
  fragments.erase(std::unique(fragments.begin(), fragments.end(),
                              [](const MtsFragment& a, const MtsFragment& b) { return a.StartByte() == b.StartByte(); }),
                  fragments.end());
  RebuildDisk disk;
  if (!disk.Open(session)) return false;
  recordings_ = ChainMts(std::move(fragments), *disk.bytes, HooksFor(session, kStageVideoRebuild));
  BuildResults(session, {});
  return !results_.empty();
}

}  // namespace ambrel::video
