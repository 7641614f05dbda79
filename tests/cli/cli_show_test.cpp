// ambrel-cli show as a user runs it: a file chosen by its listed path or by
// its id, the information block, then the text, listing or dump; a
// thumbnail written as PNG; a partly overwritten file shown as a copy
// would hold it; the refusals with their exit status.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <string>

#include "cli_run.h"
#include "support/test_paths.h"

namespace ambrel {
namespace {

using CliResult = test::CliOutput;

CliResult RunCli(const std::string& args) { return test::RunAmbrelCli(args); }

// A FAT32 volume with a text, a binary file and (with the corpus) a photo.
const std::string& Volume() {
  static const std::string image = [] {
    if (std::system("command -v mcopy >/dev/null && command -v mkfs.vfat >/dev/null") != 0) return std::string();
    const std::string dir = test::TempDir("cli-show");
    const std::string img = dir + "/show.img";
    std::ofstream(dir + "/Read-Me.txt") << "first line\r\n第二行\r\n";
    std::ofstream bin(dir + "/Blob-Data.bin", std::ios::binary);
    for (int i = 0; i < 40; ++i) bin.put(char(i));
    bin.close();
    std::string script = "truncate -s 40M '" + img + "' && mkfs.vfat -F 32 '" + img + "' >/dev/null" +
                         " && MTOOLS_SKIP_CHECK=1 mcopy -i '" + img + "' '" + dir + "/Read-Me.txt' '" + dir +
                         "/Blob-Data.bin' ::/";
    const std::string photo = test::CorpusDir() + "/jpg/court-exif.jpg";
    if (!test::CorpusDir().empty() && std::filesystem::exists(photo))
      script += " && MTOOLS_SKIP_CHECK=1 mmd -i '" + img + "' ::/Photos && MTOOLS_SKIP_CHECK=1 mcopy -i '" + img +
                "' '" + photo + "' ::/Photos/Court-Photo.jpg";
    return std::system(script.c_str()) == 0 ? img : std::string();
  }();
  return image;
}

TEST(CliShow, TextByPathThenByIdWithTheInformationBlock) {
  if (Volume().empty()) GTEST_SKIP() << "mtools or mkfs.vfat missing";
  const CliResult r = RunCli("show " + Volume() + " Read-Me.txt");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.find("文件名: Read-Me.txt\n文件大小: 0.02 KB\n创建时间: "), 0u) << r.out;
  EXPECT_NE(r.out.find("\n\nfirst line\n第二行\n"), std::string::npos) << r.out;
  // The id that list --json gives names the same file.
  const CliResult list = RunCli("list " + Volume() + " --json");
  ASSERT_EQ(list.status, 0) << list.err;
  std::string id;
  const nlohmann::json listed = nlohmann::json::parse(list.out);
  for (const auto& entry : listed[0]["entries"])
    if (entry["path"].get<std::string>() == "Read-Me.txt") id = std::to_string(entry["id"].get<int>());
  ASSERT_FALSE(id.empty()) << list.out;
  const CliResult byId = RunCli("show " + Volume() + " --partition 1 " + id + " --json");
  ASSERT_EQ(byId.status, 0) << byId.err;
  const nlohmann::json j = nlohmann::json::parse(byId.out);
  EXPECT_EQ(j["path"], "Read-Me.txt");
  EXPECT_EQ(j["kind"], "text");
  EXPECT_EQ(j["text"], "first line\r\n第二行\r\n");
}

TEST(CliShow, DumpInfoOnlyAndRefusals) {
  if (Volume().empty()) GTEST_SKIP() << "mtools or mkfs.vfat missing";
  // A binary file of another type: the dump, with its exact layout.
  const CliResult blob = RunCli("show " + Volume() + " /Blob-Data.bin");
  ASSERT_EQ(blob.status, 0) << blob.err;
  EXPECT_NE(blob.out.find("\nOffset  0  1  2  3  4  5  6  7   8  9  A  B  C  D  E  F                     \n"
                          "000000 00 01 02 03 04 05 06 07  08 09 0A 0B 0C 0D 0E 0F     ................\n"),
            std::string::npos)
      << blob.out;
  // --hex dumps even a text; --info stops after the block.
  EXPECT_NE(RunCli("show " + Volume() + " Read-Me.txt --hex").out.find("000000 66 69 72 73"), std::string::npos);
  const CliResult info = RunCli("show " + Volume() + " Read-Me.txt --info");
  EXPECT_EQ(info.status, 0);
  EXPECT_EQ(info.out.find("Offset"), std::string::npos);
  EXPECT_EQ(info.out.find("first line"), std::string::npos);
  // --text of a binary, a missing file, a missing volume, two part options.
  EXPECT_EQ(RunCli("show " + Volume() + " Blob-Data.bin --text").status, 1);
  const CliResult missing = RunCli("show " + Volume() + " Nothing.txt");
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("no file Nothing.txt"), std::string::npos);
  EXPECT_EQ(RunCli("show " + Volume() + " --partition 7 Read-Me.txt").status, 1);
  EXPECT_EQ(RunCli("show " + Volume() + " Read-Me.txt --hex --text").status, 2);
  EXPECT_EQ(RunCli("show " + Volume()).status, 2);
}

TEST(CliShow, PictureSizeAndThumbnail) {
  if (Volume().empty() || test::CorpusDir().empty()) GTEST_SKIP() << "tools or corpus missing";
  const std::string png = test::TempDir("cli-show-thumb") + "/thumb.png";
  const CliResult r = RunCli("show " + Volume() + " Photos/Court-Photo.jpg --thumbnail " + png + " --json");
  if (r.status == 1 && r.err.find("decodes no pictures") != std::string::npos) GTEST_SKIP() << "built without Qt";
  ASSERT_EQ(r.status, 0) << r.err;
  const nlohmann::json j = nlohmann::json::parse(r.out);
  EXPECT_EQ(j["kind"], "image");
  EXPECT_EQ(j["picture"]["width"], 500);
  EXPECT_EQ(j["picture"]["height"], 375);
  EXPECT_EQ(j["picture"]["damaged"], false);
  const std::string bytes = test::ReadFileBytes(png);
  ASSERT_GT(bytes.size(), 24u);
  EXPECT_EQ(bytes.substr(1, 3), "PNG");
  // IHDR: 128 x 96.
  EXPECT_EQ(static_cast<unsigned char>(bytes[19]), 128u);
  EXPECT_EQ(static_cast<unsigned char>(bytes[23]), 96u);
  // Not a picture: no thumbnail, status 1.
  EXPECT_EQ(RunCli("show " + Volume() + " Read-Me.txt --thumbnail " + png).status, 1);
}

// Files of a deep scan: named by the path that recover --mode writes under
// its output folder, or by the result number and the path inside it; the
// preview holds what recover writes.
TEST(CliShow, DeepScanFilesByThePathRecoverWrites) {
  if (Volume().empty()) GTEST_SKIP() << "mtools or mkfs.vfat missing";
  const std::string out = test::TempDir("cli-show-mode");
  const CliResult recovered = RunCli("recover --mode 1 " + Volume() + " --out " + test::Quoted(out));
  ASSERT_EQ(recovered.status, 0) << recovered.err;
  std::string relative;
  const std::filesystem::path root = std::filesystem::path(out) / "AmbrelRecovered";
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root))
    if (entry.path().filename() == "Read-Me.txt") relative = std::filesystem::relative(entry.path(), root).string();
  ASSERT_FALSE(relative.empty());
  const CliResult byFolder = RunCli("show --mode 1 " + Volume() + " " + test::Quoted(relative) + " --json");
  ASSERT_EQ(byFolder.status, 0) << byFolder.err;
  const nlohmann::json doc = nlohmann::json::parse(byFolder.out);
  EXPECT_EQ(doc["text"].get<std::string>(), "first line\r\n第二行\r\n");
  EXPECT_EQ(doc["path"].get<std::string>(), relative);
  const int number = std::stoi(relative.substr(0, 2));
  const CliResult byNumber =
      RunCli("show --mode 1 --partition " + std::to_string(number) + " " + Volume() + " Blob-Data.bin --hex");
  ASSERT_EQ(byNumber.status, 0) << byNumber.err;
  EXPECT_NE(byNumber.out.find("00 01 02 03"), std::string::npos) << byNumber.out;
  EXPECT_EQ(RunCli("show --mode 1 " + Volume() + " no-such-file.txt").status, 1);
}

}  // namespace
}  // namespace ambrel
