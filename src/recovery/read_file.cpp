#include "recovery/read_file.h"

#include <algorithm>
#include <optional>

#include "recovery/save_item.h"

namespace ambrel {

namespace {

// Collects the bytes in memory, refusing anything beyond the cap so that a
// size recorded on disk can never grow the buffer past it.
class MemorySink final : public ByteSink {
 public:
  MemorySink(std::vector<std::uint8_t>& out, std::uint64_t cap) : out_(out), cap_(cap) {}
  bool Write(const void* bytes, std::size_t size) override {
    if (size > cap_ - out_.size()) return false;
    const auto* p = static_cast<const std::uint8_t*>(bytes);
    out_.insert(out_.end(), p, p + size);
    return true;
  }

 private:
  std::vector<std::uint8_t>& out_;
  std::uint64_t cap_;
};

// Opens the node's source once and plans its data, noting in `result` the
// size, whether the source opened, the damage and the readable bytes; none
// when the node has no volume or its source cannot be opened.
std::optional<FilePlan> OpenAndPlan(const SaveNode& node, const SourceOpener& opener, DiskHandle& handle,
                                    FileBytes& result) {
  result.size = node.record.size;
  if (node.partition == nullptr || !OpenJobSource(opener, *node.partition, handle)) return std::nullopt;
  result.opened = true;
  FilePlan plan = PlanFileData(node.record, *node.partition, 0, handle.lastLba);
  result.damage = plan.damage;
  result.readable = plan.readable;
  return plan;
}

}  // namespace

FileBytes ReadFileBytes(const SaveNode& node, const SourceOpener& opener, std::uint64_t cap) {
  FileBytes result;
  DiskHandle handle;
  std::optional<FilePlan> planned = OpenAndPlan(node, opener, handle, result);
  if (!planned) return result;
  FilePlan& plan = *planned;
  if (plan.Skip() || plan.damage == DataDamage::kEncrypted || plan.damage == DataDamage::kRecordDamaged ||
      plan.damage == DataDamage::kRecordTorn) {
    handle.Close();
    return result;
  }
  // The reader writes `readable` bytes; asking it for fewer reads only the
  // start of the file.
  plan.readable = std::min(plan.readable, cap);
  result.data.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(plan.readable, 0x4000000)));
  SaveJob job;
  job.readErrors = kReadErrorsKeepWritten;  // a copy's default: the file ends at its first bad sector
  ScanProgress progress{};
  MemorySink sink(result.data, plan.readable);
  FileTally tally;
  const WriteOutcome outcome = WritePlannedData(job, progress, node, plan, handle, sink, tally);
  handle.Close();
  result.badSectors = tally.badSectors;
  result.readFailed = outcome == WriteOutcome::kReadFailed;
  return result;
}

FileBytes ReadFileTail(const SaveNode& node, const SourceOpener& opener, std::uint64_t length) {
  FileBytes result;
  DiskHandle handle;
  const std::optional<FilePlan> planned = OpenAndPlan(node, opener, handle, result);
  if (!planned) return result;
  const FilePlan& plan = *planned;
  if (plan.Skip() || plan.resident || plan.unitBytes != 0 || plan.damage == DataDamage::kEncrypted ||
      plan.damage == DataDamage::kRecordDamaged || plan.damage == DataDamage::kRecordTorn || plan.readable == 0) {
    handle.Close();
    return result;
  }
  length = std::min(length, plan.readable);
  // The first byte wanted, counted from the first byte of the extents (a
  // rebuilt transport stream's data starts a few bytes into its first sector).
  const std::uint64_t from = plan.readable - length + LeadingSkipBytes(node.record);
  std::uint64_t dropSectors = from / kSectorSize;
  ExtentList rest;
  for (const DataExtent& extent : plan.extents) {
    if (dropSectors >= extent.sectorCount) {
      dropSectors -= extent.sectorCount;
      continue;
    }
    DataExtent part = extent;
    if (!part.sparse) part.startSector += dropSectors;
    part.sectorCount -= dropSectors;
    dropSectors = 0;
    rest.push_back(part);
  }
  result.data.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(length, 0x4000000)));
  SaveJob job;
  job.readErrors = kReadErrorsKeepWritten;
  ScanProgress progress{};
  MemorySink sink(result.data, length);
  FileTally tally;
  const WriteOutcome outcome = WriteFromExtents(rest, progress, job, handle, sink, length, job.readErrors,
                                                static_cast<std::uint32_t>(from % kSectorSize), tally);
  handle.Close();
  result.badSectors = tally.badSectors;
  result.readFailed = outcome == WriteOutcome::kReadFailed;
  return result;
}

}  // namespace ambrel
