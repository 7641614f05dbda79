// Fuzzes the settings-file parsing and the in-memory ZIP reading of the
// resource pack: ParseLines, MatchKeyLine, DescramblePack, ExtractEntry.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "app/resource_pack.h"
#include "app/settings.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ambrel;
  std::vector<std::string> lines;
  if (ParseLines(data, size / 2, lines)) {
    for (const auto& line : lines) {
      for (std::string_view key : AcceptedSettingKeys()) {
        if (MatchKeyLine(line, "Default-" + std::string(key))) break;
      }
      MatchKeyLine(line, "Brand:");
    }
  }
  std::vector<std::uint8_t> out;
  ExtractEntry(data, size, "Ambrel/VerCfg.txt", out);
  std::vector<std::uint8_t> scrambled(data, data + size);
  DescramblePack(scrambled.data(), scrambled.size());
  ExtractEntry(scrambled.data(), scrambled.size(), "Ambrel/Dlg/MainDlg.bmp", out);
  return 0;
}
