// The layout of an exFAT volume that was formatted over, read back from
// its directories alone.
//
// A directory names each subdirectory by its first cluster (the stream
// extension entry, 0xC0, that follows a file entry, 0x85, whose attributes
// have the directory bit). The subdirectory itself is found by the scan as
// a run of directory sectors at some LBA. With the old volume's cluster
// heap at H and S sectors per cluster, cluster C lies at H + (C - 2) * S,
// so every pair (named cluster, found run) proposes one H for each S; the
// true layout is the one most pairs agree on. Two links that agree are
// enough: a random pair agrees with another only by chance.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace ambrel {

// The first clusters of the subdirectories named in directory bytes, live
// or deleted entries alike (a deleted folder of the old tree still lies
// where its entry says). Entries are read in 32-byte steps; a file entry
// whose stream extension is cut off by the end of the bytes is skipped.
std::vector<std::uint32_t> ExfatSubdirectoryClusters(std::span<const std::uint8_t> directoryBytes);

// A file (not a folder) a directory names: its first cluster and the
// lower-case extension of its name ("" when none or not ASCII).
struct ExfatNamedFile {
  std::uint32_t firstCluster = 0;
  std::string extension;
};
std::vector<ExfatNamedFile> ExfatFileClusters(std::span<const std::uint8_t> directoryBytes);

struct FormerDirectoryRun {
  std::uint64_t lba = 0;                 // the run's first sector
  std::vector<std::uint32_t> children;   // subdirectory clusters it names
  std::vector<ExfatNamedFile> files;     // the files it names
};

// Where a file signature was found, and the extension of its type.
struct SignatureStart {
  std::uint64_t lba = 0;
  std::string extension;
};

struct FormerExfatLayout {
  std::uint64_t heapLba = 0;       // where cluster 2 lies
  std::uint32_t sectorsPerCluster = 0;
  std::uint32_t links = 0;         // named clusters that land on a found run
};

// The layout most links agree on, with the heap at or after `lowestLba`;
// nothing when fewer than two links agree on any layout, or when two
// layouts are equally supported. Cluster sizes of 512 B to 32 MiB are
// tried; at most 1,024 runs and 512 named clusters are weighed.
std::optional<FormerExfatLayout> SolveFormerExfatLayout(std::span<const FormerDirectoryRun> runs,
                                                        std::uint64_t lowestLba);

// The same from the files when no folder that names another survived (a
// format over it wrote its new metadata where the old root and the first
// folders were): each file whose extension is that of a signature found
// proposes, for each cluster size, the heap that puts its first cluster on
// that signature. The layout needs at least three files that agree, more
// than any other layout, and at least four in five of the directory runs
// starting on its cluster boundaries (directories fill whole clusters). At
// most 256 files and 4,096 signatures are weighed.
std::optional<FormerExfatLayout> SolveFormerExfatLayoutByFiles(std::span<const FormerDirectoryRun> runs,
                                                               std::span<const SignatureStart> signatures,
                                                               std::uint64_t lowestLba);

}  // namespace ambrel
