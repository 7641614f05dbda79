// Helpers of the copy-out tests: hand-built partitions over in-memory
// devices, a prompt that records messages, md5 of output files.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "session/worded_prompt.h"
#include "app/notify.h"
#include "device/faulty_device.h"
#include "device/memory_device.h"
#include "recovery/copy_out.h"
#include "recovery/save_item.h"

namespace ambrel::test {

class RecordingPrompt final : public WordedPrompt {
 public:
  void ShowMessage(const std::string& text) override { messages.push_back(text); }
  bool AskYesNo(const std::string& text) override {
    questions.push_back(text);
    if (answers.empty()) return false;
    const bool a = answers.front();
    answers.pop_front();
    return a;
  }
  std::vector<std::string> messages;
  std::vector<std::string> questions;
  std::deque<bool> answers;
};

// Byte i of the pattern the in-memory source holds.
std::uint8_t PatternByte(std::uint64_t i);

// A signature-kind partition (data taken as contiguous from dataSector)
// over an in-memory device of `sectors` sectors, read through a faulty
// device the test can arm.
struct MemorySource {
  explicit MemorySource(std::uint64_t sectors);
  std::uint32_t AddFolder(std::uint32_t parent, const std::string& name);
  std::uint32_t AddFile(std::uint32_t parent, const std::string& name, std::uint64_t sector, std::uint64_t size,
                        bool deleted = false);
  // Checks every file (folders follow).
  void CheckAll();
  // A job over this source writing into `target`.
  void Prepare(SaveJob& job, const std::string& target, UserPrompt* prompt);
  std::string Expected(std::uint64_t sector, std::uint64_t size) const;

  PartitionInfo partition;
  PartitionRows rows;
  std::shared_ptr<MemoryDevice> memory;
  std::shared_ptr<FaultyDevice> faulty;
};

std::string FileText(const std::string& path);
std::string Md5OfFile(const std::string& path);  // lower-case hex
// A fresh folder on a file system other than the build folder's (the
// in-memory /dev/shm), so that a recovery of an image in the build folder
// passes the target check; empty when there is none.
std::string OtherDeviceFolder(const std::string& tag);

// Runs build/cli/ambrel-cli with `args` (and `env` assignments before it);
// the exit status and what it printed on stdout and stderr.
struct CliResult {
  int status = -1;
  std::string out;
  std::string err;
};
CliResult RunCliCommand(const std::string& args, const std::string& tag, const std::string& env = "");

// Whole-file byte access for patching images.
std::vector<std::uint8_t> ReadBytes(const std::string& path);
bool WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);
// Offset of the first occurrence of `needle` at or after `from`; npos when none.
std::size_t FindBytes(const std::vector<std::uint8_t>& hay, const std::string& needle, std::size_t from = 0);
// Runs a shell command; true when it exits 0.
bool Shell(const std::string& command);
// A copy of a fixture image in a fresh temporary folder.
std::string FixtureCopy(const std::string& name, const std::string& tag);
// Every regular file below `folder` (path relative to it -> size).
std::map<std::string, std::uint64_t> FilesBelow(const std::string& folder);

}  // namespace ambrel::test
