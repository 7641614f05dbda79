// Append-only store for node names. A table keeps every name in a few large
// blocks instead of one heap block per name, which saves the allocator's
// per-block overhead (a 16-character name costs 17 bytes). Replacing or
// dropping a name leaves its bytes in place; the blocks go with the table.
//
// Threads: written by the thread that changes the table, under the table's
// guard; the bytes of a stored name never change, so a reader may keep a
// name pointer for as long as the table lives.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>
#include <vector>

namespace ambrel {

class NameArena {
 public:
  NameArena() = default;
  NameArena(const NameArena&) = delete;
  NameArena& operator=(const NameArena&) = delete;
  NameArena(NameArena&& other) noexcept;
  NameArena& operator=(NameArena&& other) noexcept;

  // NUL-terminated copy of `text`; null when memory runs out.
  char* Copy(std::string_view text);
  void Clear();
  // Bytes held in blocks (reserved, not only used).
  std::size_t BytesReserved() const { return reserved_; }

 private:
  static constexpr std::size_t kBlockSize = 64 * 1024;
  std::vector<std::unique_ptr<char[]>> blocks_;
  char* cursor_ = nullptr;
  std::size_t left_ = 0;
  std::size_t reserved_ = 0;
};

}  // namespace ambrel
