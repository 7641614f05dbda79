#include "app/resource_pack.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "app/pack_builder.h"
#include "app/settings.h"
#include "app/startup.h"
#include "common/text.h"
#include "diag/log.h"
#include "platform/files.h"
#include "support/test_paths.h"

namespace ambrel {
namespace {

using test::Bytes;
using test::TextBytes;
using test::Utf16File;

const std::vector<std::string> kIdentity = {"Brand:Acme", "Version:V7", "Owner:AcmeOwner"};

std::vector<std::pair<std::string, Bytes>> PackEntries(const std::vector<std::string>& config) {
  return {{"Acme/VerCfg.txt", Utf16File(config)},
          {"Acme/Dlg/MainDlg.bmp", TextBytes("BM-main")},
          {"Acme/Banner/V7.bmp", TextBytes("BM-banner")},
          {"Acme/Other/Splash.bmp", TextBytes("BM-splash")},
          {"Other/Dlg/ChildDlg.bmp", TextBytes("BM-elsewhere")}};
}

const std::vector<std::string> kConfig = {
    "// settings for tests",
    "Default-SaveDir:   Recovered Files    // where copies go",
    "Default-Web:\thttp://acme.example/path//x\t",
    "Default-Splash: 0",
    "V7-Splash: 1",
    "V6-ShowAllFile: 1",
    "//Default-ParseFileSys: 1",
    "Default-ClassifyFile: 1 //",
    "Default-NormalName: Acme",
    "Default-Key: 105abc",
    "Default-MovFragRecovery: 1",
    "Default-SingleRunStr: AcmeGuard",
    "Default-Company: AcmeSoft",
    "Default-LocalName: AcmeRecovery",
    "V7-SaveDir: Out",
    "Default-SaveDir: Ignored because the version line wins",
    "V7-Company:",
};

class PackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = test::TempDir("pack");
    check_ = test::WritePack(folder_, kIdentity, PackEntries(kConfig));
  }
  bool Load() { return LoadSettings(folder_, check_); }
  std::string folder_;
  PackCheck check_;
};

TEST_F(PackTest, LoadsSettingsWithPrefixAndCommentRules) {
  ASSERT_TRUE(Load());
  EXPECT_EQ(*Settings().Find("Brand"), "Acme");
  EXPECT_EQ(*Settings().Find("Owner"), "AcmeOwner");
  // The version line wins over "Default-", wherever it stands in the file.
  EXPECT_EQ(GetSetting("SaveDir"), "Out");
  EXPECT_EQ(GetSetting("SaveDir:"), "Out");
  EXPECT_EQ(GetSetting("  SaveDir "), "Out");
  EXPECT_EQ(*Settings().Find("Default-SaveDir:"), "Ignored because the version line wins");
  EXPECT_EQ(GetSetting("Splash"), "1");
  EXPECT_EQ(GetSetting("Web"), "http://acme.example/path//x");
  EXPECT_EQ(GetSetting("ClassifyFile"), "1");
  EXPECT_EQ(GetSetting("Company"), "");   // defined empty by the version line
  EXPECT_FALSE(SettingOn("ParseFileSys"));  // only in a comment line
  EXPECT_FALSE(SettingOn("ShowAllFile"));   // another version's line
  EXPECT_EQ(Settings().Find("V6-ShowAllFile:"), nullptr);
  // "NormalName" is not an accepted key: absent, and the lookup is logged.
  EXPECT_EQ(GetSetting("NormalName"), "");
  EXPECT_NE(RecentLogText().find("****** Get soft cfg failed: V7 NormalName:"), std::string::npos);
  EXPECT_TRUE(MovFragRecoveryOn());
  EXPECT_FALSE(MtsFragRecoveryOn());
  EXPECT_EQ(VariantKey(), 105);
}

TEST_F(PackTest, OverrideWinsAndUpdatesDerivedValues) {
  ASSERT_TRUE(Load());
  OverrideSetting("Key", "6");
  OverrideSetting("MovFragRecovery:", "0");
  EXPECT_EQ(GetSetting("Key"), "6");
  EXPECT_EQ(VariantKey(), 6);
  EXPECT_FALSE(MovFragRecoveryOn());
}

TEST_F(PackTest, AlteredOrLongerPackIsRefusedAndKeepsNoSettings) {
  Bytes pack;
  ASSERT_TRUE(ReadWholeFile(folder_ + "/Recovery.dat", pack));
  // One byte too many: a zip with trailing garbage would still open.
  Bytes longer = pack;
  longer.push_back(0);
  ASSERT_TRUE(WriteWholeFile(folder_ + "/Recovery.dat", longer.data(), longer.size()));
  EXPECT_FALSE(Load());
  EXPECT_FALSE(SettingsLoaded());
  EXPECT_EQ(Settings().size(), 0u);
  // One byte changed.
  Bytes changed = pack;
  changed[changed.size() / 2] ^= 1;
  ASSERT_TRUE(WriteWholeFile(folder_ + "/Recovery.dat", changed.data(), changed.size()));
  EXPECT_FALSE(Load());
  EXPECT_EQ(Settings().size(), 0u);
  // The pack made for another build.
  ASSERT_TRUE(WriteWholeFile(folder_ + "/Recovery.dat", pack.data(), pack.size()));
  EXPECT_TRUE(Load());
  EXPECT_FALSE(LoadSettings(folder_, PackCheck{check_.size, std::string(32, '0')}));
  EXPECT_FALSE(LoadSettings(folder_, PackCheck{check_.size + 2, check_.md5}));
  RemoveFile(folder_ + "/Recovery.dat");
  EXPECT_FALSE(Load());
}

TEST_F(PackTest, IdentityNeedsBrandVersionAndOwner) {
  auto identity = [&](const std::vector<std::string>& lines) {
    const Bytes b = Utf16File(lines);
    WriteWholeFile(folder_ + "/Base.dat", b.data(), b.size());
    Settings().Clear();
    return LoadIdentity(folder_);
  };
  EXPECT_TRUE(identity({"Brand:Old", "Version:V7", "Owner:O", "Brand:  Acme  "}));
  EXPECT_EQ(*Settings().Find("Brand"), "Acme");
  EXPECT_FALSE(identity({"Brand:Acme", "Owner:O"}));
  EXPECT_FALSE(identity({"Version:V7", "Owner:O"}));
  EXPECT_FALSE(identity({"Brand:Acme", "Version:V7"}));
  EXPECT_FALSE(identity({}));
  ASSERT_TRUE(WriteWholeFile(folder_ + "/Base.dat", "", 0));
  EXPECT_FALSE(LoadIdentity(folder_));
  ASSERT_TRUE(WriteWholeFile(folder_ + "/Base.dat", "\xFF", 1));  // half a character
  EXPECT_FALSE(LoadIdentity(folder_));
}

TEST_F(PackTest, SettingsEntryMustExistWithLines) {
  check_ = test::WritePack(folder_, kIdentity, {{"Other/VerCfg.txt", Utf16File(kConfig)}});
  EXPECT_FALSE(Load());
  check_ = test::WritePack(folder_, kIdentity, {{"Acme/VerCfg.txt", Utf16File({})}});
  EXPECT_FALSE(Load());
  check_ = test::WritePack(folder_, kIdentity, {{"Acme/VerCfg.txt", Utf16File({"// only", "x"})}});
  EXPECT_FALSE(Load());
}

TEST_F(PackTest, SkinsAreFoundByUpperCaseSubstringInLoadOrder) {
  ASSERT_TRUE(Load());
  EXPECT_EQ(SkinCount(), 3u);  // banner, main dialog, splash; the others are missing
  const auto* banner = FindSkin("banner/v7");
  ASSERT_NE(banner, nullptr);
  EXPECT_EQ(std::string(banner->begin(), banner->end()), "BM-banner");
  const auto* first = FindSkin(".BMP");  // the banner comes first in load order
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(std::string(first->begin(), first->end()), "BM-banner");
  const auto* dlg = FindSkin("MainDlg");
  ASSERT_NE(dlg, nullptr);
  EXPECT_EQ(std::string(dlg->begin(), dlg->end()), "BM-main");
  EXPECT_EQ(FindSkin("ChildDlg"), nullptr);  // in another brand folder
}

TEST_F(PackTest, SkinsSurviveAPackThatChangedSizeAfterTheCheck) {
  ASSERT_TRUE(Load());
  Bytes pack;
  ASSERT_TRUE(ReadWholeFile(folder_ + "/Recovery.dat", pack));
  // Shorter than the checked size: only the bytes present are descrambled.
  Bytes shorter(pack.begin(), pack.begin() + static_cast<std::ptrdiff_t>(pack.size() / 2));
  ASSERT_TRUE(WriteWholeFile(folder_ + "/Recovery.dat", shorter.data(), shorter.size()));
  EXPECT_FALSE(LoadSkins(folder_, check_));
  EXPECT_EQ(SkinCount(), 0u);
  // Longer: the added tail stays as it is and the archive still opens.
  Bytes longer = pack;
  longer.insert(longer.end(), 3, 0x11);
  ASSERT_TRUE(WriteWholeFile(folder_ + "/Recovery.dat", longer.data(), longer.size()));
  EXPECT_TRUE(LoadSkins(folder_, check_));
  EXPECT_EQ(SkinCount(), 3u);
}

TEST(ResourcePack, BuiltPackLoadsWithTheDefaults) {
  const std::string folder = test::BinaryDir() + "/cli";
  ASSERT_TRUE(LoadSettings(folder, BuiltPackCheck()));
  EXPECT_TRUE(SettingOn("ParseFileSys"));
  EXPECT_TRUE(SettingOn("ShowAllFile"));
  EXPECT_TRUE(SettingOn("ClassifyFile"));
  for (const char* key : {"SaveDir", "SingleRunStr", "Company", "LocalName"})
    EXPECT_FALSE(GetSetting(key).empty()) << key;
  EXPECT_EQ(SkinCount(), SkinEntryNames(*Settings().Find("Version")).size());
  EXPECT_EQ(SkinCount(), 43u);
}

TEST(ResourcePack, ParseLinesSplitsAtCrLf) {
  std::vector<std::string> lines;
  Bytes b = Utf16File({"a", "", "b\rc", "中文"}, false);
  ASSERT_TRUE(ParseLines(b.data(), b.size() / 2, lines));
  EXPECT_EQ(lines, (std::vector<std::string>{"a", "b\rc", "中文"}));
  b = Utf16File({std::string(1100, 'x')});
  ASSERT_TRUE(ParseLines(b.data(), b.size() / 2, lines));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].size(), 1023u);
  b = Utf16File({});
  EXPECT_FALSE(ParseLines(b.data(), b.size() / 2, lines));  // the mark alone
  EXPECT_FALSE(ParseLines(b.data(), 0, lines));
  b = Utf16File({"", ""});
  EXPECT_FALSE(ParseLines(b.data(), b.size() / 2, lines));
}

TEST(ResourcePack, MatchKeyLineRules) {
  const std::string key = "Default-SaveDir:";
  EXPECT_EQ(MatchKeyLine("Default-SaveDir:  Out Dir  \t// a comment", key), "Out Dir");
  EXPECT_EQ(MatchKeyLine("Default-SaveDir:http://a//b", key), "http://a//b");
  EXPECT_EQ(MatchKeyLine("Default-SaveDir: a //b //c", key), "a");
  EXPECT_EQ(MatchKeyLine("Default-SaveDir:", key), "");
  EXPECT_EQ(MatchKeyLine("//Default-SaveDir: x", key), std::nullopt);
  EXPECT_EQ(MatchKeyLine("// Default-SaveDir: x", key), std::nullopt);
  EXPECT_EQ(MatchKeyLine("V7-SaveDir: x", key), std::nullopt);
  EXPECT_EQ(MatchKeyLine(" Default-SaveDir: x", key), std::nullopt);
  EXPECT_EQ(MatchKeyLine("Default-SaveDirX: x", key), std::nullopt);
  EXPECT_EQ(MatchKeyLine("D", "D"), std::nullopt);  // one character never matches
  EXPECT_EQ(MatchKeyLine("中", "中"), std::nullopt);
  EXPECT_EQ(MatchKeyLine("Brand:Acme", "Brand:"), "Acme");
}

TEST(ResourcePack, ExtractEntryReadsFromMemory) {
  const Bytes zip = test::MakeZip({{"A/x.txt", TextBytes("hello")}, {"A/empty", {}},
                                   {"A/big", Bytes(300000, 7)}});
  Bytes out;
  ASSERT_TRUE(ExtractEntry(zip.data(), zip.size(), "A/x.txt", out));
  EXPECT_EQ(std::string(out.begin(), out.end()), "hello");
  ASSERT_TRUE(ExtractEntry(zip.data(), zip.size(), "A/big", out));
  EXPECT_EQ(out, Bytes(300000, 7));
  EXPECT_TRUE(ExtractEntry(zip.data(), zip.size(), "A/empty", out));
  EXPECT_TRUE(out.empty());
  EXPECT_FALSE(ExtractEntry(zip.data(), zip.size(), "A/missing", out));
  EXPECT_FALSE(ExtractEntry(zip.data(), zip.size() / 2, "A/x.txt", out));
  EXPECT_FALSE(ExtractEntry(zip.data(), 0, "A/x.txt", out));
  Bytes junk(1000, 0x50);
  EXPECT_FALSE(ExtractEntry(junk.data(), junk.size(), "A/x.txt", out));
  // Damaged compressed data is refused, not returned.
  const std::string name = "A/x.txt";
  const auto at = std::search(zip.begin(), zip.end(), name.begin(), name.end()) - zip.begin();
  ASSERT_GT(at, 26);
  Bytes damaged = zip;
  damaged[static_cast<std::size_t>(at) + name.size() + 1] ^= 0x55;  // inside the deflated data
  EXPECT_FALSE(ExtractEntry(damaged.data(), damaged.size(), "A/x.txt", out));
}

}  // namespace
}  // namespace ambrel
