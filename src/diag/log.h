// Diagnostic log. Lines from any thread reach the sink whole and in call
// order (one lock around each append). The file holds one line per call,
// "<level>\t<text>" in UTF-8 (line breaks inside a text become blanks), and
// each line is written with a single append, so even several processes
// sharing the file lose or split no line.
#pragma once

#include <string>
#include <string_view>

namespace ambrel {

// What a log line is about. The number is the code written at the start of
// the line, as the log's readers know it.
enum class LogCode : int {
  kStartUp = 0,         // the start-up line, the chosen mode
  kNotice = 1,          // a failure or a note
  kCopy = 3,            // copy-out summaries
  kScanStart = 12,      // the scanned area
  kPoolHeader = 16,     // pool misuse: a bad header
  kPoolGuard = 17,      // pool misuse: a guard byte changed
  kPoolOperation = 18,  // pool misuse: a bad operation
  kMemory = 19,         // memory status
  kMemoryTotal = 20,    // a large total
  kScanMinutes = 22,    // a long scan's duration
  kScanReadErrors = 23, // the read errors of a scan
  kScanLiveResults = 26,// "Add real part info"
  kCrash = 27,          // the crash path
};
void LogLine(LogCode code, std::string_view text);
// The detailed trace (same sink, level -1).
void TraceLine(std::string_view text);

// Directs the log to a file (appended). Without it, lines are kept only in
// the in-memory tail used by tests and by the crash report.
bool OpenLogFile(const std::string& path);
void CloseLogFile();
// The last lines written (at most 256), oldest first; for tests and reports.
std::string RecentLogText();

// The crash path: appends a ready line ("27\tExit exception\n") to the log
// file without locks or allocation (async-signal-safe).
void LogLineFromSignal(const char* levelAndText);

}  // namespace ambrel
