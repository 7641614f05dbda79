#include "diag/crash_dump.h"

#include <cstring>

#include "common/text.h"
#include "diag/log.h"
#include "platform/append_file.h"
#include "platform/fatal_signals.h"
#include "platform/files.h"

namespace ambrel {
namespace {

// Paths are fixed at installation: the handler may not allocate.
char g_markerPath[4096];
char g_dumpFolder[4096];

void CopyPath(char (&dest)[4096], const std::string& text) {
  const std::size_t n = text.size() < sizeof dest - 1 ? text.size() : sizeof dest - 1;
  std::memcpy(dest, text.data(), n);
  dest[n] = '\0';
}

// Appends the decimal digits of v (at least `width`) to buf at pos.
std::size_t PutNumber(char* buf, std::size_t pos, unsigned v, int width) {
  char digits[12];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v && n < 12);
  while (n < width && n < 12) digits[n++] = '0';
  while (n) buf[pos++] = digits[--n];
  return pos;
}

std::size_t PutText(char* buf, std::size_t pos, const char* text) {
  while (*text) buf[pos++] = *text++;
  return pos;
}

void OnCrash(int signal) {
  const int marker = CreateFileForSignal(g_markerPath);
  CloseFileForSignal(marker);

  int day = 0, hour = 0, minute = 0;
  LocalDayHourMinuteForSignal(day, hour, minute);
  char path[4096 + 32];
  std::size_t pos = PutText(path, 0, g_dumpFolder);
  pos = PutNumber(path, pos, kBuildNumber, 1);
  path[pos++] = '_';
  pos = PutNumber(path, pos, static_cast<unsigned>(day), 2);
  pos = PutNumber(path, pos, static_cast<unsigned>(hour), 2);
  pos = PutNumber(path, pos, static_cast<unsigned>(minute), 2);
  pos = PutText(path, pos, ".dmp");
  path[pos] = '\0';

  const int dump = CreateFileForSignal(path);
  if (dump >= 0) {
    char head[64];
    std::size_t n = PutText(head, 0, "ambrel crash: signal ");
    n = PutNumber(head, n, static_cast<unsigned>(signal), 1);
    n = PutText(head, n, "\nbuild ");
    n = PutNumber(head, n, kBuildNumber, 1);
    head[n++] = '\n';
    AppendForSignal(dump, head, n);
    WriteBacktraceForSignal(dump);
    CloseFileForSignal(dump);
  }
  LogLineFromSignal("27\tExit exception\n");
}

}  // namespace

std::string CrashMarkerPath() { return RuntimeFolder() + kCrashEventName; }

std::string CrashDumpName(int day, int hour, int minute) {
  return Format("%u_%02d%02d%02d.dmp", kBuildNumber, day, hour, minute);
}

void InstallCrashHandler() {
  CopyPath(g_markerPath, CrashMarkerPath());
  CopyPath(g_dumpFolder, ModuleFolder());
  InstallFatalSignalHandlers(OnCrash);
}

}  // namespace ambrel
