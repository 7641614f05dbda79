// What the copy-out can make of one file before it reads a byte: where its
// data lies, how much of it lies inside the source device (the readable
// size), and why it cannot be copied whole. Pure over the node and the
// partition record (the FAT, bitmap and run list held in memory); any
// thread.
#pragma once

#include <cstdint>
#include <string>

#include "catalog/found_file_node.h"
#include "catalog/partition_info.h"
#include "fs/data_extent.h"

namespace ambrel {

enum class DataDamage : std::uint8_t {
  kNone,
  kNoData,         // no extent could be found for a non-empty file
  kChainShort,     // the chain, run list or extent list covers less than the size
  kOutsideDevice,  // extents lie outside the source device
  kRecordDamaged,  // the NTFS record's $DATA cannot be located
  kEncrypted,      // EFS ciphertext: never written
  kBadCompression, // a compressed attribute whose units cannot be decoded
  kChainLoop,      // the chain comes back to a cluster it already held
  kCrossLinked,    // the chain runs into clusters another live file holds
  kOverwritten,    // a deleted file whose every cluster is in use again
  kPartlyOverwritten,  // a deleted file some of whose clusters are in use again
  kNotValidData,   // exFAT: the bytes after ValidDataLength were never written
  kRunsIntoOtherFile,  // a deleted file's contiguous clusters reach another entry's first cluster
  kRecordTorn,     // the NTFS record failed its update-sequence check: its fields cannot be trusted
};

// What became of a deleted file's clusters since its deletion: still free
// (intact), some or all of them given to other files or to the file system.
// kUnknown for live files and where no allocation map could be read.
enum class OverwriteState : std::uint8_t { kUnknown, kIntact, kPartlyOverwritten, kOverwritten };

// A short English reason for the report.
const char* DamageText(DataDamage damage);

struct FilePlan {
  ExtentList extents;            // clipped to the device; sparse runs kept
  std::uint64_t size = 0;        // the size the entry claims
  std::uint64_t readable = 0;    // the bytes that will be written (<= size)
  DataDamage damage = DataDamage::kNone;
  bool resident = false;         // NTFS resident value
  std::uint32_t recordBytes = 0; // resident: the volume's FILE record size
  std::uint64_t unitBytes = 0;   // NTFS compression unit, 0 when not compressed
  std::uint32_t spc = 0;         // sectors per cluster (compressed files)
  OverwriteState overwrite = OverwriteState::kUnknown;
  std::uint64_t clusters = 0;       // clusters of a deleted file's data
  std::uint64_t takenClusters = 0;  // of those, the ones in use again
  std::string crossLinkedWith;      // the live file whose clusters the chain runs into
  std::string overwrittenBy;        // deleted: the live file holding its first cluster in use again
  std::uint64_t validLength = 0;    // exFAT ValidDataLength when below the size
  // Nothing can be written (no data at all, encrypted): the file is
  // reported and skipped.
  bool Skip() const { return readable == 0 && size > 0; }
};

// Plans the node's data. `firstLba` .. `lastLba` are the sectors the source
// can deliver (the partition on its device); an extent that starts outside
// them ends the file's readable data there, and one that runs past the end
// is cut. A file's data never comes from clusters that belong to another
// file: a deleted file's data ends at its first cluster in use again, a
// live chain's or run list's at the first cluster another live file owns.
FilePlan PlanFileData(const FoundFileNode& node, const PartitionInfo& partition, std::uint64_t firstLba,
                      std::uint64_t lastLba);

}  // namespace ambrel
