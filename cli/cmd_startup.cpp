// "ambrel-cli startup": runs the start-up checks and shows what they found.
#include <cstdio>

#include <CLI/CLI.hpp>

#include "commands.h"
#include "session/program.h"

namespace ambrel::cli {
namespace {

int RunStartupCommand() {
  const AppState& app = App();
  std::printf("Identity:      %s\n", IdentityString(app.detail).c_str());
  std::printf("Run number:    %d\n", app.runNumber);
  std::printf("Settings:      %zu entries, %zu skin bitmaps\n", Settings().size(), SkinCount());
  for (const char* key : {"Company", "LocalName", "SingleRunStr", "SaveDir", "ParseFileSys",
                          "ShowAllFile", "ClassifyFile", "Key"})
    std::printf("  %-14s %s\n", key, GetSetting(key).c_str());
  std::printf("Program folder: %s\n", ProgramFolder().c_str());
  std::printf("Log line:      %s\n", app.startupLine.c_str());
  return 0;
}

const CliCommandRegistrar registrar({"startup", "startup", "run the start-up checks and show the settings",
                                     [](CLI::App&) {}, RunStartupCommand});

}  // namespace
}  // namespace ambrel::cli
