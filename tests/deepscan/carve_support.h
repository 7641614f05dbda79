// Helpers of the carving tests: corpus files, images with files planted at
// chosen sectors, and a whole deep scan with the carver over such an image.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "catalog/partition_info.h"
#include "deepscan/scan_hit.h"
#include "deepscan/scan_settings.h"
#include "deepscan_support.h"

namespace ambrel::test {

// The bytes of a corpus file ("jpg/tokyo.jpg"); empty when absent.
Bytes CorpusFile(const std::string& relative);
// Copies `file` into `image` at sector `lba` (the image grows when needed).
void Plant(Bytes& image, std::uint64_t lba, const Bytes& file);
// A 512-byte sector holding `bytes` at `offset`.
Bytes SectorWith(std::size_t offset, const std::string& bytes);

// The kind, status and size of a hit.
struct CarvedHit {
  std::uint8_t kind = 0;
  std::uint8_t status = 0;
  std::uint64_t size = 0;
};

struct CarveRun {
  std::map<std::uint64_t, CarvedHit> hits;         // signature hits by LBA, as stored
  std::unique_ptr<PartitionInfo> foundFiles;      // the pseudo-partition, or null
};

// A deep scan of `image` (whole device, `mode`) with the carver.
CarveRun CarveImage(const Bytes& image, RecoveryMode mode = RecoveryMode::kAllFiles,
                    DeepScanSettings settings = DeepScanSettings{});

}  // namespace ambrel::test
