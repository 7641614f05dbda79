#include "fs/allocation_map.h"

#include <mutex>

namespace ambrel {

namespace {
std::mutex& MapLock() {
  static std::mutex lock;
  return lock;
}
std::vector<std::uint8_t>& Map() {
  static std::vector<std::uint8_t> map;
  return map;
}
}  // namespace

void SetAllocationMap(std::vector<std::uint8_t> bytes) {
  std::lock_guard<std::mutex> guard(MapLock());
  Map() = std::move(bytes);
}

void ClearAllocationMap() { SetAllocationMap({}); }

std::vector<std::uint8_t> AllocationMapCopy() {
  std::lock_guard<std::mutex> guard(MapLock());
  return Map();
}

std::uint64_t AllocationMapBytes() {
  std::lock_guard<std::mutex> guard(MapLock());
  return Map().size();
}

bool AllocationMapBit(std::uint64_t cluster) {
  std::lock_guard<std::mutex> guard(MapLock());
  const std::uint64_t byte = cluster / 8;
  return byte < Map().size() && ((Map()[byte] >> (cluster % 8)) & 1) != 0;
}

}  // namespace ambrel
