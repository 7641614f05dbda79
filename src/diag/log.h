// Diagnostic log. Lines from any thread reach the sink whole and in call
// order (one lock around each append). The file holds one line per call,
// "<level>\t<text>" in UTF-8 (line breaks inside a text become blanks), and
// each line is written with a single append, so even several processes
// sharing the file lose or split no line.
#pragma once

#include <string>
#include <string_view>

namespace ambrel {

// Level codes in use: 0 start-up, 1 terminal lines, 16-18 pool misuse,
// 19 memory status, 20 large total, 27 crash.
void LogLine(int level, std::string_view text);
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
