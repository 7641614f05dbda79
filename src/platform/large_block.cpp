#include "platform/large_block.h"

#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>

namespace ambrel {

namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;

std::size_t Rounded(std::size_t bytes) { return (bytes + kHugePage - 1) / kHugePage * kHugePage; }

// Under AddressSanitizer every block stays on the heap, where overruns are
// caught.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kMapLargeBlocks = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kMapLargeBlocks = false;
#else
constexpr bool kMapLargeBlocks = true;
#endif
#else
constexpr bool kMapLargeBlocks = true;
#endif

bool Mapped(std::size_t bytes) {
  return kMapLargeBlocks && bytes >= kLargeBlockBytes && bytes <= SIZE_MAX / 2 - 2 * kHugePage;
}

}  // namespace

void* AllocLargeBlock(std::size_t bytes) {
  if (bytes == 0) return nullptr;
  if (!Mapped(bytes)) return std::calloc(1, bytes);
  // Mapped afresh rather than taken from the heap: a heap block may reuse
  // pages already faulted in one by one, and a fresh mapping is zero
  // without being written. Mapped one huge page larger, then cut to a huge
  // page boundary.
  const std::size_t size = Rounded(bytes);
  void* area = ::mmap(nullptr, size + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (area == MAP_FAILED) return nullptr;
  const auto start = reinterpret_cast<std::uintptr_t>(area);
  const std::uintptr_t aligned = (start + kHugePage - 1) / kHugePage * kHugePage;
  if (aligned > start) ::munmap(area, aligned - start);
  if (const std::size_t tail = start + size + kHugePage - (aligned + size); tail > 0)
    ::munmap(reinterpret_cast<void*>(aligned + size), tail);
  void* block = reinterpret_cast<void*>(aligned);
  // Advice only: where huge pages are off or none are free, the block is
  // made of small pages as any other.
  ::madvise(block, size, MADV_HUGEPAGE);
  return block;
}

void FreeLargeBlock(void* block, std::size_t bytes) {
  if (!block) return;
  if (Mapped(bytes)) ::munmap(block, Rounded(bytes));
  else std::free(block);
}

}  // namespace ambrel
