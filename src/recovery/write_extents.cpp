// Copying a file's data from the source to its output file.
#include <algorithm>
#include <array>
#include <cstring>
#include <memory>

#include "common/text.h"
#include "fs/ntfs/ntfs_file_data.h"
#include "recovery/save_item.h"

namespace ambrel {

namespace {

constexpr std::uint32_t kChunkSectors = 8192;  // 4 MiB per read and write
constexpr std::size_t kChunkBytes = std::size_t{kChunkSectors} * kSectorSize;

bool OpenSource(SaveJob& job, const PartitionInfo& partition, DiskHandle& handle) {
  if (job.opener) return job.opener(partition, handle);
  return OpenPartition(partition, handle);
}

std::uint64_t SectorsFor(std::uint64_t bytes) { return (bytes + kSectorSize - 1) / kSectorSize; }

}  // namespace

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

WriteOutcome WriteFromExtents(const ExtentList& extents, ScanProgress& progress, SaveJob& job,
                              const PartitionInfo& partition, OutputFile& file, std::uint64_t size,
                              std::uint32_t readErrors, std::uint32_t skipBytes) {
  DiskHandle handle;
  if (!OpenSource(job, partition, handle)) return WriteOutcome::kOpenFailed;
  std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[kChunkBytes]);
  std::uint64_t written = 0;
  std::uint64_t toSkip = skipBytes % kSectorSize;
  WriteOutcome outcome = WriteOutcome::kDone;
  for (const DataExtent& extent : extents) {
    if (written >= size || outcome != WriteOutcome::kDone) break;
    const std::uint64_t sectors = std::min(extent.sectorCount, SectorsFor(size - written + toSkip));
    for (std::uint64_t done = 0; done < sectors;) {
      if (job.state.load() == kJobStopRequested) {
        outcome = WriteOutcome::kStopped;
        break;
      }
      const auto count = static_cast<std::uint32_t>(std::min<std::uint64_t>(kChunkSectors, sectors - done));
      const std::uint64_t bytes = std::uint64_t{count} * kSectorSize;
      bool read = true;
      if (extent.sparse) {
        std::memset(buffer.get(), 0, bytes);  // a sparse run has no sectors: zeros
      } else {
        read = ReadSectors(handle, extent.startSector + done, count, buffer.get());
      }
      if (!read && readErrors != kReadErrorsWriteAll) {
        outcome = WriteOutcome::kReadFailed;
        break;
      }
      const std::uint64_t skip = std::min(toSkip, bytes);
      toSkip -= skip;
      const std::uint64_t take = std::min(bytes - skip, size - written);
      if (take > 0 && !file.Write(buffer.get() + skip, take)) {
        outcome = WriteOutcome::kWriteFailed;
        break;
      }
      written += take;
      CountCopiedBytes(progress, take);
      done += count;
    }
  }
  handle.Close();
  return outcome;
}

WriteOutcome WriteResidentData(ScanProgress& progress, const PartitionInfo& partition,
                               const FoundFileNode& node, OutputFile& file, std::uint64_t size) {
  std::array<std::uint8_t, 1024> value{};
  const std::uint32_t length = ReadResidentData(partition, node, value.data());
  if (length == 0) return WriteOutcome::kReadFailed;
  const std::uint64_t take = std::min<std::uint64_t>(size, value.size());
  if (!file.Write(value.data(), take)) return WriteOutcome::kWriteFailed;
  CountCopiedBytes(progress, take);
  return WriteOutcome::kDone;
}

}  // namespace ambrel
