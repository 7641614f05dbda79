// The deep scan from the command line over images of real files: a raw
// image with corpus files at sector offsets (some across the 8 MiB chunk
// boundaries) recovered with --mode 1, and a FAT volume whose deleted files
// mode 2 finds again in its free space. Every carved file must come out
// byte for byte under its type folder, and `scan --json` must say that its
// size came from its structure.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>

#include <nlohmann/json.hpp>

#include "cli/cli_run.h"
#include "support/test_paths.h"

namespace ambrel::test {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr std::uint64_t kChunk = 16384;

struct Planted {
  const char* corpus;   // path in the corpus
  std::uint64_t lba;
  const char* folder;   // "category/extension"
};

const Planted kPlanted[] = {
    {"zip/test-documents.zip", 2048, "压缩文件/zip"},
    {"jpg/jpeg420exif.jpg", kChunk - 100, "照片/jpg"},      // across the first boundary
    {"doc/testWORD.doc", 2 * kChunk - 20, "文档/doc"},      // across the second
    {"wav/testWAV.wav", 3 * kChunk - 3, "音频/wav"},
    {"pptx/testPPT.pptx", 3 * kChunk + 500, "文档/pptx"},
    {"rar/test-documents.rar", 4 * kChunk - 60, "压缩文件/rar"},
    {"bmp/mountain.bmp", 4 * kChunk + 1000, "图像/bmp"},
    {"flv/testFLV.flv", 4 * kChunk + 3000, "视频/flv"},
};

std::string HexName(std::uint64_t lba, const std::string& extension) {
  char name[64];
  std::snprintf(name, sizeof name, "%llx.%s", static_cast<unsigned long long>(lba), extension.c_str());
  return name;
}

// Every file under `root`, by its path relative to the row folder (the
// first level below the save folder).
std::map<std::string, std::string> WrittenFiles(const std::string& root) {
  std::map<std::string, std::string> files;
  if (!fs::exists(root)) return files;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    if (!e.is_regular_file()) continue;
    fs::path rel = fs::relative(e.path(), root);
    fs::path inRow;
    auto it = rel.begin();
    for (++it, ++it; it != rel.end(); ++it) inRow /= *it;  // skip the save folder and the row
    files[inRow.generic_string()] = ReadFileBytes(e.path().string());
  }
  return files;
}

class CarveRecover : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(BinaryDir() + "/cli/ambrel-cli")) GTEST_SKIP() << "ambrel-cli not built";
    if (CorpusDir().empty()) GTEST_SKIP() << "corpus not found";
  }
};

// 40 MiB of zeros with the planted corpus files.
std::string MakeRawImage(const std::string& dir) {
  const std::string image = dir + "/raw.img";
  std::string bytes(40u << 20, '\0');
  for (const Planted& p : kPlanted) {
    const std::string file = ReadFileBytes(CorpusDir() + "/" + p.corpus);
    if (file.empty()) return {};
    bytes.replace(p.lba * 512, file.size(), file);
  }
  WriteFileBytes(image, bytes);
  return image;
}

TEST_F(CarveRecover, RawImageGivesEveryFileWholeUnderItsTypeFolder) {
  const std::string dir = TempDir("carve-raw");
  const std::string image = MakeRawImage(dir);
  ASSERT_FALSE(image.empty());

  const CliOutput scan = RunAmbrelCli("scan " + Quoted(image) + " --mode 1 --json");
  ASSERT_EQ(scan.status, 0) << scan.err;
  const json doc = json::parse(scan.out);
  std::map<std::uint64_t, json> carved;
  for (const json& f : doc.at("carvedFiles")) carved[f.at("lba").get<std::uint64_t>()] = f;
  for (const Planted& p : kPlanted) {
    const std::string file = ReadFileBytes(CorpusDir() + "/" + p.corpus);
    ASSERT_TRUE(carved.count(p.lba)) << p.corpus;
    const json& f = carved[p.lba];
    EXPECT_EQ(f.at("sizeFrom"), "structure") << p.corpus;
    EXPECT_TRUE(f.at("structural").get<bool>()) << p.corpus;
    EXPECT_EQ(f.at("size").get<std::uint64_t>(), file.size()) << p.corpus;
  }
  EXPECT_EQ(carved.size(), std::size(kPlanted));

  const std::string out = dir + "/out";
  const CliOutput recover = RunAmbrelCli("recover " + Quoted(image) + " --mode 1 --out " + Quoted(out));
  ASSERT_EQ(recover.status, 0) << recover.err;
  const auto written = WrittenFiles(out);
  for (const Planted& p : kPlanted) {
    const std::string file = ReadFileBytes(CorpusDir() + "/" + p.corpus);
    const std::string ext = fs::path(p.corpus).extension().string().substr(1);
    const std::string name = std::string(p.folder) + "/" + HexName(p.lba, ext);
    ASSERT_TRUE(written.count(name)) << name;
    EXPECT_TRUE(written.at(name) == file) << name;
  }
  EXPECT_EQ(written.size(), std::size(kPlanted));
  // The text listing says the same.
  const CliOutput text = RunAmbrelCli("scan " + Quoted(image) + " --mode 1");
  EXPECT_NE(text.out.find("carved files: 8"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("LBA 16284"), std::string::npos);
  EXPECT_EQ(text.out.find(" gap "), std::string::npos);
}

// PhotoRec as the oracle: every file it carves at a sector where the scan
// found a file whose size its structure tells has that same size.
TEST_F(CarveRecover, StructuralSizesAgreeWithPhotoRec) {
  if (!HaveTool("photorec")) GTEST_SKIP() << "photorec (testdisk) not installed";
  const std::string dir = TempDir("carve-photorec");
  const std::string image = MakeRawImage(dir);
  ASSERT_FALSE(image.empty());
  ASSERT_TRUE(Shell("cd " + Quoted(dir) + " && photorec /d rec /cmd raw.img "
                    "partition_none,fileopt,everything,enable,search >/dev/null 2>&1"));
  std::map<std::uint64_t, std::uint64_t> oracle;  // LBA -> size
  for (const auto& e : fs::recursive_directory_iterator(dir)) {
    const std::string name = e.path().filename().string();
    if (!e.is_regular_file() || name.size() < 9 || name[0] != 'f') continue;
    oracle[std::stoull(name.substr(1, 7))] = fs::file_size(e.path());
  }
  ASSERT_FALSE(oracle.empty());
  const CliOutput scan = RunAmbrelCli("scan " + Quoted(image) + " --mode 1 --json");
  ASSERT_EQ(scan.status, 0) << scan.err;
  std::size_t compared = 0;
  const json doc = json::parse(scan.out);
  for (const json& f : doc.at("carvedFiles")) {
    const std::uint64_t lba = f.at("lba").get<std::uint64_t>();
    if (!f.at("structural").get<bool>() || !oracle.count(lba)) continue;
    EXPECT_EQ(f.at("size").get<std::uint64_t>(), oracle[lba]) << f.at("name");
    ++compared;
  }
  EXPECT_GE(compared, 6u);
}

// The deleted files come back once, with the names the volume keeps; the
// carver finds their data in the free space but does not list it again.
TEST_F(CarveRecover, DeletedFatFilesComeBackOnceInMode2) {
  if (!HaveTool("mkfs.vfat") || !HaveTool("mcopy") || !HaveTool("mdel")) GTEST_SKIP() << "mtools missing";
  const std::string dir = TempDir("carve-fat");
  const std::string image = dir + "/fat.img", q = Quoted(image);
  const std::string c = CorpusDir() + "/";
  ASSERT_TRUE(Shell("truncate -s 40M " + q + " && mkfs.vfat -F 16 " + q + " >/dev/null"));
  ASSERT_TRUE(Shell("mcopy -i " + q + " " + Quoted(c + "jpg/tokyo.jpg") + " ::/tokyo.jpg && mcopy -i " + q + " " +
                    Quoted(c + "zip/test-documents.zip") + " ::/docs.zip && mcopy -i " + q + " " +
                    Quoted(c + "bmp/mountain.bmp") + " ::/keep.bmp && mcopy -i " + q + " " +
                    Quoted(c + "doc/rasp.doc") + " ::/rasp.doc"));
  ASSERT_TRUE(Shell("mdel -i " + q + " ::/tokyo.jpg ::/docs.zip ::/rasp.doc"));
  const std::string out = dir + "/out";
  const CliOutput recover = RunAmbrelCli("recover " + q + " --mode 2 --out " + Quoted(out));
  ASSERT_EQ(recover.status, 0) << recover.err;
  std::map<std::string, std::string> named;  // lower-case name without its lost first letter -> bytes
  std::size_t written = 0;
  for (const auto& [path, bytes] : WrittenFiles(out)) {
    ++written;
    std::string name = fs::path(path).filename().string();
    for (char& ch : name) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    named[name.substr(1)] = bytes;
  }
  EXPECT_TRUE(named["okyo.jpg"] == ReadFileBytes(c + "jpg/tokyo.jpg"));
  EXPECT_TRUE(named["ocs.zip"] == ReadFileBytes(c + "zip/test-documents.zip"));
  EXPECT_TRUE(named["asp.doc"] == ReadFileBytes(c + "doc/rasp.doc"));
  // Three deleted files, nothing more: the live file is not listed in this
  // mode, and nothing is carved twice.
  EXPECT_EQ(written, 3u);
}

TEST_F(CarveRecover, ModeOutsideOneToSixIsRefused) {
  const CliOutput bad = RunAmbrelCli("recover /dev/null --mode 7 --out /tmp/x");
  EXPECT_EQ(bad.status, 2);
}

}  // namespace
}  // namespace ambrel::test
