// Bringing the program up and down: settings, single-instance guard,
// registry values, run counter and the start-up log line, up to the point
// where a front end takes over (the CLI runs a command, the desktop UI its
// main window). RunStartup and ShutdownApp run on the main thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/notify.h"
#include "app/resource_pack.h"

namespace ambrel {

inline constexpr const char* kVersionText = "6.3.1";
inline constexpr unsigned kSvnBuild = 3779;
inline constexpr const char* kLogFileName = "Ambrel.log";

enum class StartupStatus { kReady, kSettingsError, kAlreadyRunning };

struct StartupOptions {
  std::string packFolder;              // Base.dat and Recovery.dat; default ExecutableFolder()
  std::string logFolder;               // the log file; default ProgramFolder()
  std::optional<PackCheck> packCheck;  // default BuiltPackCheck()
  UserPrompt* prompt = nullptr;        // installed with SetUserPrompt when given
  bool splashRequested = true;         // the front end asks for a splash
  bool singleInstance = true;          // take the "SingleRunStr" guard
  // Settings given for this run (e.g. the CLI's --set), applied after loading.
  std::vector<std::pair<std::string, std::string>> overrides;
};

// What start-up hands to the rest of the program.
struct AppState {
  std::string detail = "0";       // validated "Detail" tag
  bool joinImproveSoft = false;   // "JoinImproveSoft" starts with "1"
  bool showSplash = false;        // "Splash" is on and the front end asked for one
  int runNumber = 0;              // from the run counter
  std::string startupLine;        // the start-up log line written
};
const AppState& App();

// Runs the start-up sequence. On kSettingsError the message
// "抱歉，获取软件配置参数失败！" has been shown and "Get soft param error!"
// logged; on kAlreadyRunning the single-instance message was shown. The
// caller then ends the process with a non-zero status.
StartupStatus RunStartup(const StartupOptions& options);
// Loads Base.dat, the pack and the skins into the settings table and
// computes the derived values (step 3 of start-up alone).
bool LoadSettings(const std::string& packFolder, const PackCheck& check,
                  const std::vector<std::pair<std::string, std::string>>& overrides = {});
// Releases the guard, waits (at most `workerWaitMs`) for worker threads to
// end, and writes the closing log line.
void ShutdownApp(std::uint32_t workerWaitMs = 5000);

// The machine-store key "SOFTWARE\<Company>\<LocalName>".
std::string RegistryKeyPath();
// Counts this run in "RunNum" and returns the run number (1 when the key
// is missing or unreadable).
int GetRunNumber();
// "Detail" from the store, validated; "0" when absent or refused.
std::string ReadDetail();
// Only "0", "a"-"z" and "A"-"Z" are allowed; anything else, or an empty
// value, gives "0".
std::string ValidateDetail(std::string_view raw);
bool ReadJoinImproveSoft();
// Owner "-" Version "-" detail.
std::string IdentityString(const std::string& detail);
// The start-up line: "1 <run> <identity> ver: 6.3.1     Svn ver: 3779 ..."
std::string StartupLogLine(int runNumber, const std::string& identity);

}  // namespace ambrel
