#include "app/settings.h"

#include <atomic>

#include "common/text.h"
#include "diag/log.h"

namespace ambrel {
namespace {

std::atomic<bool> g_loaded{false};
DerivedSettings g_derived;

std::string FullKey(std::string_view key) {
  std::string k(TrimBlanks(key));
  if (k.empty() || k.back() != ':') k += ':';
  return k;
}

std::string VersionPrefix() {
  const std::string* v = Settings().Find("Version");
  return v ? *v : std::string();
}

}  // namespace

void SettingsTable::Set(std::string key, std::string value) {
  for (auto& e : entries_) {
    if (e.first == key) {
      e.second = std::move(value);
      return;
    }
  }
  entries_.emplace_back(std::move(key), std::move(value));
}

const std::string* SettingsTable::Find(std::string_view key) const {
  for (const auto& e : entries_)
    if (e.first == key) return &e.second;
  return nullptr;
}

void SettingsTable::Clear() { entries_.clear(); }

SettingsTable& Settings() {
  static SettingsTable table;
  return table;
}

bool SettingsLoaded() { return g_loaded.load(std::memory_order_acquire); }
void SetSettingsLoaded(bool loaded) { g_loaded.store(loaded, std::memory_order_release); }

std::string GetSetting(std::string_view key) {
  if (!SettingsLoaded() || key.empty()) return {};
  const std::string full = FullKey(key);
  const std::string version = VersionPrefix();
  if (const std::string* v = Settings().Find(version + "-" + full)) return *v;
  if (const std::string* v = Settings().Find("Default-" + full)) return *v;
  TraceLine("****** Get soft cfg failed: " + version + " " + full);
  return {};
}

bool SettingOn(std::string_view key) { return GetSetting(key) == "1"; }

void OverrideSetting(std::string_view key, std::string value) {
  Settings().Set(VersionPrefix() + "-" + FullKey(key), std::move(value));
  if (SettingsLoaded()) ComputeDerivedSettings();
}

const std::vector<std::string_view>& AcceptedSettingKeys() {
  static const std::vector<std::string_view> keys = {
      "QQ:",           "Web:",           "HelpSoft:",       "HelpParam:",      "ProDown:",
      "ScanCheckpointMinutes:",
      "WebParam:",     "Company:",       "SingleRunStr:",   "SaveDir:",        "Splash:",
      "ParseFileSys:", "ShowProInfo:",   "ShowAllFile:",    "ClassifyFile:",   "SetParam:",
      "MustScanEnd:",  "VideoSampleSize:", "VideoSample01:", "VideoSample02:", "VideoSample20:",
      "MtsFragRecovery:", "MovFragRecovery:", "Advert:",    "ShowUsbDev:",     "Key:",
      "LocalName:",    "ShowDev:",       "NewMenu:",        "Android:",        "Iphone:"};
  return keys;
}

std::int32_t LeadingDecimal(std::string_view text) {
  text = TrimBlanks(text);
  bool negative = false;
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  std::int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') break;
    value = value * 10 + (c - '0');
    if (value > 0x80000000ll) value = 0x80000000ll;
  }
  if (negative) value = -value;
  if (value > 0x7FFFFFFFll) value = 0x7FFFFFFFll;
  return static_cast<std::int32_t>(value);
}

void ComputeDerivedSettings() {
  DerivedSettings d;
  d.movFragRecoveryOn = SettingOn("MovFragRecovery");
  d.mtsFragRecoveryOn = SettingOn("MtsFragRecovery");
  d.videoSampleSizeOn = SettingOn("VideoSampleSize");
  d.videoSample01On = SettingOn("VideoSample01");
  d.videoSample02On = SettingOn("VideoSample02");
  d.videoSample20On = SettingOn("VideoSample20");
  d.variantKey = LeadingDecimal(GetSetting("Key"));
  g_derived = d;
}

const DerivedSettings& Derived() { return g_derived; }

}  // namespace ambrel
