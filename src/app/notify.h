// The two interfaces through which the core talks to a front end: the
// numbered notices and the user prompt. The core never words a message: it
// names it (PromptId, with its figures) and the front end gives the text.
// Implementations must be thread-safe: workers call them from their own
// threads.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

namespace ambrel {

// Receives the numbered notices (the catalogue's 1224-1233, 1128, the deep
// scan's 1126/1127, the preview's 1124) synchronously, in order, on the
// thread that raised them.
class NoticeListener {
 public:
  virtual ~NoticeListener() = default;
  virtual void OnNotice(std::uint32_t message, std::uint64_t wparam, std::uint64_t lparam) = 0;
};

// Every message and question of the core.
enum class PromptId : std::uint16_t {
  kSettingsError,        // the identity file or the pack could not be read
  kSecondInstance,       // subject: the program's name
  kOutOfMemory,          // count: the bytes asked for
  kOverwriteFile,        // question; subject: the output path
  kReuseSavedScan,       // question
  kSaveScanAtEnd,        // question
  kScanSaved,
  kScanSaveFailed,
  kScanLoadFailed,
  kScanStateDamaged,     // the saved scan failed its checks: refused, a fresh scan follows
  kScanStateNotAFile,    // subject: the path; not a regular file: refused, a fresh scan follows
  kScanStateUnchecked,   // the saved scan is of the version without checksums: reused unverified
  kDeviceSizeWrong,
  kScanReadErrors,       // count: failed reads; amount: MiB lost; flag: removable device
};

struct PromptMessage {
  PromptMessage() = default;
  PromptMessage(PromptId what, std::string about = {}, std::uint64_t n = 0, std::uint64_t size = 0,
                bool on = false)
      : id(what), subject(std::move(about)), count(n), amount(size), flag(on) {}

  PromptId id = PromptId::kSettingsError;
  std::string subject;
  std::uint64_t count = 0;
  std::uint64_t amount = 0;
  bool flag = false;
};

// Shows a message to the user or asks a yes/no question; blocks the calling
// worker until answered.
class UserPrompt {
 public:
  virtual ~UserPrompt() = default;
  virtual void Show(const PromptMessage& message) = 0;
  virtual bool Ask(const PromptMessage& question) = 0;
};

}  // namespace ambrel
