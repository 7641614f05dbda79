#include "catalog/type_folder.h"

#include "catalog/file_types.h"
#include "catalog/node_table_locked.h"

namespace ambrel {

FoundFileNode FolderRecord(std::uint32_t id, std::uint32_t parent) {
  FoundFileNode n{};
  n.id = id;
  n.parentId = parent;
  n.typeCode = kTypeUnknown;
  SetKind(n, kPresentFolder);
  return n;
}

namespace locked {

std::uint32_t TypeFolder(FoundFileTable& table, std::uint32_t code) {
  const FileTypeEntry* type = FindFileType(code);
  if (!type) return 0;
  if (!IsFolderNode(table, code)) {
    const FileCategory* category = FindCategory(type->category);
    if (!category) return 0;
    if (!IsFolderNode(table, category->id))
      AddNode(table, FolderRecord(category->id, kRootId), category->name, true);
    if (!IsFolderNode(table, category->id)) return 0;
    AddNode(table, FolderRecord(code, category->id), type->extension, true);
  }
  return IsFolderNode(table, code) ? code : 0;
}

}  // namespace locked
}  // namespace ambrel
