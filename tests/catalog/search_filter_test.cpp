#include <gtest/gtest.h>

#include "catalog/found_file_catalog.h"
#include "catalog/search_filter.h"
#include "catalog_test_util.h"

namespace ambrel {
namespace {

using test::AddFile;
using test::AddFolder;
using test::MakeNode;

FoundFileNode FileNamed(const char* name, std::uint64_t size, PackedTime created,
                        PackedTime modified) {
  FoundFileNode n = MakeNode(6, kRootId, kPresentFile, size);
  n.name = const_cast<char*>(name);
  n.created = created;
  n.modified = modified;
  return n;
}

SearchFilter FilterWith(const std::string& keywords) {
  FilterSettings s = DefaultFilterSettings(2030, 12, 31);
  s.keywords = keywords;
  SearchFilter f;
  f.Store(s);
  return f;
}

TEST(SearchFilter, DefaultsAndDateBounds) {
  const FilterSettings s = DefaultFilterSettings(2024, 3, 9);
  EXPECT_EQ(s.keywords, "");
  EXPECT_EQ(s.minSizeKB, 0u);
  EXPECT_EQ(s.maxSizeKB, 0x8000000u);
  EXPECT_EQ(s.createdFrom, 0x420000u);
  EXPECT_EQ(s.modifiedFrom, 0x420000u);
  EXPECT_EQ(s.accessedTo & 0x1FFFF, 0x17EFBu);
  EXPECT_EQ(s.createdTo, PackPackedTime(2024, 3, 9, 23, 59, 59));
  EXPECT_EQ(FilterFromDate(2001, 0, 0), PackPackedTime(2001, 1, 1, 0, 0, 0));
}

TEST(SearchFilter, KeywordSplitting) {
  KeywordLists l = SplitKeywords("*.jpg;*.png;photo");
  EXPECT_EQ(l.extensionPatterns, (std::vector<std::string>{".jpg", ".png"}));
  EXPECT_EQ(l.nameKeywords, (std::vector<std::string>{"photo"}));
  l = SplitKeywords(";;a;;*.;*.x;");
  EXPECT_EQ(l.nameKeywords, (std::vector<std::string>{"a", "*."}));
  EXPECT_EQ(l.extensionPatterns, (std::vector<std::string>{".x"}));
  EXPECT_TRUE(SplitKeywords("").nameKeywords.empty());
  EXPECT_EQ(SplitKeywords("报告").nameKeywords, (std::vector<std::string>{"报告"}));
}

TEST(SearchFilter, NameSizeAndTimeTests) {
  const PackedTime t2020 = PackPackedTime(2020, 5, 5, 10, 0, 0);
  SearchFilter f = FilterWith("*.jpg;*.png;photo");
  EXPECT_TRUE(f.Matches(FileNamed("IMG_1.JPG", 100, t2020, t2020)));
  EXPECT_TRUE(f.Matches(FileNamed("MyPhoto.bmp", 100, t2020, t2020)));
  EXPECT_FALSE(f.Matches(FileNamed("notes.txt", 100, t2020, t2020)));
  EXPECT_FALSE(f.Matches(FileNamed("png", 100, t2020, t2020)) ) << "shorter than .png";
  EXPECT_TRUE(f.Matches(FileNamed("00001.dat", 100, 0, 0))) << "carved files pass names and times";

  SearchFilter sized = FilterWith("");
  FilterSettings s = sized.settings();
  EXPECT_TRUE(sized.Matches(FileNamed("a", 1023, t2020, t2020))) << "1023 bytes are 0 KiB";
  s.minSizeKB = 1;
  sized.Store(s);
  EXPECT_FALSE(sized.Matches(FileNamed("a", 1023, t2020, t2020)));
  EXPECT_FALSE(sized.Matches(FileNamed("a", 1023, 0, 0))) << "size applies to carved files";
  EXPECT_TRUE(sized.Matches(FileNamed("a", 1024, t2020, t2020)));
  s.maxSizeKB = 1;
  sized.Store(s);
  EXPECT_FALSE(sized.Matches(FileNamed("a", 2048, t2020, t2020)));

  SearchFilter dated = FilterWith("");
  s = dated.settings();
  s.createdFrom = FilterFromDate(2020, 5, 5);
  s.createdTo = FilterToDate(2020, 5, 5);
  dated.Store(s);
  EXPECT_TRUE(dated.Matches(FileNamed("a", 1, t2020, t2020)));
  EXPECT_FALSE(dated.Matches(FileNamed("a", 1, PackPackedTime(2020, 5, 6, 0, 0, 0), t2020)));
  EXPECT_FALSE(dated.Matches(FileNamed("a", 1, t2020, 0))) << "no modification time";
  s.modifiedFrom = 0;
  dated.Store(s);
  EXPECT_TRUE(dated.Matches(FileNamed("a", 1, t2020, 0)));

  FoundFileNode n = FileNamed("x.txt", 1, t2020, t2020);
  n.flags = kFlagFilterHit;
  EXPECT_FALSE(f.NodeMatches(n));
  EXPECT_EQ(n.flags & kFlagFilterHit, 0);
  n.name = const_cast<char*>("photo.txt");
  EXPECT_TRUE(f.NodeMatches(n));
  EXPECT_EQ(n.flags & kFlagFilterHit, kFlagFilterHit);
}

TEST(SearchFilter, ApplyMarksFoldersAndSwitchesView) {
  test::SetTestSetting("ShowAllFile", "1");
  test::SetTestSetting("Key", "");
  FoundFileCatalog catalog;
  catalog.Reset(nullptr, false);
  SearchFilter f = FilterWith("holiday");
  EXPECT_EQ(RunFilter(catalog, f), kMsgNoMatch);

  auto part = std::make_unique<PartitionInfo>();
  InitTable(part->table);
  const PackedTime t = PackPackedTime(2020, 1, 1, 0, 0, 0);
  AddFolder(part->table, 10, kRootId, "trip");
  AddFolder(part->table, 11, 10, "day1");
  FoundFileNode hit = MakeNode(12, 11, kPresentFile, 10);
  hit.created = hit.modified = t;
  AddNodeNamed(part->table, hit, "Holiday.jpg", true);
  AddFolder(part->table, 13, kRootId, "work");
  FoundFileNode miss = MakeNode(14, 13, kPresentFile, 10);
  miss.created = miss.modified = t;
  AddNodeNamed(part->table, miss, "budget.xls", true);
  ASSERT_EQ(catalog.AddPartition(std::move(part), nullptr, false), 4u);

  // Only a carved file matches: the view stays.
  FoundFileNode carved = MakeNode(0, 46, kDeletedFile, 10);
  carved.typeCode = 46;
  catalog.AddFoundFile(carved, "00000001.jpg");
  SearchFilter none = FilterWith("nothing-like-this");
  EXPECT_EQ(RunFilter(catalog, none), kMsgOnlySignatureMatch);
  EXPECT_EQ(catalog.viewMode(), ViewMode::kDirectory);

  EXPECT_EQ(RunFilter(catalog, f), "");
  EXPECT_EQ(catalog.viewMode(), ViewMode::kFilter);
  const FoundFileTable& table = catalog.Partition(4)->table;
  auto hitBit = [&](std::uint32_t id) { return (NodeAt(table, id)->flags & kFlagFilterHit) != 0; };
  EXPECT_TRUE(hitBit(kRootId));
  EXPECT_TRUE(hitBit(10));
  EXPECT_TRUE(hitBit(11));
  EXPECT_TRUE(hitBit(12));
  EXPECT_FALSE(hitBit(13)) << "a folder without a match is unmarked";
  EXPECT_FALSE(hitBit(14));
  EXPECT_EQ(catalog.GetChildren(4, kRootId, false), (std::vector<std::uint32_t>{10}));
  // Leaving the filter view keeps the bits; a new filter replaces them.
  ASSERT_TRUE(catalog.SetViewMode(ViewMode::kDirectory));
  EXPECT_TRUE(hitBit(12));
  ApplyFilter(catalog, FilterWith("budget"));
  EXPECT_FALSE(hitBit(10));
  EXPECT_TRUE(hitBit(13));
}

TEST(FilterDialog, SizeTextAndReadableSize) {
  EXPECT_TRUE(SizeTextAccepted("0"));
  EXPECT_TRUE(SizeTextAccepted("99999999"));
  EXPECT_TRUE(SizeTextAccepted("139999999"));
  EXPECT_TRUE(SizeTextAccepted("100000000"));
  EXPECT_FALSE(SizeTextAccepted("140000000"));
  EXPECT_FALSE(SizeTextAccepted("200000000"));
  EXPECT_FALSE(SizeTextAccepted("1000000000"));
  EXPECT_FALSE(SizeTextAccepted("12a"));
  EXPECT_FALSE(SizeTextAccepted("-1"));
  EXPECT_EQ(ReadableSizeText(0), "0(KB)");
  EXPECT_EQ(ReadableSizeText(1024), "1024(KB)");
  EXPECT_EQ(ReadableSizeText(1536), "1.50(MB)");
  EXPECT_EQ(ReadableSizeText(0x100000), "1024.00(MB)");
  EXPECT_EQ(ReadableSizeText(0x100001), "1.00(GB)");
  EXPECT_EQ(ReadableSizeText(0x8000000), "128.00(GB)");
}

TEST(FilterDialog, ChecksInOrder) {
  FilterDialogInput in;
  in.createdTo = in.modifiedTo = in.accessedTo = {2024, 1, 1};
  EXPECT_EQ(ValidateFilterDialog(in), "");
  in.keywords = "*.jpg;*.png;photo";
  EXPECT_EQ(ValidateFilterDialog(in), "");
  in.keywords = "report.doc";
  EXPECT_EQ(ValidateFilterDialog(in), kMsgWildcardOnly);
  in.keywords = "a*b";
  EXPECT_EQ(ValidateFilterDialog(in), kMsgWildcardOnly);
  in.keywords = "abc*";
  EXPECT_EQ(ValidateFilterDialog(in), kMsgWildcardOnly);
  in.keywords = "a|b.c";
  EXPECT_EQ(ValidateFilterDialog(in), kMsgKeywordSeparator) << "the separator check comes first";
  in.keywords = "";
  in.minSizeKB = 10;
  in.maxSizeKB = 9;
  in.createdFrom = {2025, 1, 1};
  EXPECT_EQ(ValidateFilterDialog(in), kMsgSizeRange);
  in.maxSizeKB = 10;
  EXPECT_EQ(ValidateFilterDialog(in), kMsgCreatedRange);
  in.createdFrom = {2024, 1, 1};
  EXPECT_EQ(ValidateFilterDialog(in), "") << "one day is a valid range";
  in.modifiedFrom = {2024, 1, 2};
  EXPECT_EQ(ValidateFilterDialog(in), kMsgModifiedRange);
  in.modifiedFrom = {2023, 1, 2};
  in.accessedFrom = {2024, 2, 1};
  EXPECT_EQ(ValidateFilterDialog(in), kMsgAccessedRange);
  in.accessedFrom = {2020, 0, 0};
  const FilterSettings s = SettingsFromDialog(in);
  EXPECT_EQ(s.accessedFrom, PackPackedTime(2020, 1, 1, 0, 0, 0));
  EXPECT_EQ(s.createdTo, PackPackedTime(2024, 1, 1, 23, 59, 59));
  EXPECT_EQ(s.minSizeKB, 10u);
}

}  // namespace
}  // namespace ambrel
