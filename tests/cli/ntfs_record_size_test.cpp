// NTFS volumes whose FILE records are not 1024 bytes: mkntfs -s 4096 writes
// 4096-byte records (eight update-sequence blocks each), the default volume
// is the control. Files are written and one deleted through ntfs-3g; `list`
// must agree with The Sleuth Kit's fls, `recover` must give back the bytes
// written, and a record with one block's update-sequence number changed
// must be reported torn and its file damaged, never copied as if whole.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

#include "cli_run.h"
#include "platform/md5.h"
#include "support/test_paths.h"

namespace ambrel {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

std::string RandomBytes(std::size_t n, unsigned seed) {
  std::mt19937 engine(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(engine());
  return s;
}

// What is written to the volume: path -> bytes. mid.bin is resident in a
// 4096-byte record and not in a 1024-byte one.
const std::map<std::string, std::string>& Files() {
  static const std::map<std::string, std::string> files = {
      {"small.txt", RandomBytes(100, 1)},
      {"Docs/mid.bin", RandomBytes(3000, 2)},
      {"Docs/Sub/big.bin", RandomBytes(200000, 3)},
  };
  return files;
}
const std::string& DeletedBytes() {
  static const std::string bytes = RandomBytes(20000, 4);
  return bytes;
}

bool CanMountNtfs() {
  return ::geteuid() == 0 && fs::exists("/dev/fuse") &&
         test::Shell("command -v mkntfs ntfs-3g fusermount fls >/dev/null 2>&1");
}

std::string Md5(const std::string& bytes) { return Md5Hex(bytes.data(), bytes.size()); }

// Formats a 32 MiB volume with `sectorBytes` sectors and fills it.
bool BuildVolume(const std::string& dir, const std::string& img, int sectorBytes) {
  const std::string mnt = dir + "/mnt";
  fs::create_directories(mnt);
  if (!test::Shell("(truncate -s 32M " + test::Quoted(img) + " && mkntfs -q -F -s " + std::to_string(sectorBytes) +
                   " -L REC" + std::to_string(sectorBytes) + " " + test::Quoted(img) + " && ntfs-3g " +
                   test::Quoted(img) + " " + test::Quoted(mnt) + ") >/dev/null 2>&1"))
    return false;
  fs::create_directories(mnt + "/Docs/Sub");
  for (const auto& [path, bytes] : Files()) test::WriteFileBytes(mnt + "/" + path, bytes);
  test::WriteFileBytes(mnt + "/gone.bin", DeletedBytes());
  fs::remove(mnt + "/gone.bin");
  return test::Shell("fusermount -u " + test::Quoted(mnt));
}

// fls -r -p: path -> deleted, system files left out.
std::map<std::string, bool> FlsEntries(const std::string& img) {
  const std::string dir = test::TempDir("fls");
  std::map<std::string, bool> entries;
  if (!test::Shell("(fls -r -p " + test::Quoted(img) + " > " + test::Quoted(dir + "/fls.txt") + ")")) return entries;
  std::istringstream lines(test::ReadFileBytes(dir + "/fls.txt"));
  for (std::string line; std::getline(lines, line);) {
    const auto tab = line.find('\t');
    if (tab == std::string::npos) continue;
    const std::string path = line.substr(tab + 1);
    if (path.empty() || path[0] == '$' || path.find("/$") != std::string::npos) continue;
    entries[path] = line.find(" * ") != std::string::npos;
  }
  return entries;
}

Json ListJson(const std::string& img, std::string* err = nullptr) {
  const test::CliOutput list = test::RunAmbrelCli("list --json " + test::Quoted(img));
  if (err) *err = list.err;
  Json doc = Json::parse(list.out, nullptr, false);
  return doc.is_array() && doc.size() == 1 ? doc[0] : Json();
}

// The byte offset of FILE record `number` (the low records lie in the MFT's
// first run) and the record size the boot sector gives.
std::uint64_t RecordOffset(const std::string& img, std::uint32_t number, std::uint32_t& recordBytes) {
  const std::string boot = test::ReadFileBytes(img).substr(0, 512);
  std::uint16_t bps;
  std::uint64_t mftCluster;
  std::memcpy(&bps, boot.data() + 11, 2);
  std::memcpy(&mftCluster, boot.data() + 48, 8);
  const auto raw = static_cast<std::int8_t>(boot[0x40]);
  const std::uint64_t clusterBytes = std::uint64_t{static_cast<std::uint8_t>(boot[13])} * bps;
  recordBytes = raw > 0 ? static_cast<std::uint32_t>(raw * clusterBytes) : (1u << -raw);
  return mftCluster * clusterBytes + std::uint64_t{number} * recordBytes;
}

// Every file written (and the deleted one) is in `out` with its md5.
void ExpectRecoveredAsWritten(const std::string& out) {
  std::map<std::string, std::string> written = Files();
  written["gone.bin"] = DeletedBytes();
  std::size_t found = 0;
  for (const auto& entry : fs::recursive_directory_iterator(out)) {
    if (!entry.is_regular_file()) continue;
    const std::string full = entry.path().string();
    for (const auto& [path, bytes] : written)
      if (full.size() > path.size() && full.compare(full.size() - path.size() - 1, std::string::npos, "/" + path) == 0) {
        EXPECT_EQ(Md5(test::ReadFileBytes(full)), Md5(bytes)) << path;
        ++found;
      }
  }
  EXPECT_EQ(found, written.size());
}

class NtfsRecordSize : public ::testing::TestWithParam<int> {};

TEST_P(NtfsRecordSize, ListAgreesWithFlsAndRecoveredFilesMatchWhatWasWritten) {
  if (!CanMountNtfs()) GTEST_SKIP() << "needs root, FUSE, mkntfs, ntfs-3g and fls";
  const std::string dir = test::TempDir("ntfs-record-size");
  const std::string img = dir + "/v.img";
  ASSERT_TRUE(BuildVolume(dir, img, GetParam()));
  std::uint32_t recordBytes = 0;
  RecordOffset(img, 0, recordBytes);
  EXPECT_EQ(recordBytes, GetParam() == 4096 ? 4096u : 1024u);

  const std::map<std::string, bool> oracle = FlsEntries(img);
  ASSERT_EQ(oracle.size(), 6u);  // Docs, Docs/Sub, three files, gone.bin
  ASSERT_TRUE(oracle.at("gone.bin"));
  const Json volume = ListJson(img);
  ASSERT_TRUE(volume.is_object());
  std::map<std::string, bool> listed;
  for (const Json& e : volume["entries"]) listed[e["path"].get<std::string>()] = e["deleted"].get<bool>();
  EXPECT_EQ(listed, oracle);
  for (const Json& e : volume["entries"]) {
    const std::string path = e["path"].get<std::string>();
    if (Files().count(path)) {
      EXPECT_EQ(e["size"].get<std::uint64_t>(), Files().at(path).size()) << path;
    }
    if (path == "gone.bin") {
      EXPECT_EQ(e["state"], "intact");
    }
  }

  const std::string out = dir + "/out";
  const test::CliOutput recover = test::RunAmbrelCli("--yes recover " + test::Quoted(img) + " --out " + test::Quoted(out));
  ASSERT_EQ(recover.status, 0) << recover.err;
  ExpectRecoveredAsWritten(out);
}

TEST_P(NtfsRecordSize, TornRecordIsReportedDamagedNotListedWhole) {
  if (!CanMountNtfs()) GTEST_SKIP() << "needs root, FUSE, mkntfs, ntfs-3g and fls";
  const std::string dir = test::TempDir("ntfs-torn");
  const std::string img = dir + "/v.img";
  ASSERT_TRUE(BuildVolume(dir, img, GetParam()));
  // mid.bin's record: its last 512-byte block's trailing update-sequence
  // number no longer matches (a write cut before that block).
  std::uint32_t number = 0;
  const Json before = ListJson(img);
  ASSERT_TRUE(before.is_object());
  for (const Json& e : before["entries"])
    if (e["path"] == "Docs/mid.bin") number = e["id"].get<std::uint32_t>();
  ASSERT_NE(number, 0u);
  std::uint32_t recordBytes = 0;
  const std::uint64_t at = RecordOffset(img, number, recordBytes);
  std::string bytes = test::ReadFileBytes(img);
  ASSERT_EQ(bytes.compare(at, 4, "FILE"), 0);
  bytes[at + recordBytes - 2] = static_cast<char>(bytes[at + recordBytes - 2] ^ 0x5A);
  test::WriteFileBytes(img, bytes);

  std::string err;
  const Json volume = ListJson(img, &err);
  ASSERT_TRUE(volume.is_object());
  bool seen = false;
  for (const Json& e : volume["entries"]) {
    if (e["path"] != "Docs/mid.bin") continue;
    seen = true;
    EXPECT_FALSE(e.value("whole", false));
    EXPECT_EQ(e.value("damage", ""), "torn MFT record");
  }
  EXPECT_TRUE(seen);
  EXPECT_NE(err.find("MFT record " + std::to_string(number)), std::string::npos) << err;
  EXPECT_NE(err.find("torn"), std::string::npos) << err;
  // The other files are untouched and still whole.
  for (const Json& e : volume["entries"])
    if (e["path"] == "Docs/Sub/big.bin") {
      EXPECT_TRUE(e.value("whole", false));
    }

  const std::string out = dir + "/out";
  test::RunAmbrelCli("--yes recover " + test::Quoted(img) + " --out " + test::Quoted(out));
  for (const auto& entry : fs::recursive_directory_iterator(out))
    if (entry.is_regular_file() && entry.path().filename() == "mid.bin") {
      EXPECT_NE(test::ReadFileBytes(entry.path().string()), Files().at("Docs/mid.bin"));
    }
}

// Both boot sectors gone: the deep scan finds the FILE records (of the size
// their headers state), rebuilds the volume from the run that starts with
// $MFT, and the files come back, the resident and the deleted one too.
TEST_P(NtfsRecordSize, DeepScanRebuildsTheVolumeFromItsMftRun) {
  if (!CanMountNtfs()) GTEST_SKIP() << "needs root, FUSE, mkntfs, ntfs-3g and fls";
  const std::string dir = test::TempDir("ntfs-record-scan");
  const std::string img = dir + "/v.img";
  ASSERT_TRUE(BuildVolume(dir, img, GetParam()));
  std::string bytes = test::ReadFileBytes(img);
  const std::size_t sector = static_cast<std::size_t>(GetParam());
  std::fill(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(sector), '\0');
  std::fill(bytes.end() - static_cast<std::ptrdiff_t>(sector), bytes.end(), '\0');
  test::WriteFileBytes(img, bytes);

  const test::CliOutput scan =
      test::RunAmbrelCli("--yes scan " + test::Quoted(img) + " --save no --reuse no");
  ASSERT_EQ(scan.status, 0) << scan.err;
  EXPECT_NE(scan.out.find("rebuilt volumes: 1"), std::string::npos) << scan.out;
  EXPECT_NE(scan.out.find("MFT run"), std::string::npos) << scan.out;
  EXPECT_NE(scan.out.find("\"REC" + std::to_string(GetParam()) + "\"  4 files"), std::string::npos) << scan.out;

  // The same rebuild from a saved scan: the records keep their own size.
  const std::string home = dir + "/home";
  std::filesystem::create_directories(home);
  const test::CliOutput saved =
      test::RunAmbrelCliAt(home, "--yes scan " + test::Quoted(img) + " --save yes --reuse no");
  ASSERT_EQ(saved.status, 0) << saved.err;
  const test::CliOutput resumed =
      test::RunAmbrelCliAt(home, "--yes scan " + test::Quoted(img) + " --save no --reuse yes");
  ASSERT_EQ(resumed.status, 0) << resumed.err;
  EXPECT_NE(resumed.out.find("rebuilt volumes: 1"), std::string::npos) << resumed.out;
  EXPECT_NE(resumed.out.find("\"REC" + std::to_string(GetParam()) + "\"  4 files"), std::string::npos)
      << resumed.out;

  const std::string out = dir + "/out";
  const test::CliOutput recover =
      test::RunAmbrelCli("--yes recover " + test::Quoted(img) + " --mode 1 --out " + test::Quoted(out));
  ASSERT_EQ(recover.status, 0) << recover.err;
  ExpectRecoveredAsWritten(out);
}

// A boot sector whose record-size byte gives no usable size (0x80 asks for
// 2^128 bytes, 0xF6 on 4 KiB sectors a record smaller than a sector): the
// volume is refused with that reason, no size is guessed.
TEST_P(NtfsRecordSize, UnusableRecordSizeIsRefusedWithItsReason) {
  if (!test::HaveTool("mkntfs")) GTEST_SKIP() << "needs mkntfs";
  const std::string dir = test::TempDir("ntfs-record-refused");
  const std::string img = dir + "/v.img";
  ASSERT_TRUE(test::Shell("(truncate -s 8M " + test::Quoted(img) + " && mkntfs -q -F -s " +
                          std::to_string(GetParam()) + " " + test::Quoted(img) + ") >/dev/null 2>&1"));
  const std::string good = test::ReadFileBytes(img);
  for (const char raw : {'\x80', '\x00', GetParam() == 4096 ? '\xF6' : '\xF8'}) {
    std::string bytes = good;
    bytes[0x40] = raw;
    test::WriteFileBytes(img, bytes);
    const test::CliOutput list = test::RunAmbrelCli("list " + test::Quoted(img));
    EXPECT_EQ(list.status, 1) << int{static_cast<unsigned char>(raw)};
    EXPECT_NE(list.err.find("record size"), std::string::npos) << int{static_cast<unsigned char>(raw)} << list.err;
  }
}

INSTANTIATE_TEST_SUITE_P(SectorSizes, NtfsRecordSize, ::testing::Values(512, 4096),
                         [](const ::testing::TestParamInfo<int>& p) { return "s" + std::to_string(p.param); });

}  // namespace
}  // namespace ambrel
