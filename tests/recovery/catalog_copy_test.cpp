// Copying out of the session catalogue: partition rows, the filter view and
// a classification row; and a target that refuses writes.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>
#include <filesystem>

#include "session/texts.h"
#include "app/settings.h"
#include "catalog/file_types.h"
#include "catalog/found_file_catalog.h"
#include "catalog/node_table.h"
#include "catalog/search_filter.h"
#include "recovery/catalog_rows.h"
#include "recovery/recovery_test_support.h"
#include "support/test_paths.h"

namespace ambrel {
namespace {

namespace fs = std::filesystem;

struct CatalogFixture {
  CatalogFixture() : src(256) {
    BuildFileTypes();
    const std::uint32_t docs = src.AddFolder(kRootId, "docs");
    src.AddFile(docs, "keep-me.txt", 10, 700);
    src.AddFile(docs, "other.txt", 20, 800);
    src.AddFile(kRootId, "photo.jpg", 30, 3000, true);
    const PackedTime t = PackPackedTime(2020, 5, 6, 7, 8, 9);
    for (std::uint32_t id = 6; id < src.partition.table.count; ++id)
      if (FoundFileNode* n = NodeAt(src.partition.table, id)) {
        n->created = n->modified = t;
        if (IsFileKind(KindOf(*n))) n->typeCode = TypeCodeOfName(n->name);
      }
    src.partition.fsKind = kFsSignature;
    src.partition.volumeLabel = "mem";
    catalog.Reset(nullptr, false);
    // Kind 15 is the signature slot's kind; a partition slot of another
    // kind is classified, so present this one as a FAT directory scan
    // result (its data is contiguous from the first sector as well).
    src.partition.fsKind = kFsFatDirScan;
    src.partition.table.isSignatureTable = false;
    slot = catalog.AddPartition(std::make_unique<PartitionInfo>(std::move(src.partition)), nullptr, false);
  }

  SaveRunResult Run(const std::string& folder) {
    CatalogRows rows(catalog);
    SaveJob probe;
    src.Prepare(probe, "", nullptr);
    SaveContext c;
    c.source = &rows;
    c.prompt = &prompt;
    c.opener = probe.opener;
    c.ledger = &ledger;
    const SelectionTotal total = catalog.SumSelected();
    return RecoverChecked(c, SaveParameters{folder, kOverwriteYes, kReadErrorsKeepWritten}, total.files,
                          total.bytes);
  }

  test::MemorySource src;
  CopyLedger ledger;
  FoundFileCatalog catalog;
  std::uint32_t slot = 0;
  test::RecordingPrompt prompt;
};

std::vector<std::string> FilesBelow(const std::string& folder) {
  std::vector<std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(folder))
    if (e.is_regular_file()) files.push_back(fs::relative(e.path(), folder).string());
  std::sort(files.begin(), files.end());
  return files;
}

class CatalogCopy : public ::testing::Test {
 protected:
  void SetUp() override {
    SetSettingsLoaded(true);
    OverrideSetting("SaveDir", "Out");
    OverrideSetting("ShowAllFile", "1");
  }
};

TEST_F(CatalogCopy, CheckedPartitionRowIsWrittenUnderItsLabel) {
  CatalogFixture f;
  ASSERT_EQ(f.slot, kFirstPartitionSlot);
  ASSERT_TRUE(f.catalog.ToggleCheck(f.slot, kRootId));
  const std::string folder = test::TempDir("catalog-copy");
  const SaveRunResult r = f.Run(folder);
  ASSERT_TRUE(r.completed);
  const std::string label = f.catalog.GetLabel(f.slot);
  EXPECT_EQ(FilesBelow(folder), (std::vector<std::string>{"Out/" + label + "/docs/keep-me.txt",
                                                          "Out/" + label + "/docs/other.txt",
                                                          "Out/" + label + "/photo.jpg"}));
  EXPECT_EQ(test::FileText(folder + "/Out/" + label + "/docs/other.txt"), f.src.Expected(20, 800));
  EXPECT_EQ(r.files, 3u);
  EXPECT_EQ(CopyReportTexts(r, "恢复").back(), "恢复结束！本次恢复3个文件，共计4(KB)数据！");
  EXPECT_TRUE(f.prompt.messages.empty()) << "the core words nothing itself";
}

TEST_F(CatalogCopy, TheFilterViewWritesOnlyItsHits) {
  CatalogFixture f;
  ASSERT_TRUE(f.catalog.ToggleCheck(f.slot, kRootId));  // everything checked first
  FilterSettings settings = DefaultFilterSettings(2030, 1, 1);
  settings.keywords = "keep";
  SearchFilter filter;
  filter.Store(settings);
  ASSERT_EQ(RunFilter(f.catalog, filter), "");
  ASSERT_EQ(f.catalog.viewMode(), ViewMode::kFilter);
  const std::string folder = test::TempDir("catalog-filter");
  const SaveRunResult r = f.Run(folder);
  ASSERT_TRUE(r.completed);
  const auto files = FilesBelow(folder);
  ASSERT_EQ(files.size(), 1u);
  EXPECT_NE(files[0].find("/docs/keep-me.txt"), std::string::npos);
}

TEST_F(CatalogCopy, AClassificationRowIsCopiedInTheTypeView) {
  CatalogFixture f;
  ASSERT_TRUE(f.catalog.SetViewMode(ViewMode::kByType));
  ASSERT_TRUE(f.catalog.ToggleCheck(kClassRow, kRootId));
  CatalogRows rows(f.catalog);
  EXPECT_EQ(rows.Rows(), (std::vector<std::uint32_t>{kClassRow}));
  const std::string folder = test::TempDir("catalog-class");
  const SaveRunResult r = f.Run(folder);
  ASSERT_TRUE(r.completed) << CopyRefusalText(r.refusal, "恢复")
                           << " checked " << f.catalog.SumSelected().files;
  const auto files = FilesBelow(folder);
  ASSERT_EQ(files.size(), 3u);
  for (const std::string& file : files) EXPECT_EQ(file.rfind("Out/" + f.catalog.GetLabel(kClassRow) + "/", 0), 0u);
  EXPECT_EQ(r.files, 3u);
}

// A target that takes only 1 MiB per file: the failed write ends the file
// under the read-error policy and the file is reported.
TEST_F(CatalogCopy, AFailedWriteIsAFailureUnderThePolicy) {
  OverrideSetting("SaveDir", "");
  for (std::uint32_t policy : {kReadErrorsEmptyFile, kReadErrorsKeepWritten}) {
    test::MemorySource src(16384);
    const std::uint32_t id = src.AddFile(kRootId, "big.bin", 0, 6 << 20);
    const std::string folder = test::TempDir("write-fails");
    SaveJob job;
    src.Prepare(job, folder, nullptr);
    job.nodeId = id;
    job.readErrors = policy;
    struct rlimit old {};
    ::getrlimit(RLIMIT_FSIZE, &old);
    struct rlimit small = old;
    small.rlim_cur = 1 << 20;
    auto previous = std::signal(SIGXFSZ, SIG_IGN);
    ::setrlimit(RLIMIT_FSIZE, &small);
    StartSaveJob(job, &SaveCurrFileThread, nullptr);
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previous);
    ASSERT_EQ(job.failedFiles.size(), 1u);
    EXPECT_EQ(job.failedFiles[0], folder + "/big.bin");
    EXPECT_EQ(job.filesWritten, 0u);
    // A file that could not be written whole never carries its real name,
    // and its temporary copy is gone.
    EXPECT_FALSE(fs::exists(folder + "/big.bin"));
    EXPECT_TRUE(fs::is_empty(folder));
  }
}

}  // namespace
}  // namespace ambrel
