// The options that come before, after or between a command's arguments:
// --pack-dir, --home, --set KEY=VALUE, --yes and --version.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace CLI {
class App;
}

namespace ambrel::cli {

struct GlobalOptions {
  std::string packFolder;
  std::string home;
  std::vector<std::string> sets;  // KEY=VALUE, checked by the parser
  bool assumeYes = false;
  bool version = false;
};

void AddGlobalOptions(CLI::App& app, GlobalOptions& options);

// The --set values as (key, value) pairs.
std::vector<std::pair<std::string, std::string>> SettingOverrides(const GlobalOptions& options);

// Empty when `text` is KEY=VALUE for a key of the settings file, else why not.
std::string CheckSettingAssignment(const std::string& text);

}  // namespace ambrel::cli
