// Copying a file's data from the source to its output file.
#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <vector>

#include "common/text.h"
#include "fs/ntfs/ntfs_file_data.h"
#include "recovery/save_item.h"

namespace ambrel {

namespace {

constexpr std::uint32_t kChunkSectors = 8192;  // 4 MiB per read and write
constexpr std::size_t kChunkBytes = std::size_t{kChunkSectors} * kSectorSize;

std::uint64_t SectorsFor(std::uint64_t bytes) { return (bytes + kSectorSize - 1) / kSectorSize; }

// Writes `take` bytes and counts them.
bool Emit(SaveJob& job, ByteSink& file, ScanProgress& progress, FileTally& tally, const std::uint8_t* bytes,
          std::uint64_t take) {
  if (take == 0) return true;
  {
    const TimeSpent spent(job.writing.seconds);
    if (!file.Write(bytes, take)) return false;
  }
  job.writing.bytes += take;
  tally.written += take;
  CountCopiedBytes(progress, take);
  return true;
}

// ReadSalvaging, its time and bytes counted for the run.
std::uint64_t TimedRead(SaveJob& job, DiskHandle& handle, std::uint64_t lba, std::uint32_t count,
                        std::uint8_t* buffer, std::uint64_t& firstBad) {
  const TimeSpent spent(job.reading.seconds);
  job.reading.bytes += std::uint64_t{count} * kSectorSize;
  return ReadSalvaging(handle, lba, count, buffer, firstBad);
}

}  // namespace

bool OpenJobSource(const SourceOpener& opener, const PartitionInfo& partition, DiskHandle& handle) {
  return opener ? opener(partition, handle) : OpenPartition(partition, handle);
}

DiskHandle* JobSource(SaveJob& job, const PartitionInfo& partition) {
  auto it = job.openSources.find(&partition);
  if (it != job.openSources.end()) return &it->second;
  DiskHandle handle;
  if (!OpenJobSource(job.opener, partition, handle)) return nullptr;
  return &job.openSources.emplace(&partition, std::move(handle)).first->second;
}

void CloseJobSources(SaveJob& job) {
  for (auto& [partition, handle] : job.openSources) handle.Close();
  job.openSources.clear();
}

std::uint64_t SourceLastLba(const SourceOpener& opener, const PartitionInfo& partition) {
  DiskHandle handle;
  if (!OpenJobSource(opener, partition, handle)) return 0;
  const std::uint64_t last = handle.lastLba;
  handle.Close();
  return last;
}

void CountCopiedBytes(ScanProgress& progress, std::uint64_t n) {
  progress.u.copy.currentCopied += n;
  progress.u.copy.bytesCopied += n;
  PublishProgress(progress);
}

void SetCurrentFile(ScanProgress& progress, const std::string& name, std::uint64_t size) {
  const std::string shown = Utf8CutBytes(Utf8Prefix(name, 259), sizeof progress.u.copy.currentName - 1);
  std::memset(progress.u.copy.currentName, 0, sizeof progress.u.copy.currentName);
  std::memcpy(progress.u.copy.currentName, shown.data(), shown.size());
  progress.u.copy.currentSize = size;
  progress.u.copy.currentCopied = 0;
}

std::uint64_t ReadSalvaging(DiskHandle& handle, std::uint64_t lba, std::uint32_t count, std::uint8_t* buffer,
                            std::uint64_t& firstBad) {
  // The same salvage the file-system readers use for their metadata.
  std::vector<std::uint32_t> bad;
  const std::uint64_t lost = ReadSectorsSalvaging(handle, lba, count, buffer, &bad);
  firstBad = bad.empty() ? (lost > 0 ? 0 : count) : bad.front();
  return lost;
}

WriteOutcome WriteFromExtents(const ExtentList& extents, ScanProgress& progress, SaveJob& job,
                              const PartitionInfo& partition, ByteSink& file, std::uint64_t size,
                              std::uint32_t readErrors, std::uint32_t skipBytes, FileTally* tally) {
  DiskHandle handle;
  if (!OpenJobSource(job.opener, partition, handle)) return WriteOutcome::kOpenFailed;
  FileTally local;
  const WriteOutcome outcome = WriteFromExtents(extents, progress, job, handle, file, size, readErrors, skipBytes,
                                                tally ? *tally : local);
  handle.Close();
  return outcome;
}

WriteOutcome WriteFromExtents(const ExtentList& extents, ScanProgress& progress, SaveJob& job, DiskHandle& handle,
                              ByteSink& file, std::uint64_t size, std::uint32_t readErrors,
                              std::uint32_t skipBytes, FileTally& tally) {
  std::uint64_t toSkip = skipBytes % kSectorSize;
  // A small file is read whole in one request and written in one; a large
  // one streams through chunks.
  const std::size_t bufferBytes =
      static_cast<std::size_t>(std::min<std::uint64_t>(kChunkBytes, SectorsFor(size + toSkip) * kSectorSize));
  std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[std::max<std::size_t>(bufferBytes, kSectorSize)]);
  std::uint64_t written = 0;
  for (const DataExtent& extent : extents) {
    if (written >= size) break;
    const std::uint64_t sectors = std::min(extent.sectorCount, SectorsFor(size - written + toSkip));
    for (std::uint64_t done = 0; done < sectors;) {
      if (job.state.load() == kJobStopRequested) return WriteOutcome::kStopped;
      const auto count = static_cast<std::uint32_t>(std::min<std::uint64_t>(kChunkSectors, sectors - done));
      std::uint64_t bytes = std::uint64_t{count} * kSectorSize;
      std::uint64_t bad = 0, firstBad = count;
      if (extent.sparse)
        std::memset(buffer.get(), 0, bytes);  // a sparse run has no sectors: zeros
      else
        bad = TimedRead(job, handle, extent.startSector + done, count, buffer.get(), firstBad);
      tally.badSectors += bad;
      // "keep" and "empty" end the file at its first unreadable sector.
      if (bad > 0 && readErrors != kReadErrorsWriteAll) bytes = firstBad * kSectorSize;
      const std::uint64_t skip = std::min(toSkip, bytes);
      toSkip -= skip;
      const std::uint64_t take = std::min(bytes - skip, size - written);
      if (!Emit(job, file, progress, tally, buffer.get() + skip, take)) return WriteOutcome::kWriteFailed;
      written += take;
      if (bad > 0 && readErrors != kReadErrorsWriteAll) return WriteOutcome::kReadFailed;
      done += count;
    }
  }
  return WriteOutcome::kDone;
}

WriteOutcome WriteCompressed(const ExtentList& extents, std::uint32_t spc, std::uint64_t unitBytes,
                             ScanProgress& progress, SaveJob& job, DiskHandle& handle, ByteSink& file,
                             std::uint64_t size, std::uint32_t readErrors, FileTally& tally) {
  if (unitBytes == 0 || spc == 0 || unitBytes > kMaxCompressionUnitBytes) return WriteOutcome::kReadFailed;
  const auto unitClusters = static_cast<std::uint32_t>(unitBytes / (std::uint64_t{spc} * kSectorSize));
  const auto units = SplitCompressionUnits(extents, spc, unitClusters, (size + unitBytes - 1) / unitBytes);
  std::vector<std::uint8_t> raw(unitBytes), plain(unitBytes);
  std::uint64_t written = 0;
  for (const CompressionUnit& unit : units) {
    if (written >= size) break;
    if (job.state.load() == kJobStopRequested) return WriteOutcome::kStopped;
    std::uint64_t at = 0, bad = 0;
    for (const DataExtent& piece : unit.pieces) {
      if (at + piece.sectorCount * kSectorSize > raw.size()) break;
      std::uint64_t firstBad = 0;
      bad += TimedRead(job, handle, piece.startSector, static_cast<std::uint32_t>(piece.sectorCount),
                       raw.data() + at, firstBad);
      at += piece.sectorCount * kSectorSize;
    }
    tally.badSectors += bad;
    // A unit with an unreadable sector cannot be decoded: all of it is lost.
    if (bad > 0 && readErrors != kReadErrorsWriteAll) return WriteOutcome::kReadFailed;
    if (bad > 0 || !ExpandCompressionUnit(unit, std::span<const std::uint8_t>(raw.data(), at), plain)) {
      if (bad == 0) ++tally.undecodableUnits;
      std::fill(plain.begin(), plain.end(), std::uint8_t{0});
    }
    const std::uint64_t take = std::min<std::uint64_t>(unitBytes, size - written);
    if (!Emit(job, file, progress, tally, plain.data(), take)) return WriteOutcome::kWriteFailed;
    written += take;
  }
  return WriteOutcome::kDone;
}

WriteOutcome WriteResidentData(ScanProgress& progress, SaveJob& job, DiskHandle& handle, const FoundFileNode& node,
                               std::uint32_t recordBytes, ByteSink& file, std::uint64_t size) {
  std::vector<std::uint8_t> value;
  {
    const TimeSpent spent(job.reading.seconds);
    value = ReadResidentData(handle, node, recordBytes);
  }
  if (value.empty()) return WriteOutcome::kReadFailed;
  job.reading.bytes += value.size();
  // A value shorter than the size the entry claims is written out with
  // zeros, as the record held no more.
  value.resize(std::max<std::size_t>(value.size(), std::min<std::uint64_t>(size, recordBytes)), 0);
  const std::uint64_t take = std::min<std::uint64_t>(size, value.size());
  {
    const TimeSpent spent(job.writing.seconds);
    if (!file.Write(value.data(), take)) return WriteOutcome::kWriteFailed;
  }
  job.writing.bytes += take;
  CountCopiedBytes(progress, take);
  return WriteOutcome::kDone;
}

}  // namespace ambrel
