// What ambrel-cli says about volumes it cannot work on: a volume number the
// device does not have, a partition without a known file system, and a GPT
// whose entries the table reader could not use (cut short, or reaching past
// the end of a truncated image).
#include <gtest/gtest.h>

#include <zlib.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "cli/cli_run.h"
#include "support/test_paths.h"

namespace ambrel::test {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kSector = 512;

std::uint64_t LoadU64(const std::string& b, std::size_t at) {
  std::uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(b[at + i]);
  return v;
}
void StoreLe(std::string& b, std::size_t at, std::uint64_t v, int width) {
  for (int i = 0; i < width; ++i) b[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

// A 16 MiB GPT image (sfdisk) with three partitions and no file systems:
// "alpha" at 2048 (4096 sectors), "beta" at 8192 (4096), "gamma" at 16384 (8192).
std::string MakeGptImage(const std::string& dir) {
  if (!HaveTool("sfdisk")) return {};
  const std::string image = dir + "/gpt.img";
  if (!Shell("truncate -s 16M " + Quoted(image) +
             " && printf 'label: gpt\\nstart=2048, size=4096, name=alpha\\nstart=8192, size=4096, name=beta\\n"
             "start=16384, size=8192, name=gamma\\n' | sfdisk -q " + Quoted(image) + " >/dev/null 2>&1"))
    return {};
  return image;
}

// Moves the primary entry array to the last two sectors, where only its
// first 8 of 128 entries fit (this also overwrites the backup header), and
// seals the header with a fresh checksum.
void CutEntryArrayShort(const std::string& image) {
  std::string bytes = ReadFileBytes(image);
  const std::size_t header = kSector;
  const std::uint64_t sectors = bytes.size() / kSector;
  const std::uint64_t entries = LoadU64(bytes, header + 72);
  const std::uint64_t moved = sectors - 2;
  bytes.replace(moved * kSector, 2 * kSector, bytes.substr(entries * kSector, 2 * kSector));
  StoreLe(bytes, header + 72, moved, 8);
  StoreLe(bytes, header + 16, 0, 4);
  const auto* h = reinterpret_cast<const Bytef*>(bytes.data() + header);
  StoreLe(bytes, header + 16, crc32(crc32(0L, Z_NULL, 0), h, 92), 4);
  WriteFileBytes(image, bytes);
}

class CliVolumeMessages : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(BinaryDir() + "/cli/ambrel-cli")) GTEST_SKIP() << "ambrel-cli not built";
    dir_ = TempDir("cli-volumes-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
  }
  std::string dir_;
};

TEST_F(CliVolumeMessages, VolumeNumberTheImageDoesNotHave) {
  const std::string gpt = MakeGptImage(dir_);
  if (gpt.empty()) GTEST_SKIP() << "sfdisk missing";
  const CliOutput list = RunAmbrelCli("list " + Quoted(gpt) + " --partition 99");
  EXPECT_EQ(list.status, 1);
  EXPECT_NE(list.err.find("ambrel-cli list: no volume 99 (the image has 3)\n"), std::string::npos) << list.err;
  EXPECT_TRUE(list.out.empty());
  const CliOutput mbr = RunAmbrelCli("list " + Quoted(FixtureImage("disk-mbr")) + " --partition 3");
  EXPECT_EQ(mbr.status, 1);
  EXPECT_NE(mbr.err.find("no volume 3 (the image has 4: 1, 2, 5, 6)"), std::string::npos) << mbr.err;
}

TEST_F(CliVolumeMessages, PartitionsWithoutAKnownFileSystemFail) {
  const std::string gpt = MakeGptImage(dir_);
  if (gpt.empty()) GTEST_SKIP() << "sfdisk missing";
  std::string bytes = ReadFileBytes(gpt);
  bytes.replace(8192 * kSector, 16, "not a boot sect.");
  WriteFileBytes(gpt, bytes);
  const CliOutput text = RunAmbrelCli("list " + Quoted(gpt));
  EXPECT_EQ(text.status, 1) << "an empty listing is not a success";
  EXPECT_TRUE(text.out.empty()) << text.out;
  EXPECT_NE(text.err.find("volume 1: not NTFS, FAT or exFAT (its boot sector at sector 2048 is empty)"),
            std::string::npos) << text.err;
  EXPECT_NE(text.err.find("volume 2: not NTFS, FAT or exFAT (no boot sector signature at sector 8192)"),
            std::string::npos) << text.err;
  const CliOutput json = RunAmbrelCli("list --json --partition 3 " + Quoted(gpt));
  EXPECT_EQ(json.status, 1);
  EXPECT_EQ(json.out, "[]\n");
  EXPECT_NE(json.err.find("volume 3: not NTFS, FAT or exFAT"), std::string::npos) << json.err;

  const CliOutput recover = RunAmbrelCli("recover " + Quoted(gpt) + " --out " + Quoted(dir_ + "/out"));
  EXPECT_NE(recover.status, 0);
  EXPECT_NE(recover.err.find("ambrel-cli recover: volume 2: not NTFS, FAT or exFAT"), std::string::npos)
      << recover.err;
}

TEST_F(CliVolumeMessages, GptEntryArrayCutShortNamesThePartitionsLost) {
  const std::string gpt = MakeGptImage(dir_);
  if (gpt.empty()) GTEST_SKIP() << "sfdisk missing";
  CutEntryArrayShort(gpt);
  for (const char* command : {"list", "info"}) {
    const CliOutput r = RunAmbrelCli(std::string(command) + " " + Quoted(gpt));
    EXPECT_NE(r.err.find(std::string("ambrel-cli ") + command + ": warning: the GPT partition entries"),
              std::string::npos) << r.err;
    EXPECT_NE(r.err.find("cut short by the end of the device after 2 sectors"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("partitions lost: 1 \"alpha\" (start 2048, 4096 sectors), 2 \"beta\" (start 8192, "
                         "4096 sectors), 3 \"gamma\" (start 16384, 8192 sectors)"),
              std::string::npos) << r.err;
    EXPECT_NE(r.err.find("entries 9 to 128 could not be read"), std::string::npos) << r.err;
  }
  const CliOutput list = RunAmbrelCli("list " + Quoted(gpt));
  EXPECT_EQ(list.status, 1);
  EXPECT_NE(list.err.find("no volume found"), std::string::npos) << list.err;
}

TEST_F(CliVolumeMessages, TruncatedImageNamesThePartitionPastItsEnd) {
  const std::string gpt = MakeGptImage(dir_);
  if (gpt.empty()) GTEST_SKIP() << "sfdisk missing";
  fs::resize_file(gpt, 20000 * kSector);  // gamma (16384 + 8192) now runs past the end
  const CliOutput r = RunAmbrelCli("list " + Quoted(gpt));
  EXPECT_NE(r.err.find("warning: partitions lost: 3 \"gamma\" (start 16384, 8192 sectors, past the end of the "
                       "device)"),
            std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("\"alpha\""), std::string::npos) << "alpha is still read: " << r.err;
  EXPECT_NE(r.err.find("volume 1: not NTFS"), std::string::npos) << "alpha itself is listed: " << r.err;
}

TEST_F(CliVolumeMessages, IntactTablesGiveNoWarning) {
  for (const char* fixture : {"disk-gpt", "disk-mbr"}) {
    const CliOutput r = RunAmbrelCli(std::string("info ") + Quoted(FixtureImage(fixture)));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err.find("warning"), std::string::npos) << fixture << ": " << r.err;
  }
}

}  // namespace
}  // namespace ambrel::test
