// ambrel-cli list on volumes with a folder no folder reaches any more: FAT12,
// FAT16 and FAT32 volumes made by mkfs.fat and mtools, where a folder tree
// was removed with mdeltree and its deleted entry in the root then wiped
// (as when the slot is taken by another entry), and the exFAT fixture made
// by exfat-fuse with one folder's entry set cut from the root and its
// cluster freed, and an exFAT folder of several clusters whose first name
// is longer than one sector holds. The files must show under the
// lost-files folder, as fls shows them under $OrphanFiles; a free cluster that begins with "." but a
// broken ".." must not be taken.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <set>
#include <sstream>
#include <string>

#include <nlohmann/json.hpp>

#include "app/settings.h"
#include "catalog/node_table.h"
#include "cli/cli_run.h"
#include "fs/parse_file_system.h"
#include "support/test_paths.h"

namespace ambrel::test {
namespace {

const std::string kLost = "丢失的文件";

unsigned U16(const std::string& b, std::size_t at) {
  return static_cast<std::uint8_t>(b[at]) | (static_cast<std::uint8_t>(b[at + 1]) << 8);
}
std::uint32_t U32(const std::string& b, std::size_t at) { return U16(b, at) | (std::uint32_t(U16(b, at + 2)) << 16); }
void PutU16(std::string& b, std::size_t at, unsigned v) {
  b[at] = static_cast<char>(v & 0xFF);
  b[at + 1] = static_cast<char>((v >> 8) & 0xFF);
}

// Byte offsets of a FAT volume as mkfs.fat writes it (512-byte sectors).
struct FatLayout {
  std::size_t root = 0, rootBytes = 0, data = 0, clusterBytes = 0;
  std::size_t Cluster(std::uint64_t c) const { return data + (c - 2) * clusterBytes; }
};
FatLayout LayoutOf(const std::string& b) {
  FatLayout l;
  const std::size_t spc = static_cast<std::uint8_t>(b[13]), reserved = U16(b, 14), fats = static_cast<std::uint8_t>(b[16]);
  const std::size_t rootEntries = U16(b, 17);
  const std::size_t fatSectors = U16(b, 22) ? U16(b, 22) : U32(b, 36);
  l.clusterBytes = spc * 512;
  const std::size_t rootStart = (reserved + fats * fatSectors) * 512;
  l.data = rootStart + rootEntries * 32;
  if (rootEntries == 0) {  // FAT32: the root is a cluster chain; its first cluster suffices here
    l.root = l.Cluster(U32(b, 44));
    l.rootBytes = l.clusterBytes;
  } else {
    l.root = rootStart;
    l.rootBytes = rootEntries * 32;
  }
  return l;
}

// The deleted root entry whose 8.3 name (past its first byte) is `name11`
// loses everything but its deleted mark: nothing names its cluster.
bool WipeDeletedRootEntry(const std::string& image, const std::string& name11) {
  std::string b = ReadFileBytes(image);
  const FatLayout l = LayoutOf(b);
  for (std::size_t at = l.root; at + 32 <= l.root + l.rootBytes && at + 32 <= b.size(); at += 32) {
    if (static_cast<std::uint8_t>(b[at]) != 0xE5 || b.compare(at + 1, 10, name11, 1, 10) != 0) continue;
    b.replace(at + 1, 31, std::string(31, '\0'));
    WriteFileBytes(image, b);
    return true;
  }
  return false;
}

// mkfs.fat -F bits; PHOTOS with three files and SUB/INNER.BIN, KEEP.BIN in
// the root; then mdeltree PHOTOS and its root entry wiped. Empty when the
// tools are missing.
std::string MakeFatOrphanImage(const std::string& dir, int bits) {
  if (!HaveTool("mkfs.fat") || !HaveTool("mcopy") || !HaveTool("mdeltree")) return {};
  const std::string image = dir + "/fat" + std::to_string(bits) + ".img";
  const std::string q = Quoted(image), m = "MTOOLS_SKIP_CHECK=1 ";
  for (int i = 1; i <= 3; ++i) WriteFileBytes(dir + "/f" + std::to_string(i), std::string(2000 * i, char('a' + i)));
  std::ostringstream s;
  s << "truncate -s " << (bits == 32 ? "40M" : bits == 16 ? "16M" : "4M") << ' ' << q << " && mkfs.fat -F " << bits
    << ' ' << q << " && " << m << "mmd -i " << q << " ::/PHOTOS ::/PHOTOS/SUB";
  for (int i = 1; i <= 3; ++i)
    s << " && " << m << "mcopy -i " << q << ' ' << Quoted(dir + "/f" + std::to_string(i)) << " ::/PHOTOS/FILE" << i
      << ".BIN";
  s << " && " << m << "mcopy -i " << q << ' ' << Quoted(dir + "/f1") << " ::/PHOTOS/SUB/INNER.BIN";
  s << " && " << m << "mcopy -i " << q << ' ' << Quoted(dir + "/f2") << " ::/KEEP.BIN";
  s << " && " << m << "mdeltree -i " << q << " ::/PHOTOS";
  if (!Shell("(" + s.str() + ") >/dev/null 2>&1")) return {};
  return WipeDeletedRootEntry(image, "PHOTOS     ") ? image : std::string();
}

// A name compared without its first character (fls writes '_' for a
// deleted entry's lost first byte, the listing '!') and without case.
std::string Comparable(const std::string& path) {
  std::string out;
  bool first = true;
  for (char ch : path) {
    if (ch == '/') {
      out += '/';
      first = true;
      continue;
    }
    if (!first) out += static_cast<char>(ch >= 'a' && ch <= 'z' ? ch - 32 : ch);
    first = false;
  }
  return out;
}

// The paths fls -r -p gives below $OrphanFiles (its own virtual entries
// "OrphanFile-N" left out).
std::set<std::string> FlsOrphans(const std::string& image, const std::string& dir) {
  std::set<std::string> out;
  if (!Shell("(fls -r -p " + Quoted(image) + " >" + Quoted(dir + "/fls.txt") + ") 2>/dev/null")) return out;
  std::istringstream lines(ReadFileBytes(dir + "/fls.txt"));
  const std::string prefix = "$OrphanFiles/";
  for (std::string line; std::getline(lines, line);) {
    const std::size_t tab = line.find('\t');
    if (tab == std::string::npos || line.compare(tab + 1, prefix.size(), prefix) != 0) continue;
    const std::string path = line.substr(tab + 1 + prefix.size());
    if (path.rfind("OrphanFile-", 0) == 0) continue;
    out.insert(path);
  }
  return out;
}

std::set<std::string> Comparable(const std::set<std::string>& paths) {
  std::set<std::string> out;
  for (const std::string& p : paths) out.insert(Comparable(p));
  return out;
}

// The entries of `list --json` below the lost-files folder, each with its
// orphan and deleted flags checked.
std::set<std::string> ListedOrphans(const std::string& image, const std::string& options = "") {
  const CliOutput r = RunAmbrelCli("list " + Quoted(image) + " --json " + options);
  EXPECT_EQ(r.status, 0) << r.err;
  std::set<std::string> out;
  const nlohmann::json doc = nlohmann::json::parse(r.out, nullptr, false);
  if (!doc.is_array()) return out;
  for (const auto& volume : doc)
    for (const auto& e : volume["entries"]) {
      const std::string path = e["path"];
      const bool below = path.rfind(kLost + "/", 0) == 0;
      EXPECT_EQ(e.contains("orphan"), below) << path;
      if (!below) continue;
      EXPECT_TRUE(e["deleted"].get<bool>()) << path;
      out.insert(path.substr(kLost.size() + 1));
    }
  return out;
}

class OrphanFoldersFat : public ::testing::TestWithParam<int> {};

TEST_P(OrphanFoldersFat, FilesOfAnUnreachedFolderAreListedAsFlsFindsThem) {
  const std::string dir = TempDir("orphans-fat");
  const std::string image = MakeFatOrphanImage(dir, GetParam());
  if (image.empty()) GTEST_SKIP() << "mkfs.fat / mtools missing";
  const std::set<std::string> listed = ListedOrphans(image);
  const std::set<std::string> expected = {"!ILE1.BIN", "!ILE2.BIN", "!ILE3.BIN", "!UB", "!UB/!NNER.BIN"};
  EXPECT_EQ(listed, expected);
  if (HaveTool("fls")) {
    EXPECT_EQ(Comparable(FlsOrphans(image, dir)), Comparable(listed));
  }
  // The text listing names them under the lost-files folder too, and the
  // live file stays where it is.
  const CliOutput text = RunAmbrelCli("list " + Quoted(image));
  EXPECT_NE(text.out.find("  " + kLost + "/!ILE2.BIN\n"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("  KEEP.BIN\n"), std::string::npos);
  // The deleted view keeps them; the present view has none.
  EXPECT_EQ(ListedOrphans(image, "--deleted"), expected);
  EXPECT_TRUE(ListedOrphans(image, "--present").empty());
  // The copy-out takes them from the same listing, with their data.
  const std::string out = dir + "/out";
  const CliOutput copied = RunAmbrelCli("--yes recover " + Quoted(image) + " --out " + Quoted(out));
  ASSERT_EQ(copied.status, 0) << copied.err;
  ASSERT_TRUE(Shell("(find " + Quoted(out) + " -path '*/" + kLost + "/!UB/!NNER.BIN' >" + Quoted(dir + "/found.txt") +
                    ")"));
  const std::string path = ReadFileBytes(dir + "/found.txt");
  ASSERT_FALSE(path.empty());
  EXPECT_EQ(ReadFileBytes(path.substr(0, path.find('\n'))), std::string(2000, 'b'));
}

INSTANTIATE_TEST_SUITE_P(Bits, OrphanFoldersFat, ::testing::Values(12, 16, 32),
                         [](const ::testing::TestParamInfo<int>& p) { return "Fat" + std::to_string(p.param); });

// A lost folder of three 512-byte clusters (40 entries and its dot
// entries, the clusters side by side as the folder grew): the clusters
// after its first are read while they hold entries, up to the end mark.
TEST(OrphanFoldersFatSpread, AFolderOverSeveralClustersIsReadToItsEnd) {
  if (!HaveTool("mkfs.fat") || !HaveTool("mcopy") || !HaveTool("mdeltree")) GTEST_SKIP() << "mkfs.fat / mtools missing";
  const std::string dir = TempDir("orphans-spread");
  const std::string image = dir + "/fat16.img", q = Quoted(image), m = "MTOOLS_SKIP_CHECK=1 ";
  std::string names;
  std::set<std::string> expected;
  for (int i = 1; i <= 40; ++i) {
    const std::string n = (i < 10 ? "A0" : "A") + std::to_string(i);
    WriteFileBytes(dir + "/" + n + ".BIN", "");
    names += " " + Quoted(dir + "/" + n + ".BIN");
    expected.insert("!" + n.substr(1) + ".BIN");
  }
  WriteFileBytes(dir + "/KEEP.BIN", std::string(3000, 'k'));
  ASSERT_TRUE(Shell("(truncate -s 16M " + q + " && mkfs.fat -F 16 -s 1 " + q + " && " + m + "mmd -i " + q +
                    " ::/PHOTOS && " + m + "mcopy -i " + q + names + " ::/PHOTOS/ && " + m + "mcopy -i " + q + " " +
                    Quoted(dir + "/KEEP.BIN") + " ::/KEEP.BIN && " + m + "mdeltree -i " + q +
                    " ::/PHOTOS) >/dev/null 2>&1"));
  ASSERT_TRUE(WipeDeletedRootEntry(image, "PHOTOS     "));
  EXPECT_EQ(ListedOrphans(image), expected);
}

// The search is the listing's default up to 32 GiB; a volume said to be
// larger is searched only when asked.
TEST(OrphanFoldersLargeVolume, SearchedOnlyWhenAskedAbove32GiB) {
  const std::string dir = TempDir("orphans-size");
  const std::string image = MakeFatOrphanImage(dir, 16);
  if (image.empty()) GTEST_SKIP() << "mkfs.fat / mtools missing";
  SetSettingsLoaded(true);
  OverrideSetting("ParseFileSys", "1");
  auto lostCount = [&](std::uint64_t sectors, OrphanFolderSearch search) {
    PartitionInfo p;
    p.fsKind = kFsFat16;
    p.diskPath = image;
    p.sectorCount = sectors;
    const std::string boot = ReadFileBytes(image).substr(0, 512);
    std::copy(boot.begin(), boot.end(), p.bootSector.begin());
    ParseContext context;
    context.orphanFolders = search;
    EXPECT_TRUE(ParseFileSystem(nullptr, p, &context));
    const FoundFileNode* lost = NodeAt(p.table, kLostFolderId);
    return lost ? static_cast<unsigned>(lost->childCount) : 0u;
  };
  const std::uint64_t small = 16u << 11, large = (33ull << 30) / 512;
  EXPECT_EQ(lostCount(small, OrphanFolderSearch::kSmallVolumes), 4u);
  EXPECT_EQ(lostCount(large, OrphanFolderSearch::kSmallVolumes), 0u);
  EXPECT_EQ(lostCount(large, OrphanFolderSearch::kAlways), 4u);
  EXPECT_EQ(lostCount(small, OrphanFolderSearch::kOff), 0u);
}

// Free clusters that begin with "." but whose ".." is broken, or whose "."
// names another cluster, are not folders: their entries stay unlisted.
TEST(OrphanFoldersFatHostile, DotClustersWithBrokenLinksAreNotTaken) {
  const std::string dir = TempDir("orphans-hostile");
  const std::string image = MakeFatOrphanImage(dir, 16);
  if (image.empty()) GTEST_SKIP() << "mkfs.fat / mtools missing";
  std::string b = ReadFileBytes(image);
  const FatLayout l = LayoutOf(b);
  auto plant = [&](std::uint32_t cluster, std::uint32_t self, std::uint32_t parent, std::uint8_t parentAttr,
                   const char* file) {
    std::string e(96, '\0');
    e.replace(0, 11, ".          ");
    e.replace(32, 11, "..         ");
    e[11] = 0x10;
    e[32 + 11] = static_cast<char>(parentAttr);
    PutU16(e, 26, self);
    PutU16(e, 32 + 26, parent);
    e.replace(64, 11, file);
    e[64 + 11] = 0x20;
    PutU16(e, 64 + 26, 2);
    b.replace(l.Cluster(cluster), e.size(), e);
  };
  plant(3000, 3000, 0xFFF0, 0x10, "EVILA   TXT");  // ".." past the last cluster
  plant(3002, 3002, 3002, 0x10, "EVILB   TXT");  // ".." naming the folder itself
  plant(3004, 3004, 0, 0x20, "EVILC   TXT");     // ".." without the directory attribute
  plant(3006, 3007, 0, 0x10, "EVILD   TXT");     // "." naming another cluster
  plant(3008, 3008, 0, 0x10, "GOODE   TXT");     // a sound one, so the search did run
  WriteFileBytes(image, b);
  const std::set<std::string> listed = ListedOrphans(image);
  EXPECT_TRUE(listed.count("GOODE.TXT")) << "the sound cluster is taken";
  for (const char* evil : {"EVILA.TXT", "EVILB.TXT", "EVILC.TXT", "EVILD.TXT"}) EXPECT_FALSE(listed.count(evil)) << evil;
}

// The exFAT fixture (25 folders of two files, written by exfat-fuse): the
// entry set of dir7 in the root is marked deleted and loses its first
// cluster, and that cluster is freed in the allocation bitmap.
TEST(OrphanFoldersExfat, FilesOfAnUnreachedFolderAreListedAsFlsFindsThem) {
  const std::string fixture = FixtureImage("exfat-dirs");
  ASSERT_FALSE(fixture.empty());
  const std::string dir = TempDir("orphans-exfat");
  const std::string image = dir + "/exfat.img";
  ASSERT_TRUE(CopyImage(fixture, image));
  std::string b = ReadFileBytes(image);
  const std::uint32_t heap = U32(b, 88), root = U32(b, 96), spc = 1u << static_cast<std::uint8_t>(b[109]);
  auto at = [&](std::uint64_t c) { return (heap + (c - 2) * spc) * 512; };
  std::uint32_t bitmap = 0, cut = 0;
  for (std::size_t e = at(root); e < at(root) + spc * 512; e += 32) {
    const std::uint8_t type = static_cast<std::uint8_t>(b[e]);
    if (type == 0x81) bitmap = U32(b, e + 20);
    // "dir7": a file set whose one name entry holds d, i, r, 7 in UTF-16.
    if (type != 0x85 || b.compare(e + 66, 8, std::string("d\0i\0r\x00" "7\0\0\0", 10), 0, 8) != 0 || b[e + 74] != 0)
      continue;
    cut = U32(b, e + 32 + 20);
    for (std::size_t k = 0; k < 3; ++k) b[e + 32 * k] = static_cast<char>(b[e + 32 * k] & 0x7F);
    b.replace(e + 32 + 20, 4, std::string(4, '\0'));
    break;
  }
  ASSERT_NE(cut, 0u);
  ASSERT_NE(bitmap, 0u);
  b[at(bitmap) + (cut - 2) / 8] = static_cast<char>(b[at(bitmap) + (cut - 2) / 8] & ~(1 << ((cut - 2) % 8)));
  WriteFileBytes(image, b);
  const std::set<std::string> listed = ListedOrphans(image);
  EXPECT_EQ(listed, (std::set<std::string>{"a7.bin", "b7.bin"}));
  if (HaveTool("fls")) {
    EXPECT_EQ(FlsOrphans(image, dir), listed);
  }
}

// An exFAT volume of 512-byte clusters made by mkfs.exfat and written by
// exfat-fuse: folder "lost" holds a file of a 244-character name (its entry
// set of 19 entries crosses from the folder's first cluster into the next)
// and 40 more files, nine clusters, the second beyond another file's. Its
// set in the root is cut and its clusters freed: every file must be
// listed, as fls lists them.
TEST(OrphanFoldersExfatSpread, ALostFolderOverSeveralClustersStartingWithALongNameIsReadWhole) {
  if (::geteuid() != 0 || !HaveTool("mkfs.exfat") || !HaveTool("mount.exfat-fuse") || !HaveTool("losetup") ||
      !HaveTool("fls"))
    GTEST_SKIP() << "needs root, losetup, mkfs.exfat, exfat-fuse and sleuthkit";
  const std::string dir = TempDir("orphans-exfat-spread");
  const std::string image = dir + "/exfat.img", mnt = dir + "/mnt";
  const std::string longName = std::string(240, 'L') + ".txt";
  ASSERT_TRUE(Shell("(set -e; truncate -s 8M " + Quoted(image) + "; loop=$(losetup -f --show " + Quoted(image) +
                    "); trap 'losetup -d $loop' EXIT; mkfs.exfat -c 512 $loop; mkdir -p " + Quoted(mnt) +
                    "; mount.exfat-fuse $loop " + Quoted(mnt) + "; cd " + Quoted(mnt) +
                    "; mkdir keep lost; echo k > keep/k.txt; : > lost/" + longName +
                    "; for i in $(seq 10 49); do : > lost/file$i.txt; done; cd /; sync; umount " + Quoted(mnt) +
                    ") >/dev/null 2>&1"));
  std::string b = ReadFileBytes(image);
  const std::uint32_t heap = U32(b, 88), root = U32(b, 96), spc = 1u << static_cast<std::uint8_t>(b[109]);
  ASSERT_EQ(spc, 1u);
  auto at = [&](std::uint64_t c) { return (heap + (c - 2) * spc) * 512; };
  std::uint32_t bitmap = 0, cut = 0, clusters = 0;
  for (std::size_t e = at(root); e < at(root) + 512; e += 32) {
    const std::uint8_t type = static_cast<std::uint8_t>(b[e]);
    if (type == 0x81) bitmap = U32(b, e + 20);
    if (type != 0x85 || b.compare(e + 66, 8, std::string("l\0o\0s\0t\0", 8)) != 0 || b[e + 74] != 0) continue;
    cut = U32(b, e + 32 + 20);
    clusters = (U32(b, e + 32 + 24) + 511) / 512;
    for (std::size_t k = 0; k < 3; ++k) b[e + 32 * k] = static_cast<char>(b[e + 32 * k] & 0x7F);
    b.replace(e + 32 + 20, 4, std::string(4, '\0'));
    break;
  }
  ASSERT_NE(bitmap, 0u);
  ASSERT_NE(cut, 0u);
  ASSERT_GT(clusters, 4u) << "the folder should span several clusters";
  // Its clusters by its FAT chain (k.txt, written after the folder was
  // made, lies between its first two), which stays as a delete leaves it.
  const std::uint64_t fat = std::uint64_t{U32(b, 80)} * 512;
  std::uint32_t c = cut;
  for (std::uint32_t k = 0; k < clusters && c >= 2 && c < 0xFFFFFFF7u; ++k, c = U32(b, fat + 4 * c))
    b[at(bitmap) + (c - 2) / 8] = static_cast<char>(b[at(bitmap) + (c - 2) / 8] & ~(1 << ((c - 2) % 8)));
  WriteFileBytes(image, b);
  const std::set<std::string> listed = ListedOrphans(image);
  EXPECT_EQ(listed.size(), 41u);
  EXPECT_TRUE(listed.count(longName));
  EXPECT_TRUE(listed.count("file10.txt") && listed.count("file49.txt"));
  // fls cuts a long name short: the long one is compared by what it shows.
  std::set<std::string> fls = FlsOrphans(image, dir), ours = listed;
  EXPECT_EQ(std::erase_if(fls, [&](const std::string& n) { return n.size() > 40 && longName.rfind(n, 0) == 0; }), 1u);
  EXPECT_EQ(ours.erase(longName), 1u);
  EXPECT_EQ(fls, ours);
}

// exfat-fuse shrinks a folder whose files are all deleted to its first
// cluster and frees the rest. Those clusters begin with the tail of the set
// before them, then whole deleted sets: every file whose set lies whole in
// one of them must be listed, as fls lists them.
TEST(OrphanFoldersExfatSpread, TheFreedClustersOfAShrunkFolderGiveTheirDeletedFiles) {
  if (::geteuid() != 0 || !HaveTool("mkfs.exfat") || !HaveTool("mount.exfat-fuse") || !HaveTool("losetup") ||
      !HaveTool("fls"))
    GTEST_SKIP() << "needs root, losetup, mkfs.exfat, exfat-fuse and sleuthkit";
  const std::string dir = TempDir("orphans-exfat-shrunk");
  const std::string image = dir + "/exfat.img", mnt = dir + "/mnt";
  ASSERT_TRUE(Shell("(set -e; truncate -s 8M " + Quoted(image) + "; loop=$(losetup -f --show " + Quoted(image) +
                    "); trap 'losetup -d $loop' EXIT; mkfs.exfat -c 512 $loop; mkdir -p " + Quoted(mnt) +
                    "; mount.exfat-fuse $loop " + Quoted(mnt) + "; cd " + Quoted(mnt) +
                    "; mkdir keep shrunk; for i in $(seq 10 49); do echo $i > shrunk/file$i.txt; done;"
                    " echo k > keep/k.txt; sync; rm -f shrunk/*; cd /; sync; umount " + Quoted(mnt) +
                    ") >/dev/null 2>&1"));
  const std::set<std::string> fls = FlsOrphans(image, dir);
  // 40 sets of 96 bytes over 512-byte clusters: about six clusters freed,
  // each with four or five whole sets.
  ASSERT_GE(fls.size(), 20u) << "exfat-fuse no longer shrinks the folder";
  const std::set<std::string> listed = ListedOrphans(image);
  EXPECT_EQ(listed, fls);
}

}  // namespace
}  // namespace ambrel::test
