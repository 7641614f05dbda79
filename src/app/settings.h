// The program settings: key/value texts from the resource pack's settings
// file plus the identity entries, read by every subsystem through GetSetting.
//
// The table is filled on the main thread before any worker starts and is
// read-only afterwards, so lookups take no lock.
#pragma once

#include <cstdint>
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

// The settings keys the settings file may define, with their colon, in the
// order they are tried on each line.
const std::vector<std::string_view>& AcceptedSettingKeys();

// Values derived from the settings once, right after loading (and again
// after an override); all false / 0 when a setting is absent.
struct DerivedSettings {
  bool movFragRecoveryOn = false;
  bool mtsFragRecoveryOn = false;
  bool videoSampleSizeOn = false;
  bool videoSample01On = false;
  bool videoSample02On = false;
  bool videoSample20On = false;
  std::int32_t variantKey = 0;  // leading decimal digits of "Key"
};
void ComputeDerivedSettings();
const DerivedSettings& Derived();
inline bool MovFragRecoveryOn() { return Derived().movFragRecoveryOn; }
inline bool MtsFragRecoveryOn() { return Derived().mtsFragRecoveryOn; }
inline bool VideoSampleSizeOn() { return Derived().videoSampleSizeOn; }
inline bool VideoSample01On() { return Derived().videoSample01On; }
inline bool VideoSample02On() { return Derived().videoSample02On; }
inline bool VideoSample20On() { return Derived().videoSample20On; }
inline std::int32_t VariantKey() { return Derived().variantKey; }
// Leading decimal digits of a text as a signed 32-bit value (0 when none;
// an optional sign; saturates instead of overflowing).
std::int32_t LeadingDecimal(std::string_view text);

}  // namespace ambrel
