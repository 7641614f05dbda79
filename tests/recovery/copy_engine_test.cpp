// The copy engine over hand-built partitions: read-error policies, extents,
// names, overwrite policies, statistics and the summary line.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>

#include "session/texts.h"
#include "app/settings.h"
#include "catalog/node_table.h"
#include "diag/log.h"
#include "recovery/recovery_test_support.h"
#include "recovery/safe_name.h"
#include "support/test_paths.h"

namespace ambrel {
namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t kMiB = 1 << 20;

// Runs a quick save of (row 0, id) into `folder` (no SaveDir subfolder).
SaveJob& RunQuickSave(test::MemorySource& src, SaveJob& job, const std::string& folder, std::uint32_t id,
                      UserPrompt* prompt = nullptr) {
  src.Prepare(job, folder, prompt);
  job.nodeId = id;
  EXPECT_TRUE(StartSaveJob(job, &SaveCurrFileThread, nullptr));
  return job;
}

class CopyEngine : public ::testing::Test {
 protected:
  void SetUp() override {
    SetSettingsLoaded(true);
    OverrideSetting("SaveDir", "");
    folder_ = test::TempDir("copy-engine");
  }
  std::string folder_;
};

// A 10 MiB file read in 4 MiB chunks with a bad sector in the second chunk.
class ReadErrorPolicy : public CopyEngine, public ::testing::WithParamInterface<std::uint32_t> {};

TEST_P(ReadErrorPolicy, BadSectorInTheSecondChunk) {
  test::MemorySource src(24000);
  const std::uint64_t size = 10 * kMiB;
  const std::uint32_t id = src.AddFile(kRootId, "big.bin", 100, size);
  // Two bad sectors in the second 4 MiB chunk, 37 and 1000 sectors into it.
  src.faulty->FailSectors(100 + 8192 + 37, 1);
  src.faulty->FailSectors(100 + 8192 + 1000, 1);
  SaveJob job;
  job.Ledger().ResetReads();
  job.readErrors = GetParam();
  RunQuickSave(src, job, folder_, id);
  const std::string out = test::FileText(folder_ + "/big.bin");
  const std::string expected = src.Expected(100, size);
  const std::uint64_t firstBad = (8192 + 37) * 512ull, secondBad = (8192 + 1000) * 512ull;
  EXPECT_GE(job.Ledger().Reads().failed.load(), 1u);
  switch (GetParam()) {
    case kReadErrorsEmptyFile:
      EXPECT_EQ(out.size(), 0u);
      break;
    case kReadErrorsKeepWritten:
      // Everything readable before the first bad sector is kept.
      ASSERT_EQ(out.size(), firstBad);
      EXPECT_EQ(out, expected.substr(0, firstBad));
      break;
    default: {
      // Only the two failing sectors are zeros.
      ASSERT_EQ(out.size(), size);
      std::string want = expected;
      want.replace(firstBad, 512, std::string(512, '\0'));
      want.replace(secondBad, 512, std::string(512, '\0'));
      EXPECT_TRUE(out == want);
      break;
    }
  }
  // Under every policy the file is reported with its bad sectors and never
  // counted as whole.
  EXPECT_EQ(job.filesWritten, 0u);
  ASSERT_EQ(job.damagedFiles.size(), 1u);
  EXPECT_EQ(job.damagedFiles[0].report.path, folder_ + "/big.bin");
  EXPECT_EQ(job.damagedFiles[0].report.badSectors, 2u);
  EXPECT_NE(DamagedFileText(job.damagedFiles[0].report).find("2 unreadable sector(s)"), std::string::npos);
  EXPECT_TRUE(job.failedFiles.empty());
}

INSTANTIATE_TEST_SUITE_P(Policies, ReadErrorPolicy,
                         ::testing::Values(kReadErrorsEmptyFile, kReadErrorsKeepWritten, kReadErrorsWriteAll));

TEST_F(CopyEngine, ExtentEdgeCases) {
  test::MemorySource src(64);
  // One byte in a 4-sector extent: one sector read, one byte written.
  PartitionInfo& p = src.partition;
  FoundFileNode one{};
  one.dataSector = 3;
  one.size = 1;
  ExtentList extents;
  ASSERT_TRUE(BuildExtents(one, p, extents));
  ASSERT_EQ(extents.size(), 1u);
  EXPECT_EQ(extents[0].sectorCount, 1u);
  const std::uint32_t a = src.AddFile(kRootId, "one.bin", 3, 1);
  SaveJob job;
  RunQuickSave(src, job, folder_, a);
  EXPECT_EQ(test::FileText(folder_ + "/one.bin"), src.Expected(3, 1));
  EXPECT_EQ(src.faulty->ReadCount(), 1u);

  // Unknown kinds and empty fragment lists give no extents.
  PartitionInfo unknown;
  EXPECT_FALSE(BuildExtents(one, unknown, extents));
  FoundFileNode frag{};
  frag.flags = kFlagVideoRebuilt;
  EXPECT_FALSE(BuildExtents(frag, p, extents));
}

// A sparse run (an NTFS run without an offset) has no sectors: zeros.
TEST_F(CopyEngine, SparseExtentsAreWrittenAsZeros) {
  test::MemorySource src(64);
  ExtentList extents{DataExtent{0, 0, 10, 2, false}, DataExtent{0, 0, 0, 2, true}, DataExtent{0, 0, 20, 4, false}};
  SaveJob job;
  src.Prepare(job, folder_, nullptr);
  ScanProgress progress;
  OutputFile file;
  ASSERT_TRUE(file.Create(folder_ + "/sparse.bin"));
  EXPECT_EQ(WriteFromExtents(extents, progress, job, src.partition, file, 2560, kReadErrorsKeepWritten),
            WriteOutcome::kDone);
  file.Close();
  EXPECT_EQ(test::FileText(folder_ + "/sparse.bin"),
            src.Expected(10, 1024) + std::string(1024, '\0') + src.Expected(20, 512));
  EXPECT_EQ(progress.u.copy.bytesCopied, 2560u);
  EXPECT_EQ(src.faulty->ReadCount(), 2u);
}

TEST_F(CopyEngine, FragmentListWithMtsStartOffset) {
  test::MemorySource src(64);
  // Two fragments: sectors 10-11 then 40-41; the recording starts 64 bytes
  // into its first sector.
  std::uint64_t* list = static_cast<std::uint64_t*>(std::malloc(32));
  list[0] = 10, list[1] = 2, list[2] = 40, list[3] = 2;
  FoundFileNode n{};
  n.parentId = kRootId;
  n.typeCode = 88;
  n.flags = kFlagVideoRebuilt;
  SetKind(n, kPresentFile);
  n.extra = list;
  n.firstCluster = 2;
  n.fileCount = 64;
  n.size = 2048 - 64;
  const std::uint32_t id = AddNodeNamed(src.partition.table, n, "0x10.mts", true);
  SaveJob job;
  RunQuickSave(src, job, folder_, id);
  const std::string expected = src.Expected(10, 1024).substr(64) + src.Expected(40, 1024);
  EXPECT_EQ(test::FileText(folder_ + "/0x10.mts"), expected.substr(0, n.size));
}

TEST_F(CopyEngine, ShortExtentsAreWrittenShortAndReportedDamaged) {
  test::MemorySource src(64);
  std::uint64_t* list = static_cast<std::uint64_t*>(std::malloc(16));
  list[0] = 5, list[1] = 2;
  FoundFileNode n{};
  n.parentId = kRootId;
  n.flags = kFlagVideoRebuilt;
  SetKind(n, kPresentFile);
  n.extra = list;
  n.firstCluster = 1;
  n.size = 5000;
  const std::uint32_t id = AddNodeNamed(src.partition.table, n, "short.bin", true);
  SaveJob job;
  RunQuickSave(src, job, folder_, id);
  EXPECT_EQ(test::FileText(folder_ + "/short.bin"), src.Expected(5, 1024));
  EXPECT_TRUE(job.failedFiles.empty());
  EXPECT_EQ(job.filesWritten, 0u);
  ASSERT_EQ(job.damagedFiles.size(), 1u);
  EXPECT_NE(DamagedFileText(job.damagedFiles[0].report).find("1024 of 5000 bytes"), std::string::npos);
}

TEST_F(CopyEngine, HostileNamesStayInsideTheTargetAndDoNotOverwriteEachOther) {
  test::MemorySource src(64);
  const std::uint32_t dotdot = src.AddFolder(kRootId, "..");
  src.AddFile(dotdot, "escape.txt", 1, 100);
  src.AddFile(kRootId, "a/b", 2, 100);
  src.AddFile(kRootId, "a_b", 3, 100);
  src.AddFile(kRootId, ".", 4, 100);
  src.AddFile(kRootId, "a:b?.txt", 5, 100);
  src.AddFile(kRootId, "总结报告.txt", 6, 100);
  src.AddFile(kRootId, std::string("nul\0x", 5), 7, 100);
  src.AddFile(kRootId, "same.txt", 8, 100, true);
  src.AddFile(kRootId, "same.txt", 9, 100);
  src.CheckAll();
  SaveJob job;
  src.Prepare(job, folder_, nullptr);
  ASSERT_TRUE(StartSaveJob(job, &SaveAllToDirThread, nullptr));
  const std::string row = folder_ + "/00 test";
  EXPECT_EQ(test::FileText(row + "/_/escape.txt"), src.Expected(1, 100));
  EXPECT_FALSE(fs::exists(folder_ + "/escape.txt"));
  EXPECT_FALSE(fs::exists(row + "/a"));
  // "a/b" and "a_b" both arrive, whichever comes first.
  const std::string ab = test::FileText(row + "/a_b"), ab2 = test::FileText(row + "/a_b (2)");
  EXPECT_EQ(ab + ab2, src.Expected(2, 100) + src.Expected(3, 100));
  EXPECT_EQ(test::FileText(row + "/_ (2)"), src.Expected(4, 100));  // "_" holds the ".." folder
  // Linux takes ':' and '?', so the first create succeeds unchanged.
  EXPECT_EQ(test::FileText(row + "/a:b?.txt"), src.Expected(5, 100));
  EXPECT_EQ(test::FileText(row + "/总结报告.txt"), src.Expected(6, 100));
  EXPECT_EQ(test::FileText(row + "/nul"), src.Expected(7, 100));
  EXPECT_EQ(test::FileText(row + "/same.txt") + test::FileText(row + "/same (2).txt"),
            src.Expected(8, 100) + src.Expected(9, 100));
  EXPECT_EQ(job.filesWritten, 9u);
  EXPECT_TRUE(job.failedFiles.empty());
}

TEST_F(CopyEngine, NamesLongerThanAFileSystemTakesAreShortenedAndReported) {
  test::MemorySource src(64);
  // 100 CJK characters: 300 bytes, more than the 255 a Linux name takes.
  std::string longName;
  for (int i = 0; i < 100; ++i) longName += "長";
  const std::uint32_t dir = src.AddFolder(kRootId, longName);
  src.AddFile(dir, longName + "一.txt", 1, 10);
  src.AddFile(dir, longName + "二.txt", 2, 10);  // equal once cut: the suffix tells them apart
  src.AddFile(dir, longName + "二.txt", 3, 10);  // the same long name twice
  SaveJob job;
  RunQuickSave(src, job, folder_, dir);
  std::vector<std::string> folders;
  for (const auto& e : fs::directory_iterator(folder_)) folders.push_back(e.path().string());
  ASSERT_EQ(folders.size(), 1u);
  EXPECT_LE(fs::path(folders[0]).filename().string().size(), 255u);
  std::set<std::string> contents;
  for (const auto& e : fs::directory_iterator(folders[0])) {
    const std::string name = e.path().filename().string();
    EXPECT_LE(name.size(), 255u) << name;
    EXPECT_EQ(name.substr(name.size() - 4), ".txt") << name;
    EXPECT_EQ(name.substr(0, 30), longName.substr(0, 30));
    contents.insert(test::FileText(e.path().string()));
  }
  EXPECT_EQ(contents, (std::set<std::string>{src.Expected(1, 10), src.Expected(2, 10), src.Expected(3, 10)}));
  EXPECT_EQ(job.filesWritten, 3u);
  EXPECT_EQ(job.shortenedNames.size(), 4u);  // the folder and its three files
  EXPECT_EQ(job.shortenedNames[0].first, longName);
  EXPECT_EQ(FitNameLength(longName + "一.txt"), FitNameLength(longName + "一.txt"));
  EXPECT_NE(FitNameLength(longName + "一.txt"), FitNameLength(longName + "二.txt"));
}

TEST_F(CopyEngine, TheReportListsShortenedNames) {
  std::vector<std::string> names{"a -> b"};
  EXPECT_EQ(ShortenedNamesReportText(names), "有1个名称过长，已缩短：\na -> b");
  EXPECT_EQ(DamagedFilesReportText({"x: y"}), "有1个文件已损坏，未能完整恢复：\nx: y");
}

TEST_F(CopyEngine, ASymlinkInTheTargetIsNotFollowed) {
  test::MemorySource src(64);
  const std::string outside = test::TempDir("copy-engine-outside");
  fs::create_directory_symlink(outside, folder_ + "/docs");
  fs::create_symlink(outside + "/victim.txt", folder_ + "/victim.txt");
  const std::uint32_t docs = src.AddFolder(kRootId, "docs");
  src.AddFile(docs, "in.txt", 1, 10);
  const std::uint32_t victim = src.AddFile(kRootId, "victim.txt", 2, 10);
  SaveJob a;
  RunQuickSave(src, a, folder_, docs);
  SaveJob b;
  RunQuickSave(src, b, folder_, victim);
  EXPECT_TRUE(fs::is_empty(outside));
  EXPECT_TRUE(fs::is_symlink(folder_ + "/victim.txt"));
  EXPECT_EQ(test::FileText(folder_ + "/victim (2).txt"), src.Expected(2, 10));
  EXPECT_EQ(test::FileText(folder_ + "/docs (2)/in.txt"), src.Expected(1, 10));
}

TEST_F(CopyEngine, ExistingTargetFileUnderEachOverwritePolicy) {
  test::MemorySource src(64);
  const std::uint32_t id = src.AddFile(kRootId, "exists.txt", 1, 10);
  const std::string path = folder_ + "/exists.txt";
  auto run = [&](std::uint32_t policy, test::RecordingPrompt* prompt) {
    std::ofstream(path, std::ios::trunc) << "old";
    SaveJob job;
    job.overwrite = policy;
    RunQuickSave(src, job, folder_, id, prompt);
    return test::FileText(path);
  };
  EXPECT_EQ(run(kOverwriteYes, nullptr), src.Expected(1, 10));
  EXPECT_EQ(run(kOverwriteSkip, nullptr), "old");
  test::RecordingPrompt no;
  no.answers = {false};
  EXPECT_EQ(run(kOverwriteAsk, &no), "old");
  ASSERT_EQ(no.questions.size(), 1u);
  EXPECT_EQ(no.questions[0], path + "，已经存在，是否覆盖？");
  test::RecordingPrompt yes;
  yes.answers = {true};
  EXPECT_EQ(run(kOverwriteAsk, &yes), src.Expected(1, 10));
}

TEST_F(CopyEngine, RowFolderSummaryLineAndStatistics) {
  test::MemorySource src(8192);
  const std::uint32_t docs = src.AddFolder(kRootId, "docs");
  src.AddFile(docs, "a.bin", 10, 3 * kMiB / 2);
  src.AddFile(docs, "b.bin", 4000, 1000);
  src.AddFile(kRootId, "unchecked.bin", 20, 10);
  src.CheckAll();
  SetCheckState(*NodeAt(src.partition.table, 9), 0);  // unchecked.bin
  OverrideSetting("SaveDir", "Saved");
  SaveJob job;
  src.Prepare(job, folder_, nullptr);
  ASSERT_TRUE(StartSaveJob(job, &SaveAllToDirThread, nullptr));
  EXPECT_EQ(job.outputFolder, folder_ + "/Saved");
  EXPECT_EQ(test::FileText(folder_ + "/Saved/00 test/docs/b.bin"), src.Expected(4000, 1000));
  EXPECT_FALSE(fs::exists(folder_ + "/Saved/00 test/unchecked.bin"));
  const CopyStatistics stats = job.Ledger().Statistics();
  EXPECT_EQ(stats.lastFiles, 2u);
  EXPECT_EQ(stats.lastBytes, 3 * kMiB / 2 + 1000);
  EXPECT_NE(RecentLogText().find(" copy data(MB): 1 / 1     File num: 2 / 2"), std::string::npos);
  // A folder already named like SaveDir is used as it is.
  EXPECT_EQ(ResolveSaveFolder(folder_ + "/Saved"), folder_ + "/Saved");
  EXPECT_EQ(ResolveSaveFolder(folder_ + "/Saved/"), folder_ + "/Saved");
  EXPECT_FALSE(fs::exists(folder_ + "/Saved/Saved"));
}

TEST_F(CopyEngine, AStopRequestEndsTheRunAsNotFinished) {
  test::MemorySource src(64);
  const std::uint32_t id = src.AddFile(kRootId, "x.bin", 1, 1000);
  SaveJob job;
  src.Prepare(job, folder_, nullptr);
  job.nodeId = id;
  job.state = kJobStopRequested;
  EXPECT_FALSE(StartSaveJob(job, &SaveCurrFileThread, nullptr));
  EXPECT_FALSE(fs::exists(folder_ + "/x.bin"));
}

}  // namespace
}  // namespace ambrel
