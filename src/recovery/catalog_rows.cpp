#include "recovery/catalog_rows.h"

namespace ambrel {

bool CatalogRows::Resolve(std::uint32_t row, std::uint32_t id, SaveNode& out) const {
  const std::optional<FoundFileNode> node = catalog_.GetNode(row, id);
  std::uint32_t slot = 0, nodeId = 0;
  if (!node || !catalog_.Resolve(row, id, slot, nodeId)) return false;
  out.record = *node;
  out.record.childIds = nullptr;
  out.name = node->name != nullptr ? node->name : "";
  out.partition = catalog_.Partition(slot);
  return true;
}

std::vector<std::uint32_t> CatalogRows::Children(std::uint32_t row, std::uint32_t id) const {
  return catalog_.GetChildren(row, id, false);
}

std::vector<std::uint32_t> CatalogRows::Rows() const {
  const ViewMode mode = catalog_.viewMode();
  if (IsClassView(mode)) return {kClassRow + static_cast<std::uint32_t>(ViewNumber(mode))};
  std::vector<std::uint32_t> rows;
  for (std::uint32_t slot = kSignatureSlot; slot < catalog_.partitionCount(); ++slot) rows.push_back(slot);
  return rows;
}

}  // namespace ambrel
