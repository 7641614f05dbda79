// `ambrel-cli scan` on a disk whose partition table was wiped: it lists the
// volumes it rebuilt (how each was found, start, size, kind, label, files),
// prints the tree of one with --tree N, and all of it as JSON.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/cli_run.h"
#include "support/test_paths.h"

namespace ambrel {
namespace {

class ScanRebuilt : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(test::BinaryDir() + "/cli/ambrel-cli")) GTEST_SKIP();
    const std::string source = test::FixtureImage("disk-mbr");
    ASSERT_FALSE(source.empty());
    image = test::TempDir("cli-scan-rebuilt") + "/disk.img";
    ASSERT_TRUE(test::CopyImage(source, image));
    std::fstream f(image, std::ios::binary | std::ios::in | std::ios::out);
    const std::vector<char> zeros(34 * 512, 0);
    f.write(zeros.data(), static_cast<std::streamsize>(zeros.size()));
  }
  std::string image;
};

TEST_F(ScanRebuilt, ListsEveryLostVolumeWithHowItWasFound) {
  const test::CliOutput run = test::RunAmbrelCli("scan " + test::Quoted(image) + " --mode 3");
  ASSERT_EQ(run.status, 0) << run.err;
  // The four volumes, then the files carved from what none of them lists
  // (text left in their free space).
  EXPECT_NE(run.out.find("rebuilt volumes: 5"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("boot sector        start 2048  sectors 65520  FAT16 (all)  \"AMB_FAT16\""),
            std::string::npos) << run.out;
  EXPECT_NE(run.out.find("start 67584  sectors 81900  FAT32 (all)  \"AMB_FAT32\""), std::string::npos);
  EXPECT_NE(run.out.find("start 151552  sectors 32767  NTFS (all)  \"AmbrelNTFS\""), std::string::npos);
  EXPECT_NE(run.out.find("start 186368  sectors 16384  exFAT (all)  \"AmbExfat\""), std::string::npos);
}

TEST_F(ScanRebuilt, PartitionOptionPrintsTheTreeLikeList) {
  const test::CliOutput run = test::RunAmbrelCli("scan " + test::Quoted(image) + " --tree 3");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("# volume 3: NTFS \"AmbrelNTFS\", start 151552"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("docs/深层目录/第三层/small.txt"), std::string::npos) << run.out;
  const test::CliOutput missing = test::RunAmbrelCli("scan " + test::Quoted(image) + " --tree 9");
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("no rebuilt volume 9 (the scan rebuilt 5)"), std::string::npos) << missing.err;
}

TEST_F(ScanRebuilt, JsonHoldsTheVolumesAndTheTree) {
  const test::CliOutput run = test::RunAmbrelCli("scan " + test::Quoted(image) + " --json --tree 4");
  ASSERT_EQ(run.status, 0) << run.err;
  const auto doc = nlohmann::json::parse(run.out);
  ASSERT_EQ(doc["volumes"].size(), 5u);
  EXPECT_EQ(doc["volumes"][4]["foundBy"], "signatures");
  EXPECT_EQ(doc["volumes"][0]["foundBy"], "boot sector");
  EXPECT_EQ(doc["volumes"][0]["startLba"], 2048);
  EXPECT_EQ(doc["volumes"][3]["kind"], "exFAT");
  EXPECT_EQ(doc["volumes"][3]["label"], "AmbExfat");
  EXPECT_GT(doc["volumes"][3]["files"].get<int>(), 3);
  EXPECT_EQ(doc["tree"]["volume"], 4);
  EXPECT_FALSE(doc["tree"]["entries"].empty());
}

}  // namespace
}  // namespace ambrel
