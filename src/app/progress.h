// The progress record of every long task and the one process-wide mailbox
// through which workers publish it and a view takes it.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

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

// One task's mailbox: the task's workers publish into it and its view
// takes from it. Each task (a parse, a copy, a scan, an enumeration) owns
// its own, so two tasks never see each other's records.
class ProgressMailbox {
 public:
  // Workers (any thread): copies the record in unless the mailbox still
  // holds an untaken one, in which case the record is dropped.
  void Publish(const ScanProgress& record);
  // The view: moves the record into `out` and empties the mailbox; false
  // when it is empty (`out` untouched).
  bool Take(ScanProgress& out);
  // Empties the mailbox (a view as it opens, or before a task).
  void Clear();

 private:
  std::mutex lock_;
  ScanProgress record_{};
  // Mirror of record_.stage, so a publisher can test emptiness without the
  // lock; it changes only while the lock is held.
  std::atomic<std::uint32_t> stage_{kStageEmpty};
};

// The mailbox the calling thread's records go to: a task binds its own for
// the life of the binding on the thread that runs it; bindings nest.
class ProgressBinding {
 public:
  explicit ProgressBinding(ProgressMailbox* box);
  ~ProgressBinding();
  ProgressBinding(const ProgressBinding&) = delete;
  ProgressBinding& operator=(const ProgressBinding&) = delete;

 private:
  ProgressMailbox* previous_;
};

// Workers: publishes into the mailbox bound on this thread; dropped when
// none is bound (a task nobody watches).
void PublishProgress(const ScanProgress& record);
// Publishes a stage-11 notice: title cut to 39 characters, text to 109.
void PostNotice(const char* title, const char* text);

}  // namespace ambrel
