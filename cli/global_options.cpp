#include "global_options.h"

#include <CLI/CLI.hpp>

#include "session/program.h"

namespace ambrel::cli {

namespace {

std::string KnownSettingNames() {
  std::string names;
  for (std::string_view key : AcceptedSettingKeys()) {
    if (!names.empty()) names += ", ";
    names.append(key.substr(0, key.size() - 1));  // without the colon
  }
  return names;
}

bool IsKnownSetting(const std::string& key) {
  for (std::string_view accepted : AcceptedSettingKeys())
    if (accepted.substr(0, accepted.size() - 1) == key) return true;
  return false;
}

}  // namespace

std::string CheckSettingAssignment(const std::string& text) {
  const auto eq = text.find('=');
  if (eq == std::string::npos || eq == 0) return "'" + text + "' is not KEY=VALUE";
  const std::string key = text.substr(0, eq);
  if (!IsKnownSetting(key)) return "unknown setting '" + key + "' (the settings are " + KnownSettingNames() + ")";
  return {};
}

void AddGlobalOptions(CLI::App& app, GlobalOptions& o) {
  app.add_option("--pack-dir", o.packFolder, "folder of Base.dat and Recovery.dat (default: beside the program)")
      ->type_name("DIR");
  app.add_option("--home", o.home, "folder for the log, scan state, temporary files and dumps")->type_name("DIR");
  app.add_option("--set", o.sets, "override a setting for this run (e.g. --set SaveDir=Out)")
      ->type_name("KEY=VALUE")
      ->check(CLI::Validator([](std::string& text) { return CheckSettingAssignment(text); }, ""));
  app.add_flag("-y,--yes", o.assumeYes, "answer yes to every question");
  app.add_flag("--version", o.version, "show the version and exit");
}

std::vector<std::pair<std::string, std::string>> SettingOverrides(const GlobalOptions& o) {
  std::vector<std::pair<std::string, std::string>> pairs;
  for (const std::string& kv : o.sets) {
    const auto eq = kv.find('=');
    pairs.emplace_back(kv.substr(0, eq), kv.substr(eq + 1));
  }
  return pairs;
}

}  // namespace ambrel::cli
