// Opening a folder of 100,000 files in the results browser's models: the
// file list takes the folder's visible child ids and answers the cells of
// one screenful; the tree opens the folders above it.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <cstdlib>
#include <memory>
#include <string>

#include "catalog/found_file_catalog.h"
#include "catalog/node_table.h"
#include "catalog_models.h"

namespace {

using namespace ambrel;

constexpr std::uint32_t kDocs = 6, kBig = 7, kFirstFile = 8;

std::unique_ptr<FoundFileCatalog> MakeCatalog(std::uint32_t files) {
  auto part = std::make_unique<PartitionInfo>();
  part->fsKind = kFsFat32;
  InitTable(part->table);
  auto node = [](std::uint32_t id, std::uint32_t parent, NodeKind kind, std::uint64_t size) {
    FoundFileNode n{};
    n.id = id;
    n.parentId = parent;
    n.size = size;
    n.created = PackPackedTime(2021, 3, 4, 5, 6, 7);
    n.modified = n.created;
    SetKind(n, kind);
    return n;
  };
  AddNodeNamed(part->table, node(kDocs, kRootId, kPresentFolder, 0), "docs", true);
  AddNodeNamed(part->table, node(kBig, kDocs, kPresentFolder, 0), "big", true);
  for (std::uint32_t i = 0; i < files; ++i)
    AddNodeNamed(part->table, node(kFirstFile + i, kBig, kPresentFile, i * 100ull), "f" + std::to_string(i) + ".jpg",
                 true);
  auto catalog = std::make_unique<FoundFileCatalog>();
  catalog->Reset(nullptr, false);
  catalog->AddPartition(std::move(part), nullptr, false);
  return catalog;
}

FoundFileCatalog& Catalog() {
  static std::unique_ptr<FoundFileCatalog> catalog = MakeCatalog(100000);
  return *catalog;
}

void BM_FileListOpensLargeFolder(benchmark::State& state) {
  FoundFileCatalog& catalog = Catalog();
  ui::FileListModel model(catalog);
  for (auto _ : state) {
    model.ShowFolder(4, kBig);
    int shown = 0;
    for (int r = 0; r < 40; ++r)
      for (int c = 0; c < ui::FileListModel::kColumnCount; ++c)
        shown += model.data(model.index(r, c), Qt::DisplayRole).toString().size();
    benchmark::DoNotOptimize(shown);
    if (model.rowCount() != 100000) state.SkipWithError("wrong row count");
  }
}
BENCHMARK(BM_FileListOpensLargeFolder)->Unit(benchmark::kMillisecond);

void BM_TreeOpensPathToLargeFolder(benchmark::State& state) {
  FoundFileCatalog& catalog = Catalog();
  ui::FolderTreeModel model(catalog);
  for (auto _ : state) {
    model.SetRoots({4});
    benchmark::DoNotOptimize(model.IndexOf(4, kBig));
  }
}
BENCHMARK(BM_TreeOpensPathToLargeFolder)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
