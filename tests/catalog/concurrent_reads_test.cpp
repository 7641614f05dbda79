// A worker fills tables while the interface thread reads them. Run under
// ThreadSanitizer (-DAMBREL_TSAN=ON) these show the absence of data races;
// in the normal build they check that a reader never sees a broken link.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "catalog/found_file_catalog.h"
#include "catalog_test_util.h"

namespace ambrel {
namespace {

using test::MakeNode;

// Walks the whole tree once through the locked readers; returns the number
// of nodes seen, or fails on a broken link.
std::uint64_t WalkOnce(const FoundFileTable& table) {
  std::uint64_t seen = 0;
  std::vector<std::uint32_t> stack{kRootId};
  while (!stack.empty()) {
    const std::uint32_t id = stack.back();
    stack.pop_back();
    for (std::uint32_t c : ChildIdsOf(table, id)) {
      FoundFileNode copy;
      if (!CopyNodeAt(table, c, copy)) {
        ADD_FAILURE() << "child " << c << " of " << id << " is not live";
        return seen;
      }
      EXPECT_EQ(copy.parentId, id);
      EXPECT_GT(std::strlen(copy.name), 0u);
      ++seen;
      if (IsFolderKind(KindOf(copy))) stack.push_back(c);
    }
  }
  return seen;
}

TEST(ConcurrentReads, MillionNodesAddedWhileTheTreeIsWalked) {
  FoundFileTable table;
  ASSERT_TRUE(InitTable(table));
  constexpr std::uint32_t kNodes = 1000000;
  std::atomic<bool> done{false};
  std::thread worker([&] {
    std::uint32_t folder = kRootId;
    for (std::uint32_t i = 0; i < kNodes; ++i) {
      const bool isFolder = i % 64 == 0;
      FoundFileNode n = MakeNode(0, folder, isFolder ? kPresentFolder : kPresentFile, i);
      const std::uint32_t id = AddNodeNamed(table, n, isFolder ? "folder" : "file.jpg", true);
      ASSERT_NE(id, 0u);
      if (isFolder) folder = (i / 64) % 3 == 0 ? kRootId : id;
    }
    done.store(true, std::memory_order_release);
  });
  std::uint64_t walks = 0, last = 0;
  while (!done.load(std::memory_order_acquire)) {
    last = WalkOnce(table);
    ++walks;
  }
  worker.join();
  EXPECT_GE(walks, 1u);
  EXPECT_EQ(WalkOnce(table), kNodes);
  EXPECT_LE(last, kNodes);
  std::lock_guard<std::mutex> hold(table.guard);
  EXPECT_EQ(table.fileCount, kNodes - kNodes / 64);
}

TEST(ConcurrentReads, CatalogueReadWhileWorkersAdd) {
  test::SetTestSetting("ShowAllFile", "1");
  test::SetTestSetting("Key", "");
  FoundFileCatalog catalog;
  catalog.Reset(nullptr, false);
  std::atomic<bool> done{false};
  std::thread worker([&] {
    for (std::uint32_t i = 0; i < 20000; ++i) {
      FoundFileNode n = MakeNode(0, i % 2 ? 46 : 72, kDeletedFile, i);
      n.typeCode = static_cast<std::uint8_t>(n.parentId);
      catalog.AddFoundFile(n, i % 2 ? "carved.jpg" : "carved.mp4");
      if (i % 5000 == 0) {
        auto part = std::make_unique<PartitionInfo>();
        part->fsKind = kFsFat32;
        InitTable(part->table);
        for (std::uint32_t k = 0; k < 3000; ++k) {
          FoundFileNode f = MakeNode(0, kRootId, kPresentFile, k);
          f.created = PackPackedTime(2000 + int(k % 30), 1 + int(k % 12), 1 + int(k % 28), 0, 0, 0);
          f.modified = f.created;
          AddNodeNamed(part->table, f, k % 2 ? "a.doc" : "b.png", true);
        }
        catalog.AddPartition(std::move(part), nullptr, true);
      }
    }
    done.store(true, std::memory_order_release);
  });
  std::uint64_t reads = 0;
  while (!done.load(std::memory_order_acquire)) {
    for (std::uint32_t c : catalog.GetChildren(3, kRootId, false))
      for (std::uint32_t t : catalog.GetChildren(3, c, false))
        reads += catalog.GetChildren(3, t, false).size() + catalog.GetItemText(3, t).size();
    reads += catalog.GetLabel(3).size() + catalog.GetLabel(kClassRow + 1).size();
    for (std::uint32_t year : catalog.GetChildren(kClassRow + 1, kRootId, false))
      reads += catalog.GetItemText(kClassRow + 1, year).size();
    catalog.ToggleCheck(3, kRootId);
    reads += catalog.SumSelected().files;
  }
  worker.join();
  EXPECT_GT(reads, 0u);
  EXPECT_EQ(catalog.GetLabel(3), "00 找到的文件  (20000个文件)");
  EXPECT_EQ(catalog.GetLabel(kClassRow), "00  按文件类型分类     (12000个文件)");
}

}  // namespace
}  // namespace ambrel
