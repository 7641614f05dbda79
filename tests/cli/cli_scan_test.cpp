// ambrel-cli scan run as a user would, on images made by the real tools:
// the structures it reports against mmls and fsstat, a scan limited to one
// volume or started with a priority range, and a saved scan resumed.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <cctype>
#include <set>
#include <sstream>
#include <string>

#include "cli/cli_run.h"
#include "support/test_paths.h"

namespace ambrel {
namespace {

using nlohmann::json;

json ScanJson(const test::CliOutput& r) {
  EXPECT_EQ(r.status, 0) << r.err;
  return json::parse(r.out, nullptr, false);
}

std::set<std::uint64_t> StructureLbas(const json& scan, const std::string& kindPrefix) {
  std::set<std::uint64_t> out;
  for (const json& s : scan["structures"])
    if (s["kind"].get<std::string>().rfind(kindPrefix, 0) == 0) out.insert(s["lba"].get<std::uint64_t>());
  return out;
}

// The partition starts mmls lists (allocated entries only).
std::set<std::uint64_t> MmlsStarts(const std::string& image) {
  std::set<std::uint64_t> starts;
  std::istringstream lines(test::ReadFileBytes(image + ".mmls"));
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream f(line);
    std::string slot, table, start;
    f >> slot >> table >> start;
    // Rows like "002:  000:000   0000002048 ...": a slot and a table entry.
    const bool entry = !slot.empty() && slot.back() == ':' && !table.empty() &&
                       std::isdigit(static_cast<unsigned char>(table[0])) && table.find(':') != std::string::npos;
    if (entry) starts.insert(std::stoull(start));
  }
  return starts;
}

TEST(CliScan, EveryVolumeOfADiskImageHasItsBootSectorWhereMmlsPutsIt) {
  if (!test::HaveTool("mmls")) GTEST_SKIP() << "sleuthkit missing";
  const std::string image = test::FixtureImage("disk-mbr-default");
  ASSERT_TRUE(test::Shell("mmls " + test::Quoted(image) + " > " + test::Quoted(image + ".mmls")));
  const std::set<std::uint64_t> starts = MmlsStarts(image);
  ASSERT_FALSE(starts.empty());
  const json scan = ScanJson(test::RunAmbrelCli("scan " + test::Quoted(image) + " --json --save no"));
  ASSERT_TRUE(scan.is_object());
  EXPECT_TRUE(scan["completed"].get<bool>());
  std::set<std::uint64_t> boots;
  for (const json& s : scan["structures"]) {
    const std::string kind = s["kind"];
    if (kind.find("DBR") != std::string::npos || kind.find("NTFS") != std::string::npos ||
        kind.find("exFAT") != std::string::npos)
      boots.insert(s["lba"].get<std::uint64_t>());
  }
  for (std::uint64_t start : starts) EXPECT_TRUE(boots.count(start)) << "no boot sector at " << start;
  EXPECT_TRUE(StructureLbas(scan, "MBR").count(0));
  EXPECT_EQ(scan["sectorsScanned"], scan["sectorsTotal"]);
}

TEST(CliScan, WithBothBootSectorsWipedTheMftRunPlacesTheVolume) {
  const std::string image = test::FixtureImage("ntfs-default");
  // With both boot sectors gone the volume is not read, so its FILE
  // records are kept as loose hits (a readable volume's MFT is not).
  const std::string wiped = test::TempDir("cli-scan-mft") + "/wiped.img";
  ASSERT_TRUE(test::Shell("cp --sparse=always " + test::Quoted(image) + " " + test::Quoted(wiped) + " && dd if=/dev/zero of=" +
                          test::Quoted(wiped) + " bs=512 count=1 conv=notrunc status=none && dd if=/dev/zero of=" +
                          test::Quoted(wiped) + " bs=512 count=1 conv=notrunc status=none seek=$(( $(stat -c %s " +
                          test::Quoted(wiped) + ") / 512 - 1 ))"));
  const json scan = ScanJson(test::RunAmbrelCli("scan " + test::Quoted(wiped) + " --json --save no"));
  EXPECT_TRUE(StructureLbas(scan, "NTFS").empty());
  // The run of FILE records that starts with $MFT places the volume; its
  // records are then consumed by the rebuilt volume's reader.
  bool rebuilt = false;
  for (const json& v : scan["volumes"])
    if (v["foundBy"] == "MFT run" && v["startLba"] == 0) rebuilt = v["files"].get<int>() > 0;
  EXPECT_TRUE(rebuilt) << scan["volumes"].dump();
}

TEST(CliScan, OneVolumeOnlyAndAPriorityRangeInsideIt) {
  const std::string image = test::FixtureImage("disk-mbr-default");
  const json whole = ScanJson(test::RunAmbrelCli("scan " + test::Quoted(image) + " --json --save no"));
  ASSERT_GE(whole["deviceVolumes"].size(), 2u);
  const json& second = whole["deviceVolumes"][1];
  const std::uint64_t start = second["start"], sectors = second["sectors"];
  const json part = ScanJson(
      test::RunAmbrelCli("scan " + test::Quoted(image) + " --partition 2 --json --save no --priority " +
                         std::to_string(start + 100) + ",2000"));
  EXPECT_EQ(part["sectorsTotal"].get<std::uint64_t>(), sectors);
  EXPECT_EQ(part["sectorsScanned"].get<std::uint64_t>(), sectors);
  for (const json& s : part["structures"]) {
    const std::uint64_t lba = s["lba"];
    EXPECT_GE(lba + 16384, start);
    EXPECT_LT(lba, start + sectors + 16384);
  }
  EXPECT_TRUE(StructureLbas(part, "").count(start));
  const auto outside = test::RunAmbrelCli("scan " + test::Quoted(image) + " --partition 2 --priority 0,10");
  EXPECT_EQ(outside.status, 2);
  EXPECT_NE(outside.err.find("priority range"), std::string::npos) << outside.err;
  EXPECT_NE(test::RunAmbrelCli("scan " + test::Quoted(image) + " --partition 9").status, 0);
}

TEST(CliScan, ASavedScanIsResumedWithoutReadingAgain) {
  const std::string image = test::FixtureImage("fat32-default");
  const std::string home = test::TempDir("cli-scan-resume");
  const json first = ScanJson(test::RunAmbrelCliAt(home, "scan " + test::Quoted(image) + " --json --save yes"));
  EXPECT_GT(first["reads"].get<std::uint64_t>(), 0u);
  const json again =
      ScanJson(test::RunAmbrelCliAt(home, "scan " + test::Quoted(image) + " --json --reuse yes --save no"));
  EXPECT_EQ(again["reads"].get<std::uint64_t>(), 0u);
  EXPECT_EQ(again["structures"], first["structures"]);
  EXPECT_EQ(again["sectorsScanned"], again["sectorsTotal"]);
  const json fresh =
      ScanJson(test::RunAmbrelCliAt(home, "scan " + test::Quoted(image) + " --json --reuse no --save no"));
  EXPECT_EQ(fresh["reads"], first["reads"]);
}

// Four changed bytes in the saved scan used to be reused silently. Now the
// file is refused with a message, the scan reads the device afresh and
// finds what an uninterrupted scan finds.
TEST(CliScan, ADamagedSavedScanIsRefusedAndAFreshScanRuns) {
  const std::string image = test::FixtureImage("fat32-default");
  const std::string home = test::TempDir("cli-scan-damaged");
  const json first = ScanJson(test::RunAmbrelCliAt(home, "scan " + test::Quoted(image) + " --json --save yes"));
  const std::string state = home + "/DiskScanData.dat";
  std::string bytes = test::ReadFileBytes(state);
  ASSERT_GT(bytes.size(), 200u);
  for (std::size_t i = 0; i < 4; ++i) bytes[bytes.size() / 2 + i] = static_cast<char>(bytes[bytes.size() / 2 + i] ^ 0x5A);
  test::WriteFileBytes(state, bytes);
  const auto again = test::RunAmbrelCliAt(home, "scan " + test::Quoted(image) + " --json --reuse yes --save no");
  const json scan = ScanJson(again);
  EXPECT_NE(again.err.find("保存的扫描数据已损坏"), std::string::npos) << again.err;
  EXPECT_NE(again.err.find("将重新扫描"), std::string::npos) << again.err;
  EXPECT_EQ(scan["reads"], first["reads"]);  // read afresh, nothing reused
  EXPECT_EQ(scan["structures"], first["structures"]);
  EXPECT_EQ(scan["carvedFiles"], first["carvedFiles"]);
}

// A FIFO named like the saved scan used to block the scan in open(). Now
// it is passed over with a message and the scan runs.
TEST(CliScan, AFifoInPlaceOfTheSavedScanDoesNotBlock) {
  const std::string image = test::FixtureImage("fat16-default");
  const std::string home = test::TempDir("cli-scan-fifo");
  ASSERT_TRUE(test::Shell("mkfifo " + test::Quoted(home + "/DiskScanData.dat")));
  const auto r = test::RunAmbrelCliAt(home, "scan " + test::Quoted(image) + " --json --reuse yes --save no");
  ScanJson(r);
  EXPECT_NE(r.err.find("不是普通文件"), std::string::npos) << r.err;
}

TEST(CliScan, ProgressIsWrittenAsLinesWhenNotOnATerminal) {
  const std::string image = test::FixtureImage("fat16-default");
  const auto r = test::RunAmbrelCli("scan " + test::Quoted(image) + " --save no");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err.find('\r'), std::string::npos);
  EXPECT_NE(r.err.find("100%"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("scan finished"), std::string::npos);
  EXPECT_NE(r.out.find("hits per kind:"), std::string::npos);
}

}  // namespace
}  // namespace ambrel
