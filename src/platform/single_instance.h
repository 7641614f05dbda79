// The single-instance guard: an exclusive lock on a file named after the
// guard's name in the runtime folder. The lock belongs to the open file, so
// it disappears with the process however the process ends.
// Main thread only.
#pragma once

#include <string>

namespace ambrel {

class SingleInstanceGuard {
 public:
  enum class Result { kAcquired, kAlreadyRunning, kFailed };

  SingleInstanceGuard() = default;
  ~SingleInstanceGuard();
  SingleInstanceGuard(const SingleInstanceGuard&) = delete;
  SingleInstanceGuard& operator=(const SingleInstanceGuard&) = delete;

  // Takes the lock named `name` (any text; unsafe characters are replaced
  // in the file name). kAlreadyRunning when another holder has it.
  Result Acquire(const std::string& name);
  // Gives the lock up (also done by the destructor).
  void Release();
  bool held() const { return fd_ >= 0; }
  // The lock file used for `name`.
  static std::string LockPath(const std::string& name);

 private:
  int fd_ = -1;
};

}  // namespace ambrel
