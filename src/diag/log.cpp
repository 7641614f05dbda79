#include "diag/log.h"

#include <atomic>
#include <cstring>
#include <deque>
#include <mutex>

#include "common/text.h"
#include "platform/append_file.h"

namespace ambrel {
namespace {

constexpr std::size_t kMaxLineBytes = 1024;
constexpr std::size_t kRecentLines = 256;

struct LogSink {
  std::mutex lock;
  AppendFile file;
  std::atomic<int> handle{-1};  // the file's descriptor for the crash path
  std::deque<std::string> recent;
};

LogSink& Sink() {
  static LogSink* sink = new LogSink;  // kept to the very end of the process
  return *sink;
}

void Write(int level, std::string_view text) {
  // A line is cut to 1024 bytes, never inside a character; the line and its
  // end go to the file in one append so concurrent writers cannot split it.
  std::string line = Format("%d\t", level) + Utf8CutBytes(text, kMaxLineBytes);
  for (char& c : line)
    if (c == '\n' || c == '\r') c = ' ';
  line += '\n';
  LogSink& sink = Sink();
  std::lock_guard<std::mutex> guard(sink.lock);
  sink.file.Append(line);
  line.pop_back();
  sink.recent.push_back(std::move(line));
  if (sink.recent.size() > kRecentLines) sink.recent.pop_front();
}

}  // namespace

void LogLine(LogCode code, std::string_view text) { Write(static_cast<int>(code), text); }
void TraceLine(std::string_view text) { Write(-1, text); }

bool OpenLogFile(const std::string& path) {
  LogSink& sink = Sink();
  std::lock_guard<std::mutex> guard(sink.lock);
  sink.handle.store(-1);
  const bool ok = sink.file.Open(path);
  sink.handle.store(sink.file.handle());
  return ok;
}

void CloseLogFile() {
  LogSink& sink = Sink();
  std::lock_guard<std::mutex> guard(sink.lock);
  sink.handle.store(-1);
  sink.file.Close();
}

std::string RecentLogText() {
  LogSink& sink = Sink();
  std::lock_guard<std::mutex> guard(sink.lock);
  std::string out;
  for (const auto& l : sink.recent) out += l + "\n";
  return out;
}

void LogLineFromSignal(const char* levelAndText) {
  const int fd = Sink().handle.load();
  if (fd < 0) return;
  AppendForSignal(fd, levelAndText, std::strlen(levelAndText));
}

}  // namespace ambrel
