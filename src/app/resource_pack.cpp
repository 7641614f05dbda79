#include "app/resource_pack.h"

#include <algorithm>
#include <utility>

#include "app/settings.h"
#include "app/zip_memory.h"
#include "common/text.h"
#include "diag/log.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/md5.h"

namespace ambrel {
namespace {

constexpr std::size_t kMaxLineUnits = 1023;
constexpr std::uint64_t kMaxPackBytes = 0x10000000;   // 256 MiB
constexpr std::uint64_t kMaxIdentityBytes = 0x100000;  // 1 MiB
constexpr std::uint64_t kMaxEntryBytes = 0x4000000;   // 64 MiB

std::vector<std::pair<std::string, std::vector<std::uint8_t>>>& SkinStore() {
  static std::vector<std::pair<std::string, std::vector<std::uint8_t>>> store;
  return store;
}

std::string InFolder(const std::string& folder, const char* name) {
  if (folder.empty()) return name;
  return folder.back() == '/' ? folder + name : folder + "/" + name;
}

std::uint16_t UnitAt(const std::uint8_t* bytes, std::size_t index) {
  return static_cast<std::uint16_t>(bytes[2 * index] | (bytes[2 * index + 1] << 8));
}

// Lines of a UTF-16LE file read whole; false when unreadable or lineless.
bool ReadTextLines(const std::vector<std::uint8_t>& bytes, std::vector<std::string>& lines) {
  return ParseLines(bytes.data(), bytes.size() / 2, lines);
}

}  // namespace

bool ParseLines(const std::uint8_t* utf16le, std::size_t chars, std::vector<std::string>& lines) {
  lines.clear();
  if (!utf16le || chars < 1) return false;
  std::size_t start = 1;  // after the byte-order mark
  auto addLine = [&](std::size_t end) {
    if (end <= start) return;
    const std::size_t units = std::min(end - start, kMaxLineUnits);
    lines.push_back(Utf16LeBytesToUtf8(utf16le + 2 * start, units));
  };
  for (std::size_t i = start; i + 1 < chars; ++i) {
    if (UnitAt(utf16le, i) == '\r' && UnitAt(utf16le, i + 1) == '\n') {
      addLine(i);
      start = i + 2;
      ++i;
    }
  }
  addLine(chars);
  return !lines.empty();
}

std::optional<std::string> MatchKeyLine(std::string_view line, std::string_view fullKey) {
  if (Utf8Length(line) <= 1) return std::nullopt;
  if (line.substr(0, 2) == "//") return std::nullopt;
  for (std::size_t i = 1; i + 1 < line.size(); ++i) {
    if (line[i] == '/' && line[i + 1] == '/' && (line[i - 1] == ' ' || line[i - 1] == '\t')) {
      line = line.substr(0, i);
      break;
    }
  }
  if (fullKey.empty() || line.substr(0, fullKey.size()) != fullKey) return std::nullopt;
  return std::string(TrimBlanks(line.substr(fullKey.size())));
}

void DescramblePack(std::uint8_t* bytes, std::uint64_t size) {
  for (std::uint64_t i = 0; i + 1 < size; i += 2) {
    bytes[i] ^= static_cast<std::uint8_t>(kPackScrambleWord & 0xFF);
    bytes[i + 1] ^= static_cast<std::uint8_t>(kPackScrambleWord >> 8);
  }
}

bool ExtractEntry(const std::uint8_t* archive, std::uint64_t size, const std::string& name,
                  std::vector<std::uint8_t>& out) {
  ZipInMemory zip(archive, size);
  if (!zip.handle()) return false;
  const std::string ansi = ToAnsi(name);
  if (zip.ReadEntry(ansi, out, kMaxEntryBytes)) return true;
  return ansi != name && zip.ReadEntry(name, out, kMaxEntryBytes);
}

bool LoadIdentity(const std::string& folder) {
  std::vector<std::uint8_t> bytes;
  std::vector<std::string> lines;
  if (!ReadWholeFile(InFolder(folder, kIdentityFileName), bytes, kMaxIdentityBytes) ||
      !ReadTextLines(bytes, lines))
    return false;
  static constexpr std::pair<const char*, const char*> kKeys[] = {
      {"Brand:", "Brand"}, {"Version:", "Version"}, {"Owner:", "Owner"}};
  std::vector<std::pair<std::string, std::string>> found;
  for (const auto& line : lines) {
    for (const auto& [lineKey, key] : kKeys) {
      if (auto value = MatchKeyLine(line, lineKey)) {
        auto it = std::find_if(found.begin(), found.end(),
                               [k = key](const auto& e) { return e.first == k; });
        if (it != found.end()) it->second = std::move(*value);
        else found.emplace_back(key, std::move(*value));
        break;
      }
    }
  }
  auto has = [&found](const char* key) {
    return std::any_of(found.begin(), found.end(), [key](const auto& e) { return e.first == key; });
  };
  if (!has("Brand") || !has("Version") || found.size() < 3) return false;
  for (auto& [key, value] : found) Settings().Set(key, value);
  return true;
}

bool LoadPack(const std::string& folder, const PackCheck& check) {
  const std::string* brand = Settings().Find("Brand");
  const std::string* version = Settings().Find("Version");
  if (!brand || !version) return false;
  std::vector<std::uint8_t> pack;
  if (!ReadWholeFile(InFolder(folder, kPackFileName), pack, kMaxPackBytes)) return false;
  // Size and digest of the file as stored, before anything is descrambled.
  if (pack.size() != check.size || Md5Hex(pack.data(), pack.size()) != check.md5) {
    TraceLine(Format("Pack check failed: size %zu", pack.size()));
    return false;
  }
  DescramblePack(pack.data(), pack.size());
  std::vector<std::uint8_t> config;
  std::vector<std::string> lines;
  if (!ExtractEntry(pack.data(), pack.size(), *brand + "/VerCfg.txt", config) || config.empty() ||
      !ReadTextLines(config, lines))
    return false;

  const std::string versionPrefix = *version + "-";
  std::vector<std::pair<std::string, std::string>> accepted;
  for (const auto& line : lines) {
    for (std::string_view key : AcceptedSettingKeys()) {
      const std::string asDefault = "Default-" + std::string(key);
      const std::string asVersion = versionPrefix + std::string(key);
      std::optional<std::string> value = MatchKeyLine(line, asDefault);
      std::string fullKey = asDefault;
      if (!value) {
        value = MatchKeyLine(line, asVersion);
        fullKey = asVersion;
      }
      if (value) {
        accepted.emplace_back(std::move(fullKey), std::move(*value));
        break;
      }
    }
  }
  if (accepted.empty()) return false;
  for (auto& [key, value] : accepted) Settings().Set(std::move(key), std::move(value));
  return true;
}

bool LoadSkins(const std::string& folder, const PackCheck& check) {
  auto& store = SkinStore();
  store.clear();
  const std::string* brand = Settings().Find("Brand");
  const std::string* version = Settings().Find("Version");
  if (!brand || !version) return false;
  std::vector<std::uint8_t> pack;
  if (!ReadWholeFile(InFolder(folder, kPackFileName), pack, kMaxPackBytes)) return false;
  // The file may have changed since it was checked: never descramble past
  // the smaller of the two sizes.
  DescramblePack(pack.data(), std::min<std::uint64_t>(pack.size(), check.size));
  ZipInMemory zip(pack.data(), pack.size());
  if (!zip.handle()) return false;
  for (const auto& name : SkinEntryNames(*version)) {
    std::vector<std::uint8_t> bytes;
    if (ExtractEntry(pack.data(), pack.size(), *brand + "/" + name, bytes) && !bytes.empty())
      store.emplace_back(AsciiUpper(name), std::move(bytes));
  }
  return true;
}

const std::vector<std::uint8_t>* FindSkin(std::string_view text) {
  const std::string wanted = AsciiUpper(text);
  for (const auto& [name, bytes] : SkinStore())
    if (name.find(wanted) != std::string::npos) return &bytes;
  return nullptr;
}

std::size_t SkinCount() { return SkinStore().size(); }
void ClearSkins() { SkinStore().clear(); }

std::vector<std::string> SkinEntryNames(const std::string& version) {
  std::vector<std::string> names = {"Banner/" + version + ".bmp"};
  for (const char* n : {"MainDlg", "ChildDlg", "MaxNormal", "MaxDown", "MaxMove", "CloseNormal",
                        "CloseDown", "CloseMove", "MinNormal", "MinDown", "MinMove"})
    names.push_back(std::string("Dlg/") + n + ".bmp");
  for (const char* n : {"DelFileRecoveryNormal", "DelFileRecoveryDown", "DelFileRecoveryUp",
                        "PartFileRecoveryDown", "PartFileRecoveryNormal", "PartFileRecoveryUp",
                        "DiskFileRecoveryDown", "DiskFileRecoveryNormal", "DiskFileRecoveryUp",
                        "SoftHelpDown", "SoftHelpUp", "SoftHelpNormal"})
    names.push_back(std::string("OldMianBtn/") + n + ".bmp");
  for (const char* n : {"NewAllRecoveryN", "NewAllRecoveryD", "NewDelRecoveryN", "NewDelRecoveryD",
                        "NewFormatRecoveryN", "NewFormatRecoveryD", "NewUsbRecoveryN",
                        "NewUsbRecoveryD", "NewRecycleRecoveryN", "NewRecycleRecoveryD",
                        "NewDiskRecoveryN", "NewDiskRecoveryD", "AndroidRecoveryN",
                        "AndroidRecoveryD", "IphoneRecoveryN", "IphoneRecoveryD", "NewHelpN",
                        "NewHelpD"})
    names.push_back(std::string("NewMainBtn/") + n + ".bmp");
  names.push_back("Other/Splash.bmp");
  return names;
}

}  // namespace ambrel
