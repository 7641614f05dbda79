// What the preview panel shows of a file's bytes: the dump's exact layout,
// the text tests, and the choice among picture, text and dump.
#include <gtest/gtest.h>

#include <numeric>

#include "common/text.h"
#include "platform/codepage.h"
#include "preview/preview_content.h"
#include "preview/text_encoding.h"
#include "preview_test_support.h"

namespace ambrel {
namespace {

std::vector<std::uint8_t> Bytes(std::string_view s) { return {s.begin(), s.end()}; }
ByteSpan Span(const std::vector<std::uint8_t>& v) { return {v.data(), v.size()}; }

constexpr const char* kHeader =
    "Offset  0  1  2  3  4  5  6  7   8  9  A  B  C  D  E  F                     \r\n";

TEST(HexDump, TwentyBytesGiveAFullAndAPartialLine) {
  std::vector<std::uint8_t> data(20);
  std::iota(data.begin(), data.end(), std::uint8_t{0});
  const std::string dump = HexDump(Span(data));
  const std::string full =
      "000000 00 01 02 03 04 05 06 07  08 09 0A 0B 0C 0D 0E 0F     ................\r\n";
  const std::string part =
      "000001 10 11 12 13                                          ....            ";
  EXPECT_EQ(std::string(kHeader).size(), 78u);
  ASSERT_EQ(full.size(), 78u);
  ASSERT_EQ(part.size(), 76u);
  EXPECT_EQ(dump, kHeader + full + part);
}

TEST(HexDump, CharactersColumnsAndCaps) {
  // Printable bytes as themselves, the rest as dots; a whole last line
  // still ends without a line break.
  const std::vector<std::uint8_t> data = Bytes("Hello, world!\x7f\x80 ");
  const std::string dump = HexDump(Span(data));
  ASSERT_EQ(dump.size(), 78u + 76u);
  EXPECT_EQ(dump.substr(78 + 60, 16), "Hello, world!.. ");
  EXPECT_EQ(dump.substr(78 + 7, 2), "48");   // 'H' under column 0
  EXPECT_EQ(dump.substr(78 + 32, 2), "6F");  // byte 8 after the extra space
  EXPECT_EQ(HexDump({}), kHeader);
  // Only 0x10000 bytes are dumped: 4096 lines, the last numbered FFF.
  const std::vector<std::uint8_t> big(0x10000 + 100, 0x41);
  const std::string capped = HexDump(Span(big));
  EXPECT_EQ(capped.size(), 78u * 4096 + 76u);
  EXPECT_EQ(capped.substr(capped.size() - 76, 6), "000FFF");
}

TEST(TextTests, AnsiDoubleByteAndBlockEnds) {
  EXPECT_TRUE(LooksLikeAnsiText(Span(Bytes("plain text\r\n\twith tabs"))));
  EXPECT_TRUE(LooksLikeAnsiText(Span(Bytes("\xc4\xe3\xba\xc3 GBK"))));  // 你好
  EXPECT_FALSE(LooksLikeAnsiText(Span(Bytes("nul\x01"))));
  EXPECT_FALSE(LooksLikeAnsiText(Span(Bytes("a\xc4" "b"))));  // a lone lead byte
  // Leading double-byte halves (a character cut by the start) are skipped.
  EXPECT_TRUE(LooksLikeAnsiText(Span(Bytes("\xe3text"))));
  // A lone lead byte is allowed as the last byte of a 512-byte block.
  std::vector<std::uint8_t> block(1024, 'a');
  block[511] = 0xC4;
  EXPECT_TRUE(LooksLikeAnsiText(Span(block)));
  block[511] = 'a';
  block[510] = 0xC4;
  block[512] = 0xC4;
  block[511] = 'b';
  EXPECT_FALSE(LooksLikeAnsiText(Span(block)));
  // Only the first 1024 bytes are looked at.
  std::vector<std::uint8_t> tail(2048, 'a');
  tail[1500] = 0;
  EXPECT_TRUE(LooksLikeAnsiText(Span(tail)));
}

TEST(TextTests, Utf8OfShortSequencesOnly) {
  EXPECT_TRUE(IsValidShortUtf8(Span(Bytes("ascii"))));
  EXPECT_TRUE(IsValidShortUtf8(Span(Bytes("\xe4\xbd\xa0\xc3\xa9"))));
  EXPECT_TRUE(IsValidShortUtf8(Span(Bytes("cut \xe4\xbd"))));  // cut by the end
  EXPECT_FALSE(IsValidShortUtf8(Span(Bytes("\xf0\x9f\x98\x80"))));  // four bytes
  EXPECT_FALSE(IsValidShortUtf8(Span(Bytes("\xe4x\xa0"))));
  EXPECT_FALSE(IsValidShortUtf8(Span(Bytes("\xa0"))));
}

TEST(TextTests, Utf16Plausibility) {
  std::u16string good = u"Hello 你好\r\n";
  std::vector<std::uint8_t> bytes;
  for (char16_t c : good) {
    bytes.push_back(std::uint8_t(c));
    bytes.push_back(std::uint8_t(c >> 8));
  }
  EXPECT_TRUE(LooksLikeUtf16Text(Span(bytes)));
  std::vector<std::uint8_t> binary(64);
  std::iota(binary.begin(), binary.end(), std::uint8_t{0});
  EXPECT_FALSE(LooksLikeUtf16Text(Span(binary)));
  EXPECT_FALSE(LooksLikeUtf16Text({}));
}

TEST(TextTests, DecodeByMarkThenUtf8ThenAnsi) {
  // A UTF-8 mark wins even when the bytes are not valid UTF-8 further on.
  EXPECT_EQ(DecodeTextFile(Span(Bytes("\xef\xbb\xbf" "ab\xff" "c"))), u"ab\uFFFDc");
  // FF FE marks little-endian UTF-16, FE FF big-endian.
  EXPECT_EQ(DecodeTextFile(Span(Bytes(std::string("\xff\xfe" "A\0B\0", 6)))), u"AB");
  EXPECT_EQ(DecodeTextFile(Span(Bytes(std::string("\xfe\xff" "\0A\x4f\x60", 6)))), u"A你");
  EXPECT_EQ(DecodeTextFile(Span(Bytes("\xe4\xbd\xa0"))), u"你");
  EXPECT_EQ(DecodeTextFile(Span(Bytes("\xc4\xe3\xba\xc3"))), u"你好");  // GBK
  const std::vector<std::uint8_t> long_(0x30000, 'x');
  EXPECT_EQ(DecodeTextFile(Span(long_)).size() * 2, kPreviewTextBytes);
}

// Texts without a mark in the encodings users keep them in: the detector
// names Big5, Shift_JIS and EUC-KR texts, whose byte pairs GBK would also
// decode (wrongly); GBK stays the reading for Chinese texts and wherever the
// detector is unsure; a Latin text that GBK cannot decode reads as
// Windows-1252.
TEST(TextTests, UnmarkedTextsInTheirOwnEncoding) {
  auto encoded = [](const std::string& utf8, const char* encoding) { return Bytes(ToAnsiIn(utf8, encoding)); };
  auto decoded = [](const std::vector<std::uint8_t>& bytes) { return Utf16ToUtf8(DecodeTextFile(Span(bytes))); };
  const std::string big5 = "這是一個繁體中文的文字檔案，用來測試預覽是否能正確地辨認編碼。我們在台灣使用這種編碼已經很多年了。";
  EXPECT_EQ(decoded(encoded(big5, "BIG5")), big5);
  const std::string sjis = "これは日本語のテキストファイルです。プレビューが正しく文字コードを認識できるかを確認します。";
  EXPECT_EQ(decoded(encoded(sjis, "SHIFT_JIS")), sjis);
  const std::string korean = "이것은 한국어 텍스트 파일입니다. 미리 보기가 인코딩을 올바르게 인식하는지 확인합니다.";
  EXPECT_EQ(decoded(encoded(korean, "EUC-KR")), korean);
  const std::string gbk = "这是一个简体中文的文本文件，用来测试预览是否能正确地识别编码。";
  EXPECT_EQ(decoded(encoded(gbk, "GBK")), gbk);
  EXPECT_EQ(decoded(encoded("你好", "GBK")), "你好");
  const std::string latin = "Le café est très bon à Paris, où l'on mange des crêpes. Über große Straßen.";
  EXPECT_EQ(decoded(encoded(latin, "WINDOWS-1252")), latin);
  EXPECT_EQ(DetectTextEncoding(Span(Bytes("plain ascii"))), "");
}

TEST(PreviewContent, KindByTypeAndBytes) {
  const auto text = Bytes("just some words\r\n");
  // A text file type, a plain-looking file of another type, an unknown type.
  EXPECT_EQ(BuildPreviewContent(165, text, text.size(), false).kind, PreviewKind::kText);
  EXPECT_EQ(BuildPreviewContent(165, text, text.size(), false).text, u"just some words\r\n");
  EXPECT_EQ(BuildPreviewContent(60, text, text.size(), false).kind, PreviewKind::kText);
  EXPECT_EQ(BuildPreviewContent(60, text, text.size(), true).kind, PreviewKind::kHex);
  // A picture type is a picture whatever its bytes.
  const auto junk = Bytes("\x01\x02\x03");
  PreviewContent image = BuildPreviewContent(46, junk, junk.size(), false);
  EXPECT_EQ(image.kind, PreviewKind::kImage);
  EXPECT_EQ(image.data, junk);
  // Plain text only below 0x20000 bytes.
  EXPECT_EQ(BuildPreviewContent(60, text, kPlainTextLimit, false).kind, PreviewKind::kHex);
  // A small UTF-16 file with its mark.
  const auto utf16 = Bytes(std::string("\xff\xfeH\0i\0", 6));
  PreviewContent u = BuildPreviewContent(60, utf16, utf16.size(), false);
  EXPECT_EQ(u.kind, PreviewKind::kText);
  EXPECT_EQ(u.text, u"Hi");
  EXPECT_EQ(BuildPreviewContent(60, utf16, 1280, false).kind, PreviewKind::kHex);
  // A broken document falls back to the dump.
  std::vector<std::uint8_t> notDoc(2000, 0x01);
  EXPECT_EQ(BuildPreviewContent(36, notDoc, notDoc.size(), false).kind, PreviewKind::kHex);
}

TEST(PreviewContent, TypeCodesAndSignatures) {
  EXPECT_EQ(PreviewTypeCode(238, "notes.txt"), 165u);
  EXPECT_EQ(PreviewTypeCode(238, "blob.bin"), 238u);
  EXPECT_EQ(PreviewTypeCode(46, "a.txt"), 46u);
  EXPECT_TRUE(HasImageSignature(Span(Bytes("\xff\xd8\xff"))));
  EXPECT_TRUE(HasImageSignature(Span(Bytes(std::string("MM\0*", 4)))));
  EXPECT_TRUE(HasImageSignature(Span(Bytes(std::string("\0\0\1\0", 4)))));
  EXPECT_FALSE(HasImageSignature(Span(Bytes("MZ"))));
  EXPECT_FALSE(HasImageSignature({}));
}

}  // namespace
}  // namespace ambrel
