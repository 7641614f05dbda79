// What the desktop is told about a FAT volume after listing it: copies of
// the FAT that disagree and boot fields a checker rejects come back with the
// listing, in words of the program's language.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "app/settings.h"
#include "catalog/found_file_catalog.h"
#include "session/source_session.h"
#include "session/texts.h"
#include "support/test_paths.h"

namespace ambrel {
namespace {

std::uint16_t Get16(const std::vector<char>& b, std::size_t at) {
  return static_cast<std::uint16_t>(static_cast<std::uint8_t>(b[at]) | static_cast<std::uint8_t>(b[at + 1]) << 8);
}

TEST(VolumeWarnings, ListingIntoTheCatalogueReportsDisagreeingFatCopies) {
  const std::string image = test::TempDir("volume-warnings") + "/fat16.img";
  ASSERT_TRUE(test::CopyImage(test::FixtureImage("fat16-basic"), image));
  {
    std::fstream f(image, std::ios::in | std::ios::out | std::ios::binary);
    std::vector<char> boot(512);
    f.read(boot.data(), 512);
    const std::size_t fat1 = std::size_t{Get16(boot, 14)} * 512;
    const std::size_t fatBytes = std::size_t{Get16(boot, 22)} * 512;
    // A free cluster that only the first copy marks bad.
    const std::size_t at = fat1 + 4000 * 2;
    ASSERT_LT(4000u * 2, fatBytes);
    char both[2][2];
    f.seekg(static_cast<std::streamoff>(at));
    f.read(both[0], 2);
    f.seekg(static_cast<std::streamoff>(at + fatBytes));
    f.read(both[1], 2);
    ASSERT_TRUE(both[0][0] == 0 && both[0][1] == 0 && both[1][0] == 0 && both[1][1] == 0);
    f.seekp(static_cast<std::streamoff>(at));
    f.write("\xF7\xFF", 2);
  }
  SetSettingsLoaded(true);
  OverrideSetting("ParseFileSys", "1");
  std::unique_ptr<SourceSession> source = SourceSession::Open(image);
  ASSERT_TRUE(source);
  FoundFileCatalog catalog;
  catalog.Reset(nullptr, false);
  const auto problems = source->ListInto(catalog, 0, ListScope::kAll);
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems[0].second.problem, ListProblem::kNone);
  EXPECT_EQ(problems[0].second.fatCopies.entries, 1u);
  EXPECT_EQ(FatCopiesWarningText(problems[0].second.fatCopies), "两份FAT表有1处不一致，所有文件按第一份读取");
  EXPECT_GT(catalog.partitionCount(), 3u);  // the volume is listed all the same
}

TEST(VolumeWarnings, WordsOfEachFatProblem) {
  FatCopyDisagreement copies;
  EXPECT_EQ(FatCopiesWarningText(copies), "");
  copies.entries = 12;
  copies.chainsFromSecond = 3;
  copies.chainsUnresolved = 1;
  EXPECT_EQ(FatCopiesWarningText(copies), "两份FAT表有12处不一致，3个文件按第二份读取，1个文件两份都不符");
  FatBootCheck boot;
  boot.rootEntriesRecorded = boot.rootEntriesUsed = 512;
  EXPECT_EQ(FatBootWarningText(boot), "");
  boot.problems = {FatBootProblem::kRootEntriesPartialSector};
  boot.rootEntriesRecorded = 65535;
  EXPECT_EQ(FatBootWarningText(boot),
            "引导扇区的字段有误：根目录不是整数个扇区；按目录实际使用的512个根目录项读取（记录为65535）");
  EXPECT_EQ(FatWarningsReportText({"1: " + FatBootWarningText(boot)}).find("以下分区的文件系统结构有误"), 0u);
}

}  // namespace
}  // namespace ambrel
