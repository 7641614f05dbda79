// The FAT reader on images made by mkfs.vfat and mtools, checked against the
// manifest written when the images were made and against fls.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>

#include "app/settings.h"
#include "catalog/node_table.h"
#include "common/text.h"
#include "fs/fat/fat_geometry.h"
#include "fs/fat/fat_reader.h"
#include "fs/fat_test_support.h"
#include "support/test_paths.h"

namespace ambrel {
namespace {

// mtools stores a name that fits 8.3 in one case per part as a short entry
// only, with the case in byte 12: such a name is listed in its own case, and
// with '!' first once deleted.
bool FitsShortName(const std::string& name) {
  auto dot = name.find('.');
  std::string base = name.substr(0, dot), ext = dot == std::string::npos ? "" : name.substr(dot + 1);
  if (base.empty() || base.size() > 8 || ext.size() > 3 || ext.find('.') != std::string::npos) return false;
  auto oneCase = [](const std::string& s) {
    bool lower = false, upper = false;
    for (unsigned char c : s) {
      if (c >= 0x80 || c == ' ') return false;
      lower |= std::islower(c) != 0;
      upper |= std::isupper(c) != 0;
    }
    return !(lower && upper);
  };
  return oneCase(base) && oneCase(ext);
}

std::string ListedName(const std::string& component, bool deleted) {
  if (component == "$RECYCLE.BIN") return "回收站";
  if (!FitsShortName(component)) return component;
  std::string listed = component;
  if (deleted) listed[0] = '!';
  return listed;
}

// The listed path of a manifest path: every component that was deleted
// itself (or whose folder was deleted) is listed as deleted.
std::string ListedPath(const std::vector<test::ManifestEntry>& manifest, const std::string& path) {
  std::string out, prefix;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t slash = path.find('/', start);
    std::string comp = path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    if (!prefix.empty()) prefix += '/';
    prefix += comp;
    bool deleted = false;
    for (const auto& m : manifest)
      if (m.path == prefix) deleted = m.deleted;
    if (!out.empty()) out += '/';
    out += ListedName(comp, deleted);
    if (slash == std::string::npos) break;
    start = slash + 1;
  }
  return out;
}

class FatFixture : public ::testing::TestWithParam<std::pair<const char*, std::int32_t>> {};

TEST_P(FatFixture, ListsEveryManifestEntryWithItsDataAndAgreesWithFls) {
  const auto [name, kind] = GetParam();
  std::string image = test::FixtureImage(name);
  ASSERT_FALSE(image.empty()) << name;
  test::EnableParsing();
  PartitionInfo p = test::ImagePartition(image, kind);
  ASSERT_TRUE(ReadFatPartition(nullptr, p));
  auto paths = test::NodePaths(p.table);
  auto manifest = test::LoadManifest(name);
  ASSERT_GT(manifest.size(), 10u);
  DiskHandle handle;
  ASSERT_TRUE(OpenPartition(p, handle));
  for (const auto& m : manifest) {
    std::string listed = ListedPath(manifest, m.path);
    auto it = paths.find(listed);
    ASSERT_NE(it, paths.end()) << listed;
    const FoundFileNode* n = NodeAt(p.table, it->second);
    NodeKind k = KindOf(*n);
    bool recycle = m.path.rfind("$RECYCLE.BIN", 0) == 0 && m.path.size() == 12;
    EXPECT_EQ(IsFolderKind(k), m.directory) << listed;
    if (!recycle) EXPECT_EQ(k == kDeletedFile || k == kDeletedFolder, m.deleted) << listed;
    else EXPECT_EQ(k, kDeletedFolder);
    if (m.directory) continue;
    EXPECT_EQ(std::uint64_t{n->size}, m.size) << listed;
    if (m.md5 == "-" || m.size == 0) continue;
    ExtentList extents;
    ASSERT_TRUE(FatFileExtents(p, *n, extents)) << listed;
    std::uint64_t sectors = 0;
    for (const auto& e : extents) sectors += e.sectorCount;
    EXPECT_LT(sectors * 512 - m.size, 512u * (p.bootSector[13])) << listed;
    EXPECT_EQ(test::Md5OfExtents(handle, extents, m.size), m.md5) << listed;
  }
  if (!test::FlsAvailable()) GTEST_SKIP() << "fls not installed";
  // fls shows a deleted short name with '_' first and applies the case bits
  // of byte 12; this reader keeps the stored bytes and writes '!'. fls names
  // the recycle bin by its own name and adds its $MBR/$FAT entries.
  auto normal = [](std::string s) {
    for (std::size_t i = 0; i < s.size(); ++i)
      if (s[i] == '!' && (i == 0 || s[i - 1] == '/')) s[i] = '_';
    std::size_t r = s.find("回收站");
    if (r != std::string::npos) s.replace(r, std::string("回收站").size(), "$recycle.bin");
    return AsciiLower(s);
  };
  std::set<std::pair<std::string, bool>> ours, theirs;
  for (const auto& [path, id] : paths) {
    if (path.rfind("丢失的文件", 0) == 0) continue;
    const FoundFileNode* n = NodeAt(p.table, id);
    bool deleted = KindOf(*n) == kDeletedFile || KindOf(*n) == kDeletedFolder;
    if (std::string(n->name) == "回收站") deleted = false;
    ours.insert({normal(path), deleted});
  }
  for (const auto& e : test::RunFls(image)) {
    if (e.path[0] == '$' && e.path.find('/') == std::string::npos && e.path != "$RECYCLE.BIN") continue;
    theirs.insert({normal(e.path), e.deleted});
  }
  EXPECT_EQ(ours, theirs);
}

INSTANTIATE_TEST_SUITE_P(Images, FatFixture,
                         ::testing::Values(std::make_pair("fat16-basic", std::int32_t(kFsFat16)),
                                           std::make_pair("fat32-basic", std::int32_t(kFsFat32)),
                                           std::make_pair("fat16-default", std::int32_t(kFsFat16)),
                                           std::make_pair("fat32-default", std::int32_t(kFsFat32)),
                                           std::make_pair("fat12-small", std::int32_t(kFsFat16))),
                         [](const auto& param_info) {
                           std::string n = param_info.param.first;
                           std::replace(n.begin(), n.end(), '-', '_');
                           return n;
                         });

// A folder deleted the way DOS and Windows delete one: only its own entry is
// marked; the entries inside keep their first bytes, but nothing reachable
// points at them any more, so they are deleted files.
TEST(FatReader, EntriesInsideADeletedFolderAreDeleted) {
  const std::string image = test::FixtureImage("fat16-default");
  ASSERT_FALSE(image.empty());
  const std::string copy = test::TempDir("fat-rmdir") + "/vol.img";
  ASSERT_TRUE(test::CopyImage(image, copy));
  std::vector<std::uint8_t> boot(512);
  std::fstream f(copy, std::ios::in | std::ios::out | std::ios::binary);
  f.read(reinterpret_cast<char*>(boot.data()), 512);
  auto u16 = [&](int at) { return boot[at] | (boot[at + 1] << 8); };
  const std::uint64_t rootAt = (u16(14) + std::uint64_t(boot[16]) * u16(22)) * 512;
  std::vector<std::uint8_t> root(std::size_t(u16(17)) * 32);
  f.seekg(static_cast<std::streamoff>(rootAt));
  f.read(reinterpret_cast<char*>(root.data()), static_cast<std::streamsize>(root.size()));
  bool marked = false;
  for (std::size_t at = 0; at + 32 <= root.size() && !marked; at += 32) {
    if (std::memcmp(&root[at], "DOCS       ", 11) != 0) continue;
    root[at] = 0xE5;
    for (std::size_t lfn = at; lfn >= 32 && root[lfn - 32 + 11] == 0x0F; lfn -= 32) root[lfn - 32] = 0xE5;
    marked = true;
  }
  ASSERT_TRUE(marked);
  f.seekp(static_cast<std::streamoff>(rootAt));
  f.write(reinterpret_cast<const char*>(root.data()), static_cast<std::streamsize>(root.size()));
  f.close();
  test::EnableParsing();
  PartitionInfo p = test::ImagePartition(copy, kFsFat16);
  ASSERT_TRUE(ReadFatPartition(nullptr, p));
  int inside = 0;
  for (const auto& [path, id] : test::NodePaths(p.table)) {
    const NodeKind k = KindOf(*NodeAt(p.table, id));
    const bool deleted = k == kDeletedFile || k == kDeletedFolder;
    if (path.rfind("!ocs/", 0) == 0) {
      EXPECT_TRUE(deleted) << path;
      ++inside;
    } else if (path == "readme.txt" || path == "big.bin") {
      EXPECT_FALSE(deleted) << path;
    }
  }
  EXPECT_EQ(inside, 5);  // two folders and three files below docs
}

TEST(FatReader, NeedsTheParsingSwitch) {
  std::string image = test::FixtureImage("fat16-basic");
  ASSERT_FALSE(image.empty());
  test::EnableParsing();
  OverrideSetting("ParseFileSys", "0");
  PartitionInfo p = test::ImagePartition(image, kFsFat16);
  EXPECT_FALSE(ReadFatPartition(nullptr, p));
  test::EnableParsing();
}

TEST(FatReader, StopRequestEndsTheWalkWithFailure) {
  std::string image = test::FixtureImage("fat32-basic");
  ASSERT_FALSE(image.empty());
  test::EnableParsing();
  PartitionInfo p = test::ImagePartition(image, kFsFat32);
  std::atomic<std::uint32_t> stop{2};
  EXPECT_FALSE(ReadFatPartition(&stop, p));
}

// One label rule for every view: the root directory's label entry, else the
// boot sector's.
TEST(FatReader, VolumeLabelFromTheRootEntryElseTheBootSector) {
  const std::string image = test::FixtureImage("fat32-default");
  ASSERT_FALSE(image.empty());
  const std::string copy = test::TempDir("fat-label") + "/vol.img";
  ASSERT_TRUE(test::CopyImage(image, copy));
  ASSERT_EQ(std::system(("MTOOLS_SKIP_CHECK=1 mlabel -i '" + copy + "' ::ROOTLABEL").c_str()), 0);
  {
    std::fstream f(copy, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(71);
    f.write("BOOTLABEL  ", 11);
  }
  PartitionInfo p = test::ImagePartition(copy, kFsFat32);
  DiskHandle handle;
  ASSERT_TRUE(OpenPartition(p, handle));
  EXPECT_EQ(FatVolumeLabel(p, handle), "ROOTLABEL");
  // Without a label entry in the root, the boot sector's label holds.
  auto g = FatGeometryOf(p);
  ASSERT_TRUE(g);
  std::vector<std::uint8_t> cluster(std::size_t(g->spc) * 512);
  std::fstream f(copy, std::ios::in | std::ios::out | std::ios::binary);
  const auto at = static_cast<std::streamoff>(g->ClusterLba(g->rootCluster) * 512);
  f.seekg(at);
  f.read(reinterpret_cast<char*>(cluster.data()), static_cast<std::streamsize>(cluster.size()));
  for (std::size_t e = 0; e + 32 <= cluster.size(); e += 32)
    if (cluster[e + 11] == 0x08) cluster[e] = 0xE5;
  f.seekp(at);
  f.write(reinterpret_cast<const char*>(cluster.data()), static_cast<std::streamsize>(cluster.size()));
  f.close();
  DiskHandle again;
  ASSERT_TRUE(OpenPartition(p, again));
  EXPECT_EQ(FatVolumeLabel(p, again), "BOOTLABEL");
}

}  // namespace
}  // namespace ambrel
