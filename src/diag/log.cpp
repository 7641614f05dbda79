#include "diag/log.h"

#include <cstdio>
#include <deque>
#include <mutex>

#include "common/text.h"

namespace ambrel {
namespace {

struct LogSink {
  std::mutex lock;
  std::FILE* file = nullptr;
  std::deque<std::string> recent;
};

LogSink& Sink() {
  static LogSink sink;
  return sink;
}

void Write(int level, std::string_view text) {
  // A line is cut to 1024 bytes, never inside a character.
  std::string line = Format("%d\t", level) + Utf8CutBytes(text, 1024);
  LogSink& sink = Sink();
  std::lock_guard<std::mutex> guard(sink.lock);
  if (sink.file) {
    std::fputs(line.c_str(), sink.file);
    std::fputc('\n', sink.file);
    std::fflush(sink.file);
  }
  sink.recent.push_back(std::move(line));
  if (sink.recent.size() > 256) sink.recent.pop_front();
}

}  // namespace

void LogLine(int level, std::string_view text) { Write(level, text); }
void TraceLine(std::string_view text) { Write(-1, text); }

bool OpenLogFile(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "a");
  if (!f) return false;
  LogSink& sink = Sink();
  std::lock_guard<std::mutex> guard(sink.lock);
  if (sink.file) std::fclose(sink.file);
  sink.file = f;
  return true;
}

void CloseLogFile() {
  LogSink& sink = Sink();
  std::lock_guard<std::mutex> guard(sink.lock);
  if (sink.file) std::fclose(sink.file);
  sink.file = nullptr;
}

std::string RecentLogText() {
  LogSink& sink = Sink();
  std::lock_guard<std::mutex> guard(sink.lock);
  std::string out;
  for (const auto& l : sink.recent) out += l + "\n";
  return out;
}

}  // namespace ambrel
