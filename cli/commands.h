// Sub-commands of ambrel-cli. Each command lives in its own file and
// registers itself with a static CliCommandRegistrar.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace ambrel::cli {

// argv[0] is the command name; returns the process exit status.
using CommandFn = std::function<int(int argc, char** argv)>;

struct CliCommand {
  std::string name;
  std::string synopsis;  // one usage line for --help
  CommandFn run;
};

std::vector<CliCommand>& CommandTable();

struct CliCommandRegistrar {
  CliCommandRegistrar(std::string name, std::string synopsis, CommandFn run) {
    CommandTable().push_back({std::move(name), std::move(synopsis), std::move(run)});
  }
};

}  // namespace ambrel::cli
