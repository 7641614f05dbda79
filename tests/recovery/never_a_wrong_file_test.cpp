// Deleted files whose clusters were given to new files, cross-linked and
// looping chains, exFAT files never written to their end, absurd sizes and
// repeated partition entries, on images made by mkntfs + ntfs-3g, mkfs.vfat
// + mtools and mkfs.exfat + exfat-fuse (then patched). The oracle for an
// overwritten deleted file is The Sleuth Kit: a deleted entry whose icat
// output differs from the file as it was written must not be called intact,
// and one whose icat output is the original must not be called overwritten.
#include <gtest/gtest.h>

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include <nlohmann/json.hpp>

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

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// A deleted FAT entry loses its first character (fls shows "_", the
// listing "!"): names are compared from the second character on, without
// case.
std::string NameKey(const std::string& path) {
  std::string name = path.substr(path.rfind('/') == std::string::npos ? 0 : path.rfind('/') + 1);
  return Lower(name.size() > 1 ? name.substr(1) : name);
}

std::string CommandOutput(const std::string& command) {
  std::string out;
  if (FILE* p = popen(command.c_str(), "r")) {
    char buffer[4096];
    std::size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
    pclose(p);
  }
  return out;
}

// fls -r -p -d: name key -> md5 of icat's output, for the deleted entries
// that are not orphans.
std::map<std::string, std::string> IcatOfDeleted(const std::string& img) {
  std::map<std::string, std::string> out;
  std::istringstream lines(CommandOutput("fls -r -p -d '" + img + "' 2>/dev/null"));
  std::string line;
  while (std::getline(lines, line)) {
    const std::size_t tab = line.find('\t');
    if (tab == std::string::npos || line.find("$OrphanFiles") != std::string::npos) continue;
    std::istringstream head(line.substr(0, tab));
    std::string kind, star, inode;
    head >> kind >> star >> inode;
    if (star != "*" || inode.empty()) continue;
    inode.pop_back();  // the ':'
    const std::string md5 =
        CommandOutput("icat '" + img + "' " + inode + " 2>/dev/null | md5sum | cut -d' ' -f1");
    out[NameKey(line.substr(tab + 1))] = md5.substr(0, 32);
  }
  return out;
}

// The content fixtures/lib.sh `gen SIZE SEED` wrote.
std::string Generated(std::uint64_t size, const std::string& seed) {
  std::string out;
  char record[64];
  for (int i = 0; out.size() < size; ++i) {
    std::snprintf(record, sizeof record, "%s:%08d|\n", seed.c_str(), i);
    out += record;
  }
  out.resize(size);
  return out;
}

struct Listed {
  std::string state;
  unsigned percent = 0;
};

// list --deleted --json: name key -> the state of each deleted file.
std::map<std::string, Listed> ListedDeleted(const std::string& img, const std::string& tag) {
  std::map<std::string, Listed> out;
  const auto r = test::RunCliCommand("list '" + img + "' --deleted --json", tag);
  EXPECT_EQ(r.status, 0) << r.err;
  const json doc = json::parse(r.out, nullptr, false);
  if (!doc.is_array()) return out;
  for (const json& volume : doc)
    for (const json& e : volume["entries"]) {
      if (e["type"] != "file" || !e["deleted"].get<bool>()) continue;
      Listed l;
      l.state = e.value("state", "");
      l.percent = e.value("overwrittenPercent", 0u);
      out[NameKey(e["path"].get<std::string>())] = l;
    }
  return out;
}

class OverwrittenDeletedFiles : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    out_ = test::OtherDeviceFolder(std::string("overwritten-") + GetParam());
    if (out_.empty()) GTEST_SKIP() << "no second file system for the target";
    if (!HaveTools({"fls", "icat"})) GTEST_SKIP() << "sleuthkit missing";
  }
  void TearDown() override {
    if (!out_.empty()) fs::remove_all(out_);
  }
  std::string out_;
};

// [new files over deleted ones] Half of 40 files deleted, then new files
// written: every deleted file whose icat output differs from the original
// is listed (partly) overwritten, every other one intact; recover counts
// only the intact ones as recovered, skips or flags the others, and never
// writes another file's bytes under a deleted file's name.
TEST_P(OverwrittenDeletedFiles, StateMatchesTheSleuthKitAndRecoverNeverCountsThem) {
  const std::string name = std::string(GetParam()) + "-overwritten";
  const std::string img = test::FixtureCopy(name, name);
  ASSERT_FALSE(img.empty());
  std::map<std::string, test::ManifestEntry> written;
  for (const auto& m : test::LoadManifest(name))
    if (!m.directory && m.deleted) written[NameKey(m.path)] = m;
  ASSERT_EQ(written.size(), 20u);

  const auto icat = IcatOfDeleted(img);
  const auto listed = ListedDeleted(img, name + "-list");
  int differ = 0, same = 0, compared = 0;
  for (const auto& [key, m] : written) {
    auto l = listed.find(key);
    auto t = icat.find(key);
    if (t == icat.end()) continue;  // the entry itself was reused
    ASSERT_NE(l, listed.end()) << key << " is listed by fls but not by list";
    ++compared;
    if (t->second != m.md5) {
      ++differ;
      EXPECT_TRUE(l->second.state == "overwritten" || l->second.state == "partly overwritten")
          << key << " differs in icat but is listed " << l->second.state;
      EXPECT_GT(l->second.percent, 0u) << key;
    } else {
      ++same;
      EXPECT_EQ(l->second.state, "intact") << key << " is whole in icat";
      EXPECT_EQ(l->second.percent, 0u) << key;
    }
  }
  EXPECT_GE(compared, 15);
  EXPECT_GT(differ, 0) << "the image holds no overwritten file: the test would prove nothing";
  EXPECT_GT(same, 0);

  const auto r = test::RunCliCommand("recover '" + img + "' --deleted --out '" + out_ + "' --json", name + "-rec");
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  const json summary = json::parse(r.out, nullptr, false);
  ASSERT_TRUE(summary.is_object()) << r.out;
  int intact = 0;
  for (const auto& [key, l] : listed) intact += l.state == "intact";
  EXPECT_EQ(summary["files"].get<int>(), intact);
  int overwrittenReports = 0;
  for (const json& d : summary["damagedFiles"]) {
    const std::string text = d.get<std::string>();
    if (text.find("overwritten") != std::string::npos) ++overwrittenReports;
    EXPECT_TRUE(text.find("skipped, not written") != std::string::npos ||
                text.find("written, flagged damaged") != std::string::npos)
        << text;
  }
  EXPECT_EQ(overwrittenReports, int(listed.size()) - intact);
  // What was written is the file as it was, or a prefix of it.
  int whole = 0;
  for (const auto& [path, size] : test::FilesBelow(out_)) {
    auto m = written.find(NameKey(path));
    if (m == written.end()) continue;
    auto l = listed.find(m->first);
    ASSERT_NE(l, listed.end());
    const std::string data = test::FileText(out_ + "/" + path);
    const std::string key = m->first;  // "ile07.dat"
    const std::string original = Generated(m->second.size, "f" + std::to_string(std::stoi(key.substr(3, 2))));
    EXPECT_EQ(data, original.substr(0, data.size())) << path << " holds bytes that are not its own";
    if (l->second.state == "intact") {
      EXPECT_EQ(test::Md5OfFile(out_ + "/" + path), m->second.md5) << path;
      ++whole;
    } else {
      EXPECT_EQ(l->second.state, "partly overwritten") << path << " was written though overwritten";
      EXPECT_LT(size, m->second.size) << path;
    }
  }
  EXPECT_EQ(whole, intact);
}

INSTANTIATE_TEST_SUITE_P(Volumes, OverwrittenDeletedFiles, ::testing::Values("fat16", "ntfs", "exfat"));

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
std::uint64_t Get64(const std::vector<std::uint8_t>& b, std::size_t at) {
  std::uint64_t v;
  std::memcpy(&v, b.data() + at, 8);
  return v;
}
void Put16(std::vector<std::uint8_t>& b, std::size_t at, std::uint16_t v) { std::memcpy(b.data() + at, &v, 2); }
void Put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) { std::memcpy(b.data() + at, &v, 4); }
void Put64(std::vector<std::uint8_t>& b, std::size_t at, std::uint64_t v) { std::memcpy(b.data() + at, &v, 8); }

std::string Pattern(std::size_t n, int seed) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>('A' + (i / 512 + seed * 5) % 26);
  return s;
}

class DamagedChains : public ::testing::Test {
 protected:
  void SetUp() override {
    out_ = test::OtherDeviceFolder("chains-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    if (out_.empty()) GTEST_SKIP() << "no second file system for the target";
  }
  void TearDown() override {
    if (!out_.empty()) fs::remove_all(out_);
  }
  std::string out_;
};

// [cross-link] On a FAT16 volume of 512-byte clusters, A.DAT (6 clusters),
// B.DAT and C.DAT (4 each) lie in a row; A's second FAT entry is pointed at
// B's third cluster, so A's chain joins B's and ends early. A is written
// only as far as its own clusters go and reported cross-linked with B.DAT;
// C's clusters, which follow B's, never reach A; B and C come out whole.
TEST_F(DamagedChains, ACrossLinkedFat16ChainIsCutAndNamed) {
  if (!HaveTools({"mkfs.vfat", "mcopy"})) GTEST_SKIP() << "mkfs.vfat/mtools missing";
  const std::string dir = test::TempDir("fat16-crosslink");
  const std::string a = Pattern(3000, 1), b = Pattern(2048, 2), c = Pattern(2048, 3);
  std::ofstream(dir + "/A.DAT", std::ios::binary) << a;
  std::ofstream(dir + "/B.DAT", std::ios::binary) << b;
  std::ofstream(dir + "/C.DAT", std::ios::binary) << c;
  const std::string img = dir + "/fat16.img";
  ASSERT_TRUE(test::Shell("truncate -s 16M '" + img + "' && mkfs.vfat -F 16 -s 1 -n XLINK '" + img +
                          "' >/dev/null 2>&1 && MTOOLS_SKIP_CHECK=1 mcopy -i '" + img + "' '" + dir + "/A.DAT' '" +
                          dir + "/B.DAT' '" + dir + "/C.DAT' ::/"));
  auto bytes = test::ReadBytes(img);
  const std::size_t entryA = test::FindBytes(bytes, "A       DAT");
  const std::size_t entryB = test::FindBytes(bytes, "B       DAT");
  ASSERT_NE(entryA, std::string::npos);
  ASSERT_NE(entryB, std::string::npos);
  const std::uint16_t firstA = Get16(bytes, entryA + 26), firstB = Get16(bytes, entryB + 26);
  ASSERT_EQ(firstB, firstA + 6);  // mcopy writes them in a row
  const std::size_t fat = std::size_t{Get16(bytes, 14)} * 512;
  const std::size_t fatBytes = std::size_t{Get16(bytes, 22)} * 512;
  for (int copy = 0; copy < 2; ++copy) Put16(bytes, fat + copy * fatBytes + (firstA + 1) * 2, firstB + 2);
  ASSERT_TRUE(test::WriteBytes(img, bytes));

  const auto list = test::RunCliCommand("list '" + img + "' --json", "xlink-list");
  ASSERT_EQ(list.status, 0) << list.err;
  const json doc = json::parse(list.out, nullptr, false);
  ASSERT_TRUE(doc.is_array());
  std::map<std::string, json> entries;
  for (const json& e : doc[0]["entries"]) entries[e["path"].get<std::string>()] = e;
  EXPECT_EQ(entries["A.DAT"].value("damage", ""), "cross-linked with B.DAT");
  EXPECT_FALSE(entries["A.DAT"].value("whole", true));
  EXPECT_TRUE(entries["B.DAT"].value("whole", false));
  EXPECT_TRUE(entries["C.DAT"].value("whole", false));

  const auto r = test::RunCliCommand("recover '" + img + "' --out '" + out_ + "' --json", "xlink");
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  EXPECT_NE(r.out.find("A.DAT: cross-linked with B.DAT: 1024 of 3000 bytes"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"files\":2,"), std::string::npos) << r.out;
  for (const auto& [path, size] : test::FilesBelow(out_)) {
    const std::string text = test::FileText(out_ + "/" + path);
    if (path.find("A.DAT") != std::string::npos) {
      EXPECT_EQ(text, a.substr(0, 1024));
    } else if (path.find("B.DAT") != std::string::npos) {
      EXPECT_EQ(text, b);
    } else if (path.find("C.DAT") != std::string::npos) {
      EXPECT_EQ(text, c);
    }
    if (path.find("C.DAT") == std::string::npos) {
      EXPECT_EQ(text.find(c.substr(0, 512)), std::string::npos) << path << " holds C's data";
    }
  }
}

// [valid data length] A camera file cut by a power loss: the stream entry
// of "quarterly report.doc" (4097 bytes) says only 16 bytes were written.
// The listing keeps DataLength, recover writes the whole allocation and
// reports the file as partial.
TEST_F(DamagedChains, AnExfatFileWithShortValidDataLengthIsWrittenWholeAndReportedPartial) {
  const std::string img = test::FixtureCopy("exfat-basic", "exfat-vdl");
  ASSERT_FALSE(img.empty());
  auto bytes = test::ReadBytes(img);
  std::string utf16;
  for (char ch : std::string("quarterly repor")) utf16 += std::string{ch, '\0'};
  const std::size_t name = test::FindBytes(bytes, utf16);
  ASSERT_NE(name, std::string::npos);
  const std::size_t stream = name - 2 - 32;
  ASSERT_EQ(bytes[stream], 0xC0);
  ASSERT_EQ(Get64(bytes, stream + 24), 4097u);
  Put64(bytes, stream + 8, 16);
  ASSERT_TRUE(test::WriteBytes(img, bytes));

  const auto list = test::RunCliCommand("list '" + img + "' --json", "vdl-list");
  ASSERT_EQ(list.status, 0) << list.err;
  const json doc = json::parse(list.out, nullptr, false);
  ASSERT_TRUE(doc.is_array());
  bool seen = false;
  for (const json& e : doc[0]["entries"]) {
    if (e["path"].get<std::string>().find("quarterly report.doc") == std::string::npos) continue;
    seen = true;
    EXPECT_EQ(e["size"].get<std::uint64_t>(), 4097u);
    EXPECT_EQ(e.value("damage", ""), "never written past the valid data length (16 bytes valid)");
    EXPECT_FALSE(e.value("whole", true));
  }
  EXPECT_TRUE(seen);

  const auto r = test::RunCliCommand("recover '" + img + "' --present --out '" + out_ + "' --json", "vdl");
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  EXPECT_NE(r.out.find("quarterly report.doc: partial: never written past the valid data length: 16 of 4097 bytes "
                       "valid; written, flagged damaged"),
            std::string::npos)
      << r.out;
  std::string md5;
  for (const auto& m : test::LoadManifest("exfat-basic"))
    if (m.path.find("quarterly report.doc") != std::string::npos) md5 = m.md5;
  bool written = false;
  for (const auto& [path, size] : test::FilesBelow(out_))
    if (path.find("quarterly report.doc") != std::string::npos) {
      written = true;
      EXPECT_EQ(size, 4097u);
      EXPECT_EQ(test::Md5OfFile(out_ + "/" + path), md5);
    }
  EXPECT_TRUE(written);
}

// [absurd sizes] Every size field of a 40 MiB FAT32 volume set to
// 0xFFFFFFF0, live and deleted entries alike: each file is written only as
// far as its own chain (or, deleted, its free contiguous clusters) goes, and
// all of it together stays below the image's size.
TEST_F(DamagedChains, Fat32SizeFieldsOfFourGibibytesWriteNoMoreThanTheVolume) {
  if (!HaveTools({"mkfs.vfat", "mcopy", "mdel"})) GTEST_SKIP() << "mkfs.vfat/mtools missing";
  const std::string dir = test::TempDir("fat32-sizes");
  const std::string img = dir + "/fat32.img";
  std::string copy = "MTOOLS_SKIP_CHECK=1 mcopy -i '" + img + "'";
  for (int i = 0; i < 12; ++i) {
    const std::string file = dir + "/F" + std::to_string(i) + ".BIN";
    std::ofstream(file, std::ios::binary) << Pattern(20000 + 3000 * i, i);
    copy += " '" + file + "'";
  }
  ASSERT_TRUE(test::Shell("truncate -s 40M '" + img + "' && mkfs.vfat -F 32 -s 1 -n SIZES '" + img +
                          "' >/dev/null 2>&1 && " + copy + " ::/ && MTOOLS_SKIP_CHECK=1 mdel -i '" + img +
                          "' ::/F1.BIN ::/F4.BIN ::/F7.BIN ::/F10.BIN"));
  auto bytes = test::ReadBytes(img);
  int patched = 0;
  for (int i = 0; i < 12; ++i) {
    std::string shortName = "F" + std::to_string(i);
    shortName.resize(8, ' ');
    shortName += "BIN";
    const std::string deletedName = "\xE5" + shortName.substr(1);
    for (const std::string& n : {shortName, deletedName}) {
      const std::size_t at = test::FindBytes(bytes, n);
      if (at == std::string::npos || at % 32 != 0) continue;
      Put32(bytes, at + 28, 0xFFFFFFF0u);
      ++patched;
    }
  }
  ASSERT_GE(patched, 12);
  ASSERT_TRUE(test::WriteBytes(img, bytes));
  const auto r = test::RunCliCommand("recover '" + img + "' --out '" + out_ + "' --json", "sizes");
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  std::uint64_t total = 0;
  for (const auto& [path, size] : test::FilesBelow(out_)) total += size;
  EXPECT_LE(total, fs::file_size(img));
  EXPECT_GT(total, 0u);
}

// [repeated entries] A GPT whose 128 entries all name the first partition
// (CRCs made right): one volume is listed and recovered, once.
TEST_F(DamagedChains, AGptOf128IdenticalEntriesIsOneVolume) {
  const std::string img = test::FixtureCopy("disk-gpt", "gpt-repeat");
  ASSERT_FALSE(img.empty());
  auto bytes = test::ReadBytes(img);
  ASSERT_EQ(std::memcmp(bytes.data() + 512, "EFI PART", 8), 0);
  const std::uint32_t headerSize = Get32(bytes, 512 + 12);
  const std::uint64_t entriesLba = Get64(bytes, 512 + 72);
  const std::uint32_t count = Get32(bytes, 512 + 80), entrySize = Get32(bytes, 512 + 84);
  ASSERT_EQ(count, 128u);
  const std::size_t entries = entriesLba * 512;
  for (std::uint32_t i = 1; i < count; ++i)
    std::memcpy(bytes.data() + entries + i * entrySize, bytes.data() + entries, entrySize);
  Put32(bytes, 512 + 88, static_cast<std::uint32_t>(crc32(0, bytes.data() + entries, count * entrySize)));
  Put32(bytes, 512 + 16, 0);
  Put32(bytes, 512 + 16, static_cast<std::uint32_t>(crc32(0, bytes.data() + 512, headerSize)));
  ASSERT_TRUE(test::WriteBytes(img, bytes));

  const auto list = test::RunCliCommand("list '" + img + "' --json", "gpt-repeat-list");
  EXPECT_EQ(list.status, 0) << list.err;
  const json doc = json::parse(list.out, nullptr, false);
  ASSERT_TRUE(doc.is_array()) << list.out;
  EXPECT_EQ(doc.size(), 1u);
  EXPECT_EQ(list.err.find("lost"), std::string::npos) << list.err;

  const auto r = test::RunCliCommand("recover '" + img + "' --out '" + out_ + "' --json", "gpt-repeat");
  const json summary = json::parse(r.out, nullptr, false);
  ASSERT_TRUE(summary.is_object()) << r.out << r.err;
  std::uint64_t total = 0;
  for (const auto& [path, size] : test::FilesBelow(out_)) total += size;
  EXPECT_LE(total, fs::file_size(img));
  int volumeOneFiles = 0;
  for (const auto& m : test::LoadManifest("disk-gpt"))
    if (m.volume == "1" && !m.directory) ++volumeOneFiles;
  EXPECT_LE(summary["chosenFiles"].get<int>(), volumeOneFiles);
}

// [disagreeing FATs] Eight files in a row on a volume of 512-byte clusters
// (mkfs.vfat + mcopy); one FAT copy is damaged in the chains of five of
// them: an entry made free, an early end mark, a jump into another file's
// chain, a loop, and flipped bytes. Whichever copy is damaged, every file
// comes out whole from the copy that fits it, the listing says the copies
// disagree, once, and which copy the chains followed.
struct FatCopyCase {
  const char* fat;   // mkfs.vfat -F
  const char* size;  // image size
  int damaged;       // 0: the first copy, 1: the second
};

class DisagreeingFats : public ::testing::TestWithParam<FatCopyCase> {
 protected:
  void SetUp() override {
    out_ = test::OtherDeviceFolder(std::string("fatcopies-") + GetParam().fat + "-" +
                                   std::to_string(GetParam().damaged));
    if (out_.empty()) GTEST_SKIP() << "no second file system for the target";
    if (!HaveTools({"mkfs.vfat", "mcopy"})) GTEST_SKIP() << "mkfs.vfat/mtools missing";
  }
  void TearDown() override {
    if (!out_.empty()) fs::remove_all(out_);
  }
  std::string out_;
};

std::uint32_t GetFatEntry(const std::vector<std::uint8_t>& b, std::size_t fat, int bits, std::uint32_t cluster) {
  if (bits == 32) return Get32(b, fat + cluster * 4) & 0x0FFFFFFF;
  if (bits == 16) return Get16(b, fat + cluster * 2);
  const std::uint16_t pair = Get16(b, fat + cluster + cluster / 2);
  return (cluster & 1) ? pair >> 4 : pair & 0xFFF;
}

void PutFatEntry(std::vector<std::uint8_t>& b, std::size_t fat, int bits, std::uint32_t cluster, std::uint32_t v) {
  if (bits == 32) return Put32(b, fat + cluster * 4, v);
  if (bits == 16) return Put16(b, fat + cluster * 2, static_cast<std::uint16_t>(v));
  const std::size_t at = fat + cluster + cluster / 2;
  std::uint16_t pair = Get16(b, at);
  pair = (cluster & 1) ? static_cast<std::uint16_t>((pair & 0x000F) | (v << 4))
                       : static_cast<std::uint16_t>((pair & 0xF000) | (v & 0xFFF));
  Put16(b, at, pair);
}

TEST_P(DisagreeingFats, EveryChainFollowsTheCopyThatFitsIt) {
  const FatCopyCase c = GetParam();
  const int bits = std::atoi(c.fat);
  const std::string dir = test::TempDir(std::string("fatcopies-") + c.fat + "-" + std::to_string(c.damaged));
  const std::string img = dir + "/fat.img";
  std::vector<std::string> data;
  std::string copy = "MTOOLS_SKIP_CHECK=1 mcopy -i '" + img + "'";
  for (int i = 0; i < 8; ++i) {
    data.push_back(Pattern(2600 + 700 * i, i + 4));
    const std::string file = dir + "/G" + std::to_string(i) + ".DAT";
    std::ofstream(file, std::ios::binary) << data.back();
    copy += " '" + file + "'";
  }
  ASSERT_TRUE(test::Shell("truncate -s " + std::string(c.size) + " '" + img + "' && mkfs.vfat -F " + c.fat +
                          " -s 1 -n COPIES '" + img + "' >/dev/null 2>&1 && " + copy + " ::/"));
  auto bytes = test::ReadBytes(img);
  const std::size_t fatBytes = std::size_t{bits == 32 ? Get32(bytes, 36) : Get16(bytes, 22)} * 512;
  const std::size_t fat = std::size_t{Get16(bytes, 14)} * 512 + (c.damaged ? fatBytes : 0);
  std::vector<std::uint32_t> first;
  for (int i = 0; i < 8; ++i) {
    const std::size_t at = test::FindBytes(bytes, "G" + std::to_string(i) + "      DAT");
    ASSERT_NE(at, std::string::npos);
    first.push_back(Get16(bytes, at + 26) | (bits == 32 ? std::uint32_t{Get16(bytes, at + 20)} << 16 : 0));
  }
  const std::uint32_t end = bits == 32 ? 0x0FFFFFFF : bits == 16 ? 0xFFFF : 0xFFF;
  PutFatEntry(bytes, fat, bits, first[0] + 1, 0);                  // made free
  PutFatEntry(bytes, fat, bits, first[1] + 2, end);                // ends early
  PutFatEntry(bytes, fat, bits, first[2] + 1, first[6] + 1);       // runs into G6's chain
  PutFatEntry(bytes, fat, bits, first[3] + 3, first[3] + 1);       // loops
  PutFatEntry(bytes, fat, bits, first[4], GetFatEntry(bytes, fat, bits, first[4]) ^ 0x2A5);  // flipped
  ASSERT_TRUE(test::WriteBytes(img, bytes));

  const auto list = test::RunCliCommand("list '" + img + "' --json", "fatcopies-list");
  ASSERT_EQ(list.status, 0) << list.err;
  const json doc = json::parse(list.out, nullptr, false);
  ASSERT_TRUE(doc.is_array()) << list.out;
  const json& copies = doc[0]["fatCopiesDisagree"];
  ASSERT_TRUE(copies.is_object()) << list.out;
  EXPECT_GE(copies["differingEntries"].get<int>(), 5);
  EXPECT_EQ(copies["filesFromSecondCopy"].get<int>(), c.damaged ? 0 : 5);
  EXPECT_EQ(copies["filesFittingNeither"].get<int>(), 0);
  for (const json& e : doc[0]["entries"]) {
    if (e["type"] != "file") continue;
    EXPECT_TRUE(e.value("whole", false)) << e.dump();
  }
  EXPECT_NE(list.err.find("the FAT copies disagree"), std::string::npos) << list.err;

  const auto r = test::RunCliCommand("recover '" + img + "' --out '" + out_ + "' --json", "fatcopies");
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  const std::size_t said = r.err.find("the FAT copies disagree");
  EXPECT_NE(said, std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("the FAT copies disagree", said + 1), std::string::npos) << "said more than once: " << r.err;
  int checked = 0;
  for (const auto& [path, size] : test::FilesBelow(out_)) {
    const std::size_t g = path.find("G");
    if (g == std::string::npos || path.find(".DAT") == std::string::npos) continue;
    const int i = path[g + 1] - '0';
    EXPECT_EQ(test::FileText(out_ + "/" + path), data[i]) << path;
    ++checked;
  }
  EXPECT_EQ(checked, 8);
}

INSTANTIATE_TEST_SUITE_P(Copies, DisagreeingFats,
                         ::testing::Values(FatCopyCase{"12", "2M", 0}, FatCopyCase{"16", "16M", 0},
                                           FatCopyCase{"16", "16M", 1}, FatCopyCase{"32", "40M", 0},
                                           FatCopyCase{"32", "40M", 1}),
                         [](const auto& p) {
                           return std::string("Fat") + p.param.fat + (p.param.damaged ? "SecondDamaged" : "FirstDamaged");
                         });

// [boot fields] A FAT16 volume (mkfs.vfat, 512 root entries) with files in
// the root and in three folders; its root entry count is changed. 65535 is
// no whole number of sectors, which a checker rejects; 1024 is plausible
// but the folders' "." entries say otherwise. Either way the volume is read
// with the 512 entries its folders confirm, every file comes out whole, and
// the listing says what it found in the boot sector.
class BootFields : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    out_ = test::OtherDeviceFolder("bootfields-" + std::to_string(GetParam()));
    if (out_.empty()) GTEST_SKIP() << "no second file system for the target";
    if (!HaveTools({"mkfs.vfat", "mcopy", "mmd"})) GTEST_SKIP() << "mkfs.vfat/mtools missing";
  }
  void TearDown() override {
    if (!out_.empty()) fs::remove_all(out_);
  }
  std::string out_;
};

TEST_P(BootFields, ARootEntryCountTheFoldersContradictIsReadAsTheyShow) {
  const std::string dir = test::TempDir("bootfields-" + std::to_string(GetParam()));
  const std::string img = dir + "/fat16.img";
  const std::string tools = "MTOOLS_SKIP_CHECK=1 ";
  std::string cmd = "truncate -s 16M '" + img + "' && mkfs.vfat -F 16 -s 4 -r 512 -n ROOTS '" + img + "' >/dev/null 2>&1";
  std::map<std::string, std::string> made;
  for (int d = 0; d < 3; ++d) {
    const std::string folder = "DIR" + std::to_string(d);
    cmd += " && " + tools + "mmd -i '" + img + "' ::/" + folder;
    for (int f = 0; f < 2; ++f) {
      const std::string name = "F" + std::to_string(d) + std::to_string(f) + ".TXT";
      made[folder + "/" + name] = Pattern(1500 + 4000 * f + 300 * d, d * 3 + f);
      std::ofstream(dir + "/" + name, std::ios::binary) << made[folder + "/" + name];
      cmd += " && " + tools + "mcopy -i '" + img + "' '" + dir + "/" + name + "' ::/" + folder + "/";
    }
  }
  made["TOP.TXT"] = Pattern(9000, 9);
  std::ofstream(dir + "/TOP.TXT", std::ios::binary) << made["TOP.TXT"];
  cmd += " && " + tools + "mcopy -i '" + img + "' '" + dir + "/TOP.TXT' ::/";
  ASSERT_TRUE(test::Shell(cmd));
  auto bytes = test::ReadBytes(img);
  ASSERT_EQ(Get16(bytes, 17), 512);
  Put16(bytes, 17, static_cast<std::uint16_t>(GetParam()));
  ASSERT_TRUE(test::WriteBytes(img, bytes));

  const auto list = test::RunCliCommand("list '" + img + "' --json", "bootfields-list");
  ASSERT_EQ(list.status, 0) << list.err;
  EXPECT_NE(list.err.find("read with 512 root entries (recorded " + std::to_string(GetParam()) + ")"),
            std::string::npos)
      << list.err;
  if (GetParam() % 16 != 0) {
    EXPECT_NE(list.err.find("does not fill whole sectors"), std::string::npos) << list.err;
  }

  const auto r = test::RunCliCommand("recover '" + img + "' --out '" + out_ + "' --json", "bootfields");
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  int found = 0;
  for (const auto& [path, size] : test::FilesBelow(out_)) {
    for (const auto& [want, data] : made) {
      if (path.size() < want.size() || path.compare(path.size() - want.size(), want.size(), want) != 0) continue;
      EXPECT_EQ(test::FileText(out_ + "/" + path), data) << path;
      ++found;
    }
  }
  EXPECT_EQ(found, static_cast<int>(made.size()));
}

INSTANTIATE_TEST_SUITE_P(RootEntries, BootFields, ::testing::Values(65535, 1024, 16));

}  // namespace
}  // namespace ambrel
