// A test decorator around any device that injects read faults: chosen
// sectors that fail, a number of failing reads, short reads, a device that
// cannot be reopened. It counts reads and reopens so that tests can tell
// whether the device was touched at all.
//
// Threads: every member is safe to call from several threads.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "platform/block_device.h"

namespace ambrel {

class FaultyDevice final : public BlockDevice {
 public:
  explicit FaultyDevice(std::shared_ptr<BlockDevice> inner);

  // Every read that covers one of these 512-byte sectors fails (-1).
  void FailSectors(std::uint64_t firstLba, std::uint64_t count);
  // When set, a Reopen() clears the failing sectors (a transient error);
  // otherwise they keep failing (a bad sector).
  void SetReopenHeals(bool heals);
  // The next `reads` reads fail whatever they cover.
  void FailNextReads(int reads);
  // Reads that reach this sector stop just before it and return the bytes
  // before it: a partial read.
  void ShortReadAt(std::uint64_t lba);
  // Each read returns at most this many bytes (0: no limit).
  void SetReadLimit(std::uint64_t bytes);
  // Failed and short reads also scribble 0xEE over the part of the buffer
  // that did not arrive, as a torn transfer might.
  void SetScribble(bool scribble);
  // Makes Reopen() fail.
  void SetReopenFails(bool fails);

  std::uint64_t ReadCount() const;
  std::uint64_t FailedReadCount() const;
  std::uint64_t ReopenCount() const;
  std::uint64_t BytesDelivered() const;

  std::int64_t ReadAt(std::uint64_t offset, void* buffer, std::size_t length) override;
  std::uint64_t SizeBytes() override { return inner_->SizeBytes(); }
  bool Reopen() override;
  std::string Path() const override { return inner_->Path(); }
  std::string Container() const override { return inner_->Container(); }
  std::mutex& ReadLock() override { return inner_->ReadLock(); }

 private:
  bool CoversFailingSector(std::uint64_t offset, std::size_t length) const;

  std::shared_ptr<BlockDevice> inner_;
  mutable std::mutex lock_;
  std::set<std::pair<std::uint64_t, std::uint64_t>> failing_;  // (first, end) ranges
  bool reopenHeals_ = false;
  bool reopenFails_ = false;
  bool scribble_ = false;
  int failNext_ = 0;
  std::uint64_t shortAtByte_ = UINT64_MAX;
  std::uint64_t readLimit_ = 0;
  std::uint64_t reads_ = 0;
  std::uint64_t failedReads_ = 0;
  std::uint64_t reopens_ = 0;
  std::uint64_t delivered_ = 0;
};

}  // namespace ambrel
