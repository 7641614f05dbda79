// The folders of the files found by signature: one per category under the
// root (id = category id) and one per type under its category (id = type
// code, named by the extension), made when the first file of the type
// arrives. For callers that hold the table's guard or own the table alone.
#pragma once

#include <cstdint>

#include "catalog/node_table.h"

namespace ambrel {

// A present folder record with this id under `parent` (no name).
FoundFileNode FolderRecord(std::uint32_t id, std::uint32_t parent);

namespace locked {
// The folder of type `code`, made (with its category's) when missing; 0
// for a code the catalogue does not define or when a folder cannot be added.
std::uint32_t TypeFolder(FoundFileTable& table, std::uint32_t code);
}  // namespace locked

}  // namespace ambrel
