#include "recovery/copy_ledger.h"

#include "platform/files.h"
#include "platform/output_file.h"

namespace ambrel {
namespace {

constexpr std::size_t kMaxLockedTempFiles = 10;
constexpr std::uint64_t kMaxLockedTempBytes = 0x20000000;  // 512 MiB

}  // namespace

CopyStatistics CopyLedger::Statistics() const {
  std::lock_guard<std::mutex> guard(lock_);
  return statistics_;
}

void CopyLedger::CountRun(std::uint64_t bytes, std::uint32_t files, bool zeroLast) {
  std::lock_guard<std::mutex> guard(lock_);
  statistics_.totalBytes += bytes;
  statistics_.totalFiles += files;
  statistics_.lastBytes = zeroLast ? 0 : bytes;
  statistics_.lastFiles = zeroLast ? 0 : files;
}

void CopyLedger::ResetStatistics() {
  std::lock_guard<std::mutex> guard(lock_);
  statistics_ = CopyStatistics{};
}

std::string CopyLedger::OutputFolder() const {
  std::lock_guard<std::mutex> guard(lock_);
  return outputFolder_;
}

void CopyLedger::SetOutputFolder(const std::string& folder) {
  std::lock_guard<std::mutex> guard(lock_);
  outputFolder_ = folder;
}

bool CopyLedger::BeginRun() {
  std::lock_guard<std::mutex> guard(lock_);
  if (running_) return false;
  running_ = true;
  return true;
}

void CopyLedger::EndRun() {
  std::lock_guard<std::mutex> guard(lock_);
  running_ = false;
}

void CopyLedger::ResetReads() {
  reads_.reads = 0;
  reads_.failed = 0;
  reads_.mode = 2;
}

void CopyLedger::AddTempOpenFile(const std::string& path, std::uint64_t size) {
  std::lock_guard<std::mutex> guard(lock_);
  tempFiles_.push_back(TempOpenEntry{path, size});
}

std::vector<TempOpenEntry> CopyLedger::TempOpenFiles() const {
  std::lock_guard<std::mutex> guard(lock_);
  return tempFiles_;
}

void CopyLedger::ClearTempOpenList() {
  std::lock_guard<std::mutex> guard(lock_);
  tempFiles_.clear();
}

bool CopyLedger::CleanTempOpenFiles() {
  std::size_t locked = 0;
  std::uint64_t lockedBytes = 0;
  std::lock_guard<std::mutex> guard(lock_);
  std::vector<TempOpenEntry> kept;
  for (TempOpenEntry& e : tempFiles_) {
    if (!PathExists(e.path) || RemoveFile(e.path)) continue;
    ++locked;
    lockedBytes += e.size;
    kept.push_back(std::move(e));
  }
  tempFiles_ = std::move(kept);
  return locked <= kMaxLockedTempFiles && lockedBytes <= kMaxLockedTempBytes;
}

}  // namespace ambrel
