#include "app/startup.h"

#include <memory>
#include <thread>

#include "app/settings.h"
#include "app/user_prompt.h"
#include "common/text.h"
#include "diag/log.h"
#include "diag/pool.h"
#include "diag/threads.h"
#include "platform/files.h"
#include "platform/machine_store.h"
#include "platform/process.h"
#include "platform/single_instance.h"

namespace ambrel {
namespace {

AppState g_app;
std::unique_ptr<SingleInstanceGuard> g_guard;

std::string WithSlash(std::string folder) {
  if (!folder.empty() && folder.back() != '/') folder += '/';
  return folder;
}

// The start-up background thread: counts the run and writes the start-up
// line. (The online-notice fetch of the desktop program has no part here.)
void StartupThread() {
  ThreadBegin("StartupThread");
  g_app.runNumber = GetRunNumber();
  g_app.startupLine = StartupLogLine(g_app.runNumber, IdentityString(g_app.detail));
  LogLine(LogCode::kStartUp, g_app.startupLine);
  ThreadEnd("StartupThread");
}

StartupStatus SettingsError() {
  ShowUserMessage({PromptId::kSettingsError});
  LogLine(LogCode::kNotice, "Get soft param error!");
  return StartupStatus::kSettingsError;
}

}  // namespace

const AppState& App() { return g_app; }

bool LoadSettings(const std::string& packFolder, const PackCheck& check,
                  const std::vector<std::pair<std::string, std::string>>& overrides) {
  SetSettingsLoaded(false);
  Settings().Clear();
  ClearSkins();
  if (!LoadIdentity(packFolder) || !LoadPack(packFolder, check)) {
    Settings().Clear();
    return false;
  }
  SetSettingsLoaded(true);
  for (const auto& [key, value] : overrides) OverrideSetting(key, value);
  ComputeDerivedSettings();
  return LoadSkins(packFolder, check);
}

StartupStatus RunStartup(const StartupOptions& options) {
  if (options.prompt) SetUserPrompt(options.prompt);
  SetPoolFailureNotice([](std::uint64_t bytes) { ShowUserMessage({PromptId::kOutOfMemory, {}, bytes}); });
  const std::string logFolder = WithSlash(options.logFolder.empty() ? ProgramFolder() : options.logFolder);
  OpenLogFile(logFolder + kLogFileName);

  const std::string packFolder =
      WithSlash(options.packFolder.empty() ? ExecutableFolder() : options.packFolder);
  if (!LoadSettings(packFolder, options.packCheck ? *options.packCheck : BuiltPackCheck(),
                    options.overrides))
    return SettingsError();

  g_app.showSplash = SettingOn("Splash") && options.splashRequested;

  if (options.singleInstance) {
    auto guard = std::make_unique<SingleInstanceGuard>();
    const auto result = guard->Acquire(GetSetting("SingleRunStr"));
    if (result == SingleInstanceGuard::Result::kAlreadyRunning) {
      ShowUserMessage({PromptId::kSecondInstance, GetSetting("NormalName")});
      return StartupStatus::kAlreadyRunning;
    }
    if (result == SingleInstanceGuard::Result::kAcquired) g_guard = std::move(guard);
    else TraceLine("Single-instance lock unavailable: " + SingleInstanceGuard::LockPath(GetSetting("SingleRunStr")));
  }

  g_app.joinImproveSoft = ReadJoinImproveSoft();
  g_app.detail = ReadDetail();
  // Its work is short; waiting for it keeps the worker count at zero for
  // whatever the front end starts next.
  std::thread(StartupThread).join();
  return StartupStatus::kReady;
}

void ShutdownApp(std::uint32_t workerWaitMs) {
  if (g_guard) g_guard->Release();
  g_guard.reset();
  // Shared tables may be freed only when no worker still reads them.
  if (!WaitForWorkers(workerWaitMs)) TraceLine(Format("Workers still running: %d", ThreadCount()));
  LogLine(LogCode::kNotice, "");
}

std::string RegistryKeyPath() {
  return "SOFTWARE\\" + GetSetting("Company") + "\\" + GetSetting("LocalName");
}

int GetRunNumber() {
  const std::string key = RegistryKeyPath();
  std::string stored;
  int run = 1;
  std::string next = "1";
  if (StoreReadValue(key, "RunNum", stored, 260) && !stored.empty()) {
    const std::u16string units = Utf8ToUtf16(stored);
    const char16_t c = units.empty() ? u'\0' : units[0];
    next = c < u'~' ? Utf16ToUtf8(std::u16string(1, static_cast<char16_t>(c + 1))) : "~";
    run = static_cast<int>(c) - 47;
  }
  StoreWriteValue(key, "RunNum", next);
  return run;
}

std::string ValidateDetail(std::string_view raw) {
  if (raw.empty()) return "0";
  for (char c : raw) {
    const bool ok = c == '0' || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    if (!ok) return "0";
  }
  return std::string(raw);
}

std::string ReadDetail() {
  std::string raw;
  if (!StoreReadValue(RegistryKeyPath(), "Detail", raw, 260)) return "0";
  return ValidateDetail(raw);
}

bool ReadJoinImproveSoft() {
  std::string raw;
  return StoreReadValue(RegistryKeyPath(), "JoinImproveSoft", raw, 260) && !raw.empty() &&
         raw[0] == '1';
}

std::string IdentityString(const std::string& detail) {
  const std::string* owner = Settings().Find("Owner");
  const std::string* version = Settings().Find("Version");
  return (owner ? *owner : std::string()) + "-" + (version ? *version : std::string()) + "-" + detail;
}

std::string StartupLogLine(int runNumber, const std::string& identity) {
  const OsVersion os = ReadOsVersion();
  std::string line = Format("%u %u %s ver: %s     Svn ver: %u     OS: %u   %u    %u", 1u,
                            static_cast<unsigned>(runNumber), identity.c_str(), kVersionText,
                            kSvnBuild, os.major, os.minor, ProcessBits());
  MemoryStatus mem;
  if (ReadMemoryStatus(mem))
    line += Format("     AllMem: %u   FreeMem: %u", static_cast<unsigned>(mem.totalBytes >> 20),
                   static_cast<unsigned>(mem.availableBytes >> 20));
  return line;
}

}  // namespace ambrel
