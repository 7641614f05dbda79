// ambrel-cli: the command-line front end.
//
//   ambrel-cli [GLOBAL OPTIONS] COMMAND [ARGS]
//
// The global options may also follow the command or its arguments. Before
// any command the program's start-up sequence runs: the identity file and
// the resource pack beside the executable are loaded and checked, the
// single-instance guard is taken, the run is counted and logged.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "commands.h"
#include "global_options.h"
#include "session/program.h"
#include "session/worded_prompt.h"
#include "text_output.h"

namespace ambrel::cli {

std::vector<CliCommand>& CommandTable() {
  static std::vector<CliCommand> table;
  return table;
}

namespace {

// Messages go to standard error; questions are answered from the terminal,
// or by --yes, and are "no" when nobody can answer.
class CliPrompt final : public WordedPrompt {
 public:
  explicit CliPrompt(bool assumeYes) : assumeYes_(assumeYes) {}
  void ShowMessage(const std::string& text) override {
    std::fprintf(stderr, "%s\n", PrintableText(text, true).c_str());
    std::fflush(stderr);
  }
  bool AskYesNo(const std::string& text) override {
    std::fprintf(stderr, "%s [y/N] ", PrintableText(text, true).c_str());
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

std::vector<const CliCommand*> SortedCommands() {
  std::vector<const CliCommand*> sorted;
  for (const CliCommand& c : CommandTable()) sorted.push_back(&c);
  std::sort(sorted.begin(), sorted.end(), [](const CliCommand* a, const CliCommand* b) { return a->name < b->name; });
  return sorted;
}

std::string UsageText() {
  std::string text =
      "usage: ambrel-cli --version | --help\n"
      "       ambrel-cli [--pack-dir DIR] [--home DIR] [--set KEY=VALUE]... [--yes] COMMAND [ARGS]\n"
      "commands (ambrel-cli COMMAND --help for each):\n";
  for (const CliCommand* c : SortedCommands()) text += "  ambrel-cli " + c->synopsis + "\n";
  return text;
}

// The command named on the command line, if any: the first argument that
// is a command's name.
const CliCommand* NamedCommand(int argc, char** argv) {
  for (int i = 1; i < argc; ++i)
    for (const CliCommand& c : CommandTable())
      if (c.name == argv[i]) return &c;
  return nullptr;
}

void BuildParser(CLI::App& app, GlobalOptions& global) {
  app.set_help_flag("-h,--help", "show this help and exit");
  app.fallthrough();  // global options are accepted after the command too
  app.require_subcommand(0, 1);
  app.footer(UsageText());
  AddGlobalOptions(app, global);
  for (const CliCommand* c : SortedCommands()) {
    CLI::App* sub = app.add_subcommand(c->name, c->description);
    sub->footer("usage: ambrel-cli " + c->synopsis +
                "\nThe global options (--pack-dir, --home, --set, --yes) may come before or after the command.");
    c->define(*sub);
  }
}

// Parses the command line; the exit status when the program ends here
// (help shown, or an error reported), else -1.
int ParseCommandLine(CLI::App& app, int argc, char** argv) {
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e, std::cout, std::cerr);
  } catch (const CLI::ParseError& e) {
    const CliCommand* named = NamedCommand(argc, argv);
    std::fprintf(stderr, "ambrel-cli%s%s: %s\n", named ? " " : "", named ? named->name.c_str() : "", e.what());
    if (named)
      std::fprintf(stderr, "usage: ambrel-cli %s (see ambrel-cli %s --help)\n", named->synopsis.c_str(),
                   named->name.c_str());
    else
      std::fprintf(stderr, "see ambrel-cli --help for the commands\n");
    return kUsageStatus;
  }
  return -1;
}

const CliCommand* ChosenCommand(const CLI::App& app) {
  for (const CLI::App* sub : app.get_subcommands())
    for (const CliCommand& c : CommandTable())
      if (c.name == sub->get_name()) return &c;
  return nullptr;
}

// Several test runs may share one machine: they can ask to skip the guard.
bool SecondInstanceAllowed() {
  const char* env = std::getenv("AMBREL_ALLOW_SECOND_INSTANCE");
  return env && std::strcmp(env, "1") == 0;
}

int RunCommand(const CliCommand& command, const GlobalOptions& global) {
  if (!global.home.empty()) {
    if (!EnsureFolder(global.home)) {
      std::fprintf(stderr, "ambrel-cli: cannot create %s\n", global.home.c_str());
      return kUsageStatus;
    }
    SetProgramFolder(global.home);
  }
  InstallCrashHandler();  // again, now that --home may have moved the dumps
  static CliPrompt prompt(global.assumeYes);
  StartupOptions startup;
  startup.packFolder = global.packFolder;
  startup.overrides = SettingOverrides(global);
  startup.prompt = &prompt;
  startup.splashRequested = false;
  startup.singleInstance = !SecondInstanceAllowed();
  switch (RunStartup(startup)) {
    case StartupStatus::kSettingsError: return 3;
    case StartupStatus::kAlreadyRunning: return 4;
    case StartupStatus::kReady: break;
  }
  const int status = command.run();
  ShutdownApp();
  return status;
}

}  // namespace
}  // namespace ambrel::cli

int main(int argc, char** argv) {
  using namespace ambrel;
  using namespace ambrel::cli;
  InstallCrashHandler();
  if (argc < 2) {
    std::fputs(UsageText().c_str(), stderr);
    return kUsageStatus;
  }
  CLI::App app{"Ambrel recovers deleted and lost files from disks, memory cards and disk images.", "ambrel-cli"};
  GlobalOptions global;
  BuildParser(app, global);
  const int parsed = ParseCommandLine(app, argc, argv);
  if (parsed >= 0) return parsed;
  if (global.version) {
    std::printf("ambrel-cli %s (build %u)\n", kVersionText, kSvnBuild);
    return 0;
  }
  const CliCommand* command = ChosenCommand(app);
  if (!command) {
    std::fputs(UsageText().c_str(), stderr);
    return kUsageStatus;
  }
  return RunCommand(*command, global);
}
