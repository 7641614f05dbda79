#include "ui_test_support.h"

#include "support/test_paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>

#include <cstdlib>
#include <filesystem>
#include <vector>

#include "app/resource_pack.h"
#include "app/settings.h"
#include "app/startup.h"
#include "catalog/node_table.h"

namespace ambrel::test {

void LoadBuiltSettings() {
  if (!SettingsLoaded()) LoadSettings(AMBREL_PACK_DIR, BuiltPackCheck());
}

namespace {

FoundFileNode Node(std::uint32_t id, std::uint32_t parent, NodeKind kind, std::uint64_t size) {
  FoundFileNode n{};
  n.id = id;
  n.parentId = parent;
  n.size = size;
  n.created = PackPackedTime(2021, 3, 4, 5, 6, 7);
  n.modified = PackPackedTime(2022, 8, 9, 10, 11, 12);
  SetKind(n, kind);
  return n;
}

}  // namespace

std::unique_ptr<PartitionInfo> SyntheticPartition(std::uint32_t bigFiles) {
  auto part = std::make_unique<PartitionInfo>();
  part->fsKind = kFsFat32;
  part->fsName = "FAT32";
  part->volumeLabel = "SYNTH";
  part->sectorCount = 1 << 20;
  InitTable(part->table);
  FoundFileTable& t = part->table;
  AddNodeNamed(t, Node(kDocsId, kRootId, kPresentFolder, 0), "docs", true);
  AddNodeNamed(t, Node(kTopFileId, kRootId, kPresentFile, 1536), "top.txt", true);
  AddNodeNamed(t, Node(kBigId, kDocsId, kPresentFolder, 0), "big", true);
  std::string name;
  for (std::uint32_t i = 0; i < bigFiles; ++i) {
    name = "file" + std::to_string(i) + ".txt";
    AddNodeNamed(t, Node(kFirstBigFile + i, kBigId, kPresentFile, std::uint64_t(i) * 100), name, true);
  }
  return part;
}

std::unique_ptr<FoundFileCatalog> SyntheticCatalog(std::uint32_t bigFiles) {
  auto catalog = std::make_unique<FoundFileCatalog>();
  catalog->Reset(nullptr, false);
  catalog->AddPartition(SyntheticPartition(bigFiles), nullptr, false);
  return catalog;
}

std::string TempFolder(const std::string& name) { return TempDir("ui-" + name); }

}  // namespace ambrel::test
