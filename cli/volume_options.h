// The volume-choosing options of a command: --partition N and one of
// --deleted, --present, --recycle.
#pragma once

#include "session/source_session.h"

namespace CLI {
class App;
}

namespace ambrel::cli {

struct VolumeOptions {
  int partition = 0;  // 0 = every volume
  ListScope scope = ListScope::kAll;
};
void AddVolumeOptions(CLI::App& app, VolumeOptions& options);

// Follows a parse that takes more than a second with its stage-1 counters
// on stderr; `Finish` ends the line.
class ParseProgressLine {
 public:
  explicit ParseProgressLine(const std::string& name);
  ParseObserver Observer();
  void Finish();

 private:
  std::string name_;
  long long startMs_;
  bool shown_ = false;
};

}  // namespace ambrel::cli
