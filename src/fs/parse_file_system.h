// The one entry point that lists a partition's files with the reader of its
// file system. Runs on the caller's worker thread.
#pragma once

#include <atomic>
#include <cstdint>

#include "device/partition_info.h"

namespace ambrel {

// A file-system reader: lists the partition's live and deleted files into its
// table; false on failure or stop. The stop word is the task's 32-bit state
// word (0 running, 1 paused, 2 stop requested, 3 finished).
using FileSystemReader = bool (*)(const std::atomic<std::uint32_t>* stopWord,
                                  PartitionInfo& partition);

// The NTFS, FAT and exFAT readers are built in; another reader (or a test
// double) may be registered for a kind, e.g. with a static
// FileSystemReaderRegistrar. A later registration replaces an earlier one
// for the same kind.
void RegisterFileSystemReader(std::int32_t fsKind, FileSystemReader reader);
FileSystemReader FindFileSystemReader(std::int32_t fsKind);

struct FileSystemReaderRegistrar {
  FileSystemReaderRegistrar(std::int32_t fsKind, FileSystemReader reader) {
    RegisterFileSystemReader(fsKind, reader);
  }
};

// Does nothing and fails unless the setting ParseFileSys is "1"; then hands
// the partition to the reader of its kind (4 exFAT, 10/11 FAT, 12 NTFS).
// Any other kind, or a kind whose reader is not built in, fails.
bool ParseFileSystem(const std::atomic<std::uint32_t>* stopWord, PartitionInfo& partition);

}  // namespace ambrel
