// Office Open XML text against docx2txt / xlsx2csv / unzip, the zip record
// walk against the real file sizes, and crafted archives.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "preview/document_text.h"
#include "preview/ooxml_text.h"
#include "preview/preview_test_support.h"
#include "preview/zip_walk.h"

namespace ambrel {
namespace {

using test::BuildStoredZip;

std::vector<std::string> LongWords(const std::string& text) {
  std::vector<std::string> words;
  for (auto& w : test::Words(text))
    if (w.size() >= 3) words.push_back(w);
  return words;
}

void ExpectOracleWords(const std::string& path, const std::u16string& ours,
                       const std::string& oracle, bool inOrder) {
  const auto words = LongWords(oracle);
  const std::string text = test::ToUtf8(ours);
  if (words.empty()) {
    EXPECT_TRUE(LongWords(text).empty()) << path;
    return;
  }
  std::size_t found = 0;
  if (inOrder) {
    found = test::WordsInOrder(words, text);
  } else {
    for (const auto& w : words) found += text.find(w) != std::string::npos;
  }
  std::printf("%s: %zu oracle words, %zu found%s\n", path.c_str(), words.size(), found,
              inOrder ? " in order" : "");
  EXPECT_GE(found * 100, words.size() * 95) << path;
}

TEST(OoxmlText, DocxMatchesDocx2txt) {
  const auto files = test::CorpusFiles("docx");
  if (files.empty()) GTEST_SKIP() << "no corpus";
  if (!test::HaveTool("docx2txt")) GTEST_SKIP() << "docx2txt missing";
  for (const auto& path : files) {
    // A document of empty tables (tbl-having-tables.docx) has no text.
    auto text = ExtractDocumentText(37, test::ReadBytes(path)).value_or(u"");
    EXPECT_TRUE(test::ValidUtf16(text));
    ExpectOracleWords(path, text, test::RunCommand("docx2txt " + test::ShellQuote(path) + " -"),
                      true);
  }
}

TEST(OoxmlText, XlsxSharedStringsMatchXlsx2csv) {
  const auto files = test::CorpusFiles("xlsx");
  if (files.empty()) GTEST_SKIP() << "no corpus";
  if (!test::HaveTool("xlsx2csv")) GTEST_SKIP() << "xlsx2csv missing";
  for (const auto& path : files) {
    auto text = ExtractDocumentText(38, test::ReadBytes(path));
    if (test::RunCommand("unzip -Z1 " + test::ShellQuote(path)).find("xl/sharedStrings.xml") ==
        std::string::npos) {
      EXPECT_FALSE(text) << path << ": no shared strings, no text";
      continue;
    }
    ASSERT_TRUE(text) << path;
    // xlsx2csv prints cells, numbers and sheet titles too; the strings are
    // what the shared-string part holds: compare its words that are not numbers.
    std::string oracle;
    for (const auto& line : test::Words(test::RunCommand("xlsx2csv " + test::ShellQuote(path))))
      if (line.find_first_not_of("0123456789") != std::string::npos) oracle += line + " ";
    ExpectOracleWords(path, *text, oracle, false);
  }
}

TEST(OoxmlText, PptxSlidesMatchUnzip) {
  const auto files = test::CorpusFiles("pptx");
  if (files.empty()) GTEST_SKIP() << "no corpus";
  if (!test::HaveTool("unzip")) GTEST_SKIP() << "unzip missing";
  for (const auto& path : files) {
    auto text = ExtractDocumentText(89, test::ReadBytes(path));
    ASSERT_TRUE(text) << path;
    std::string oracle;
    for (int n = 1; n < 20; ++n) {
      const std::string xml = test::RunCommand("unzip -p " + test::ShellQuote(path) +
                                               " ppt/slides/slide" + std::to_string(n) + ".xml");
      static const std::regex run("<a:t>([^<]*)</a:t>");
      for (std::sregex_iterator it(xml.begin(), xml.end(), run), end; it != end; ++it)
        oracle += (*it)[1].str() + " ";
    }
    ExpectOracleWords(path, *text, oracle, true);
  }
}

TEST(ZipArchiveSize, EveryCorpusArchiveMeasuresItsExactSize) {
  bool any = false;
  const std::pair<const char*, std::uint32_t> folders[] = {
      {"docx", 37}, {"xlsx", 38}, {"pptx", 89}, {"zip", 0}};
  for (const auto& [folder, type] : folders) {
    for (const auto& path : test::CorpusFiles(folder)) {
      any = true;
      auto bytes = test::ReadBytes(path);
      SizeProbe alone = ZipArchiveSize(bytes);
      if (bytes.size() < 512) {
        // Too short to judge: the carver reads more and asks again.
        EXPECT_EQ(alone.result, kWalkNeedMore) << path;
        alone = WalkZipRecords(bytes);
      }
      if (alone.result == kWalkUnknown) {
        std::printf("%s: entries with data descriptors, size unknown\n", path.c_str());
        continue;
      }
      EXPECT_EQ(alone.result, kWalkOk) << path;
      EXPECT_EQ(alone.size, bytes.size()) << path;
      EXPECT_EQ(alone.typeCode, type) << path;
      bytes.insert(bytes.end(), 100000, 0x5A);
      SizeProbe withJunk = ZipArchiveSize(bytes);
      EXPECT_EQ(withJunk.result, kWalkOk) << path;
      EXPECT_EQ(withJunk.size, alone.size) << path;
    }
  }
  if (!any) GTEST_SKIP() << "no corpus";
}

std::string Docx(const std::string& body) {
  return "<?xml version=\"1.0\"?>\r\n<w:document><w:body>" + body + "</w:body></w:document>";
}

std::vector<std::uint8_t> Padded(std::vector<std::uint8_t> zip) {
  zip.resize(std::max<std::size_t>(zip.size(), 2048), 0);
  return zip;
}

TEST(ZipArchiveSize, CraftedArchives) {
  const std::vector<test::ZipMember> members = {
      {"[Content_Types].xml", std::string(1500, ' ')},
      {"word/document.xml", Docx("<w:t>Hi there</w:t>")}};
  auto zip = Padded(BuildStoredZip(members));
  zip.resize(zip.size() + 3000, 0);
  const std::size_t real = BuildStoredZip(members).size();
  SizeProbe probe = ZipArchiveSize(zip);
  EXPECT_EQ(probe.result, kWalkOk);
  EXPECT_EQ(probe.size, real);
  EXPECT_EQ(probe.typeCode, 37u);
  // Cut inside the archive: more data is needed.
  EXPECT_EQ(ZipArchiveSize(ByteSpan(zip.data(), 1000)).result, kWalkNeedMore);
  EXPECT_EQ(ZipArchiveSize(ByteSpan(zip.data(), 100)).result, kWalkNeedMore);
  // A record that is not a zip record.
  std::vector<std::uint8_t> junk(4096, 0x41);
  EXPECT_EQ(ZipArchiveSize(junk).result, kWalkMalformed);
}

TEST(ZipArchiveSize, DataDescriptorAndZip64EntriesGiveSizeUnknown) {
  // Flag bit 3: the sizes follow the data, so the walk cannot skip it.
  auto described = Padded(BuildStoredZip({{"word/document.xml", Docx("<w:t>Described</w:t>")}}, 8));
  EXPECT_EQ(ZipArchiveSize(described).result, kWalkUnknown);
  // The archive itself is fine: its text still comes out.
  auto text = ExtractOoxmlText(37, described);
  ASSERT_TRUE(text);
  EXPECT_EQ(*text, u"Described");
  auto zip64 = Padded(BuildStoredZip({{"a.txt", "abc"}}));
  test::PutU32(zip64, 18, 0xFFFFFFFF);
  EXPECT_EQ(ZipArchiveSize(zip64).result, kWalkUnknown);
}

TEST(ZipArchiveSize, WalkFarBeyondTheDataIsMalformed) {
  auto zip = Padded(BuildStoredZip({{"a.txt", "abc"}}));
  test::PutU32(zip, 18, 0x7FFFFFF0);   // a member that would run 2 GiB on
  EXPECT_EQ(ZipArchiveSize(zip).result, kWalkMalformed);
  test::PutU32(zip, 18, 0x00100000);   // 1 MiB on: the caller may read more
  EXPECT_EQ(ZipArchiveSize(zip).result, kWalkNeedMore);
}

TEST(OoxmlText, SingleCharacterRunYieldsNothing) {
  auto zip = Padded(BuildStoredZip({{"word/document.xml", Docx("<w:t>x</w:t>")}}));
  EXPECT_FALSE(ExtractOoxmlText(37, zip));
  EXPECT_EQ(StripMarkup("<a>x</a><b>yz</b>"), "yz");
}

TEST(OoxmlText, PptxSlidesNumberedFromOneAreRead) {
  std::vector<test::ZipMember> members;
  for (int n = 1; n <= 19; ++n)
    members.push_back({"ppt/slides/slide" + std::to_string(n) + ".xml",
                       "<p:sld><a:t>Slide" + std::to_string(n) + "</a:t></p:sld>"});
  members.push_back({"ppt/slides/slide20.xml", "<a:t>Twenty</a:t>"});
  auto text = ExtractOoxmlText(89, Padded(BuildStoredZip(members)));
  ASSERT_TRUE(text);
  const std::string utf8 = test::ToUtf8(*text);
  EXPECT_EQ(utf8.find("Slide1"), 0u);
  EXPECT_NE(utf8.find("Slide19"), std::string::npos);
  EXPECT_EQ(utf8.find("Twenty"), std::string::npos);
}

TEST(OoxmlText, OnlyTheFirstPartOfAHugeMemberIsRead) {
  std::string body;
  while (body.size() < 0x180000) body += "<w:t>word</w:t>";
  auto zip = Padded(BuildStoredZip({{"word/document.xml", Docx(body + "<w:t>LAST</w:t>")}}));
  auto text = ExtractOoxmlText(37, zip);
  ASSERT_TRUE(text);
  EXPECT_EQ(text->size(), 0x10000u);
  EXPECT_EQ(test::ToUtf8(*text).find("LAST"), std::string::npos);
  // A member that claims 4 GiB is read only as far as its data goes.
  auto lying = Padded(BuildStoredZip({{"word/document.xml", Docx("<w:t>Small</w:t>")}}));
  for (std::size_t i = 0; i + 4 <= lying.size(); ++i) {
    if (lying[i] == 0x50 && lying[i + 1] == 0x4B && lying[i + 2] == 0x01 && lying[i + 3] == 0x02)
      test::PutU32(lying, i + 24, 0xFFFFFFF0);
  }
  test::PutU32(lying, 22, 0xFFFFFFF0);   // the local header says the same
  auto small = ExtractOoxmlText(37, lying);
  ASSERT_TRUE(small);
  EXPECT_EQ(*small, u"Small");
}

TEST(OoxmlText, InvalidUtf8BecomesReplacementCharacters) {
  auto zip = Padded(BuildStoredZip({{"xl/sharedStrings.xml", "<t>ab\xC3\x28\xED\xA0\x80</t>"}}));
  auto text = ExtractOoxmlText(38, zip);
  ASSERT_TRUE(text);
  EXPECT_TRUE(test::ValidUtf16(*text));
  EXPECT_EQ(text->substr(0, 2), u"ab");
}

}  // namespace
}  // namespace ambrel
