#include "fs/directory_salvage.h"

#include "device/disk_handle.h"

namespace ambrel {

std::string FolderPathOf(const FoundFileTable& table, std::uint32_t id, int maxDepth) {
  std::string path;
  for (int depth = 0; id != kRootId && depth <= maxDepth; ++depth) {
    const FoundFileNode* node = NodeAt(table, id);
    if (!node || !node->name) break;
    path = "/" + std::string(node->name) + path;
    const std::uint32_t parent = node->parentId;  // packed record: copied before use
    if (parent == id) break;
    id = parent;
  }
  return path.empty() ? "/" : path;
}

void ForEachReadableRun(std::span<const std::uint8_t> buffer, const std::vector<std::uint32_t>& unreadSectors,
                        const std::function<void(std::span<const std::uint8_t>)>& parse,
                        const std::function<bool(std::span<const std::uint8_t>)>& holdsEnd) {
  const std::size_t sectors = buffer.size() / kSectorSize;
  std::size_t start = 0, next = 0;
  while (start < sectors) {
    while (next < unreadSectors.size() && unreadSectors[next] < start) ++next;
    const std::size_t end = next < unreadSectors.size() ? std::min<std::size_t>(unreadSectors[next], sectors) : sectors;
    if (end > start) {
      const auto run = buffer.subspan(start * kSectorSize, (end - start) * kSectorSize);
      parse(run);
      if (holdsEnd(run)) return;
    }
    start = end + 1;  // past the unreadable sector
  }
}

bool HoldsDirectoryEnd(std::span<const std::uint8_t> run) {
  for (std::size_t at = 0; at + 32 <= run.size(); at += 32)
    if (run[at] == 0) return true;
  return false;
}

}  // namespace ambrel
