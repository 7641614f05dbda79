#include "app/settings.h"

#include <atomic>

#include "common/text.h"
#include "diag/log.h"

namespace ambrel {
namespace {

std::atomic<bool> g_loaded{false};

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
}

}  // namespace ambrel
