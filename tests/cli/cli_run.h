// Runs the built ambrel-cli as a user would and keeps its exit status,
// stdout and stderr apart; plus the small image makers the CLI tests share.
#pragma once

#include <string>

namespace ambrel::test {

struct CliOutput {
  int status = -1;
  std::string out, err;
};

// `args` is passed to the shell as it is (quote paths yourself). Each run
// gets its own --home so that no run sees another's log or lock.
CliOutput RunAmbrelCli(const std::string& args, const std::string& prefix = "");
// The same with a home folder of the caller's (kept between runs: the
// program's log, lock and saved scan live there).
CliOutput RunAmbrelCliAt(const std::string& home, const std::string& args, const std::string& prefix = "");

// Single-quoted for the shell.
std::string Quoted(const std::string& text);

// True when the shell finds the program.
bool HaveTool(const std::string& name);

// Runs a shell command; true on exit status 0.
bool Shell(const std::string& command);

std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);

}  // namespace ambrel::test
