// ambrel-cli: the command-line front end.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "commands.h"

namespace ambrel::cli {

std::vector<CliCommand>& CommandTable() {
  static std::vector<CliCommand> table;
  return table;
}

namespace {

void PrintUsage(std::FILE* out) {
  std::fprintf(out, "usage: ambrel-cli --version | --help | COMMAND [ARGS]\n");
  auto table = CommandTable();
  std::sort(table.begin(), table.end(),
            [](const CliCommand& a, const CliCommand& b) { return a.name < b.name; });
  for (const auto& c : table) std::fprintf(out, "  ambrel-cli %s\n", c.synopsis.c_str());
}

}  // namespace
}  // namespace ambrel::cli

int main(int argc, char** argv) {
  using namespace ambrel::cli;
  if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
    PrintUsage(stdout);
    return argc < 2 ? 2 : 0;
  }
  if (std::strcmp(argv[1], "--version") == 0) {
    std::printf("ambrel-cli 6.3.1 (build 3779)\n");
    return 0;
  }
  for (const auto& c : CommandTable())
    if (c.name == argv[1]) return c.run(argc - 1, argv + 1);
  std::fprintf(stderr, "ambrel-cli: unknown command '%s' (see --help)\n", argv[1]);
  return 2;
}
