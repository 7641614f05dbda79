// Word and Excel 97-2003 text against catdoc / xls2csv, and the text rules
// on crafted documents.
#include <gtest/gtest.h>

#include "preview/document_text.h"
#include "preview/excel_text.h"
#include "preview/preview_test_support.h"
#include "preview/word_text.h"

namespace ambrel {
namespace {

using test::PutU16;
using test::PutU32;

// Share of the oracle's words that appear, in order, in our text.
double OracleCoverage(const std::string& oracleText, const std::u16string& ours) {
  // catdoc prints stray single characters for some binary runs: compare
  // the words of three bytes or more.
  std::vector<std::string> words;
  for (auto& w : test::Words(oracleText))
    if (w.size() >= 3) words.push_back(w);
  if (words.empty()) return 1.0;
  return double(test::WordsInOrder(words, test::ToUtf8(ours))) / double(words.size());
}

TEST(WordText, CorpusDocumentsMatchCatdoc) {
  const auto files = test::CorpusFiles("doc");
  if (files.empty()) GTEST_SKIP() << "no corpus";
  if (!test::HaveTool("catdoc")) GTEST_SKIP() << "catdoc missing";
  for (const auto& path : files) {
    auto bytes = test::ReadBytes(path);
    auto text = ExtractDocumentText(36, bytes);
    ASSERT_TRUE(text) << path;
    EXPECT_TRUE(test::ValidUtf16(*text)) << path;
    const std::string oracle = test::RunCommand("catdoc -d utf-8 " + test::ShellQuote(path));
    const double coverage = OracleCoverage(oracle, *text);
    std::printf("%s: %zu oracle words, %.1f%% in order\n", path.c_str(),
                test::Words(oracle).size(), coverage * 100);
    // A fast-saved document (rasp.doc) keeps pieces out of file order,
    // which catdoc follows: a few words then come in another order.
    EXPECT_GE(coverage, 0.90) << path;
  }
}

TEST(ExcelText, CorpusWorkbooksMatchXls2csv) {
  const auto files = test::CorpusFiles("xls");
  if (files.empty()) GTEST_SKIP() << "no corpus";
  if (!test::HaveTool("xls2csv")) GTEST_SKIP() << "xls2csv missing";
  for (const auto& path : files) {
    auto bytes = test::ReadBytes(path);
    auto text = ExtractDocumentText(87, bytes);
    if (path.find("_95") != std::string::npos) {
      // Excel 95 keeps its cells in a "Book" stream without a string table.
      EXPECT_FALSE(text) << path;
      continue;
    }
    ASSERT_TRUE(text) << path;
    EXPECT_TRUE(test::ValidUtf16(*text)) << path;
    // Numbers are cells of their own, not shared strings: compare words.
    std::string oracle = test::RunCommand("xls2csv -d utf-8 " + test::ShellQuote(path));
    std::vector<std::string> words;
    for (auto& w : test::Words(oracle))
      if (w.find_first_not_of("0123456789") != std::string::npos) words.push_back(w);
    const std::string ours = test::ToUtf8(*text);
    std::size_t found = 0;
    for (const auto& w : words) found += ours.find(w) != std::string::npos;
    std::printf("%s: %zu oracle words, %zu found\n", path.c_str(), words.size(), found);
    // xls2csv garbles one UTF-16 name of chinese-provinces.xls.
    EXPECT_GE(found * 100, words.size() * 85) << path;
  }
}

// A WordDocument stream with the CLX offset at 0x1A2 and a table stream
// holding one CLX of the given pieces: {first cp, last cp, fc}.
struct Piece {
  std::uint32_t first, limit, fc;
};

std::vector<std::uint8_t> WordFile(const std::vector<std::uint8_t>& document,
                                   const std::vector<Piece>& pieces, const char* tableName) {
  std::vector<std::uint8_t> wd = document;
  wd.resize(std::max<std::size_t>(wd.size(), 4096), 0);
  PutU32(wd, 0x1A2, 16);   // CLX at offset 16 of the table stream
  std::vector<std::uint8_t> table(16, 0);
  table.push_back(0x02);
  const std::uint32_t n = static_cast<std::uint32_t>(pieces.size());
  PutU32(table, 17, 4 * (n + 1) + 8 * n);
  std::size_t at = 21;
  for (const auto& p : pieces) PutU32(table, at, p.first), at += 4;
  PutU32(table, at, pieces.back().limit), at += 4;
  for (const auto& p : pieces) {
    PutU16(table, at, 0);
    PutU32(table, at + 2, p.fc);
    PutU16(table, at + 6, 0);
    at += 8;
  }
  table.resize(4096, 0);
  return test::BuildCompound({{"WordDocument", wd}, {tableName, table}});
}

std::vector<std::uint8_t> WithText(std::size_t at, const std::string& ascii, bool wide) {
  std::vector<std::uint8_t> doc(4096, 0);
  for (std::size_t i = 0; i < ascii.size(); ++i) {
    if (wide) PutU16(doc, at + 2 * i, std::uint8_t(ascii[i]));
    else doc[at + i] = std::uint8_t(ascii[i]);
  }
  return doc;
}

TEST(WordText, WithoutOneTableTheZeroTableIsRead) {
  auto file = WordFile(WithText(0x800, "Hello", true), {{0, 5, 0x800}}, "0Table");
  auto text = ExtractWordText(file);
  ASSERT_TRUE(text);
  EXPECT_EQ(*text, u"Hello");
}

TEST(WordText, PieceWithBit30IsEightBitAtHalfTheOffset) {
  auto file = WordFile(WithText(0x900, "Plain", false), {{0, 5, 0x40000000u | 0x1200}}, "1Table");
  auto text = ExtractWordText(file);
  ASSERT_TRUE(text);
  EXPECT_EQ(*text, u"Plain");
}

TEST(WordText, ParagraphMarksCollapseAndControlsBecomeSpaces) {
  auto file = WordFile(WithText(0x800, "a\r\r\rb\x07" "c\td", false),
                       {{0, 9, 0x40000000u | 0x1000}}, "1Table");
  auto text = ExtractWordText(file);
  ASSERT_TRUE(text);
  EXPECT_EQ(*text, u"a\r\nb c\td");
}

TEST(WordText, PieceOutsideTheStreamEndsTheWalk) {
  auto file = WordFile(WithText(0x800, "Keep", true), {{0, 4, 0x800}, {4, 9, 0x7FFF0000}},
                       "1Table");
  auto text = ExtractWordText(file);
  ASSERT_TRUE(text);
  EXPECT_EQ(*text, u"Keep");
  auto nothing = WordFile(WithText(0x800, "x", true), {{0, 4, 0x3FFFFFF0}}, "1Table");
  EXPECT_FALSE(ExtractWordText(nothing));
}

TEST(WordText, HugePieceIsCutToTheTextBuffer) {
  auto file = WordFile(std::vector<std::uint8_t>(0x30000, 'z'), {{0, 0x30000, 0x40000000u}},
                       "1Table");
  auto text = ExtractWordText(file);
  ASSERT_TRUE(text);
  EXPECT_EQ(text->size(), 0x10000u);
}

TEST(WordText, UnpairedSurrogatesBecomeReplacementCharacters) {
  std::vector<std::uint8_t> doc(4096, 0);
  PutU16(doc, 0x800, 'a');
  PutU16(doc, 0x802, 0xD800);
  PutU16(doc, 0x804, 'b');
  auto text = ExtractWordText(WordFile(doc, {{0, 3, 0x800}}, "1Table"));
  ASSERT_TRUE(text);
  EXPECT_EQ(*text, u"a\uFFFDb");
}

// A Workbook stream of BIFF records.
void Record(std::vector<std::uint8_t>& s, std::uint16_t id, const std::vector<std::uint8_t>& body) {
  const std::size_t at = s.size();
  PutU16(s, at, id);
  PutU16(s, at + 2, static_cast<std::uint16_t>(body.size()));
  s.insert(s.end(), body.begin(), body.end());
}

std::vector<std::uint8_t> SharedStringCell(std::uint32_t index) {
  std::vector<std::uint8_t> body(10, 0);
  PutU32(body, 6, index);
  return body;
}

std::vector<std::uint8_t> Workbook() {
  std::vector<std::uint8_t> s;
  Record(s, 0x0085, {0, 0, 0, 0, 0, 0, 6, 0, 'S', 'h', 'e', 'e', 't', '1'});
  std::vector<std::uint8_t> sst(8, 0);
  PutU32(sst, 4, 2);
  for (const char* str : {"50%", "two"}) {
    const std::size_t at = sst.size();
    PutU16(sst, at, 3);
    sst.push_back(0);
    sst.insert(sst.end(), str, str + 3);
  }
  Record(s, 0x00FC, sst);
  Record(s, 0x00FD, SharedStringCell(0));
  Record(s, 0x00FD, SharedStringCell(1));
  Record(s, 0x00FD, SharedStringCell(7));   // no such string
  Record(s, 0x000A, {});                     // end of the globals substream
  Record(s, 0x00FD, SharedStringCell(1));   // a cell of the first sheet
  return s;
}

TEST(ExcelText, SheetNamesAndSharedStringsWithPercentDoubled) {
  auto file = test::BuildCompound({{"Workbook", [] { auto w = Workbook(); w.resize(4096, 0); return w; }()}});
  auto text = ExtractExcelText(file);
  ASSERT_TRUE(text);
  EXPECT_EQ(*text, u"Sheet1 | 50%% | two | two");
}

TEST(ExcelText, StringRunningPastTheStreamEndsTheTable) {
  std::vector<std::uint8_t> s;
  std::vector<std::uint8_t> sst(8, 0);
  PutU32(sst, 4, 0xFFFFFFFF);
  PutU16(sst, 8, 3);
  sst.push_back(0);
  sst.insert(sst.end(), {'a', 'b', 'c'});
  PutU16(sst, sst.size(), 0xFFFF);   // 65535 characters that are not there
  sst.push_back(1);
  Record(s, 0x00FC, sst);
  auto strings = ReadSharedStrings(ByteCursor(s.data(), s.size()), 4);
  ASSERT_EQ(strings.size(), 1u);
  EXPECT_EQ(strings[0], u"abc");
}

TEST(ExcelText, LongStringsAreCut) {
  std::vector<std::uint8_t> sst(8, 0);
  PutU32(sst, 4, 1);
  PutU16(sst, 8, 2000);
  sst.push_back(1);   // UTF-16
  for (int i = 0; i < 2000; ++i) PutU16(sst, sst.size(), u'x');
  auto strings = ReadSharedStrings(ByteCursor(sst.data(), sst.size()), 0);
  ASSERT_EQ(strings.size(), 1u);
  EXPECT_EQ(strings[0].size(), 512u);
}

TEST(DocumentText, DataOfAtMost1023BytesYieldsNothing) {
  const auto files = test::CorpusFiles("doc");
  if (files.empty()) GTEST_SKIP() << "no corpus";
  auto bytes = test::ReadBytes(files.front());
  EXPECT_FALSE(ExtractDocumentText(36, ByteSpan(bytes.data(), 1023)));
  EXPECT_FALSE(ExtractDocumentText(40, bytes));   // a type without a reader
}

}  // namespace
}  // namespace ambrel
