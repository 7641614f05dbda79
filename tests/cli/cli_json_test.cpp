// JSON and text output of ambrel-cli with names that are not clean text:
// a FAT volume made with mkfs.vfat and mtools whose directory entries are
// patched to hold control characters, unpaired UTF-16 surrogates and bytes
// of no code page. Every document must parse, every key is camelCase, and
// the text listing shows control characters as escapes.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <regex>
#include <string>

#include <nlohmann/json.hpp>

#include "cli/cli_run.h"
#include "support/test_paths.h"

namespace ambrel::test {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

void PutU16(std::string& bytes, std::size_t at, unsigned value) {
  bytes[at] = static_cast<char>(value & 0xFF);
  bytes[at + 1] = static_cast<char>(value >> 8);
}

// A FAT16 image with two files whose names are damaged in place:
//  - the long name "LongNameAAAAAAAAAAAA.txt": its units 2-5 become ESC,
//    a lone high surrogate, a line feed and a lone low surrogate;
//  - the short name "SHORTX.TXT" (no long name): bytes 0x81 0xFF 0x01 'O' 0x7F 'X'.
// Empty when the tools are missing.
std::string MakeCraftedNamesImage() {
  if (!HaveTool("mkfs.vfat") || !HaveTool("mcopy")) return {};
  const std::string dir = TempDir("cli-crafted");
  const std::string image = dir + "/crafted.img", file = dir + "/a.txt";
  WriteFileBytes(file, "hello\n");
  const std::string q = Quoted(image);
  if (!Shell("truncate -s 64M " + q + " && mkfs.vfat -g 255/63 -F 16 -n CRAFT " + q + " >/dev/null &&"
             " MTOOLS_SKIP_CHECK=1 mcopy -i " + q + " " + Quoted(file) + " ::/LongNameAAAAAAAAAAAA.txt &&"
             " MTOOLS_SKIP_CHECK=1 mcopy -i " + q + " " + Quoted(file) + " ::/SHORTX.TXT"))
    return {};
  std::string bytes = ReadFileBytes(image);
  const std::size_t lfn = bytes.find(std::string("L\0o\0n\0g\0", 8));
  const std::size_t shortName = bytes.find("SHORTX  TXT");
  if (lfn == std::string::npos || shortName == std::string::npos) return {};
  const std::size_t entry = lfn - 1;  // the long-name entry's first unit is at offset 1
  PutU16(bytes, entry + 3, 0x001B);
  PutU16(bytes, entry + 5, 0xD800);
  PutU16(bytes, entry + 7, 0x000A);
  PutU16(bytes, entry + 9, 0xDC00);
  bytes.replace(shortName, 6, std::string("\x81\xFF\x01O\x7FX", 6));
  WriteFileBytes(image, bytes);
  return image;
}

// Every object key of the document, at any depth.
void ForEachKey(const json& j, const std::function<void(const std::string&)>& visit) {
  if (j.is_object()) {
    for (auto it = j.begin(); it != j.end(); ++it) {
      visit(it.key());
      ForEachKey(it.value(), visit);
    }
  } else if (j.is_array()) {
    for (const json& e : j) ForEachKey(e, visit);
  }
}

void ExpectCamelCaseKeys(const json& document, const std::string& what) {
  static const std::regex camel("[a-z][a-zA-Z0-9]*");
  ForEachKey(document, [&](const std::string& key) {
    EXPECT_TRUE(std::regex_match(key, camel)) << what << ": key '" << key << "'";
  });
}

json ParseOutput(const CliOutput& r) {
  json document = json::parse(r.out, nullptr, false);
  EXPECT_FALSE(document.is_discarded()) << r.out;
  return document;
}

class CliJson : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(BinaryDir() + "/cli/ambrel-cli")) GTEST_SKIP() << "ambrel-cli not built";
  }
};

TEST_F(CliJson, EveryCommandWritesCamelCaseKeys) {
  const std::string disk = Quoted(FixtureImage("disk-mbr"));
  const std::string out = TempDir("cli-json-keys");
  const CliOutput info = RunAmbrelCli("info --json " + disk);
  const CliOutput list = RunAmbrelCli("list --json " + disk);
  const CliOutput recover = RunAmbrelCli("recover --json --partition 1 " + disk + " --out " + Quoted(out));
  ASSERT_EQ(info.status, 0) << info.err;
  ASSERT_EQ(list.status, 0) << list.err;
  ASSERT_EQ(recover.status, 0) << recover.err;
  const json infoJson = ParseOutput(info);
  ExpectCamelCaseKeys(infoJson, "info");
  ExpectCamelCaseKeys(ParseOutput(list), "list");
  const json recoverJson = ParseOutput(recover);
  ExpectCamelCaseKeys(recoverJson, "recover");
  EXPECT_EQ(infoJson["partitionTable"], "mbr");
  for (const char* key : {"displayName", "freeSectors", "kindName", "fsName", "diskNumber"})
    EXPECT_TRUE(infoJson["volumes"][0].contains(key)) << key;
  EXPECT_EQ(recoverJson["status"], 0);
  EXPECT_TRUE(recoverJson["completed"].get<bool>());

  const CliOutput devices = RunAmbrelCli("devices --json");
  if (devices.status == 0) ExpectCamelCaseKeys(ParseOutput(devices), "devices");
}

TEST_F(CliJson, CraftedNamesStayValidJson) {
  const std::string image = MakeCraftedNamesImage();
  if (image.empty()) GTEST_SKIP() << "mkfs.vfat or mtools missing";
  const CliOutput r = RunAmbrelCli("list --json " + Quoted(image));
  ASSERT_EQ(r.status, 0) << r.err;
  const json document = ParseOutput(r);
  ASSERT_TRUE(document.is_array() && document.size() == 1) << r.out;
  std::vector<std::string> paths;
  for (const json& e : document[0]["entries"]) paths.push_back(e["path"].get<std::string>());
  ASSERT_EQ(paths.size(), 2u) << r.out;
  const std::string replacement = "\xEF\xBF\xBD";
  // The surrogates are U+FFFD, the control characters kept as characters.
  EXPECT_NE(std::find(paths.begin(), paths.end(), "L\x1b" + replacement + "\n" + replacement + "ameAAAAAAAAAAAA.txt"),
            paths.end())
      << r.out;
  bool shortSeen = false;
  for (const std::string& p : paths)
    if (p.size() > 7 && p.compare(p.size() - 7, 7, "O\x7FX.TXT") == 0) {
      shortSeen = true;
      EXPECT_NE(p.find('\x01'), std::string::npos);
      EXPECT_EQ(json::parse(json(p).dump()), json(p));  // valid UTF-8 throughout
    }
  EXPECT_TRUE(shortSeen) << r.out;
}

TEST_F(CliJson, PathsThatAreNotUtf8StayValidJson) {
  // A file name from the file system holding the image is bytes, not text:
  // an invalid byte, an encoded surrogate and an overlong form.
  const std::string dir = TempDir("cli-json-path");
  const std::string image = dir + "/bad\xFF\xED\xA0\x80\xC0\xAF-\x1b.img";
  ASSERT_TRUE(CopyImage(FixtureImage("fat32-basic"), image));
  const CliOutput info = RunAmbrelCli("info --json " + Quoted(image));
  ASSERT_EQ(info.status, 0) << info.err;
  const json document = ParseOutput(info);
  const std::string path = document["path"].get<std::string>();
  EXPECT_EQ(path.find('\xFF'), std::string::npos);
  EXPECT_NE(path.find("\xEF\xBF\xBD"), std::string::npos) << path;
  EXPECT_NE(path.find("-\x1b.img"), std::string::npos);

  const std::string out = TempDir("cli-json-path-out");
  const CliOutput recover = RunAmbrelCli("recover --json " + Quoted(image) + " --out " + Quoted(out));
  EXPECT_EQ(recover.status, 0) << recover.err;
  const json summary = ParseOutput(recover);
  EXPECT_EQ(summary["source"].get<std::string>(), path);

  const CliOutput text = RunAmbrelCli("info " + Quoted(image));
  EXPECT_NE(text.out.find("-\\x1b.img"), std::string::npos) << text.out;
  EXPECT_EQ(text.out.find('\x1b'), std::string::npos);
}

TEST_F(CliJson, TextListingEscapesControlCharacters) {
  const std::string image = MakeCraftedNamesImage();
  if (image.empty()) GTEST_SKIP() << "mkfs.vfat or mtools missing";
  const CliOutput r = RunAmbrelCli("list " + Quoted(image));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("  L\\x1b\xEF\xBF\xBD\\n\xEF\xBF\xBD" "ameAAAAAAAAAAAA.txt\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\\x01O\\x7fX.TXT\n"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("\xC2\x81"), std::string::npos) << "a C1 control is escaped too";
  for (char c : r.out) {
    const auto u = static_cast<unsigned char>(c);
    EXPECT_TRUE(u >= 0x20 || c == '\n') << "raw control character " << int(u);
    EXPECT_NE(u, 0x7F);
  }
  // One line per entry plus the volume line: the line feed did not split a name.
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 3) << r.out;
}

}  // namespace
}  // namespace ambrel::test
