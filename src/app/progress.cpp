#include "app/progress.h"

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>

#include "common/text.h"

namespace ambrel {
namespace {

struct ProgressMailbox {
  std::mutex lock;
  ScanProgress record;
  // Mirror of record.stage, so a publisher can test emptiness without the
  // lock; it changes only while the lock is held.
  std::atomic<std::uint32_t> stage{kStageEmpty};
};

ProgressMailbox& Mailbox() {
  static ProgressMailbox box;
  return box;
}

// Copies at most `chars` characters of `text`, and never more than fits
// with its terminator, into `dest`.
template <std::size_t N>
void CopyText(char (&dest)[N], const char* text, std::size_t chars) {
  const std::string cut = Utf8CutBytes(Utf8Prefix(text ? text : "", chars), N - 1);
  std::memcpy(dest, cut.data(), cut.size());
  dest[cut.size()] = '\0';
}

}  // namespace

void PublishProgress(const ScanProgress& record) {
  ProgressMailbox& box = Mailbox();
  if (box.stage.load(std::memory_order_acquire) != kStageEmpty) return;
  std::lock_guard<std::mutex> guard(box.lock);
  box.record = record;
  box.stage.store(record.stage, std::memory_order_release);
}

bool TakeProgress(ScanProgress& out) {
  ProgressMailbox& box = Mailbox();
  std::lock_guard<std::mutex> guard(box.lock);
  if (box.record.stage == kStageEmpty) return false;
  out = box.record;
  box.record.stage = kStageEmpty;
  box.stage.store(kStageEmpty, std::memory_order_release);
  return true;
}

void PostNotice(const char* title, const char* text) {
  ScanProgress record;
  record.stage = kStageNotice;
  CopyText(record.u.notice.title, title, 39);
  CopyText(record.u.notice.text, text, 109);
  PublishProgress(record);
}

void ClearProgress() {
  ProgressMailbox& box = Mailbox();
  std::lock_guard<std::mutex> guard(box.lock);
  box.record = ScanProgress{};
  box.stage.store(kStageEmpty, std::memory_order_release);
}

}  // namespace ambrel
