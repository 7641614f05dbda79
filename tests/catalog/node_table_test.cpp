#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "catalog/child_list.h"
#include "catalog/node_table.h"
#include "catalog_test_util.h"

namespace ambrel {
namespace {

using test::AddFile;
using test::AddFolder;
using test::MakeNode;

std::vector<std::uint32_t> Children(const FoundFileTable& t, std::uint32_t id) {
  return ChildIdsOf(t, id);
}

// Every live node's parent is a live folder whose list names it exactly
// once, every list entry is live and names that parent, and the chain of
// every node reaches the root.
void ExpectLinksValid(const FoundFileTable& t) {
  for (std::uint32_t i = 0; i < t.count; ++i) {
    const FoundFileNode* n = NodeAt(t, i);
    if (!n) continue;
    for (std::uint32_t c : Children(t, i)) {
      ASSERT_TRUE(IsLive(t, c)) << "child " << c << " of " << i;
      EXPECT_EQ(+NodeAt(t, c)->parentId, i);
    }
    if (i == kRootId) continue;
    ASSERT_TRUE(IsFolderNode(t, n->parentId)) << i;
    auto siblings = Children(t, n->parentId);
    EXPECT_EQ(std::count(siblings.begin(), siblings.end(), i), 1) << i;
    std::uint32_t x = i, steps = 0;
    while (x != kRootId && steps++ < t.count) x = NodeAt(t, x)->parentId;
    EXPECT_EQ(x, kRootId) << i;
  }
}

TEST(NodeTable, InitCreatesRootAndLostFolder) {
  FoundFileTable t;
  ASSERT_TRUE(InitTable(t));
  EXPECT_EQ(t.count, 6u);
  EXPECT_EQ(t.capacity, 1024u);
  EXPECT_STREQ(NodeAt(t, kRootId)->name, ".");
  EXPECT_EQ(KindOf(*NodeAt(t, kRootId)), kPresentFolder);
  EXPECT_EQ(+NodeAt(t, kRootId)->parentId, kRootId);
  EXPECT_STREQ(NodeAt(t, kLostFolderId)->name, "丢失的文件");
  EXPECT_EQ(KindOf(*NodeAt(t, kLostFolderId)), kDeletedFolder);
  EXPECT_EQ(+NodeAt(t, kLostFolderId)->parentId, kRootId);
  EXPECT_TRUE(Children(t, kRootId).empty());
  for (std::uint32_t i = 0; i < 4; ++i) EXPECT_FALSE(IsLive(t, i));
  EXPECT_EQ(CountLive(t), 2u);
}

TEST(NodeTable, AddNodeSlotsGrowthAndBound) {
  FoundFileTable t;
  ASSERT_TRUE(InitTable(t));
  // Next-free slot and type codes from the name (files only).
  const std::uint32_t a = AddFile(t, 0, kRootId, "report.DOCX", false);
  EXPECT_EQ(a, 6u);
  EXPECT_EQ(+NodeAt(t, a)->typeCode, 37);
  const std::uint32_t d = AddFolder(t, 0, kRootId, "pics.jpg", false);
  EXPECT_EQ(+NodeAt(t, d)->typeCode, 0) << "folders keep their code";
  // An outlying slot: the array must hold it (a + 1 records at least).
  ASSERT_EQ(AddFile(t, 5000, kRootId, "far.bin", false), 5000u);
  EXPECT_GE(t.capacity, 5001u);
  EXPECT_EQ(t.count, 5001u);
  EXPECT_STREQ(NodeAt(t, 5000)->name, "far.bin");
  // Slot just past the capacity: grows by 1024.
  const std::uint32_t cap = t.capacity;
  ASSERT_EQ(AddFile(t, cap, kRootId, "edge", false), cap);
  EXPECT_EQ(t.capacity, cap + 1024);
  // Highest id accepted, one more refused; the array stops at 0x200000.
  EXPECT_EQ(AddFile(t, kMaxNodeId, kRootId, "last", false), kMaxNodeId);
  EXPECT_EQ(t.capacity, kMaxNodeRecords);
  EXPECT_EQ(AddFile(t, kMaxNodeId + 1, kRootId, "over", false), 0u);
  EXPECT_EQ(AddFile(t, 0, kRootId, "full", false), 0u) << "next slot is past the bound";
  // A node without a name is refused; its heap fields are released.
  FoundFileNode unnamed = MakeNode(0, kRootId, kPresentFile);
  unnamed.extra = std::malloc(16);
  EXPECT_EQ(AddNode(t, unnamed, false), 0u);
}

TEST(NodeTable, NextSlotGrowthSteps) {
  FoundFileTable t;
  std::vector<std::uint32_t> seen;
  for (int i = 0; i < 200000; ++i) {
    ASSERT_NE(AddFile(t, 0, kRootId, "f", false), 0u);
    if (seen.empty() || seen.back() != t.capacity) seen.push_back(t.capacity);
  }
  ASSERT_GE(seen.size(), 8u);
  EXPECT_EQ(seen[0], 1024u);
  EXPECT_EQ(seen[1], 1536u);
  EXPECT_EQ(seen[2], 2304u);
  for (std::size_t i = 1; i < seen.size(); ++i) {
    if (seen[i - 1] < 102400) EXPECT_EQ(seen[i], seen[i - 1] + seen[i - 1] / 2);
    else EXPECT_EQ(seen[i], seen[i - 1] + 51200);
  }
}

TEST(NodeTable, AddNodeTakesHeapNameAndReplacesLiveSlot) {
  FoundFileTable t;
  ASSERT_TRUE(InitTable(t));
  FoundFileNode n = MakeNode(10, kRootId, kDeletedFile);
  n.name = CopyNodeName("photo.jpg");
  n.extra = std::malloc(8);
  ASSERT_EQ(AddNode(t, n, false), 10u);
  EXPECT_STREQ(NodeAt(t, 10)->name, "photo.jpg");
  EXPECT_EQ(+NodeAt(t, 10)->typeCode, 46);
  EXPECT_NE(+NodeAt(t, 10)->name, +n.name) << "the name moved into the table";
  ASSERT_EQ(AddFile(t, 10, kRootId, "other.txt", false), 10u);
  EXPECT_STREQ(NodeAt(t, 10)->name, "other.txt");
  EXPECT_EQ(+NodeAt(t, 10)->extra, nullptr);
  EXPECT_EQ(CountLive(t), 3u);
}

TEST(NodeTable, SignatureTableKeepsTypeCodes) {
  FoundFileTable t;
  t.isSignatureTable = true;
  ASSERT_TRUE(InitTable(t));
  FoundFileNode n = MakeNode(0, kRootId, kDeletedFile);
  n.typeCode = 72;
  const std::uint32_t id = AddNodeNamed(t, n, "00001.jpg", false);
  EXPECT_EQ(+NodeAt(t, id)->typeCode, 72);
}

TEST(NodeTable, LinkedFilesCountUpToButNotIncludingRoot) {
  FoundFileTable t;
  ASSERT_TRUE(InitTable(t));
  ASSERT_EQ(AddFolder(t, 10, kRootId, "a"), 10u);
  ASSERT_EQ(AddFolder(t, 11, 10, "b"), 11u);
  ASSERT_EQ(AddFile(t, 12, 11, "x.txt"), 12u);
  ASSERT_EQ(AddFile(t, 13, 10, "y.txt"), 13u);
  ASSERT_EQ(AddFile(t, 14, 99, "orphan.txt"), 14u);  // dead parent: not linked
  EXPECT_EQ(+NodeAt(t, 11)->fileCount, 1u);
  EXPECT_EQ(+NodeAt(t, 10)->fileCount, 2u);
  EXPECT_EQ(+NodeAt(t, kRootId)->fileCount, 0u);
  EXPECT_EQ(t.fileCount, 2u);
  EXPECT_EQ(Children(t, kRootId), (std::vector<std::uint32_t>{10}));
  EXPECT_EQ(Children(t, 10), (std::vector<std::uint32_t>{11, 13}));
  // A file under a file is not linked.
  ASSERT_EQ(AddFile(t, 15, 13, "inner"), 15u);
  EXPECT_TRUE(Children(t, 13).empty());
}

TEST(NodeTable, ChildListsGrowByHalf) {
  FoundFileTable t;
  ASSERT_TRUE(InitTable(t));
  std::vector<std::uint32_t> caps;
  for (int i = 0; i < 30; ++i) {
    AddFile(t, 0, kRootId, test::Numbered("f", i));
    const std::uint32_t cap = NodeAt(t, kRootId)->childCapacity;
    if (caps.empty() || caps.back() != cap) caps.push_back(cap);
  }
  EXPECT_EQ(caps, (std::vector<std::uint32_t>{8, 12, 18, 27, 40}));
}

TEST(NodeTable, LinkAllSendsOrphansAndCyclesToLostFolder) {
  FoundFileTable t;
  ASSERT_TRUE(InitTable(t));
  AddFolder(t, 10, kRootId, "dir", false);
  AddFile(t, 11, 10, "ok.txt", false);
  AddFile(t, 12, 77, "dead-parent.txt", false);   // parent never added
  AddFile(t, 13, 11, "under-file.txt", false);    // parent is a file
  AddFolder(t, 20, 20, "self", false);            // its own parent
  AddFolder(t, 21, 22, "cycle-a", false);          // 21 -> 22 -> 21
  AddFolder(t, 22, 21, "cycle-b", false);
  AddFile(t, 23, 21, "in-cycle.txt", false);
  AddFile(t, 24, 0x1FFFFF, "far-parent", false);
  LinkAll(t);
  EXPECT_EQ(+NodeAt(t, 11)->parentId, 10u);
  EXPECT_EQ(+NodeAt(t, 12)->parentId, kLostFolderId);
  EXPECT_EQ(+NodeAt(t, 13)->parentId, kLostFolderId);
  EXPECT_EQ(+NodeAt(t, 20)->parentId, kLostFolderId);
  EXPECT_EQ(+NodeAt(t, 24)->parentId, kLostFolderId);
  // The cycle is cut at one node; the other stays below it.
  const bool cutAt21 = NodeAt(t, 21)->parentId == kLostFolderId;
  const bool cutAt22 = NodeAt(t, 22)->parentId == kLostFolderId;
  EXPECT_NE(cutAt21, cutAt22);
  EXPECT_EQ(+NodeAt(t, 23)->parentId, 21u);
  ExpectLinksValid(t);
  auto rootKids = Children(t, kRootId);
  EXPECT_TRUE(std::find(rootKids.begin(), rootKids.end(), kLostFolderId) != rootKids.end());
  // Linking twice gives the same lists.
  auto before = Children(t, kLostFolderId);
  LinkAll(t);
  EXPECT_EQ(Children(t, kLostFolderId), before);
}

TEST(NodeTable, RemoveNodeZeroesTheRecord) {
  FoundFileTable t;
  ASSERT_TRUE(InitTable(t));
  FoundFileNode n = MakeNode(8, kRootId, kPresentFile);
  n.extra = std::malloc(32);
  AddNodeNamed(t, n, "gone.bin", false);
  RemoveNode(t, 8);
  EXPECT_FALSE(IsLive(t, 8));
  FoundFileNode zero{};
  FoundFileNode copy;
  std::memcpy(&copy, NodeAt(static_cast<const FoundFileTable&>(t), kRootId), sizeof copy);
  EXPECT_FALSE(CopyNodeAt(t, 8, copy));
  EXPECT_EQ(std::memcmp(&t.nodes.load()[8], &zero, sizeof zero), 0);
}

TEST(NodeTable, CompactKeepsEveryLinkAndReservedSlots) {
  FoundFileTable t;
  ASSERT_TRUE(InitTable(t));
  // A tree in which parents sit both below and above their children, with
  // 6000 dead slots spread through it.
  std::vector<std::uint32_t> folders{kRootId};
  for (std::uint32_t i = 0; i < 20000; ++i) {
    const std::uint32_t id = 6 + i;
    const std::uint32_t parent = folders[(i * 7919u) % folders.size()];
    if (i % 10 == 0) AddFolder(t, id, parent, test::Numbered("d", id), false);
    else AddFile(t, id, parent, test::Numbered("f", id, ".txt"), false);
    if (i % 10 == 0) folders.push_back(id);
  }
  AddFolder(t, 30000, kRootId, "high", false);  // a parent above its children
  for (std::uint32_t i = 0; i < 50; ++i) AddFile(t, 6 + 20000 + i, 30000, "h.txt", false);
  LinkAll(t);
  std::uint32_t removed = 0;
  for (std::uint32_t id = 7; id < 20006 && removed < 6000; id += 3) {
    if (IsFolderNode(t, id)) continue;
    const std::uint32_t parent = NodeAt(t, id)->parentId;
    RemoveNode(t, id);
    ++removed;
    (void)parent;
  }
  const std::uint32_t liveBefore = CountLive(t);
  std::multiset<std::string> namesBefore;
  for (std::uint32_t i = 0; i < t.count; ++i)
    if (IsLive(t, i)) namesBefore.insert(NodeAt(t, i)->name);
  Compact(t);
  EXPECT_EQ(CountLive(t), liveBefore);
  EXPECT_EQ(t.count, liveBefore + 4) << "slots 0-3 stay empty";
  EXPECT_LE(t.capacity, t.count + 3000);
  EXPECT_STREQ(NodeAt(t, kRootId)->name, ".");
  EXPECT_STREQ(NodeAt(t, kLostFolderId)->name, "丢失的文件");
  std::multiset<std::string> namesAfter;
  for (std::uint32_t i = 0; i < t.count; ++i) {
    ASSERT_TRUE(i < 4 || IsLive(t, i)) << i;
    if (IsLive(t, i)) namesAfter.insert(NodeAt(t, i)->name);
  }
  EXPECT_EQ(namesBefore, namesAfter);
  ExpectLinksValid(t);
}

TEST(NodeTable, CompactLeavesFewDeadSlots) {
  FoundFileTable t;
  ASSERT_TRUE(InitTable(t));
  for (int i = 0; i < 100; ++i) AddFile(t, 0, kRootId, "f");
  for (std::uint32_t id = 10; id < 50; ++id) RemoveNode(t, id);
  const std::uint32_t count = t.count;
  Compact(t);
  EXPECT_EQ(t.count, count) << "40 dead slots are not worth moving";
  EXPECT_FALSE(IsLive(t, 10));
}

TEST(NodeTable, SplitLostFolderIntoGroupsOf300) {
  FoundFileTable t;
  ASSERT_TRUE(InitTable(t));
  for (int i = 0; i < 301; ++i) AddFile(t, 0, 999999, test::Numbered("lost", i));
  LinkAll(t);
  ASSERT_EQ(Children(t, kLostFolderId).size(), 301u);
  SplitLostFolder(t);
  auto groups = Children(t, kLostFolderId);
  ASSERT_EQ(groups.size(), 2u);
  EXPECT_STREQ(NodeAt(t, groups[0])->name, "000");
  EXPECT_STREQ(NodeAt(t, groups[1])->name, "001");
  EXPECT_EQ(KindOf(*NodeAt(t, groups[0])), kDeletedFolder);
  EXPECT_EQ(Children(t, groups[0]).size(), 300u);
  EXPECT_EQ(Children(t, groups[1]).size(), 1u);
  EXPECT_EQ(+NodeAt(t, groups[0])->childCapacity, 300u);
  EXPECT_STREQ(NodeAt(t, Children(t, groups[0])[0])->name, "lost0");
  EXPECT_STREQ(NodeAt(t, Children(t, groups[1])[0])->name, "lost300");
  ExpectLinksValid(t);
}

TEST(NodeTable, SplitNeedsAnIdPerGroup) {
  FoundFileTable t;
  ASSERT_TRUE(InitTable(t));
  for (int i = 0; i < 601; ++i) AddFile(t, 0, 4, "x", false);
  AddFile(t, kMaxNodeRecords - 2, 4, "high", false);  // leaves 2 free ids, 3 groups needed
  LinkAll(t);
  SplitLostFolder(t);
  EXPECT_EQ(Children(t, kLostFolderId).size(), 602u) << "untouched rather than losing files";
}

TEST(NodeTable, PruneRemovesRejectedFilesAndEmptyFolders) {
  test::SetTestSetting("ShowAllFile", "0");
  test::SetTestSetting("Key", "5");  // restricted profile: photos and videos only
  FoundFileTable t;
  ASSERT_TRUE(InitTable(t));
  AddFolder(t, 10, kRootId, "docs", false);
  AddFile(t, 11, 10, "a.docx", false);
  AddFolder(t, 12, 10, "deeper", false);
  AddFile(t, 13, 12, "b.txt", false);
  AddFolder(t, 14, kRootId, "media", false);
  AddFile(t, 15, 14, "c.jpg", false);
  AddFile(t, 16, 14, "d.mov", false);
  AddFile(t, 17, 14, "e.zip", false);
  AddFolder(t, 18, kRootId, "empty", false);
  LinkAll(t);
  EXPECT_EQ(PruneAndCount(t, kRootId), 2u);
  EXPECT_FALSE(IsLive(t, 10));
  EXPECT_FALSE(IsLive(t, 12));
  EXPECT_FALSE(IsLive(t, 17));
  EXPECT_FALSE(IsLive(t, 18));
  EXPECT_FALSE(IsLive(t, kLostFolderId)) << "the empty lost folder goes too";
  EXPECT_TRUE(IsLive(t, kRootId));
  EXPECT_EQ(Children(t, kRootId), (std::vector<std::uint32_t>{14}));
  EXPECT_EQ(Children(t, 14), (std::vector<std::uint32_t>{15, 16}));
  EXPECT_EQ(+NodeAt(t, 14)->fileCount, 2u);
  EXPECT_EQ(+NodeAt(t, kRootId)->fileCount, 2u);

  // With "ShowAllFile" on, every file stays; the empty folder still goes.
  test::SetTestSetting("ShowAllFile", "1");
  FoundFileTable u;
  ASSERT_TRUE(InitTable(u));
  AddFolder(u, 10, kRootId, "docs", false);
  AddFile(u, 11, 10, "a.docx", false);
  AddFile(u, 12, 10, "noext", false);
  AddFolder(u, 13, kRootId, "empty", false);
  LinkAll(u);
  EXPECT_EQ(PruneAndCount(u, kRootId), 2u);
  EXPECT_FALSE(IsLive(u, 13));
  test::SetTestSetting("ShowAllFile", "0");
  test::SetTestSetting("Key", "");
}

TEST(NodeTable, PruneKeepsEverythingWithoutRestrictedProfile) {
  test::SetTestSetting("ShowAllFile", "0");
  test::SetTestSetting("Key", "1");
  FoundFileTable t;
  ASSERT_TRUE(InitTable(t));
  AddFile(t, 10, kRootId, "unknown.qqq", false);
  AddFile(t, 11, 777, "orphan.doc", false);
  LinkAll(t);
  EXPECT_EQ(PruneAndCount(t, kRootId), 2u);
  EXPECT_EQ(+NodeAt(t, kLostFolderId)->fileCount, 1u);
  test::SetTestSetting("Key", "");
}

TEST(NodeTable, MoveSelectedAndFree) {
  FoundFileTable t;
  ASSERT_TRUE(InitTable(t));
  AddFile(t, 10, kRootId, "a", true, 100);
  AddFile(t, 11, kRootId, "b", true, 50);
  AddFolder(t, 12, kRootId, "c", true);
  SetCheckState(*NodeAt(t, 10), 1);
  SetCheckState(*NodeAt(t, 12), 1);
  FoundFileTable moved(std::move(t));
  EXPECT_EQ(t.count, 0u);
  EXPECT_EQ(t.nodes.load(), nullptr);
  EXPECT_STREQ(NodeAt(moved, 10)->name, "a");
  SelectionTotal total;
  AddSelected(moved, total);
  EXPECT_EQ(total.files, 1u);
  EXPECT_EQ(total.bytes, 100u);
  FoundFileTable other;
  other = std::move(moved);
  EXPECT_EQ(CountLive(other), 5u);
  FreeTable(other);
  EXPECT_EQ(other.count, 0u);
  EXPECT_FALSE(IsLive(other, kRootId));
}

TEST(PackedTime, PacksAndClamps) {
  EXPECT_EQ(PackPackedTime(1980, 1, 1, 0, 0, 0), 0x420000u);
  EXPECT_EQ(PackPackedTime(1980, 1, 1, 23, 59, 59) & 0x1FFFF, 0x17EFBu);
  const UnpackedTime u = UnpackPackedTime(PackPackedTime(2024, 13, 0, 30, 70, 99));
  EXPECT_EQ(u.year, 2024);
  EXPECT_EQ(u.month, 1);
  EXPECT_EQ(u.day, 1);
  EXPECT_EQ(u.hour, 23);
  EXPECT_EQ(u.minute, 59);
  EXPECT_EQ(u.second, 59);
  EXPECT_EQ(UnpackPackedTime(PackPackedTime(2044, 5, 6, 7, 8, 9)).year, 1980) << "modulo 64";
  EXPECT_EQ(UnpackPackedTime(PackPackedTime(1979, 5, 6, 7, 8, 9)).year, 2043);
}

}  // namespace
}  // namespace ambrel

namespace ambrel {
namespace {

TEST(NodeTable, DuplicateIsDeep) {
  FoundFileTable t;
  ASSERT_TRUE(InitTable(t));
  test::AddFolder(t, 10, kRootId, "dir");
  FoundFileNode f = test::MakeNode(11, 10, kDeletedFile, 9);
  f.firstCluster = 4;
  f.extra = std::malloc(4);
  std::memcpy(f.extra, "\x11\x22\x33\x44", 4);
  AddNodeNamed(t, f, "runs.bin", true);
  t.listingScope = 2;
  FoundFileTable copy;
  ASSERT_TRUE(DuplicateTable(t, copy));
  EXPECT_EQ(+copy.count, t.count);
  EXPECT_EQ(+copy.fileCount, 1u);
  EXPECT_EQ(+copy.listingScope, 2u);
  ASSERT_TRUE(IsLive(copy, 11));
  EXPECT_NE(+NodeAt(copy, 11)->name, +NodeAt(t, 11)->name);
  EXPECT_STREQ(NodeAt(copy, 11)->name, "runs.bin");
  EXPECT_NE(+NodeAt(copy, 11)->extra, +NodeAt(t, 11)->extra);
  EXPECT_EQ(std::memcmp(NodeAt(copy, 11)->extra, "\x11\x22\x33\x44", 4), 0);
  EXPECT_EQ(ChildIdsOf(copy, 10), (std::vector<std::uint32_t>{11}));
  FreeTable(t);
  EXPECT_STREQ(NodeAt(copy, 10)->name, "dir");
  EXPECT_EQ(ChildIdsOf(copy, kRootId), (std::vector<std::uint32_t>{10}));
}

// A fragment list counts 16-byte entries, not bytes: the whole list is
// copied (a byte-count copy reads past the copy's end under ASan).
TEST(NodeTable, DuplicateCopiesWholeFragmentLists) {
  FoundFileTable t;
  ASSERT_TRUE(InitTable(t));
  FoundFileNode f = test::MakeNode(12, kRootId, kPresentFile, 3 * 4096);
  f.flags |= kFlagVideoRebuilt;
  f.firstCluster = 3;
  std::uint64_t list[6] = {100, 8, 300, 8, 900, 8};
  f.extra = std::malloc(sizeof list);
  std::memcpy(f.extra, list, sizeof list);
  AddNodeNamed(t, f, "clip.mov", true);
  FoundFileTable copy;
  ASSERT_TRUE(DuplicateTable(t, copy));
  ASSERT_TRUE(IsLive(copy, 12));
  EXPECT_EQ(ExtraBytes(*NodeAt(copy, 12)), sizeof list);
  EXPECT_EQ(std::memcmp(NodeAt(copy, 12)->extra, list, sizeof list), 0);
  FreeTable(t);
  FreeTable(copy);
}

}  // namespace
}  // namespace ambrel
