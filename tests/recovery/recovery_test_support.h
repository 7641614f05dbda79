// Helpers of the copy-out tests: hand-built partitions over in-memory
// devices, a prompt that records messages, md5 of output files.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "app/notify.h"
#include "device/faulty_device.h"
#include "device/memory_device.h"
#include "recovery/copy_out.h"
#include "recovery/save_item.h"

namespace ambrel::test {

class RecordingPrompt final : public UserPrompt {
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

}  // namespace ambrel::test
