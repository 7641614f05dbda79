#include "cli/cli_run.h"

#include <sys/wait.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/test_paths.h"

namespace ambrel::test {

std::string Quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

bool Shell(const std::string& command) {
  const int raw = std::system(command.c_str());
  return WIFEXITED(raw) && WEXITSTATUS(raw) == 0;
}

bool HaveTool(const std::string& name) { return Shell("command -v " + name + " >/dev/null 2>&1"); }

CliOutput RunAmbrelCliAt(const std::string& home, const std::string& args, const std::string& prefix) {
  const std::string cli = BinaryDir() + "/cli/ambrel-cli";
  const std::string command = "AMBREL_ALLOW_SECOND_INSTANCE=1 TZ=UTC timeout 120 " + prefix + " " + Quoted(cli) +
                              " --home " + Quoted(home) + " " + args + " >" + Quoted(home + "/out") + " 2>" +
                              Quoted(home + "/err") + " </dev/null";
  CliOutput r;
  const int raw = std::system(command.c_str());
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  r.out = ReadFileBytes(home + "/out");
  r.err = ReadFileBytes(home + "/err");
  return r;
}

CliOutput RunAmbrelCli(const std::string& args, const std::string& prefix) {
  static std::atomic<int> runs{0};
  const std::string home = TempDir("cli-run-" + std::to_string(runs++));
  // A run as another user must still write its log and lock there.
  if (!prefix.empty()) std::filesystem::permissions(home, std::filesystem::perms::all);
  return RunAmbrelCliAt(home, args, prefix);
}

}  // namespace ambrel::test
