// Zip and rar listings against zipinfo and 7z, and crafted archives.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>

#include "preview/archive_listing.h"
#include "preview/document_text.h"
#include "preview/preview_test_support.h"
#include "support/test_paths.h"

namespace ambrel {
namespace {

struct Member {
  std::string name;
  std::uint64_t size = 0, packed = 0;
  bool folder = false;
};

std::vector<Member> SevenZipMembers(const std::string& path) {
  std::vector<Member> members;
  std::istringstream in(test::RunCommand("7z l -slt " + test::ShellQuote(path)));
  std::string line;
  bool started = false;
  while (std::getline(in, line)) {
    if (line == "----------") started = true;
    if (!started) continue;
    if (line.rfind("Path = ", 0) == 0) members.push_back({line.substr(7)});
    if (members.empty()) continue;
    if (line.rfind("Size = ", 0) == 0) members.back().size = std::stoull(line.substr(7));
    if (line.rfind("Packed Size = ", 0) == 0 && line.size() > 14)
      members.back().packed = std::stoull(line.substr(14));
    if (line == "Folder = +") members.back().folder = true;
  }
  return members;
}

// zipinfo -l: perms version os size type packed method date name...
std::vector<Member> ZipinfoMembers(const std::string& path) {
  std::vector<Member> members;
  std::istringstream in(test::RunCommand("zipinfo -l -T " + test::ShellQuote(path)));
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream f(line);
    std::string perms, version, os, size, type, packed, method, date;
    if (!(f >> perms >> version >> os >> size >> type >> packed >> method >> date)) continue;
    if (size.find_first_not_of("0123456789") != std::string::npos ||
        packed.find_first_not_of("0123456789") != std::string::npos)
      continue;
    std::string name;
    std::getline(f, name);
    members.push_back({name.substr(1), std::stoull(size), std::stoull(packed)});
  }
  return members;
}


TEST(ListZip, CorpusArchivesMatchZipinfo) {
  std::vector<std::string> files = test::CorpusFiles("zip");
  for (const char* folder : {"docx", "xlsx"}) {
    auto more = test::CorpusFiles(folder);
    files.insert(files.end(), more.begin(), more.end());
  }
  if (files.empty()) GTEST_SKIP() << "no corpus";
  if (!test::HaveTool("zipinfo")) GTEST_SKIP() << "zipinfo missing";
  for (const auto& path : files) {
    auto listing = ExtractDocumentText(61, test::ReadBytes(path));
    if (std::filesystem::file_size(path) <= 1023) listing = ListZip(test::ReadBytes(path));
    ASSERT_TRUE(listing) << path;
    EXPECT_TRUE(test::ValidUtf16(*listing));
    const std::string text = test::ToUtf8(*listing);
    std::size_t expected = 0, matched = 0;
    for (const auto& m : ZipinfoMembers(path)) {
      if (m.size == 0 || m.packed * 100 / m.size == 0) continue;   // not listed
      ++expected;
      const std::string ratio = std::to_string(m.packed * 100 / m.size) + "%";
      // zipinfo rewrites legacy-code-page names (Shift-JIS here) its own
      // way: for those only the ratio is compared.
      const bool ascii = std::all_of(m.name.begin(), m.name.end(),
                                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
      if (!ascii) {
        matched += text.find("\n" + ratio + " ") != std::string::npos;
        continue;
      }
      const std::size_t at = text.find("   " + m.name + "\r\n");
      if (at != std::string::npos && text.rfind(ratio, at) == text.rfind("\r\n", at) + 2) ++matched;
    }
    const std::size_t lines = std::count(text.begin(), text.end(), '\n') - 1;
    std::printf("%s: %zu listed by zipinfo, %zu lines, %zu matched\n", path.c_str(), expected,
                lines, matched);
    EXPECT_EQ(lines, expected) << path;
    EXPECT_EQ(matched, expected) << path;
  }
}

TEST(ListRar, CorpusArchivesMatchSevenZip) {
  const auto files = test::CorpusFiles("rar");
  if (files.empty()) GTEST_SKIP() << "no corpus";
  if (!test::HaveTool("7z")) GTEST_SKIP() << "7z missing";
  for (const auto& path : files) {
    auto listing = ListRar(test::ReadBytes(path));
    ASSERT_TRUE(listing) << path;
    EXPECT_TRUE(test::ValidUtf16(*listing));
    std::string text = test::ToUtf8(*listing);
    std::replace(text.begin(), text.end(), '\\', '/');
    std::size_t expected = 0, matched = 0;
    for (const auto& m : SevenZipMembers(path)) {
      if (m.folder || m.size == 0) continue;
      ++expected;
      const std::string ratio = std::to_string(m.packed * 100 / m.size) + "%";
      const std::size_t at = text.find("   " + m.name + "\r\n");
      // Solid archives give packed sizes per solid block: check names there.
      if (at != std::string::npos &&
          (m.packed == 0 || text.rfind(ratio, at) == text.rfind("\r\n", at) + 2))
        ++matched;
    }
    const std::size_t lines = std::count(text.begin(), text.end(), '\n') - 1;
    std::printf("%s: %zu files by 7z, %zu lines, %zu matched\n", path.c_str(), expected, lines,
                matched);
    EXPECT_EQ(lines, expected) << path;
    EXPECT_EQ(matched, expected) << path;
  }
}

TEST(ListingLine, TemplatesKeepTheDateColumnAligned) {
  const ListingTime t{2024, 3, 7, 9, 5};
  EXPECT_EQ(ListingLine(5, t, u"a"), u"5%      2024-03-07 09:05   a\r\n");
  EXPECT_EQ(ListingLine(42, t, u"b"), u"42%     2024-03-07 09:05   b\r\n");
  EXPECT_EQ(ListingLine(104, t, u"c"), u"104%    2024-03-07 09:05   c\r\n");
  EXPECT_EQ(RatioPercent(~0ull, ~0ull), 100u);   // no overflow
}

TEST(ListZip, EntryUnderOnePercentIsNotListedButAStoredOneIs) {
  const std::string zeros(100000, '\0');
  std::vector<std::uint8_t> zip;
  // A real deflated member of 100000 zero bytes packs to about 0.1%.
  const std::string dir = test::TempDir("zip-ratio");
  {
    std::FILE* f = std::fopen((dir + "/zeros.bin").c_str(), "wb");
    std::fwrite(zeros.data(), 1, zeros.size(), f);
    std::fclose(f);
    f = std::fopen((dir + "/stored.txt").c_str(), "wb");
    std::fputs("stored text", f);
    std::fclose(f);
  }
  if (!test::HaveTool("zip")) GTEST_SKIP() << "zip missing";
  test::RunCommand("cd " + dir + " && zip -q -9 a.zip zeros.bin && zip -q -0 a.zip stored.txt");
  auto listing = ListZip(test::ReadBytes(dir + "/a.zip"));
  ASSERT_TRUE(listing);
  const std::string text = test::ToUtf8(*listing);
  EXPECT_EQ(text.find("zeros.bin"), std::string::npos);
  EXPECT_NE(text.find("100%    "), std::string::npos);
  EXPECT_NE(text.find("stored.txt"), std::string::npos);
}

std::vector<std::uint8_t> Rar4(std::uint16_t headerSizeOfFile, std::uint32_t packed,
                               std::uint32_t unpacked) {
  std::vector<std::uint8_t> r = {'R', 'a', 'r', '!', 0x1A, 0x07, 0x00};
  std::vector<std::uint8_t> archive(13, 0);
  archive[2] = 0x73;
  test::PutU16(archive, 5, 13);
  r.insert(r.end(), archive.begin(), archive.end());
  std::vector<std::uint8_t> file(32, 0);
  file[2] = 0x74;
  test::PutU16(file, 3, 0x8000);
  test::PutU16(file, 5, headerSizeOfFile);
  test::PutU32(file, 7, packed);
  test::PutU32(file, 11, unpacked);
  test::PutU16(file, 20, (9 << 11) | (30 << 5));      // 09:30
  test::PutU16(file, 22, (44 << 9) | (2 << 5) | 1);   // 2024-02-01
  test::PutU16(file, 26, 5);
  file.insert(file.end(), {'z', '.', 'b', 'i', 'n'});
  r.insert(r.end(), file.begin(), file.end());
  r.insert(r.end(), packed, 0x11);
  std::vector<std::uint8_t> end(7, 0);
  end[2] = 0x7B;
  test::PutU16(end, 5, 7);
  r.insert(r.end(), end.begin(), end.end());
  return r;
}

TEST(ListRar, RatioZeroIsListedUnlikeZip) {
  auto listing = ListRar(Rar4(37, 10, 100000));
  ASSERT_TRUE(listing);
  EXPECT_EQ(*listing, ListingHeader() + u"0%      2024-02-01 09:30   z.bin\r\n");
}

TEST(ListRar, HeaderSizeBelowSevenEndsTheWalk) {
  // A header size of 0 would leave the walk where it is for ever.
  auto rar = Rar4(37, 10, 100);
  test::PutU16(rar, 7 + 5, 0);   // the archive header
  auto listing = ListRar(rar);
  ASSERT_TRUE(listing);
  EXPECT_EQ(*listing, ListingHeader());
  auto rar5 = std::vector<std::uint8_t>{'R', 'a', 'r', '!', 0x1A, 0x07, 0x01, 0x00,
                                        0, 0, 0, 0, 0x00, 0x01, 0x00};
  EXPECT_EQ(*ListRar(rar5), ListingHeader());
}

TEST(ListRar, AddedSizePastTheDataEndsTheWalk) {
  auto rar = Rar4(37, 0xFFFFFF00, 100);
  rar.resize(200);
  auto listing = ListRar(rar);
  ASSERT_TRUE(listing);
  EXPECT_NE(test::ToUtf8(*listing).find("z.bin"), std::string::npos);
}

}  // namespace
}  // namespace ambrel
