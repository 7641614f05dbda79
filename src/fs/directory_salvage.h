// What the FAT and exFAT readers share when a directory has unreadable
// sectors: the path that names the folder, and the parse of the readable
// runs between the bad sectors.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "catalog/node_table.h"

namespace ambrel {

// The path of a folder of a table being read ("/" for the root), from the
// parent links the reader set; at most `maxDepth` folders up.
std::string FolderPathOf(const FoundFileTable& table, std::uint32_t id, int maxDepth = 128);

// Calls `parse` on each run of readable sectors of a directory buffer,
// between its unreadable sectors (indexes in ascending order, which read
// as zero and would otherwise look like the directory's end). Stops after
// a run for which `holdsEnd` is true: the directory ends there.
void ForEachReadableRun(std::span<const std::uint8_t> buffer, const std::vector<std::uint32_t>& unreadSectors,
                        const std::function<void(std::span<const std::uint8_t>)>& parse,
                        const std::function<bool(std::span<const std::uint8_t>)>& holdsEnd);

// True when an entry of 32 bytes in `run` starts with a zero byte: the end
// mark of FAT and exFAT directories.
bool HoldsDirectoryEnd(std::span<const std::uint8_t> run);

}  // namespace ambrel
