// Volumes formatted again over their old contents (mkntfs -Q over a filled
// NTFS, mkfs.vfat over a filled FAT32): a scan of the whole area gives the
// new, empty volume and, beside it, the old files rebuilt from the FILE
// records or directory clusters the new format left in place. The old
// image, read by sleuthkit's fls and icat before the format, is the oracle;
// the copy-out writes the rebuilt files with the old bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>
#include <sstream>

#include "catalog/node_table.h"
#include "deepscan/scan_settings.h"
#include "recovery/file_plan.h"
#include "deepscan_support.h"
#include "organise_support.h"
#include "support/test_paths.h"

namespace ambrel {
namespace {

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
  return s;
}

std::string Base(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// md5 of every regular file of the old image by its path, through icat.
std::map<std::string, std::string> OracleFiles(const std::string& image) {
  std::map<std::string, std::string> out;
  for (const std::string& line : test::CommandLines("fls -r -p '" + image + "' 2>/dev/null")) {
    if (line.rfind("r/r ", 0) != 0 || line.find(" * ") != std::string::npos) continue;
    const auto colon = line.find(':'), tab = line.find('\t');
    if (colon == std::string::npos || tab == std::string::npos) continue;
    const std::string path = line.substr(tab + 1);
    if (path.find('$') != std::string::npos || path.find("Volume Label") != std::string::npos) continue;
    const std::string inode = line.substr(4, colon - 4);
    out[path] = test::Md5OfCommand("icat '" + image + "' " + inode);
  }
  return out;
}

// The sectors that hold the bytes of each non-resident file of an NTFS
// image, by path (istat's data blocks, cut at the file's size).
std::map<std::string, std::vector<std::uint64_t>> FileSectors(const std::string& image, int clusterBytes) {
  std::map<std::string, std::vector<std::uint64_t>> out;
  for (const std::string& line : test::CommandLines("fls -r -p '" + image + "' 2>/dev/null")) {
    if (line.rfind("r/r ", 0) != 0 || line.find('$') != std::string::npos) continue;
    const auto colon = line.find(':'), tab = line.find('\t');
    if (colon == std::string::npos || tab == std::string::npos) continue;
    bool blocks = false;
    std::uint64_t sectorsOfSize = 0;
    for (const std::string& l : test::CommandLines("istat '" + image + "' " + line.substr(4, colon - 4))) {
      if (l.rfind("Type: $DATA", 0) == 0) {
        blocks = true;
        const auto size = l.find(" size: ");
        if (size != std::string::npos) sectorsOfSize = (std::stoull(l.substr(size + 7)) + 511) / 512;
      }
      if (!blocks || l.empty() || !std::isdigit(static_cast<unsigned char>(l[0]))) continue;
      std::istringstream numbers(l);
      auto& sectors = out[line.substr(tab + 1)];
      for (std::uint64_t b; numbers >> b;)
        for (int s = 0; s < clusterBytes / 512 && sectors.size() < sectorsOfSize; ++s)
          sectors.push_back(b * (clusterBytes / 512) + s);
    }
  }
  return out;
}

// What the copy-out makes of the rebuilt file named `name` (its overwrite
// state).
OverwriteState StateOf(const PartitionInfo& p, const std::string& name) {
  for (std::uint32_t id = kRootId + 1; id < p.table.count; ++id) {
    const FoundFileNode* n = NodeAt(p.table, id);
    if (n && n->name && name == n->name && IsFileKind(KindOf(*n)))
      return PlanFileData(*n, p, 0, UINT64_MAX - 1).overwrite;
  }
  return OverwriteState::kUnknown;
}

class Reformatted : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::ToolAvailable("fls") || !test::ToolAvailable("icat")) GTEST_SKIP() << "sleuthkit missing";
    dir = test::TempDir("organise-reformat");
    image = dir + "/volume.img";
  }
  std::string Sh(const std::string& command) const { return "cd '" + dir + "' && " + command; }
  std::string dir, image;
};

// The cluster size of the volume as it was used, and of the format over it.
struct NtfsFormats {
  int before;
  int after;
};

class ReformattedNtfs : public Reformatted, public ::testing::WithParamInterface<NtfsFormats> {};

TEST_P(ReformattedNtfs, OldFilesComeBackFromLooseRecords) {
  if (!test::ToolAvailable("mkntfs") || !test::ToolAvailable("ntfscp")) GTEST_SKIP();
  const std::string cluster = std::to_string(GetParam().before);
  const std::string newCluster = std::to_string(GetParam().after);
  ASSERT_TRUE(test::Run(Sh("truncate -s 32M volume.img && mkntfs -Q -F -c " + cluster +
                           " -L OLDVOL volume.img")));
  for (int i = 1; i <= 60; ++i)
    ASSERT_TRUE(test::Run(Sh("head -c " + std::to_string(i * 700 + 900) +
                             " /dev/urandom > src.bin && ntfscp volume.img src.bin /file" +
                             std::to_string(i) + ".dat")));
  const std::map<std::string, std::string> old = OracleFiles(image);
  ASSERT_EQ(old.size(), 60u);
  const auto oldSectors = FileSectors(image, GetParam().before);
  ASSERT_TRUE(test::Run(Sh("mkntfs -Q -F -c " + newCluster + " -L NEWVOL volume.img")));
  ASSERT_TRUE(OracleFiles(image).empty());
  // The files a cluster of which the new volume took for its own metadata
  // (another cluster size puts it elsewhere): their bytes are gone, and the
  // rebuilt tree must say so. The new $Bitmap (inode 6) tells.
  const std::string bitmap = dir + "/bitmap.bin";
  ASSERT_TRUE(test::Run(Sh("(icat volume.img 6 > bitmap.bin)")));
  std::string bits;
  {
    std::ifstream in(bitmap, std::ios::binary);
    bits.assign(std::istreambuf_iterator<char>(in), {});
  }
  const std::uint64_t newSpc = GetParam().after / 512;
  std::set<std::string> taken;
  for (const auto& [path, sectors] : oldSectors)
    for (std::uint64_t sector : sectors) {
      const std::uint64_t unit = sector / newSpc;
      if (unit / 8 < bits.size() && (static_cast<unsigned char>(bits[unit / 8]) >> (unit % 8) & 1))
        taken.insert(path);
    }
  EXPECT_LE(taken.size(), 10u);

  for (bool live : {false, true}) {
    test::OrganisedScan scan = test::ScanAndOrganise(image, RecoveryMode::kPartitionFiles, live);
    ASSERT_TRUE(scan.organised);
    // The new volume is listed once as its two views, the old files beside it.
    EXPECT_EQ(test::ResultsBy(scan, kOriginReal).size(), 2u);
    const auto loose = test::ResultsBy(scan, kOriginLooseRecords);
    ASSERT_EQ(loose.size(), 1u) << "live " << live;
    EXPECT_EQ(loose[0]->startLba, 0u);
    EXPECT_EQ(loose[0]->bootSector[13], GetParam().before / 512);
    std::set<std::string> found;
    for (const std::string& f : test::FilePaths(*loose[0])) found.insert(Base(f));
    for (const auto& [path, md5] : old) EXPECT_TRUE(found.count(path)) << path;
    if (!live) continue;
    auto& result = *std::find_if(scan.results.begin(), scan.results.end(),
                                 [](const auto& p) { return p->origin == kOriginLooseRecords; });
    for (const auto& [path, md5] : old) {
      const OverwriteState state = StateOf(*result, path);
      if (taken.count(path)) {
        EXPECT_TRUE(state == OverwriteState::kOverwritten || state == OverwriteState::kPartlyOverwritten) << path;
      } else {
        EXPECT_EQ(state, OverwriteState::kUnknown) << path;
      }
    }
    const auto written = test::CopyOutTree(*result, dir + "/out-" + cluster);
    std::map<std::string, std::string> byName;
    for (const auto& [path, md5] : written) byName[Base(path)] = md5;
    // The files the new volume left alone come back whole; the others
    // never as if whole.
    for (const auto& [path, md5] : old) {
      if (!taken.count(path)) {
        EXPECT_EQ(byName[path], md5) << path;
      } else if (byName.count(path)) {
        EXPECT_NE(byName[path], md5) << path << " is reported overwritten yet came out whole";
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(ClusterSizes, ReformattedNtfs,
                         ::testing::Values(NtfsFormats{512, 512}, NtfsFormats{4096, 4096}, NtfsFormats{4096, 1024},
                                           NtfsFormats{1024, 8192}),
                         [](const ::testing::TestParamInfo<NtfsFormats>& p) {
                           return "From" + std::to_string(p.param.before) + "To" + std::to_string(p.param.after);
                         });

// mkfs.vfat options of the volume as it was used, and of the format over it.
struct FatFormats {
  const char* before;
  const char* after;
};

class ReformattedFat : public Reformatted, public ::testing::WithParamInterface<FatFormats> {};

TEST_P(ReformattedFat, DirectoriesComeBackFromTheirClusters) {
  if (!test::ToolAvailable("mkfs.vfat") || !test::ToolAvailable("mcopy")) GTEST_SKIP();
  const std::string format = GetParam().before;
  ASSERT_TRUE(test::Run(Sh("truncate -s 64M volume.img && mkfs.vfat " + format + " -n OLDFAT volume.img")));
  // A photo in the root takes the first clusters. A format with smaller
  // clusters writes its larger FATs over them: what lay there is gone for
  // any tool, and the photo's name went with the root.
  ASSERT_TRUE(test::Run(Sh("head -c 98304 /dev/urandom > photo.bin && "
                           "MTOOLS_SKIP_CHECK=1 mcopy -i volume.img photo.bin ::/DSC00001.JPG")));
  for (const std::string d : {"alpha", "beta", "gamma"}) {
    ASSERT_TRUE(test::Run(Sh("MTOOLS_SKIP_CHECK=1 mmd -i volume.img ::/" + d + " ::/" + d + "/sub")));
    for (int i = 1; i <= 6; ++i) {
      const std::string n = std::to_string(i);
      ASSERT_TRUE(test::Run(Sh("head -c " + std::to_string(i * 1500) + " /dev/urandom > a.bin && head -c " +
                               std::to_string(i * 900 + 7) + " /dev/urandom > b.bin && "
                               "MTOOLS_SKIP_CHECK=1 mcopy -i volume.img a.bin ::/" + d + "/file_" + n +
                               ".bin && MTOOLS_SKIP_CHECK=1 mcopy -i volume.img b.bin ::/" + d +
                               "/sub/deep_" + n + ".bin")));
    }
  }
  std::map<std::string, std::string> old = OracleFiles(image);
  const std::string photoMd5 = old["DSC00001.JPG"];
  old.erase("DSC00001.JPG");
  ASSERT_EQ(old.size(), 36u);
  ASSERT_TRUE(test::Run(Sh("mkfs.vfat " + std::string(GetParam().after) + " -n NEWFAT volume.img")));
  ASSERT_TRUE(OracleFiles(image).empty());

  test::OrganisedScan scan = test::ScanAndOrganise(image, RecoveryMode::kPartitionFiles, true);
  ASSERT_TRUE(scan.organised);
  const auto dirs = test::ResultsBy(scan, kOriginDirectoryEntries);
  ASSERT_EQ(dirs.size(), 1u);
  EXPECT_EQ(dirs[0]->fsKind, kFsFatDirScan);
  // The root's cluster went with the format when the new volume's own
  // metadata reaches it: each old folder keeps its own files and its
  // subfolder below one "Dir01" group; "<folder>/sub/deep_n.bin" stays
  // together. A root the new volume left alone gives the photo its name.
  std::multiset<std::string> found, expected;
  bool photo = false;
  for (const std::string& f : test::FilePaths(*dirs[0])) {
    ASSERT_EQ(f.rfind("Dir01/", 0), 0u) << f;
    if (Lower(f) == "dir01/dsc00001.jpg") {
      photo = true;
      continue;
    }
    const std::string rest = f.substr(f.find('/', 6) + 1);
    found.insert(Lower(rest));
  }
  for (const auto& [path, md5] : old) expected.insert(Lower(path.substr(path.find('/') + 1)));
  EXPECT_EQ(found, expected);
  auto& result = *std::find_if(scan.results.begin(), scan.results.end(),
                               [](const auto& p) { return p->origin == kOriginDirectoryEntries; });
  const auto written = test::CopyOutTree(*result, dir + "/out");
  std::multiset<std::string> writtenMd5, oldMd5;
  for (const auto& [path, md5] : written) writtenMd5.insert(md5);
  for (const auto& [path, md5] : old) oldMd5.insert(md5);
  if (photo) oldMd5.insert(photoMd5);
  EXPECT_EQ(writtenMd5, oldMd5);
}

// FAT32 and FAT16 with mkfs.vfat's own cluster sizes, FAT16 with 8 KiB
// clusters, and formats over them with another cluster size (larger and
// smaller, FAT32 and FAT16).
INSTANTIATE_TEST_SUITE_P(Formats, ReformattedFat,
                         ::testing::Values(FatFormats{"-F 32", "-F 32"}, FatFormats{"-F 16", "-F 16"},
                                           FatFormats{"-F 16 -s 16", "-F 16 -s 16"},
                                           FatFormats{"-F 32 -s 1", "-F 32 -s 16"},
                                           FatFormats{"-F 16 -s 4", "-F 16 -s 16"},
                                           FatFormats{"-F 16 -s 16", "-F 16 -s 8"}),
                         [](const ::testing::TestParamInfo<FatFormats>& p) {
                           std::string name = std::string(p.param.before) + "_to_" + p.param.after;
                           for (char& ch : name)
                             if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                           return name;
                         });

}  // namespace
}  // namespace ambrel
