// Sub-commands of ambrel-cli. Each command lives in its own file and
// registers itself with a static CliCommandRegistrar: `define` adds its
// options and arguments to the command's parser, `run` does the work once
// the arguments are parsed and the start-up sequence has run.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace ambrel::cli {

struct CliCommand {
  std::string name;
  std::string synopsis;     // the usage line, without "ambrel-cli "
  std::string description;  // one line for --help
  std::function<void(CLI::App&)> define;
  std::function<int()> run;  // returns the process exit status
};

std::vector<CliCommand>& CommandTable();

struct CliCommandRegistrar {
  explicit CliCommandRegistrar(CliCommand command) { CommandTable().push_back(std::move(command)); }
};

// Exit status of a command line that cannot be run as given.
inline constexpr int kUsageStatus = 2;

}  // namespace ambrel::cli
