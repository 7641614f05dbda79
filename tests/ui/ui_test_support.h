// Shared pieces of the desktop program's tests: a prompt that records, the
// built settings, and a synthetic partition with one very large folder.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "session/worded_prompt.h"
#include "app/notify.h"
#include "catalog/found_file_catalog.h"

namespace ambrel::test {

class RecordingPrompt final : public WordedPrompt {
 public:
  void ShowMessage(const std::string& text) override { messages.push_back(text); }
  bool AskYesNo(const std::string& text) override {
    questions.push_back(text);
    return answer;
  }
  std::string last() const { return messages.empty() ? std::string() : messages.back(); }
  std::vector<std::string> messages;
  std::vector<std::string> questions;
  bool answer = false;
};

// Loads the pack made by this build into the settings table.
void LoadBuiltSettings();

// Ids of the synthetic partition: root 5 holds "docs" (id 6) and
// "top.txt" (id 7); "docs" holds "big" (id 8), whose files follow from id 9.
inline constexpr std::uint32_t kDocsId = 6;
inline constexpr std::uint32_t kTopFileId = 7;
inline constexpr std::uint32_t kBigId = 8;
inline constexpr std::uint32_t kFirstBigFile = 9;
// File i of "big" is "file<i>.txt" of i * 100 bytes, created 2021-03-04
// 05:06:07 and modified 2022-08-09 10:11:12.
std::unique_ptr<PartitionInfo> SyntheticPartition(std::uint32_t bigFiles);
// A reset catalogue holding the synthetic partition in slot 4.
std::unique_ptr<FoundFileCatalog> SyntheticCatalog(std::uint32_t bigFiles);

std::string TempFolder(const std::string& name);

}  // namespace ambrel::test
