#include <gtest/gtest.h>

#include <tuple>

#include "app/progress.h"
#include "catalog/catalog_labels.h"
#include "catalog/found_file_catalog.h"
#include "catalog_test_util.h"

namespace ambrel {
namespace {

using test::AddFile;
using test::AddFolder;
using test::MakeNode;

struct Recorder : NoticeListener {
  std::vector<std::tuple<std::uint32_t, std::uint64_t, std::uint64_t>> seen;
  void OnNotice(std::uint32_t m, std::uint64_t w, std::uint64_t l) override { seen.emplace_back(m, w, l); }
  std::size_t Count(std::uint32_t m) const {
    return std::count_if(seen.begin(), seen.end(), [m](const auto& t) { return std::get<0>(t) == m; });
  }
};

// An NTFS-like partition: docs/{a.docx, b.txt}, pics/{c.jpg}, d.jpg at the
// root, and an orphan.
std::unique_ptr<PartitionInfo> SamplePartition() {
  auto part = std::make_unique<PartitionInfo>();
  part->fsKind = kFsNtfs;
  part->volumeLabel = "DATA";
  FoundFileTable& t = part->table;
  InitTable(t);
  AddFolder(t, 10, kRootId, "docs", false);
  FoundFileNode a = MakeNode(11, 10, kPresentFile, 2048);
  a.created = PackPackedTime(1980, 1, 1, 0, 0, 0);
  a.modified = PackPackedTime(2021, 6, 15, 12, 0, 0);
  AddNodeNamed(t, a, "a.docx", false);
  FoundFileNode b = MakeNode(12, 10, kDeletedFile, 10);
  b.modified = PackPackedTime(2021, 6, 15, 8, 0, 0);
  AddNodeNamed(t, b, "b.txt", false);
  AddFolder(t, 13, kRootId, "pics", false);
  FoundFileNode c = MakeNode(14, 13, kPresentFile, 5000);
  c.created = PackPackedTime(2040, 1, 1, 0, 0, 0);  // beyond the trees' years
  c.modified = PackPackedTime(2039, 12, 31, 0, 0, 0);
  AddNodeNamed(t, c, "c.jpg", false);
  AddFile(t, 15, kRootId, "d.jpg", false, 7);
  AddFile(t, 16, 999, "orphan.bin", false, 1);
  LinkAll(t);
  return part;
}

class CatalogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::SetTestSetting("ShowAllFile", "1");
    test::SetTestSetting("Key", "");
    test::SetTestSetting("MovFragRecovery", "0");
    catalog.RegisterListener(&views);
    catalog.SetMainWindow(&mainWindow);
    catalog.Reset(nullptr, true);
  }
  std::uint32_t AddSample() { return catalog.AddPartition(SamplePartition(), nullptr, true); }
  std::string Text(std::uint32_t row, std::uint32_t col) { return catalog.GetItemText(row, col); }
  std::uint32_t ChildNamed(std::uint32_t row, std::uint32_t col, const std::string& prefix) {
    for (std::uint32_t c : catalog.GetChildren(row, col, false))
      if (Text(row, c).rfind(prefix, 0) == 0) return c;
    return 0;
  }

  FoundFileCatalog catalog;
  Recorder views, mainWindow;
};

TEST_F(CatalogTest, ResetBuildsReservedSlotsAndTrees) {
  ASSERT_EQ(catalog.partitionCount(), 4u);
  EXPECT_EQ(catalog.viewMode(), ViewMode::kDirectory);
  EXPECT_EQ(views.Count(kNoticeSlotAdded), 1u);
  EXPECT_EQ(std::get<1>(views.seen.back()), 3u);
  const FoundFileTable& types = catalog.Partition(0)->table;
  EXPECT_STREQ(NodeAt(types, 6)->name, "文档");
  EXPECT_STREQ(NodeAt(types, 37)->name, "docx");
  EXPECT_EQ(+NodeAt(types, 37)->parentId, 6u);
  EXPECT_EQ(+NodeAt(types, 79)->parentId, 12u);
  EXPECT_FALSE(IsLive(types, 115));
  for (std::uint32_t slot : {1u, 2u}) {
    const FoundFileTable& dates = catalog.Partition(slot)->table;
    EXPECT_STREQ(NodeAt(dates, 1980)->name, "1980年");
    EXPECT_STREQ(NodeAt(dates, 2040)->name, "01月");
    EXPECT_EQ(+NodeAt(dates, 2040)->parentId, 1980u);
    EXPECT_STREQ(NodeAt(dates, 2760)->name, "01日");
    EXPECT_EQ(+NodeAt(dates, 2760)->parentId, 2040u);
    EXPECT_STREQ(NodeAt(dates, 2759)->name, "12月");
    EXPECT_EQ(+NodeAt(dates, 2759)->parentId, 2039u);
    EXPECT_STREQ(NodeAt(dates, 25079)->name, "31日");
    EXPECT_EQ(KindOf(*NodeAt(dates, 25079)), kPresentFolder);
  }
  EXPECT_EQ(catalog.ClassTree(0).count, 237u);
  EXPECT_EQ(catalog.ClassTree(1).count, 25080u);
  EXPECT_EQ(catalog.ClassTree(2).capacity, 25080u);
  const PartitionInfo* found = catalog.Partition(3);
  EXPECT_EQ(found->fsKind, kFsSignature);
  EXPECT_EQ(found->table.count, 237u);
  EXPECT_EQ(catalog.GetLabel(3), "00 找到的文件  (0个文件)");
  EXPECT_EQ(catalog.GetLabel(kClassRow), "00  按文件类型分类     (0个文件)");
  EXPECT_EQ(catalog.GetLabel(kClassRow + 2), "02  按文件修改时间分类     (0个文件)");
}

TEST_F(CatalogTest, DayIdsAreArithmetic) {
  EXPECT_EQ(DayIdOf(PackPackedTime(1980, 1, 1, 0, 0, 0)), 2760u);
  EXPECT_EQ(DayIdOf(PackPackedTime(1980, 2, 1, 0, 0, 0)), 2791u);
  EXPECT_EQ(DayIdOf(PackPackedTime(2039, 12, 31, 23, 59, 59)), 25079u);
  EXPECT_EQ(DayIdOf(PackPackedTime(2040, 1, 1, 0, 0, 0)), 0u) << "no folder after 2039";
  EXPECT_EQ(DayIdOf(0), 0u);
  EXPECT_EQ(MonthIdOf(PackPackedTime(1981, 3, 9, 0, 0, 0)), 2040u + 12 + 2);
}

TEST_F(CatalogTest, AddPartitionLabelsAndClassifies) {
  const std::uint32_t slot = AddSample();
  ASSERT_EQ(slot, 4u);
  EXPECT_EQ(catalog.GetLabel(4), "01 DATA NTFS  (5个文件)");
  EXPECT_EQ(Text(4, kRootId), catalog.GetLabel(4));
  EXPECT_STREQ(NodeAt(catalog.Partition(4)->table, kRootId)->name, "01 DATA NTFS  (5个文件)");
  const std::uint32_t docs = ChildNamed(4, kRootId, "docs");
  ASSERT_NE(docs, 0u);
  EXPECT_EQ(Text(4, docs), "docs     (2个文件)");
  EXPECT_EQ(Text(4, ChildNamed(4, docs, "a.")), "a.docx");
  EXPECT_NE(ChildNamed(4, kRootId, "丢失的文件     (1个文件)"), 0u);
  // Notices: slot added, and the first result to the main window.
  EXPECT_EQ(std::get<1>(views.seen.back()), 4u);
  EXPECT_EQ(mainWindow.Count(kNoticeFirstResult), 1u);

  // By type: 文档/docx/a.docx, 照片/jpg/{c.jpg, d.jpg}; b.txt under 文档/txt.
  const std::uint32_t typeRow = kClassRow;
  EXPECT_EQ(catalog.GetLabel(typeRow), "00  按文件类型分类     (4个文件)");
  EXPECT_EQ(Text(typeRow, 6), "文档     (2个文件)");
  EXPECT_EQ(Text(typeRow, 7), "照片     (2个文件)");
  EXPECT_EQ(Text(typeRow, 46), "jpg     (2个文件)");
  const auto jpgs = catalog.GetChildren(typeRow, 46, false);
  ASSERT_EQ(jpgs.size(), 2u);
  EXPECT_GE(jpgs[0], 237u);
  EXPECT_EQ(Text(typeRow, jpgs[0]), "c.jpg");
  EXPECT_EQ(catalog.GetPath(typeRow, jpgs[0]), (std::vector<std::uint32_t>{jpgs[0], 46, 7, 5}));
  std::uint32_t s = 0, id = 0;
  ASSERT_TRUE(catalog.Resolve(typeRow, jpgs[0], s, id));
  EXPECT_EQ(s, 4u);
  EXPECT_EQ(id, 14u);
  EXPECT_EQ(+catalog.GetNode(typeRow, jpgs[0])->size, 5000u);
  EXPECT_EQ(catalog.GetChildren(typeRow, kRootId, true), (std::vector<std::uint32_t>{6, 7}));

  // By creation date: only a.docx (1 January 1980, day 2760); c.jpg is
  // dated 2040 and b.txt has no creation time.
  const std::uint32_t createdRow = kClassRow + 1;
  EXPECT_EQ(catalog.GetLabel(createdRow), "01  按文件创建时间分类     (1个文件)");
  EXPECT_EQ(catalog.GetChildren(createdRow, kRootId, false), (std::vector<std::uint32_t>{1980}));
  EXPECT_EQ(Text(createdRow, 1980), "1980年     (1个文件)");
  EXPECT_EQ(Text(createdRow, 2760), "01日     (1个文件)");
  const auto day = catalog.GetChildren(createdRow, 2760, false);
  ASSERT_EQ(day.size(), 1u);
  EXPECT_GE(day[0], 25080u);
  EXPECT_EQ(Text(createdRow, day[0]), "a.docx");
  // By modification date: three files in 2021 and 2039.
  EXPECT_EQ(catalog.GetLabel(kClassRow + 2), "02  按文件修改时间分类     (3个文件)");
  EXPECT_EQ(Text(kClassRow + 2, 2021), "2021年     (2个文件)");
  EXPECT_EQ(Text(kClassRow + 2, DayIdOf(PackPackedTime(2039, 12, 31, 0, 0, 0))), "31日     (1个文件)");

  // A second partition adds to the same trees.
  ASSERT_EQ(AddSample(), 5u);
  EXPECT_EQ(catalog.GetLabel(typeRow), "00  按文件类型分类     (8个文件)");
  EXPECT_EQ(catalog.GetLabel(5), "02 DATA NTFS  (5个文件)");
  EXPECT_EQ(mainWindow.Count(kNoticeFirstResult), 1u) << "only for slot 4";
}

TEST_F(CatalogTest, PartitionLabelParts) {
  auto part = std::make_unique<PartitionInfo>();
  part->fsKind = kFsFat32;
  part->volumeLabel = "USB";
  part->table.listingScope = 2;
  part->table.hasDriveLetter = 1;
  InitTable(part->table);
  AddFile(part->table, 0, kRootId, "x.jpg");
  catalog.driveLetterOf = [](const PartitionInfo&) { return std::string("E"); };
  ASSERT_EQ(catalog.AddPartition(std::move(part), nullptr, false), 4u);
  EXPECT_EQ(catalog.GetLabel(4), "01 E盘 USB 删除文件 FAT32  (1个文件)");
  // A FAT12 volume (FAT16's kind code) is named as what it is.
  PartitionInfo fat12;
  fat12.fsKind = kFsFat16;
  fat12.fsName = "FAT12";
  fat12.volumeLabel = "FLOPPY";
  EXPECT_EQ(PartitionLabel(5, fat12, ""), "02 FLOPPY FAT12  (0个文件)");
  auto dir = std::make_unique<PartitionInfo>();
  dir->fsKind = kFsExfatDirScan;
  dir->table.listingScope = 1;
  InitTable(dir->table);
  ASSERT_EQ(catalog.AddPartition(std::move(dir), nullptr, false), 5u);
  EXPECT_EQ(catalog.GetLabel(5), "02  正常文件 ExfatDir  (0个文件)");
}

TEST_F(CatalogTest, SignatureFilesGoToTypeFolders) {
  FoundFileNode n = MakeNode(0, 46, kDeletedFile, 1234);
  n.typeCode = 46;
  const std::uint32_t first = catalog.AddFoundFile(n, "00000001.jpg");
  EXPECT_GE(first, 237u);
  EXPECT_EQ(views.Count(kNoticeFoundFileAdded), 1u);
  EXPECT_EQ(mainWindow.Count(kNoticeFirstResult), 1u);
  n.parentId = 72;
  n.typeCode = 72;
  catalog.AddFoundFile(n, "00000002.mp4");
  n.parentId = 46;
  catalog.AddFoundFile(n, "00000003.jpg");
  EXPECT_EQ(mainWindow.Count(kNoticeFirstResult), 1u);
  EXPECT_EQ(catalog.GetChildren(3, kRootId, false), (std::vector<std::uint32_t>{7, 10}));
  EXPECT_EQ(Text(3, 7), "照片     (2个文件)");
  EXPECT_EQ(Text(3, 46), "jpg     (2个文件)");
  EXPECT_EQ(Text(3, 72), "mp4     (1个文件)");
  EXPECT_EQ(catalog.GetLabel(3), "00 找到的文件  (3个文件)");
  EXPECT_EQ(+catalog.GetNode(3, first)->typeCode, 46);
  // Slot 4 after files were found by signature: no first-result notice.
  AddSample();
  EXPECT_EQ(mainWindow.Count(kNoticeFirstResult), 1u);
}

TEST_F(CatalogTest, TriStateChecksPropagate) {
  AddSample();
  const std::uint32_t docs = ChildNamed(4, kRootId, "docs");
  const std::uint32_t a = ChildNamed(4, docs, "a.");
  const std::uint32_t b = ChildNamed(4, docs, "b.");
  ASSERT_TRUE(catalog.ToggleCheck(4, a, &views));
  EXPECT_EQ(views.Count(kNoticeCheckChanged), 0u) << "the sender is skipped";
  EXPECT_EQ(mainWindow.Count(kNoticeCheckChanged), 0u) << "not registered as a view";
  EXPECT_EQ(catalog.GetCheck(4, a), 1u);
  EXPECT_EQ(catalog.GetCheck(4, docs), 2u);
  EXPECT_EQ(catalog.GetCheck(4, kRootId), 2u);
  // Toggling a partly checked folder checks it and everything below.
  ASSERT_TRUE(catalog.ToggleCheck(4, docs));
  EXPECT_EQ(views.Count(kNoticeCheckChanged), 1u);
  EXPECT_EQ(catalog.GetCheck(4, docs), 1u);
  EXPECT_EQ(catalog.GetCheck(4, b), 1u);
  EXPECT_EQ(catalog.GetCheck(4, kRootId), 2u);
  SelectionTotal sel = catalog.SumSelected();
  EXPECT_EQ(sel.files, 2u);
  EXPECT_EQ(sel.bytes, 2058u);
  ASSERT_TRUE(catalog.ToggleCheck(4, kRootId));
  EXPECT_EQ(catalog.GetCheck(4, kRootId), 1u);
  EXPECT_EQ(catalog.SumSelected().files, 5u);
  ASSERT_TRUE(catalog.ToggleCheck(4, docs));
  EXPECT_EQ(catalog.GetCheck(4, a), 0u);
  EXPECT_EQ(catalog.GetCheck(4, kRootId), 2u);
  // Through the type tree: the jpg files are still checked from the root,
  // so the jpg folder reads checked; toggling twice unchecks, then checks.
  ASSERT_TRUE(catalog.SetViewMode(ViewMode::kByType));
  EXPECT_EQ(catalog.GetCheck(kClassRow, 46), 1u);
  EXPECT_EQ(catalog.GetCheck(kClassRow, 6), 0u);
  ASSERT_TRUE(catalog.ToggleCheck(kClassRow, 46));
  EXPECT_EQ(catalog.GetCheck(4, ChildNamed(4, kRootId, "d.jpg")), 0u);
  EXPECT_EQ(catalog.GetCheck(kClassRow, kRootId), 0u);
  ASSERT_TRUE(catalog.ToggleCheck(kClassRow, 46));
  EXPECT_EQ(catalog.GetCheck(kClassRow, 7), 1u);
  EXPECT_EQ(catalog.GetCheck(4, ChildNamed(4, kRootId, "d.jpg")), 1u);
  EXPECT_EQ(catalog.GetCheck(kClassRow, kRootId), 2u);
  EXPECT_EQ(catalog.ToggleCheck(4, 777), false);
}

TEST_F(CatalogTest, FilterViewHidesUnmarkedNodes) {
  AddSample();
  const std::uint32_t docs = ChildNamed(4, kRootId, "docs");
  const std::uint32_t a = ChildNamed(4, docs, "a.");
  const std::uint32_t b = ChildNamed(4, docs, "b.");
  const std::uint32_t pics = ChildNamed(4, kRootId, "pics");
  FoundFileTable& t = catalog.Partition(4)->table;
  for (std::uint32_t id : {std::uint32_t(kRootId), docs, a}) NodeAt(t, id)->flags |= kFlagFilterHit;
  NodeAt(t, b)->flags |= 1u << 1;  // b is checked but will be hidden
  ASSERT_TRUE(catalog.SetViewMode(ViewMode::kFilter));
  EXPECT_EQ(catalog.viewMode(), ViewMode::kFilter);
  EXPECT_EQ(views.Count(kNoticeFilterApplied), 1u);
  EXPECT_EQ(std::get<1>(views.seen.back()), 4u);
  EXPECT_FALSE(catalog.GetNode(4, b).has_value());
  EXPECT_FALSE(catalog.GetNode(4, pics).has_value());
  EXPECT_EQ(catalog.GetChildren(4, kRootId, false), (std::vector<std::uint32_t>{docs}));
  EXPECT_EQ(catalog.GetChildren(4, docs, false), (std::vector<std::uint32_t>{a}));
  EXPECT_FALSE(catalog.Navigate(4, pics));
  EXPECT_EQ(catalog.GetCheck(4, b), 0u);
  // Checking docs in the filter view leaves the hidden b as it was, and
  // docs counts only its visible child.
  ASSERT_TRUE(catalog.ToggleCheck(4, docs));
  EXPECT_EQ(catalog.GetCheck(4, a), 1u);
  EXPECT_EQ(catalog.GetCheck(4, docs), 1u);
  ASSERT_TRUE(catalog.ToggleCheck(4, docs));
  EXPECT_EQ(CheckStateOf(*NodeAt(t, b)), 1u);
  EXPECT_EQ(catalog.SumSelected().files, 1u) << "b counts though hidden";
  // No slot from 4 upward with hits: the mode stays.
  ASSERT_TRUE(catalog.SetViewMode(ViewMode::kDirectory));
  NodeAt(t, kRootId)->flags &= static_cast<std::uint16_t>(~kFlagFilterHit);
  EXPECT_FALSE(catalog.SetViewMode(ViewMode::kFilter));
  EXPECT_EQ(catalog.viewMode(), ViewMode::kDirectory);
  EXPECT_FALSE(catalog.SetViewMode(static_cast<ViewMode>(3)));
  EXPECT_FALSE(catalog.SetViewMode(static_cast<ViewMode>(-3)));
}

TEST_F(CatalogTest, RenameMarkNavigateAndPreviewChoice) {
  AddSample();
  const std::uint32_t docs = ChildNamed(4, kRootId, "docs");
  const std::uint32_t a = ChildNamed(4, docs, "a.");
  const std::uint32_t b = ChildNamed(4, docs, "b.");
  ASSERT_TRUE(catalog.Rename(4, a, "renamed.docx"));
  EXPECT_EQ(Text(4, a), "renamed.docx");
  EXPECT_EQ(views.Count(kNoticeRenamed), 1u);
  EXPECT_TRUE(catalog.SetMark(4, a, 1));
  EXPECT_EQ(views.Count(kNoticeThumbnail), 0u);
  EXPECT_TRUE(catalog.SetMark(4, a, 3));
  EXPECT_EQ(views.Count(kNoticeThumbnail), 1u);
  EXPECT_EQ(+MarkOf(*catalog.GetNode(4, a)), 3u);
  EXPECT_FALSE(catalog.Navigate(4, a));
  EXPECT_TRUE(catalog.Navigate(4, docs));
  EXPECT_EQ(views.seen.back(), std::make_tuple(std::uint32_t(kNoticeNavigate), std::uint64_t(4),
                                               std::uint64_t(docs)));
  EXPECT_EQ(catalog.FirstVisibleFile(4, {docs, a, b}), b) << "b.txt previews as text";
  EXPECT_EQ(catalog.FirstVisibleFile(4, {docs, a}), docs);
  EXPECT_EQ(catalog.FirstVisibleFile(4, {}), 0u);
  EXPECT_EQ(catalog.GetPath(4, a), (std::vector<std::uint32_t>{a, docs, kRootId}));
  EXPECT_TRUE(catalog.SetViewMode(ViewMode::kByCreated, &mainWindow));
  EXPECT_EQ(views.seen.back(), std::make_tuple(std::uint32_t(kNoticeViewMode), std::uint64_t(1),
                                               std::uint64_t(0)));
  EXPECT_EQ(catalog.GetItemText(99, 5), "");
  EXPECT_EQ(catalog.GetItemText(kClassRow + 3, 5), "");
}

TEST_F(CatalogTest, LoadResultsReplacesSignatureSlot) {
  std::vector<std::unique_ptr<PartitionInfo>> list;
  list.push_back(SamplePartition());
  auto found = std::make_unique<PartitionInfo>();
  found->fsKind = kFsSignature;
  found->volumeLabel = "找到的文件";
  InitTable(found->table);
  AddFolder(found->table, 7, kRootId, "照片");
  AddFolder(found->table, 46, 7, "jpg");
  found->table.count = 237;
  AddFile(found->table, 0, 46, "x.jpg");
  list.push_back(std::move(found));
  list.push_back(SamplePartition());
  views.seen.clear();
  catalog.LoadResults(std::move(list), nullptr);
  EXPECT_EQ(catalog.partitionCount(), 6u);
  EXPECT_EQ(views.seen.size(), 1u);
  EXPECT_EQ(views.seen.back(), std::make_tuple(std::uint32_t(kNoticeResultsLoaded), std::uint64_t(4),
                                               std::uint64_t(0)));
  EXPECT_EQ(catalog.GetLabel(3), "00 找到的文件  (1个文件)");
  EXPECT_EQ(catalog.GetLabel(kClassRow), "00  按文件类型分类     (8个文件)");
}

TEST_F(CatalogTest, LoadResultsKeepsPartitionsAddedDuringTheScan) {
  // A volume added live (slot 4) stays when the end-of-scan list arrives;
  // only slot 3 is replaced and the new partitions follow the live one.
  ASSERT_EQ(AddSample(), 4u);
  std::vector<std::unique_ptr<PartitionInfo>> list;
  auto found = std::make_unique<PartitionInfo>();
  found->fsKind = kFsSignature;
  found->volumeLabel = "找到的文件";
  InitTable(found->table);
  AddFolder(found->table, 7, kRootId, "照片");
  AddFolder(found->table, 46, 7, "jpg");
  found->table.count = 237;
  AddFile(found->table, 0, 46, "x.jpg");
  AddFile(found->table, 0, 46, "y.jpg");
  list.push_back(std::move(found));
  list.push_back(SamplePartition());
  catalog.LoadResults(std::move(list), nullptr);
  EXPECT_EQ(catalog.partitionCount(), 6u);
  EXPECT_EQ(catalog.GetLabel(3), "00 找到的文件  (2个文件)");
  EXPECT_EQ(catalog.GetLabel(4), "01 DATA NTFS  (5个文件)");
  EXPECT_EQ(catalog.GetLabel(5), "02 DATA NTFS  (5个文件)");
}

TEST_F(CatalogTest, StopRequestEndsClassification) {
  std::atomic<std::uint32_t> state{2};
  ASSERT_EQ(catalog.AddPartition(SamplePartition(), &state, false), 4u);
  EXPECT_EQ(catalog.GetLabel(kClassRow), "00  按文件类型分类     (0个文件)");
  EXPECT_EQ(catalog.GetLabel(4), "01 DATA NTFS  (5个文件)");
}

TEST_F(CatalogTest, PruningOnAddWithRestrictedProfile) {
  test::SetTestSetting("ShowAllFile", "0");
  test::SetTestSetting("Key", "105");
  AddSample();
  EXPECT_EQ(catalog.GetLabel(4), "01 DATA NTFS  (2个文件)");
  EXPECT_EQ(ChildNamed(4, kRootId, "docs"), 0u);
  EXPECT_EQ(Text(4, ChildNamed(4, kRootId, "pics")), "pics     (1个文件)");
  EXPECT_EQ(catalog.GetLabel(kClassRow), "00  按文件类型分类     (2个文件)");
  test::SetTestSetting("Key", "");
}

}  // namespace
}  // namespace ambrel


namespace ambrel {
namespace {

TEST(CatalogProgress, ClassificationPublishesStageTen) {
  test::SetTestSetting("ShowAllFile", "1");
  FoundFileCatalog catalog;
  catalog.Reset(nullptr, false);
  auto part = std::make_unique<PartitionInfo>();
  InitTable(part->table);
  for (int i = 0; i < 5000; ++i) test::AddFile(part->table, 0, kRootId, "a.jpg");
  ProgressMailbox box;
  ProgressBinding bound(&box);
  ASSERT_EQ(catalog.AddPartition(std::move(part), nullptr, false), 4u);
  ScanProgress p;
  ASSERT_TRUE(box.Take(p));
  EXPECT_EQ(p.stage, kStageClassify);
  EXPECT_EQ(p.u.counter.done, 4u) << "the first record is kept until taken";
  EXPECT_EQ(p.u.counter.total, 5006u);
}

}  // namespace
}  // namespace ambrel
