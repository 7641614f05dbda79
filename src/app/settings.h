// The program settings: key/value texts from the resource pack's settings
// file plus the identity entries, read by every subsystem through GetSetting.
//
// The table is filled on the main thread before any worker starts and is
// read-only afterwards, so lookups take no lock.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ambrel {

class SettingsTable {
 public:
  // Inserts or replaces the value of an exact key.
  void Set(std::string key, std::string value);
  const std::string* Find(std::string_view key) const;
  void Clear();
  std::size_t size() const { return entries_.size(); }
  const std::vector<std::pair<std::string, std::string>>& entries() const { return entries_; }

 private:
  std::vector<std::pair<std::string, std::string>> entries_;
};

// The process-wide table and its "loaded" flag.
SettingsTable& Settings();
bool SettingsLoaded();
void SetSettingsLoaded(bool loaded);

// Value of a setting ("SaveDir" and "SaveDir:" alike): the version-specific
// line first, then the "Default-" one; the empty string when absent.
std::string GetSetting(std::string_view key);
// True when the setting equals "1".
bool SettingOn(std::string_view key);

// Overrides a setting for this run (e.g. the CLI's --set KEY=VALUE): stored
// under the version-specific key so that it wins over the pack's value.
void OverrideSetting(std::string_view key, std::string value);

}  // namespace ambrel
