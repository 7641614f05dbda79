// The progress record of every long task and the one process-wide mailbox
// through which workers publish it and a view takes it.
#pragma once

#include <cstdint>

namespace ambrel {

enum ProgressStage : std::uint32_t {
  kStageEmpty = 0,
  kStageParse = 1,
  kStageDeepScan = 2,
  kStageCopy = 3,
  kStageEnumerate = 5,
  kStageLoadScan = 7,
  kStageSaveScan = 8,
  kStageClassify = 10,
  kStageNotice = 11,
  kStageVideoRebuild = 12,
  kStageMtsScan = 13,
};

struct ScanProgress {
  std::uint32_t stage = 0;
  union {
    struct { std::int32_t presentFiles, presentDirs, deletedFiles, deletedDirs; } parse;
    struct {
      std::uint64_t totalSectors, doneSectors;
      std::uint32_t filesFound;
      std::uint32_t kinds[8];  // EBR, NTFS boot, FAT boot, exFAT boot, FILE, FAT ".", INDX, exFAT set
    } scan;
    struct {
      std::uint32_t totalFiles;
      std::int32_t filesCopied;
      std::uint64_t totalBytes, bytesCopied, currentSize, currentCopied;
      char currentName[1040];  // UTF-8 of at most 259 characters
    } copy;
    struct {
      std::uint32_t volumesFound;
      char32_t letter;
      char fsName[256];   // UTF-8 of at most 63 characters
      char label[256];
    } enumerate;
    struct { std::uint32_t done, total; } counter;  // stages 7, 8, 10, 12
    struct {
      char title[160];   // UTF-8 of at most 39 characters
      char text[440];    // UTF-8 of at most 109 characters
    } notice;
  } u{};
};

void PublishProgress(const ScanProgress& record);
bool TakeProgress(ScanProgress& out);
void PostNotice(const char* title, const char* text);
void ClearProgress();

}  // namespace ambrel
