// The copy-out on images made by the real tools and then damaged: looping
// FAT chains, sizes no volume can hold, run lists past the disk, broken
// resident values, unreadable byte ranges (an LD_PRELOAD shim), interrupted
// files and hard links in the target.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>

#include "app/settings.h"
#include "catalog/node_table.h"
#include "recovery/recovery_test_support.h"
#include "support/test_paths.h"

namespace ambrel {
namespace {

namespace fs = std::filesystem;

std::uint32_t Get32(const std::vector<std::uint8_t>& b, std::size_t at) {
  std::uint32_t v;
  std::memcpy(&v, b.data() + at, 4);
  return v;
}
std::uint16_t Get16(const std::vector<std::uint8_t>& b, std::size_t at) {
  std::uint16_t v;
  std::memcpy(&v, b.data() + at, 2);
  return v;
}
void Put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) { std::memcpy(b.data() + at, &v, 4); }
void Put64(std::vector<std::uint8_t>& b, std::size_t at, std::uint64_t v) { std::memcpy(b.data() + at, &v, 8); }

std::string Pattern(std::size_t n, int seed) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 31 + seed * 7 + i / 251) & 0xFF);
  return s;
}

std::string Utf16(const std::string& ascii) {
  std::string out;
  for (char c : ascii) out += std::string{c, '\0'};
  return out;
}

bool HaveTools(std::initializer_list<const char*> tools) {
  for (const char* t : tools)
    if (!test::Shell(std::string("command -v ") + t + " >/dev/null 2>&1")) return false;
  return true;
}

// A FAT32 image (512-byte clusters) holding LOOP.BIN (5000 bytes) and OK.TXT.
std::string MakeFat32(const std::string& dir, const std::string& loopData, const std::string& okData) {
  const std::string img = dir + "/fat32.img";
  std::ofstream(dir + "/LOOP.BIN", std::ios::binary) << loopData;
  std::ofstream(dir + "/OK.TXT", std::ios::binary) << okData;
  if (!test::Shell("truncate -s 40M '" + img + "' && mkfs.vfat -i 1234ABCD -g 255/63 -F 32 -s 1 -n LOOPS '" + img + "' >/dev/null 2>&1"
                   " && mcopy -i '" + img + "' '" + dir + "/LOOP.BIN' '" + dir + "/OK.TXT' ::/"))
    return {};
  return img;
}

class DamagedSources : public ::testing::Test {
 protected:
  void SetUp() override {
    out_ = test::OtherDeviceFolder("damaged-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    if (out_.empty()) GTEST_SKIP() << "no second file system for the target";
  }
  void TearDown() override {
    if (!out_.empty()) fs::remove_all(out_);
  }
  std::string out_;
};

// [the looping chain] The last cluster's FAT entry points at itself and the
// entry claims 0xFFFFFFFF bytes: the copy stops at the loop and says so.
TEST_F(DamagedSources, ALoopingFat32ChainIsCutAtTheLoopAndReportedDamaged) {
  if (!HaveTools({"mkfs.vfat", "mcopy"})) GTEST_SKIP() << "mkfs.vfat/mtools missing";
  const std::string dir = test::TempDir("fat32-loop");
  const std::string loop = Pattern(5000, 1), ok = Pattern(3000, 2);
  const std::string img = MakeFat32(dir, loop, ok);
  ASSERT_FALSE(img.empty());
  auto bytes = test::ReadBytes(img);
  const std::size_t entry = test::FindBytes(bytes, "LOOP    BIN");
  ASSERT_NE(entry, std::string::npos);
  const std::uint32_t first = (std::uint32_t{Get16(bytes, entry + 20)} << 16) | Get16(bytes, entry + 26);
  Put32(bytes, entry + 28, 0xFFFFFFFF);
  const std::size_t fat = std::size_t{Get16(bytes, 14)} * 512;
  const std::size_t fatBytes = std::size_t{Get32(bytes, 36)} * 512;
  const std::uint32_t last = first + 9;  // mcopy writes the 10 clusters in a row
  ASSERT_EQ(Get32(bytes, fat + last * 4) & 0x0FFFFFFF, 0x0FFFFFFFu);
  for (int copy = 0; copy < 2; ++copy) Put32(bytes, fat + copy * fatBytes + last * 4, last);
  ASSERT_TRUE(test::WriteBytes(img, bytes));

  const auto r = test::RunCliCommand("recover '" + img + "' --out '" + out_ + "' --json", "fat32-loop");
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  EXPECT_NE(r.out.find("LOOP.BIN: cluster chain loops: 5120 of 4294967295 bytes"),
            std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"files\":1,"), std::string::npos) << r.out;  // only OK.TXT counts as whole
  bool sawLoop = false, sawOk = false;
  for (const auto& [path, size] : test::FilesBelow(out_)) {
    EXPECT_LE(size, fs::file_size(img)) << path;
    const std::string text = test::FileText(out_ + "/" + path);
    if (path.find("LOOP.BIN") != std::string::npos) {
      sawLoop = true;
      EXPECT_EQ(size, 5120u);
      EXPECT_EQ(text.substr(0, 5000), loop);
    }
    if (path.find("OK.TXT") != std::string::npos) sawOk = (text == ok);
  }
  EXPECT_TRUE(sawLoop);
  EXPECT_TRUE(sawOk);
}

// [unreadable sectors] Two byte ranges inside a file fail to read (the
// shim): only their sectors are lost, and the file is reported with them.
TEST_F(DamagedSources, UnreadableByteRangesOfTheImageCostOnlyTheirSectors) {
  if (!HaveTools({"mkfs.vfat", "mcopy", "cc"})) GTEST_SKIP() << "mkfs.vfat/mtools/cc missing";
  const std::string dir = test::TempDir("fat32-shim");
  const std::string data = Pattern(200000, 3), ok = Pattern(3000, 4);
  const std::string img = MakeFat32(dir, data, ok);
  ASSERT_FALSE(img.empty());
  const std::string shim = dir + "/fail_ranges.so";
  ASSERT_TRUE(test::Shell("cc -shared -fPIC -O1 -o '" + shim + "' '" + test::SourceDir() +
                          "/tests/recovery/shim/fail_ranges.c' -ldl"));
  const auto bytes = test::ReadBytes(img);
  const std::size_t at = test::FindBytes(bytes, data.substr(0, 512));
  ASSERT_NE(at, std::string::npos);
  ASSERT_EQ(at % 512, 0u);
  // Sector 10 of the file (one byte of it) and sectors 200-201.
  const std::uint64_t bad1 = at + 10 * 512 + 100, bad2 = at + 200 * 512;
  const std::string env = "ASAN_OPTIONS=verify_asan_link_order=0 LD_PRELOAD='" + shim + "' AMBREL_FAIL_FILE='" +
                          fs::canonical(img).string() + "' AMBREL_FAIL_RANGES=" + std::to_string(bad1) + "-" +
                          std::to_string(bad1 + 1) + "," + std::to_string(bad2) + "-" + std::to_string(bad2 + 1024);
  for (const char* policy : {"all", "keep", "empty"}) {
    const std::string target = out_ + "/" + policy;
    fs::create_directories(target);
    const auto r = test::RunCliCommand("recover '" + img + "' --out '" + target + "' --read-errors " + policy + " --json",
                                       std::string("shim-") + policy, env);
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_NE(r.out.find("LOOP.BIN: 3 unreadable sector(s)"), std::string::npos) << policy << r.out;
    EXPECT_NE(r.out.find("\"files\":1,"), std::string::npos) << policy << r.out;
    std::string got;
    for (const auto& [path, size] : test::FilesBelow(target)) {
      if (path.find("LOOP.BIN") != std::string::npos) got = test::FileText(target + "/" + path);
      if (path.find("OK.TXT") != std::string::npos) {
        EXPECT_EQ(test::FileText(target + "/" + path), ok);
      }
    }
    std::string want = data;
    if (std::string(policy) == "all") {
      want.replace(10 * 512, 512, std::string(512, '\0'));
      want.replace(200 * 512, 1024, std::string(1024, '\0'));
    } else if (std::string(policy) == "keep") {
      want = data.substr(0, 10 * 512);
    } else {
      want.clear();
    }
    EXPECT_TRUE(got == want) << policy << ": " << got.size() << " bytes";
  }
}

// [impossible sizes] An exFAT file that claims 1 TiB no longer blocks the
// space check: the file is copied as far as the volume goes and reported;
// the rest arrives whole.
TEST_F(DamagedSources, AnExfatFileClaimingOneTebibyteDoesNotBlockTheRun) {
  const std::string img = test::FixtureCopy("exfat-basic", "exfat-tib");
  ASSERT_FALSE(img.empty());
  auto bytes = test::ReadBytes(img);
  // The name's first 15 characters fill the first name entry.
  const std::size_t name = test::FindBytes(bytes, Utf16("quarterly repor"));
  ASSERT_NE(name, std::string::npos);
  const std::size_t stream = name - 2 - 32;  // the stream entry before the first name entry
  ASSERT_EQ(bytes[stream], 0xC0);
  Put64(bytes, stream + 8, 1ull << 40);
  Put64(bytes, stream + 24, 1ull << 40);
  ASSERT_TRUE(test::WriteBytes(img, bytes));
  const auto r = test::RunCliCommand("recover '" + img + "' --out '" + out_ + "' --json", "exfat-tib");
  EXPECT_EQ(r.out.find("空间不足"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"started\":true"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("quarterly report.doc: chain ends early"), std::string::npos) << r.out;
  std::uint64_t total = 0;
  for (const auto& [path, size] : test::FilesBelow(out_)) total += size;
  EXPECT_LE(total, fs::file_size(img));
  int whole = 0;
  for (const auto& m : test::LoadManifest("exfat-basic")) {
    if (m.directory || m.deleted || m.md5 == "-" || m.path.find("quarterly") != std::string::npos) continue;
    for (const auto& [path, size] : test::FilesBelow(out_))
      if (path.size() >= m.path.size() && path.substr(path.size() - m.path.size()) == m.path &&
          test::Md5OfFile(out_ + "/" + path) == m.md5)
        ++whole;
  }
  EXPECT_GE(whole, 5);
}

// The offset of the first attribute of `type` in the record at `record`.
std::size_t AttributeAt(const std::vector<std::uint8_t>& img, std::size_t record, std::uint32_t type) {
  std::size_t pos = record + Get16(img, record + 0x14);
  while (pos + 8 < record + 1024) {
    const std::uint32_t t = Get32(img, pos), len = Get32(img, pos + 4);
    if (t == type) return pos;
    if (t == 0xFFFFFFFF || len == 0) break;
    pos += len;
  }
  return std::string::npos;
}

// The byte offset of the file record that holds a name and a $DATA.
std::size_t RecordOffset(const std::vector<std::uint8_t>& img, const std::string& utf16Name) {
  for (std::size_t name = test::FindBytes(img, utf16Name); name != std::string::npos;
       name = test::FindBytes(img, utf16Name, name + 1)) {
    const std::size_t record = name / 1024 * 1024;
    // Directory indexes hold the name too; a folder has no $DATA.
    if (std::memcmp(img.data() + record, "FILE", 4) == 0 && AttributeAt(img, record, 0x80) != std::string::npos)
      return record;
  }
  return std::string::npos;
}

// [run list past the disk, damaged resident values] One NTFS file's run
// list points past the disk, three files' resident values are broken: each
// is reported damaged and skipped, nothing is written as an empty "success".
TEST_F(DamagedSources, NtfsFilesWithImpossibleDataAreReportedAndSkipped) {
  const std::string img = test::FixtureCopy("ntfs-basic", "ntfs-damaged");
  ASSERT_FALSE(img.empty());
  auto bytes = test::ReadBytes(img);
  // IMG_0002.JPG: its first run's cluster offset becomes 2^40 clusters.
  const std::size_t jpg = RecordOffset(bytes, Utf16("IMG_0002.JPG"));
  ASSERT_NE(jpg, std::string::npos);
  const std::size_t data = AttributeAt(bytes, jpg, 0x80);
  ASSERT_NE(data, std::string::npos);
  ASSERT_EQ(bytes[data + 8], 1);  // non-resident
  const std::size_t runs = data + Get16(bytes, data + 0x20);
  const unsigned lengthBytes = bytes[runs] & 15;
  bytes[runs] = static_cast<std::uint8_t>(0x60 | lengthBytes);
  // Six offset bytes: the rest of the list is overwritten, which ends it.
  for (int i = 0; i < 6; ++i) bytes[runs + 1 + lengthBytes + i] = i == 5 ? 0x01 : 0x00;
  bytes[runs + 1 + lengthBytes + 6] = 0;
  // small.txt: value length 0x7FFFFFFF; resident-600.bin: value offset 0xFFF0;
  // 文件.txt: its $DATA attribute's length runs past the record.
  const std::size_t small = AttributeAt(bytes, RecordOffset(bytes, Utf16("small.txt")), 0x80);
  const std::size_t r600 = AttributeAt(bytes, RecordOffset(bytes, Utf16("resident-600.bin")), 0x80);
  const std::size_t zh = AttributeAt(bytes, RecordOffset(bytes, std::string("\x87\x65\xF6\x4E.\0t\0x\0t\0", 12)), 0x80);
  ASSERT_NE(small, std::string::npos);
  ASSERT_NE(r600, std::string::npos);
  ASSERT_NE(zh, std::string::npos);
  Put32(bytes, small + 0x10, 0x7FFFFFFF);
  bytes[r600 + 0x14] = 0xF0;
  bytes[r600 + 0x15] = 0xFF;
  Put32(bytes, zh + 4, 0x1000);
  ASSERT_TRUE(test::WriteBytes(img, bytes));

  const auto r = test::RunCliCommand("recover '" + img + "' --out '" + out_ + "' --json", "ntfs-damaged");
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  EXPECT_NE(r.out.find("IMG_0002.JPG: data outside the device"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("small.txt: damaged MFT record"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("resident-600.bin: damaged MFT record"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("文件.txt: damaged MFT record"), std::string::npos) << r.out;
  const auto files = test::FilesBelow(out_);
  for (const auto& [path, size] : files) {
    for (const char* gone : {"IMG_0002.JPG", "small.txt", "resident-600.bin", "/文件.txt"})
      EXPECT_EQ(path.find(gone), std::string::npos) << path;
  }
  // The untouched files still arrive whole.
  int whole = 0;
  for (const auto& m : test::LoadManifest("ntfs-basic")) {
    if (m.directory || m.deleted || m.md5 == "-" || m.size == 0) continue;
    for (const auto& [path, size] : files)
      if (path.size() >= m.path.size() && path.substr(path.size() - m.path.size()) == m.path &&
          test::Md5OfFile(out_ + "/" + path) == m.md5)
        ++whole;
  }
  EXPECT_GE(whole, 4);
}

// [interrupted files] A stop request in the middle of a file leaves neither
// the real name nor the temporary copy.
class StopAtRead final : public BlockDevice {
 public:
  StopAtRead(std::shared_ptr<BlockDevice> inner, SaveJob& job, int at) : inner_(std::move(inner)), job_(job), at_(at) {}
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

TEST(InterruptedCopy, AStoppedFileNeverCarriesItsRealName) {
  SetSettingsLoaded(true);
  OverrideSetting("SaveDir", "");
  test::MemorySource src(40000);
  const std::uint32_t id = src.AddFile(kRootId, "big.bin", 0, 12 << 20);
  const std::string folder = test::TempDir("interrupted");
  SaveJob job;
  src.Prepare(job, folder, nullptr);
  auto stopper = std::make_shared<StopAtRead>(src.memory, job, 2);
  job.opener = [stopper](const PartitionInfo&, DiskHandle& out) {
    out = HandleForDevice(stopper, "memory-source");
    return out.IsOpen();
  };
  job.nodeId = id;
  EXPECT_FALSE(StartSaveJob(job, &SaveCurrFileThread, nullptr));
  EXPECT_FALSE(fs::exists(folder + "/big.bin"));
  EXPECT_TRUE(fs::is_empty(folder));
  ASSERT_EQ(job.failedFiles.size(), 1u);
}

// [killed copy] A copy killed mid-file leaves its temporary file behind.
// The next run removes such leftovers in every folder it writes into, and
// nothing else: not names that only look alike, not a folder it does not
// write into.
TEST_F(DamagedSources, ARerunRemovesTheLeftoversOfAKilledCopy) {
  const std::string image = test::FixtureImage("fat32-basic");
  ASSERT_FALSE(image.empty());
  const auto first = test::RunCliCommand("recover '" + image + "' --out '" + out_ + "'", "leftovers-1");
  ASSERT_EQ(first.status, 0) << first.err;
  std::set<std::string> folders;
  for (const auto& [path, size] : test::FilesBelow(out_))
    folders.insert(fs::path(out_ + "/" + path).parent_path().string());
  ASSERT_GE(folders.size(), 2u);
  const std::vector<std::string> alike = {".ambrel-partial-abc", ".ambrel-partial-ABCDEFG", "x.ambrel-partial-ABCDEF",
                                          ".ambrel-partial-AB-DEF", ".ambrel-partial-Q1w2E3.txt"};
  int planted = 0;
  for (const std::string& folder : folders) {
    std::ofstream(folder + "/.ambrel-partial-K" + std::to_string(100000 + planted).substr(1)) << "cut short";
    ++planted;
    for (const std::string& name : alike) std::ofstream(folder + "/" + name) << "not ours";
  }
  fs::create_directories(out_ + "/elsewhere");
  std::ofstream(out_ + "/elsewhere/.ambrel-partial-AAAAAA") << "not written into";
  std::ofstream(out_ + "/.ambrel-partial-TOP123") << "not written into";

  const auto second = test::RunCliCommand("recover '" + image + "' --out '" + out_ + "'", "leftovers-2");
  EXPECT_EQ(second.status, 0) << second.err;
  for (const std::string& folder : folders) {
    for (const auto& entry : fs::directory_iterator(folder)) {
      const std::string name = entry.path().filename().string();
      if (name.rfind(".ambrel-partial-", 0) != 0) continue;
      EXPECT_TRUE(std::find(alike.begin(), alike.end(), name) != alike.end()) << folder << "/" << name;
    }
    for (const std::string& name : alike) EXPECT_TRUE(fs::exists(folder + "/" + name)) << folder << "/" << name;
  }
  EXPECT_TRUE(fs::exists(out_ + "/elsewhere/.ambrel-partial-AAAAAA"));
  EXPECT_TRUE(fs::exists(out_ + "/.ambrel-partial-TOP123"));
}

// [hard links] Overwriting a file that is a hard link to a file elsewhere
// replaces the link; the other file keeps its bytes.
TEST(InterruptedCopy, AHardLinkInTheTargetIsReplacedNotWrittenThrough) {
  SetSettingsLoaded(true);
  OverrideSetting("SaveDir", "");
  test::MemorySource src(64);
  const std::uint32_t id = src.AddFile(kRootId, "linked.txt", 1, 100);
  const std::string folder = test::TempDir("hardlink");
  const std::string outside = test::TempDir("hardlink-outside") + "/precious.txt";
  std::ofstream(outside) << "precious";
  fs::create_hard_link(outside, folder + "/linked.txt");
  SaveJob job;
  src.Prepare(job, folder, nullptr);
  job.nodeId = id;
  job.overwrite = kOverwriteYes;
  ASSERT_TRUE(StartSaveJob(job, &SaveCurrFileThread, nullptr));
  EXPECT_EQ(test::FileText(outside), "precious");
  EXPECT_EQ(test::FileText(folder + "/linked.txt"), src.Expected(1, 100));
  EXPECT_EQ(fs::hard_link_count(outside), 1u);
}

}  // namespace
}  // namespace ambrel
