// The recycle-bin view and the deleted / present views of a parsed partition.
#include <gtest/gtest.h>

#include <set>

#include "catalog/node_table.h"
#include "fs/views/recycle_bin.h"

namespace ambrel {
namespace {

std::uint32_t Add(PartitionInfo& p, std::uint32_t id, std::uint32_t parent, const char* name, NodeKind kind) {
  FoundFileNode n{};
  n.id = id;
  n.parentId = parent;
  n.name = CopyNodeName(name);
  SetKind(n, kind);
  return AddNode(p.table, n, false);
}

std::set<std::uint32_t> LiveIds(const PartitionInfo& p) {
  std::set<std::uint32_t> out;
  for (std::uint32_t id = 0; id < p.table.count; ++id)
    if (IsLive(p.table, id)) out.insert(id);
  return out;
}

std::set<std::string> LiveNames(const PartitionInfo& p) {
  std::set<std::string> out;
  for (std::uint32_t id = 0; id < p.table.count; ++id)
    if (const FoundFileNode* n = NodeAt(p.table, id)) out.insert(n->name);
  return out;
}

std::vector<std::uint32_t> Children(const PartitionInfo& p, std::uint32_t id) {
  const FoundFileNode* n = NodeAt(p.table, id);
  return n && n->childIds ? std::vector<std::uint32_t>(n->childIds, n->childIds + n->childCount)
                          : std::vector<std::uint32_t>{};
}

// root: 回收站 {empty folder}, deleted folder "gone" {present alive.txt,
// deleted dead.txt}, present top.txt, deleted old.txt, present folder "docs"
// {deleted d1.txt, present p1.txt}.
void BuildTable(PartitionInfo& p) {
  p.fsKind = kFsFat32;
  p.fat.assign(64, 7);
  InitTable(p.table);
  Add(p, 6, 5, kRecycleBinName, kDeletedFolder);
  Add(p, 7, 6, "S-1-5-21", kDeletedFolder);
  Add(p, 8, 5, "gone", kDeletedFolder);
  Add(p, 9, 8, "alive.txt", kPresentFile);
  Add(p, 10, 8, "dead.txt", kDeletedFile);
  Add(p, 11, 5, "top.txt", kPresentFile);
  Add(p, 12, 5, "old.txt", kDeletedFile);
  Add(p, 13, 5, "docs", kPresentFolder);
  Add(p, 14, 13, "d1.txt", kDeletedFile);
  Add(p, 15, 13, "p1.txt", kPresentFile);
  LinkAll(p.table);
}

TEST(DeletionViews, PresentFileInsideADeletedFolderFollowsTheFolder) {
  PartitionInfo p, deleted;
  BuildTable(p);
  ASSERT_TRUE(SplitByDeletion(p, deleted));
  EXPECT_EQ(p.table.listingScope, 1u);
  EXPECT_EQ(deleted.table.listingScope, 2u);
  EXPECT_EQ(LiveNames(p), (std::set<std::string>{".", "top.txt", "docs", "p1.txt"}));
  EXPECT_EQ(LiveNames(deleted), (std::set<std::string>{".", "丢失的文件", kRecycleBinName, "S-1-5-21", "gone",
                                                       "alive.txt", "dead.txt", "old.txt", "docs", "d1.txt"}));
  EXPECT_EQ(deleted.fat, p.fat);
  // Child lists hold only the kept children.
  for (const PartitionInfo* view : {&p, &deleted})
    for (std::uint32_t id : LiveIds(*view))
      for (std::uint32_t child : Children(*view, id)) EXPECT_TRUE(IsLive(view->table, child)) << id << "->" << child;
}

TEST(DeletionViews, KeepKindFreesFoldersLeftEmptyButNeverTheRoot) {
  PartitionInfo p;
  p.fsKind = kFsFat16;
  InitTable(p.table);
  Add(p, 6, 5, "only deleted inside", kPresentFolder);
  Add(p, 7, 6, "x.txt", kDeletedFile);
  LinkAll(p.table);
  EXPECT_TRUE(KeepKind(p, kRootId, KeepMode::kPresent));
  EXPECT_EQ(LiveIds(p), (std::set<std::uint32_t>{5}));
  EXPECT_TRUE(Children(p, kRootId).empty());
}

TEST(RecycleBinView, NeedsAFileBelowTheBin) {
  PartitionInfo p, view;
  BuildTable(p);
  EXPECT_FALSE(BuildRecycleBinView(p, view)) << "only empty subfolders";
  PartitionInfo view2;
  PartitionInfo p3;
  p3.fsKind = kFsFat32;
  InitTable(p3.table);
  Add(p3, 6, 5, kRecycleBinName, kDeletedFolder);
  Add(p3, 7, 6, "S-1-5-21", kDeletedFolder);
  Add(p3, 8, 7, "$R0001.jpg", kPresentFile);
  Add(p3, 9, 5, "other.txt", kPresentFile);
  LinkAll(p3.table);
  ASSERT_TRUE(BuildRecycleBinView(p3, view2));
  EXPECT_EQ(LiveIds(view2), (std::set<std::uint32_t>{5, 6, 7, 8}));
  EXPECT_EQ(Children(view2, kRootId), (std::vector<std::uint32_t>{6}));
}

TEST(RecycleBinView, BinBeyondId1024IsNotFound) {
  PartitionInfo p, view;
  p.fsKind = kFsNtfs;
  InitTable(p.table);
  Add(p, 1025, 5, kRecycleBinName, kDeletedFolder);
  Add(p, 1026, 1025, "$R1.doc", kPresentFile);
  LinkAll(p.table);
  EXPECT_FALSE(BuildRecycleBinView(p, view));
}

TEST(RecycleBinName, TwelveCharactersAnyAsciiCase) {
  FoundFileNode n{};
  for (const char* yes : {"$RECYCLE.BIN", "$Recycle.Bin", "$recycle.bin"}) {
    n.name = const_cast<char*>(yes);
    EXPECT_TRUE(IsRecycleBinName(n)) << yes;
  }
  for (const char* no : {"$RECYCLE.BIN ", "RECYCLE.BIN", "$RECYCLER", "回收站"}) {
    n.name = const_cast<char*>(no);
    EXPECT_FALSE(IsRecycleBinName(n)) << no;
  }
  n.name = CopyNodeName("$Recycle.Bin");
  SetKind(n, kPresentFolder);
  MarkAsRecycleBin(n);
  EXPECT_STREQ(n.name, kRecycleBinName);
  EXPECT_EQ(KindOf(n), kDeletedFolder);
  std::free(n.name);
}

}  // namespace
}  // namespace ambrel
