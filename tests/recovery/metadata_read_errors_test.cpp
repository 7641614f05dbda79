// `list` and `recover` over images whose metadata has an unreadable sector
// (the LD_PRELOAD shim fails chosen byte ranges of the image): the files
// the sector held are missing, every other file is listed and copied
// whole, what could not be read is named, and the exit status says the
// run was not whole. Never an empty listing with status 0.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "recovery/recovery_test_support.h"
#include "support/test_paths.h"

namespace ambrel {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

bool HaveTools(std::initializer_list<const char*> tools) {
  for (const char* t : tools)
    if (!test::Shell(std::string("command -v ") + t + " >/dev/null 2>&1")) return false;
  return true;
}

std::string Utf16(const std::string& ascii) {
  std::string out;
  for (char c : ascii) out += std::string{c, '\0'};
  return out;
}

// The environment that makes reads of the image fail on [from, to).
std::string FailingRange(const std::string& shim, const std::string& image, std::uint64_t from, std::uint64_t to) {
  return "ASAN_OPTIONS=verify_asan_link_order=0 LD_PRELOAD='" + shim + "' AMBREL_FAIL_FILE='" +
         fs::canonical(image).string() + "' AMBREL_FAIL_RANGES=" + std::to_string(from) + "-" + std::to_string(to);
}

std::set<std::string> ListedPaths(const std::string& out) {
  std::set<std::string> paths;
  const json doc = json::parse(out, nullptr, false);
  if (!doc.is_array()) return paths;
  for (const json& volume : doc)
    for (const json& e : volume["entries"]) paths.insert(e["path"].get<std::string>());
  return paths;
}

class MetadataReadErrors : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveTools({"cc"})) GTEST_SKIP() << "no C compiler for the shim";
    work_ = test::TempDir("metadata-read-errors");
    shim_ = work_ + "/fail_ranges.so";
    ASSERT_TRUE(test::Shell("cc -shared -fPIC -O1 -o '" + shim_ + "' '" + test::SourceDir() +
                            "/tests/recovery/shim/fail_ranges.c' -ldl"));
    out_ = test::OtherDeviceFolder("metadata-" +
                                   std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    if (out_.empty()) GTEST_SKIP() << "no second file system for the target";
  }
  void TearDown() override {
    if (!out_.empty()) fs::remove_all(out_);
  }
  std::string work_, shim_, out_;
};

// One unreadable sector in the MFT of a volume made by mkntfs: `list` used
// to print no entry at all with status 0, and `recover` only asked for a
// selection. Now only the file whose record the sector holds is missing.
TEST_F(MetadataReadErrors, AnUnreadableMftSectorIsNamedByListAndRecover) {
  const std::string image = test::FixtureCopy("ntfs-basic", "meta-ntfs");
  ASSERT_FALSE(image.empty());
  const auto bytes = test::ReadBytes(image);
  std::size_t record = std::string::npos;
  for (std::size_t at = 0; at + 1024 <= bytes.size() && record == std::string::npos; at += 1024) {
    if (std::memcmp(bytes.data() + at, "FILE", 4) != 0 || (bytes[at + 0x16] & 0x02)) continue;
    const std::vector<std::uint8_t> one(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                                        bytes.begin() + static_cast<std::ptrdiff_t>(at + 1024));
    if (test::FindBytes(one, Utf16("IMG_0001.JPG")) != std::string::npos) record = at;
  }
  ASSERT_NE(record, std::string::npos);
  const std::string env = FailingRange(shim_, image, record + 600, record + 601);

  const auto clean = test::RunCliCommand("list '" + image + "' --json", "meta-ntfs-clean");
  ASSERT_EQ(clean.status, 0) << clean.err;
  const std::set<std::string> all = ListedPaths(clean.out);
  ASSERT_TRUE(all.count("Photos/IMG_0001.JPG") || all.count("/Photos/IMG_0001.JPG")) << clean.out.substr(0, 400);

  const auto list = test::RunCliCommand("list '" + image + "' --json", "meta-ntfs-list", env);
  EXPECT_EQ(list.status, 1) << list.err;
  EXPECT_NE(list.err.find("unreadable metadata"), std::string::npos) << list.err;
  EXPECT_NE(list.err.find("MFT record"), std::string::npos) << list.err;
  EXPECT_NE(list.err.find(std::to_string(record / 512 + 1)), std::string::npos) << list.err;  // the sector
  const std::set<std::string> some = ListedPaths(list.out);
  EXPECT_EQ(some.size() + 1, all.size());
  const json doc = json::parse(list.out, nullptr, false);
  ASSERT_TRUE(doc.is_array() && doc.size() == 1);
  EXPECT_EQ(doc[0]["unreadMetadata"].size(), 1u) << doc[0]["unreadMetadata"].dump();

  const auto text = test::RunCliCommand("list '" + image + "'", "meta-ntfs-text", env);
  EXPECT_EQ(text.status, 1);
  EXPECT_NE(text.err.find("MFT record"), std::string::npos) << text.err;

  const auto recover = test::RunCliCommand("recover '" + image + "' --out '" + out_ + "' --json", "meta-ntfs-rec", env);
  EXPECT_EQ(recover.status, 1) << recover.err;
  EXPECT_NE(recover.err.find("unreadable file-system metadata"), std::string::npos) << recover.err;
  EXPECT_NE(recover.out.find("MFT record"), std::string::npos) << recover.out;
  bool sawFragmented = false;
  for (const auto& [path, size] : test::FilesBelow(out_)) {
    EXPECT_EQ(path.find("IMG_0001.JPG"), std::string::npos) << path;
    if (path.size() >= 14 && path.compare(path.size() - 14, 14, "fragmented.bin") == 0) {
      sawFragmented = true;
      EXPECT_EQ(test::Md5OfFile(out_ + "/" + path), "661c1884bb4f82db966057d15d726f61");
    }
  }
  EXPECT_TRUE(sawFragmented);
}

std::string LongName(int n) {
  char name[64];
  std::snprintf(name, sizeof name, "long file name number %02d.txt", n);
  return name;
}

// One bad sector in a FAT folder's cluster used to drop four files without
// a word. Now those four are missing, the folder is named, the status is 1,
// and the files after the bad sector are listed and copied.
TEST_F(MetadataReadErrors, AnUnreadableFolderSectorIsNamedByListAndRecover) {
  if (!HaveTools({"mkfs.vfat", "mcopy", "mmd"})) GTEST_SKIP() << "mkfs.vfat/mtools missing";
  const std::string image = work_ + "/fat16.img";
  std::string files;
  for (int n = 1; n <= 12; ++n) {
    std::ofstream(work_ + "/" + LongName(n)) << "contents of file " << n << "\n";
    files += " '" + work_ + "/" + LongName(n) + "'";
  }
  ASSERT_TRUE(test::Shell("truncate -s 40M '" + image + "' && mkfs.vfat -F 16 -s 4 -n FOLDERS '" + image +
                          "' >/dev/null 2>&1 && mmd -i '" + image + "' ::/DIR && mcopy -i '" + image + "'" + files +
                          " ::/DIR/"));
  const auto bytes = test::ReadBytes(image);
  const std::size_t folder = test::FindBytes(bytes, std::string(".          \x10", 12));
  ASSERT_NE(folder, std::string::npos);
  ASSERT_EQ(folder % 512, 0u);
  const std::string env = FailingRange(shim_, image, folder + 512 + 40, folder + 512 + 41);

  const auto list = test::RunCliCommand("list '" + image + "' --json", "meta-fat-list", env);
  EXPECT_EQ(list.status, 1) << list.err;
  EXPECT_NE(list.err.find("folder /DIR"), std::string::npos) << list.err;
  const std::set<std::string> paths = ListedPaths(list.out);
  auto listed = [&](int n) { return paths.count("DIR/" + LongName(n)) + paths.count("/DIR/" + LongName(n)) > 0; };
  for (int n : {1, 2, 3, 9, 10, 11, 12}) EXPECT_TRUE(listed(n)) << n << " " << list.out.substr(0, 600);
  for (int n : {4, 5, 6, 7}) EXPECT_FALSE(listed(n)) << n;

  const auto recover = test::RunCliCommand("recover '" + image + "' --out '" + out_ + "'", "meta-fat-rec", env);
  EXPECT_EQ(recover.status, 1) << recover.err;
  EXPECT_NE(recover.out.find("folder /DIR"), std::string::npos) << recover.out;
  int copied = 0;
  for (const auto& [path, size] : test::FilesBelow(out_)) {
    for (int n : {1, 12}) {
      if (path.size() >= LongName(n).size() &&
          path.compare(path.size() - LongName(n).size(), LongName(n).size(), LongName(n)) == 0) {
        ++copied;
        EXPECT_EQ(test::FileText(out_ + "/" + path), "contents of file " + std::to_string(n) + "\n");
      }
    }
  }
  EXPECT_EQ(copied, 2);
}

}  // namespace
}  // namespace ambrel
