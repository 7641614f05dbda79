// The one entry point that lists a partition's files with the reader of its
// file system. Runs on the caller's worker thread.
#pragma once

#include <atomic>
#include <cstdint>

#include "device/partition_info.h"

namespace ambrel {

// A file-system reader: lists the partition's live and deleted files into its
// table; false on failure or stop (stopWord reads 2).
using FileSystemReader = bool (*)(const std::atomic<int>* stopWord, PartitionInfo& partition);

// Readers register themselves for their kinds (the NTFS reader is built in;
// the FAT and exFAT readers add themselves from their own files, e.g. with a
// static FileSystemReaderRegistrar). A later registration replaces an
// earlier one for the same kind.
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
bool ParseFileSystem(const std::atomic<int>* stopWord, PartitionInfo& partition);

}  // namespace ambrel
