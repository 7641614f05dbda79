#include "app/progress.h"

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>

#include "common/text.h"

namespace ambrel {
namespace {

thread_local ProgressMailbox* t_bound = nullptr;

// Copies at most `chars` characters of `text`, and never more than fits
// with its terminator, into `dest`.
template <std::size_t N>
void CopyText(char (&dest)[N], const char* text, std::size_t chars) {
  const std::string cut = Utf8CutBytes(Utf8Prefix(text ? text : "", chars), N - 1);
  std::memcpy(dest, cut.data(), cut.size());
  dest[cut.size()] = '\0';
}

}  // namespace

void ProgressMailbox::Publish(const ScanProgress& record) {
  if (stage_.load(std::memory_order_acquire) != kStageEmpty) return;
  std::lock_guard<std::mutex> guard(lock_);
  record_ = record;
  stage_.store(record.stage, std::memory_order_release);
}

bool ProgressMailbox::Take(ScanProgress& out) {
  std::lock_guard<std::mutex> guard(lock_);
  if (record_.stage == kStageEmpty) return false;
  out = record_;
  record_.stage = kStageEmpty;
  stage_.store(kStageEmpty, std::memory_order_release);
  return true;
}

void ProgressMailbox::Clear() {
  std::lock_guard<std::mutex> guard(lock_);
  record_ = ScanProgress{};
  stage_.store(kStageEmpty, std::memory_order_release);
}

ProgressBinding::ProgressBinding(ProgressMailbox* box) : previous_(t_bound) { t_bound = box; }
ProgressBinding::~ProgressBinding() { t_bound = previous_; }

void PublishProgress(const ScanProgress& record) {
  if (t_bound) t_bound->Publish(record);
}

void PostNotice(const char* title, const char* text) {
  ScanProgress record;
  record.stage = kStageNotice;
  CopyText(record.u.notice.title, title, 39);
  CopyText(record.u.notice.text, text, 109);
  PublishProgress(record);
}

}  // namespace ambrel
