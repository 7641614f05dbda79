// Sessions share nothing: two sources listed, scanned and copied out on two
// threads at once give what each gives alone. Run under ThreadSanitizer
// (-DAMBREL_TSAN=ON) this also shows that nothing below the faces is
// written by one session while another reads it.
#include <gtest/gtest.h>
#include <md5.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "catalog/node_table.h"
#include "session/copy_service.h"
#include "session/program.h"
#include "session/scan_job.h"
#include "session/source_session.h"
#include "support/test_paths.h"

namespace ambrel {
namespace {

namespace fs = std::filesystem;

std::string Md5OfFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  const std::string data = bytes.str();
  char hex[MD5_DIGEST_STRING_LENGTH];
  MD5Data(reinterpret_cast<const std::uint8_t*>(data.data()), data.size(), hex);
  return hex;
}

// Everything one session does to its source, as text that two runs can
// compare: the listing of each volume, the deep scan's rebuilt volumes and
// carved files, and the files the copy wrote with their md5.
std::string RunOneSession(const std::string& image, const std::string& out) {
  std::string why;
  std::unique_ptr<SourceSession> source = SourceSession::Open(image, &why);
  if (!source) return "cannot open: " + why;
  std::ostringstream text;
  for (const SourceVolume& v : source->Volumes()) {
    VolumeListing listing = source->ListVolume(v.number, ListScope::kAll);
    text << "volume " << v.number << " problem " << int(listing.problem);
    if (listing.volume) {
      std::vector<std::string> names;
      for (std::uint32_t id = 0; id < listing.volume->table.count; ++id)
        if (const FoundFileNode* n = NodeAt(listing.volume->table, id); n && n->name)
          names.push_back(std::string(n->name) + ":" + std::to_string(n->size));
      std::sort(names.begin(), names.end());
      text << " label " << listing.volume->volumeLabel << " entries " << names.size();
      for (const std::string& n : names) text << " " << n;
    }
    text << "\n";
  }
  std::optional<PartitionInfo> area = source->ScanArea();
  if (!area) return text.str() + "no scan area";
  ScanJobOptions options;
  options.useStateFile = false;
  options.organiseDelayMs = 0;
  ScanJob scan(std::move(*area), RecoveryMode::kDiskFiles, DefaultScanSettings(*source->ScanArea(), RecoveryMode::kDiskFiles),
               std::move(options));
  if (!scan.Start()) return text.str() + "scan did not start";
  scan.Join();
  auto results = scan.TakeResults();
  text << "scan completed " << scan.Completed() << " results " << results.size() << "\n";
  for (const CarvedFileRow& row : CarvedFileRows(FoundFilesOf(results)))
    text << "carved " << row.lba << " " << row.size << " " << row.type << "\n";

  FoundFileCatalog catalog;
  catalog.Reset(nullptr, false);
  source->ListInto(catalog, 0, ListScope::kAll);
  for (std::uint32_t slot = kFirstPartitionSlot; slot < catalog.partitionCount(); ++slot)
    if (catalog.GetCheck(slot, kRootId) != 1) catalog.ToggleCheck(slot, kRootId);
  CopyService copies;
  CopyRequest request;
  request.parameters.folder = out;
  const SaveRunResult copied = copies.CopyChecked(catalog, request);
  text << "copied " << copied.completed << " files " << copied.files << " bytes " << copied.bytes << " refusal "
       << int(copied.refusal) << " last folder " << (copies.LastOutputFolder().empty() ? "none" : "set") << "\n";
  std::vector<std::string> written;
  for (const auto& entry : fs::recursive_directory_iterator(out))
    if (entry.is_regular_file())
      written.push_back(fs::relative(entry.path(), out).string() + " " + Md5OfFile(entry.path().string()));
  std::sort(written.begin(), written.end());
  for (const std::string& w : written) text << w << "\n";
  return text.str();
}

class TwoSessions : public ::testing::Test {
 protected:
  void SetUp() override {
    SetSettingsLoaded(true);
    OverrideSetting("ParseFileSys", "1");
    OverrideSetting("SaveDir", "Recovered");
  }
};

TEST_F(TwoSessions, InterleavedOnTwoThreadsGiveWhatEachGivesAlone) {
  const std::string first = test::FixtureImage("fat32-basic");
  const std::string second = test::FixtureImage("disk-mbr");
  ASSERT_FALSE(first.empty());
  ASSERT_FALSE(second.empty());
  const std::string aloneFirst = RunOneSession(first, test::TempDir("alone-first"));
  const std::string aloneSecond = RunOneSession(second, test::TempDir("alone-second"));
  ASSERT_NE(aloneFirst.find("copied 1"), std::string::npos) << aloneFirst;
  ASSERT_NE(aloneSecond.find("copied 1"), std::string::npos) << aloneSecond;

  std::string together[2][2];
  std::thread a([&] {
    for (int round = 0; round < 2; ++round)
      together[0][round] = RunOneSession(first, test::TempDir("together-first-" + std::to_string(round)));
  });
  std::thread b([&] {
    for (int round = 0; round < 2; ++round)
      together[1][round] = RunOneSession(second, test::TempDir("together-second-" + std::to_string(round)));
  });
  a.join();
  b.join();
  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ(together[0][round], aloneFirst) << "round " << round;
    EXPECT_EQ(together[1][round], aloneSecond) << "round " << round;
  }
}

// One device per session: a listing after the session opened its source
// still reads the same bytes when the path is gone, since nothing reopens
// the source by its path.
TEST_F(TwoSessions, ASessionReadsThroughTheDeviceItOpenedOnce) {
  const std::string fixture = test::FixtureImage("fat16-basic");
  const std::string copy = test::TempDir("opened-once") + "/image.img";
  ASSERT_TRUE(test::CopyImage(fixture, copy));
  std::unique_ptr<SourceSession> source = SourceSession::Open(copy);
  ASSERT_TRUE(source);
  ASSERT_FALSE(source->Volumes().empty());
  fs::remove(copy);  // a path opened anew would fail from here on
  VolumeListing listing = source->ListVolume(source->Volumes().front().number, ListScope::kAll);
  EXPECT_EQ(listing.problem, ListProblem::kNone);
  ASSERT_TRUE(listing.volume);
  EXPECT_GT(listing.volume->table.count, 5u);
  FoundFileCatalog catalog;
  catalog.Reset(nullptr, false);
  EXPECT_TRUE(source->ListInto(catalog, 0, ListScope::kAll).empty());
  for (std::uint32_t slot = kFirstPartitionSlot; slot < catalog.partitionCount(); ++slot)
    catalog.ToggleCheck(slot, kRootId);
  CopyService copies;
  CopyRequest request;
  request.parameters.folder = test::TempDir("opened-once-out");
  const SaveRunResult r = copies.CopyChecked(catalog, request);
  EXPECT_TRUE(r.completed);
  EXPECT_GT(r.files, 0u);
  EXPECT_TRUE(r.failedFiles.empty());
  EXPECT_EQ(r.readErrors, 0u);
}

}  // namespace
}  // namespace ambrel
