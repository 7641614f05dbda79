// One run shares its work across files: the source is opened once, each
// folder is made once and files in a folder the run made are written
// without looking at the disk first. The guarantees around that must hold:
// every file still passes through a temporary name, a missing folder is
// still made, a name already taken in the run still goes beside, and
// existing files outside the run's own folders still meet the overwrite
// policy.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <memory>

#include "app/settings.h"
#include "platform/output_file.h"
#include "recovery/recovery_test_support.h"
#include "support/test_paths.h"

namespace ambrel {
namespace {

namespace fs = std::filesystem;

// Asks the run to stop at the n-th read of the source.
class StopOnRead final : public BlockDevice {
 public:
  StopOnRead(std::shared_ptr<BlockDevice> inner, SaveJob& job, int at) : inner_(std::move(inner)), job_(job), at_(at) {}
  std::int64_t ReadAt(std::uint64_t offset, void* buffer, std::size_t length) override {
    if (++reads_ == at_) job_.state = kJobStopRequested;
    return inner_->ReadAt(offset, buffer, length);
  }
  std::uint64_t SizeBytes() override { return inner_->SizeBytes(); }
  bool Reopen() override { return inner_->Reopen(); }
  std::string Path() const override { return inner_->Path(); }

 private:
  std::shared_ptr<BlockDevice> inner_;
  SaveJob& job_;
  int at_;
  int reads_ = 0;
};

class CopyRunReuse : public ::testing::Test {
 protected:
  void SetUp() override {
    SetSettingsLoaded(true);
    OverrideSetting("SaveDir", "");
    folder_ = test::TempDir("copy-run-reuse");
  }
  // Counts every open of the source the run makes.
  void CountOpens(test::MemorySource& src, SaveJob& job) {
    auto device = src.faulty;
    auto opens = opens_;
    job.opener = [device, opens](const PartitionInfo&, DiskHandle& out) {
      ++*opens;
      out = HandleForDevice(device, "memory-source");
      return out.IsOpen();
    };
  }
  std::string folder_;
  std::shared_ptr<std::atomic<int>> opens_ = std::make_shared<std::atomic<int>>(0);
};

// Every file of several folders through one open source (the size count
// before the copy opens it once more); each arrives whole under its real
// name and no temporary file is left.
TEST_F(CopyRunReuse, OneOpenSourceServesEveryFileAndEachStillPassesThroughATemporaryName) {
  test::MemorySource src(4096);
  std::uint64_t sector = 1;
  for (int f = 0; f < 5; ++f) {
    const std::uint32_t dir = src.AddFolder(kRootId, "dir" + std::to_string(f));
    for (int i = 0; i < 8; ++i, sector += 40) src.AddFile(dir, "file" + std::to_string(i), sector, 64 + 2000 * i);
  }
  src.CheckAll();
  SaveJob job;
  src.Prepare(job, folder_, nullptr);
  CountOpens(src, job);
  ASSERT_TRUE(StartSaveJob(job, &SaveAllToDirThread, nullptr));
  EXPECT_EQ(job.filesWritten, 40u);
  EXPECT_LE(opens_->load(), 2);
  EXPECT_TRUE(job.openSources.empty());  // let go at the end of the run
  sector = 1;
  for (int f = 0; f < 5; ++f)
    for (int i = 0; i < 8; ++i, sector += 40)
      EXPECT_EQ(test::FileText(folder_ + "/00 test/dir" + std::to_string(f) + "/file" + std::to_string(i)),
                src.Expected(sector, 64 + 2000 * i));
  for (const auto& entry : fs::recursive_directory_iterator(folder_))
    EXPECT_FALSE(IsPartialCopyName(entry.path().filename().string())) << entry.path();
  EXPECT_EQ(job.writing.files, 40u);
  EXPECT_EQ(job.reading.files, 40u);
  EXPECT_GE(job.reading.bytes, job.writing.bytes);
}

// A stop in the middle of the second file: the first keeps its real name,
// the second never gets it, though both were read through the same open
// source.
TEST_F(CopyRunReuse, AStopWithTheSharedSourceLeavesNoRealNameForTheUnfinishedFile) {
  test::MemorySource src(40000);
  const std::uint32_t dir = src.AddFolder(kRootId, "dir");
  src.AddFile(dir, "first.bin", 0, 4096);
  src.AddFile(dir, "second.bin", 100, 12 << 20);
  src.CheckAll();
  SaveJob job;
  src.Prepare(job, folder_, nullptr);
  // The first file is read in one request; the stop comes with the second
  // file's second chunk.
  auto stopper = std::make_shared<StopOnRead>(src.memory, job, 3);
  job.opener = [stopper](const PartitionInfo&, DiskHandle& out) {
    out = HandleForDevice(stopper, "memory-source");
    return out.IsOpen();
  };
  StartSaveJob(job, &SaveAllToDirThread, nullptr);
  const std::string out = folder_ + "/00 test/dir";
  EXPECT_EQ(test::FileText(out + "/first.bin"), src.Expected(0, 4096));
  EXPECT_FALSE(fs::exists(out + "/second.bin"));
  for (const auto& entry : fs::directory_iterator(out))
    EXPECT_FALSE(IsPartialCopyName(entry.path().filename().string())) << entry.path();
}

// Folders the run needs are made when missing, once, even when two found
// folders share a name; a file named like a folder the run made goes
// beside it.
TEST_F(CopyRunReuse, AMissingFolderIsMadeOnceAndAFileNamedLikeItGoesBeside) {
  test::MemorySource src(256);
  const std::uint32_t a = src.AddFolder(kRootId, "same");
  const std::uint32_t b = src.AddFolder(kRootId, "same");
  src.AddFile(a, "one.txt", 1, 100);
  src.AddFile(b, "two.txt", 2, 100);
  src.AddFile(kRootId, "same", 3, 100);
  const std::uint32_t deep = src.AddFolder(src.AddFolder(a, "inner"), "deeper");
  src.AddFile(deep, "three.txt", 4, 100);
  src.CheckAll();
  SaveJob job;
  src.Prepare(job, folder_, nullptr);
  ASSERT_TRUE(StartSaveJob(job, &SaveAllToDirThread, nullptr));
  const std::string row = folder_ + "/00 test";
  EXPECT_TRUE(fs::is_directory(row + "/same"));
  EXPECT_EQ(test::FileText(row + "/same/one.txt"), src.Expected(1, 100));
  EXPECT_EQ(test::FileText(row + "/same/two.txt"), src.Expected(2, 100));
  EXPECT_EQ(test::FileText(row + "/same (2)"), src.Expected(3, 100));
  EXPECT_EQ(test::FileText(row + "/same/inner/deeper/three.txt"), src.Expected(4, 100));
  EXPECT_TRUE(job.failedFiles.empty());
}

// A folder that was there before the run is looked at: an existing file
// meets the overwrite policy, a leftover temporary file is swept, and a
// file in the way of a folder sends the folder beside it.
TEST_F(CopyRunReuse, WhatWasThereBeforeTheRunIsStillLookedAt) {
  test::MemorySource src(256);
  const std::uint32_t dir = src.AddFolder(kRootId, "dir");
  src.AddFile(dir, "kept.txt", 1, 100);
  src.AddFile(dir, "new.txt", 2, 100);
  const std::uint32_t blocked = src.AddFolder(kRootId, "blocked");
  src.AddFile(blocked, "inside.txt", 3, 100);
  src.CheckAll();
  const std::string row = folder_ + "/00 test";
  fs::create_directories(row + "/dir");
  std::ofstream(row + "/dir/kept.txt") << "mine";
  std::ofstream(row + "/dir/.ambrel-partial-Ab12Cd") << "cut short";
  std::ofstream(row + "/blocked") << "a file";
  SaveJob job;
  src.Prepare(job, folder_, nullptr);
  job.overwrite = kOverwriteSkip;
  ASSERT_TRUE(StartSaveJob(job, &SaveAllToDirThread, nullptr));
  EXPECT_EQ(test::FileText(row + "/dir/kept.txt"), "mine");
  EXPECT_EQ(test::FileText(row + "/dir/new.txt"), src.Expected(2, 100));
  EXPECT_FALSE(fs::exists(row + "/dir/.ambrel-partial-Ab12Cd"));
  EXPECT_EQ(test::FileText(row + "/blocked"), "a file");
  EXPECT_EQ(test::FileText(row + "/blocked (2)/inside.txt"), src.Expected(3, 100));
}

// The temporary file is made with its final permissions in one create:
// readable by all, writable by its owner (under the usual umask), named as
// the leftover sweep expects, and never the same name twice.
TEST(OutputFileCreate, TemporaryFilesHaveTheirFinalModeAndDistinctSweepableNames) {
  const std::string folder = test::TempDir("output-file-create");
  const mode_t previous = ::umask(022);
  OutputFile a, b;
  ASSERT_TRUE(a.CreateTemporary(folder));
  ASSERT_TRUE(b.CreateTemporary(folder));
  ::umask(previous);
  EXPECT_NE(a.TemporaryPath(), b.TemporaryPath());
  EXPECT_TRUE(IsPartialCopyName(fs::path(a.TemporaryPath()).filename().string()));
  struct stat st {};
  ASSERT_EQ(::lstat(a.TemporaryPath().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
  // Still being written: the sweep passes over both.
  EXPECT_TRUE(RemovePartialLeftovers(folder).empty());
  ASSERT_TRUE(a.CommitAs(folder + "/a.bin"));
  b.Discard();
  EXPECT_TRUE(fs::exists(folder + "/a.bin"));
  EXPECT_FALSE(fs::exists(b.TemporaryPath()));
  OutputFile missing;
  EXPECT_FALSE(missing.CreateTemporary(folder + "/no-such-folder"));
}

}  // namespace
}  // namespace ambrel
