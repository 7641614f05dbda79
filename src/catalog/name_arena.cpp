#include "catalog/name_arena.h"

#include <cstring>
#include <new>
#include <utility>

namespace ambrel {

NameArena::NameArena(NameArena&& other) noexcept
    : blocks_(std::move(other.blocks_)),
      cursor_(std::exchange(other.cursor_, nullptr)),
      left_(std::exchange(other.left_, 0)),
      reserved_(std::exchange(other.reserved_, 0)) {}

NameArena& NameArena::operator=(NameArena&& other) noexcept {
  if (this != &other) {
    blocks_ = std::move(other.blocks_);
    cursor_ = std::exchange(other.cursor_, nullptr);
    left_ = std::exchange(other.left_, 0);
    reserved_ = std::exchange(other.reserved_, 0);
  }
  return *this;
}

char* NameArena::Copy(std::string_view text) {
  const std::size_t need = text.size() + 1;
  if (need > left_) {
    // A long name gets a block of its own so the current block stays in use.
    const std::size_t size = need > kBlockSize / 4 ? need : kBlockSize;
    std::unique_ptr<char[]> block(new (std::nothrow) char[size]);
    if (!block) return nullptr;
    char* start = block.get();
    blocks_.push_back(std::move(block));
    reserved_ += size;
    if (size != kBlockSize) {
      std::memcpy(start, text.data(), text.size());
      start[text.size()] = '\0';
      return start;
    }
    cursor_ = start;
    left_ = size;
  }
  char* out = cursor_;
  std::memcpy(out, text.data(), text.size());
  out[text.size()] = '\0';
  cursor_ += need;
  left_ -= need;
  return out;
}

void NameArena::Clear() {
  blocks_.clear();
  cursor_ = nullptr;
  left_ = 0;
  reserved_ = 0;
}

}  // namespace ambrel
