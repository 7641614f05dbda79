// ambrel-cli: the command-line front end.
//
//   ambrel-cli [GLOBAL OPTIONS] COMMAND [ARGS]
//
// Before any command the program's start-up sequence runs: the identity
// file and the resource pack beside the executable are loaded and checked,
// the single-instance guard is taken, the run is counted and logged.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

#include "app/startup.h"
#include "app/user_prompt.h"
#include "commands.h"
#include "diag/crash_dump.h"
#include "platform/files.h"

namespace ambrel::cli {

std::vector<CliCommand>& CommandTable() {
  static std::vector<CliCommand> table;
  return table;
}

namespace {

// Messages go to standard error; questions are answered from the terminal,
// or by --yes, and are "no" when nobody can answer.
class CliPrompt final : public UserPrompt {
 public:
  explicit CliPrompt(bool assumeYes) : assumeYes_(assumeYes) {}
  void ShowMessage(const std::string& text) override {
    std::fprintf(stderr, "%s\n", text.c_str());
    std::fflush(stderr);
  }
  bool AskYesNo(const std::string& text) override {
    std::fprintf(stderr, "%s [y/N] ", text.c_str());
    if (assumeYes_) {
      std::fprintf(stderr, "y\n");
      return true;
    }
    if (!::isatty(STDIN_FILENO)) {
      std::fprintf(stderr, "n\n");
      return false;
    }
    std::string answer;
    std::getline(std::cin, answer);
    return !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y');
  }

 private:
  bool assumeYes_;
};

void PrintUsage(std::FILE* out) {
  std::fprintf(out,
               "usage: ambrel-cli --version | --help\n"
               "       ambrel-cli [--pack-dir DIR] [--home DIR] [--set KEY=VALUE]... [--yes] "
               "COMMAND [ARGS]\n"
               "global options:\n"
               "  --pack-dir DIR   folder of Base.dat and Recovery.dat (default: beside the program)\n"
               "  --home DIR       folder for the log, scan state, temporary files and dumps\n"
               "  --set KEY=VALUE  override a setting for this run (e.g. --set SaveDir=Out)\n"
               "  --yes            answer yes to every question\n"
               "commands:\n");
  auto table = CommandTable();
  std::sort(table.begin(), table.end(),
            [](const CliCommand& a, const CliCommand& b) { return a.name < b.name; });
  for (const auto& c : table) std::fprintf(out, "  ambrel-cli %s\n", c.synopsis.c_str());
}

struct GlobalOptions {
  StartupOptions startup;
  bool assumeYes = false;
  int next = 1;  // index of the command in argv
};

// Parses the options before the command; false (with a message) on error.
bool ParseGlobalOptions(int argc, char** argv, GlobalOptions& g) {
  for (; g.next < argc; ++g.next) {
    const std::string arg = argv[g.next];
    auto value = [&](std::string& out) {
      if (g.next + 1 >= argc) {
        std::fprintf(stderr, "ambrel-cli: %s needs a value\n", arg.c_str());
        return false;
      }
      out = argv[++g.next];
      return true;
    };
    if (arg == "--pack-dir") {
      if (!value(g.startup.packFolder)) return false;
    } else if (arg == "--home") {
      std::string home;
      if (!value(home)) return false;
      if (!EnsureFolder(home)) {
        std::fprintf(stderr, "ambrel-cli: cannot create %s\n", home.c_str());
        return false;
      }
      SetProgramFolder(home);
    } else if (arg == "--set") {
      std::string kv;
      if (!value(kv)) return false;
      const auto eq = kv.find('=');
      if (eq == std::string::npos || eq == 0) {
        std::fprintf(stderr, "ambrel-cli: --set needs KEY=VALUE\n");
        return false;
      }
      g.startup.overrides.emplace_back(kv.substr(0, eq), kv.substr(eq + 1));
    } else if (arg == "--yes" || arg == "-y") {
      g.assumeYes = true;
    } else {
      break;
    }
  }
  return true;
}

// Several test runs may share one machine: they can ask to skip the guard.
bool SecondInstanceAllowed() {
  const char* env = std::getenv("AMBREL_ALLOW_SECOND_INSTANCE");
  return env && std::strcmp(env, "1") == 0;
}

}  // namespace
}  // namespace ambrel::cli

int main(int argc, char** argv) {
  using namespace ambrel;
  using namespace ambrel::cli;
  InstallCrashHandler();
  if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
    PrintUsage(argc < 2 ? stderr : stdout);
    return argc < 2 ? 2 : 0;
  }
  if (std::strcmp(argv[1], "--version") == 0) {
    std::printf("ambrel-cli %s (build %u)\n", kVersionText, kSvnBuild);
    return 0;
  }
  GlobalOptions g;
  if (!ParseGlobalOptions(argc, argv, g)) return 2;
  if (g.next >= argc) {
    PrintUsage(stderr);
    return 2;
  }
  const CliCommand* command = nullptr;
  for (const auto& c : CommandTable())
    if (c.name == argv[g.next]) command = &c;
  if (!command) {
    std::fprintf(stderr, "ambrel-cli: unknown command '%s' (see --help)\n", argv[g.next]);
    return 2;
  }
  InstallCrashHandler();  // again, now that --home may have moved the dumps

  static CliPrompt prompt(g.assumeYes);
  g.startup.prompt = &prompt;
  g.startup.splashRequested = false;
  g.startup.singleInstance = !SecondInstanceAllowed();
  switch (RunStartup(g.startup)) {
    case StartupStatus::kSettingsError: return 3;
    case StartupStatus::kAlreadyRunning: return 4;
    case StartupStatus::kReady: break;
  }
  const int status = command->run(argc - g.next, argv + g.next);
  ShutdownApp();
  return status;
}
