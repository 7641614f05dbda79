// Each file once: a scan of a volume's free space lists every deleted file
// with its name and nothing else for it: no carved copy of a file the
// volume lists (live or deleted), no second volume rebuilt from the
// volume's own directories.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "catalog/partition_info.h"
#include "carve_support.h"
#include "deepscan/scan_settings.h"
#include "deepscan_support.h"
#include "organise_support.h"
#include "support/test_paths.h"

namespace ambrel {
namespace {

struct Counted {
  std::size_t deletedListed = 0;  // files of the real volume's deleted view
  std::size_t carved = 0;         // files of the found-files partition
  std::size_t rebuilt = 0;        // files of volumes rebuilt from structures
};

Counted CountResults(const test::OrganisedScan& scan) {
  Counted c;
  for (const auto& p : scan.results) {
    const std::size_t files = test::FilePaths(*p).size();
    if (p->origin == kOriginReal) c.deletedListed += test::DeletedFilePaths(*p).size();
    else if (p->origin == kOriginSignatures) c.carved += files;
    else c.rebuilt += files;
  }
  return c;
}

// The corpus copied onto a FAT32 volume by mtools, then 40 % of it deleted.
TEST(EachFileOnce, DeletedFilesOfAFat32VolumeAreListedOnce) {
  if (test::CorpusDir().empty() || !test::ToolAvailable("mcopy") || !test::ToolAvailable("mkfs.vfat"))
    GTEST_SKIP() << "corpus, mtools or mkfs.vfat missing";
  const std::string dir = test::TempDir("once-fat32");
  const std::string image = dir + "/card.img";
  ASSERT_TRUE(test::Run("truncate -s 64M '" + image + "' && mkfs.vfat -F 32 -n ONCE '" + image + "' > /dev/null"));
  std::vector<std::string> files;
  for (const auto& e : std::filesystem::recursive_directory_iterator(test::CorpusDir()))
    if (e.is_regular_file() && e.path().filename() != "MANIFEST.tsv")
      files.push_back(std::filesystem::relative(e.path(), test::CorpusDir()).string());
  std::sort(files.begin(), files.end());
  std::string commands = "export MTOOLS_SKIP_CHECK=1; set -e; ";
  std::set<std::string> folders;
  for (const std::string& f : files) {
    const std::string folder = f.substr(0, f.find('/'));
    if (folders.insert(folder).second) commands += "mmd -i '" + image + "' ::/" + folder + "; ";
    commands += "mcopy -i '" + image + "' '" + test::CorpusDir() + "/" + f + "' '::/" + f + "'; ";
  }
  std::mt19937 random(5);
  std::shuffle(files.begin(), files.end(), random);
  const std::size_t deleted = files.size() * 4 / 10;
  for (std::size_t i = 0; i < deleted; ++i) commands += "mdel -i '" + image + "' '::/" + files[i] + "'; ";
  ASSERT_TRUE(test::Run("bash -c \"" + commands + "\" > /dev/null 2>&1"));
  const test::OrganisedScan scan = test::ScanCarveAndOrganise(image, RecoveryMode::kDeletedFiles, false);
  ASSERT_TRUE(scan.organised);
  const Counted c = CountResults(scan);
  EXPECT_EQ(c.deletedListed, deleted);
  EXPECT_EQ(c.carved, 0u);
  EXPECT_EQ(c.rebuilt, 0u);
}

// The exFAT fixture (nested folders, deleted files and a deleted folder):
// its seven deleted files, no carved copies of them or of its live files.
TEST(EachFileOnce, DeletedFilesOfAnExfatVolumeAreListedOnce) {
  const std::string dir = test::TempDir("once-exfat");
  const std::string image = dir + "/exfat.img";
  ASSERT_TRUE(test::CopyFixture("exfat-basic", image));
  const test::OrganisedScan scan = test::ScanCarveAndOrganise(image, RecoveryMode::kDeletedFiles, false);
  ASSERT_TRUE(scan.organised);
  const Counted c = CountResults(scan);
  EXPECT_EQ(c.deletedListed, 7u);
  EXPECT_EQ(c.carved, 0u);
  EXPECT_EQ(c.rebuilt, 0u);
}

// The corpus on an exFAT volume made by mkfs.exfat and written through the
// exFAT driver, 40 % deleted: its own directories rebuild no second volume.
TEST(EachFileOnce, AnExfatVolumeIsNotRebuiltFromItsOwnDirectories) {
  if (test::CorpusDir().empty() || !test::ToolAvailable("mkfs.exfat") || !test::ToolAvailable("mount.exfat-fuse") ||
      geteuid() != 0)
    GTEST_SKIP() << "needs root, mkfs.exfat and exfat-fuse";
  const std::string dir = test::TempDir("once-exfat-corpus");
  const std::string image = dir + "/card.img", mnt = dir + "/mnt";
  const std::string script =
      "set -e; truncate -s 64M '" + image + "'; loop=$(losetup -f --show '" + image + "'); "
      "mkfs.exfat -L ONCE $loop > /dev/null; mkdir -p '" + mnt + "'; mount.exfat-fuse $loop '" + mnt + "'; "
      "cp -r '" + test::CorpusDir() + "'/* '" + mnt + "'/; sync; "
      "find '" + mnt + "' -type f | sort | awk 'NR % 5 < 2' | while read f; do rm \"$f\"; done; sync; "
      "umount '" + mnt + "'; losetup -d $loop";
  {
    std::ofstream out(dir + "/make.sh");
    out << script << "\n";
  }
  if (!test::Run("bash '" + dir + "/make.sh' > /dev/null 2>&1")) GTEST_SKIP() << "the exFAT volume could not be made";
  const test::OrganisedScan scan = test::ScanCarveAndOrganise(image, RecoveryMode::kDeletedFiles, false);
  ASSERT_TRUE(scan.organised);
  const Counted c = CountResults(scan);
  EXPECT_GT(c.deletedListed, 40u);
  EXPECT_EQ(c.rebuilt, 0u);
  EXPECT_EQ(c.carved, 0u);
}

}  // namespace
}  // namespace ambrel

namespace ambrel {
namespace {

// A camera card of photos and clips in DCIM folders, formatted again by
// mkfs.exfat, with the same layout or with another cluster size: the old
// directories in the new volume's free space rebuild the old trees, every
// file named, byte for byte, below the folders whose names survive; and
// what the carver finds is not listed a second time.
struct CardFormats {
  const char* before;  // mkfs.exfat options of the card as it was used
  const char* after;   // and of the format over it
  // False when the new metadata covers the old root, DCIM and the camera
  // folders (larger clusters): only the thumbnail folders written later
  // keep their names, the photos come back carved.
  bool cameraFoldersSurvive;
};

class FormattedCard : public ::testing::TestWithParam<CardFormats> {};

TEST_P(FormattedCard, AnExfatCardFormattedAgainComesBackNamed) {
  if (test::CorpusDir().empty() || !test::ToolAvailable("mkfs.exfat") || !test::ToolAvailable("mount.exfat-fuse") ||
      geteuid() != 0)
    GTEST_SKIP() << "needs root, mkfs.exfat and exfat-fuse";
  const std::string dir = test::TempDir("formatted-exfat");
  const std::string image = dir + "/card.img", mnt = dir + "/mnt", c = test::CorpusDir();
  const std::string script =
      "set -e; truncate -s 64M '" + image + "'; loop=$(losetup -f --show '" + image + "'); "
      "mkfs.exfat " + std::string(GetParam().before) + " -L CARD $loop > /dev/null; mkdir -p '" + mnt + "'; mount.exfat-fuse $loop '" + mnt + "'; "
      "mkdir -p '" + mnt + "/DCIM/100CANON' '" + mnt + "/DCIM/101CANON'; "
      "cp '" + c + "'/jpg/* '" + c + "'/tif/* '" + c + "'/nef/* '" + mnt + "/DCIM/100CANON/'; "
      "cp '" + c + "'/mov/* '" + c + "'/mp4/* '" + c + "'/png/* '" + mnt + "/DCIM/101CANON/'; "
      // Thumbnail folders below each: a folder that names another survives
      // a format whose new metadata covers the old root and DCIM.
      "mkdir -p '" + mnt + "/DCIM/100CANON/THM' '" + mnt + "/DCIM/101CANON/THM'; "
      "for n in 1 2 3; do cp '" + c + "/jpg/court-exif.jpg' \"" + mnt + "/DCIM/100CANON/THM/T10$n.JPG\"; "
      "cp '" + c + "/jpg/jpeg420exif.jpg' \"" + mnt + "/DCIM/101CANON/THM/T20$n.JPG\"; done; sync; "
      "umount '" + mnt + "'; mkfs.exfat " + std::string(GetParam().after) + " -L NEWCARD $loop > /dev/null; losetup -d $loop";
  {
    std::ofstream out(dir + "/make.sh");
    out << script << "\n";
  }
  if (!test::Run("bash '" + dir + "/make.sh' > /dev/null 2>&1")) GTEST_SKIP() << "the card could not be made";
  const test::OrganisedScan scan = test::ScanCarveAndOrganise(image, RecoveryMode::kPartitionFiles, false);
  ASSERT_TRUE(scan.organised);
  const PartitionInfo* rebuilt = nullptr;
  std::size_t carved = 0;
  for (const auto& p : scan.results) {
    if (p->origin == kOriginDirectoryEntries) rebuilt = p.get();
    if (p->origin == kOriginSignatures) carved += test::FilePaths(*p).size();
  }
  ASSERT_NE(rebuilt, nullptr);
  std::set<std::string> expected;
  if (!GetParam().cameraFoldersSurvive) {
    std::set<std::string> names;
    for (const std::string& p : test::FilePaths(*rebuilt)) names.insert(p.substr(p.rfind('/') + 1));
    EXPECT_EQ(names, (std::set<std::string>{"T101.JPG", "T102.JPG", "T103.JPG", "T201.JPG", "T202.JPG", "T203.JPG"}));
    EXPECT_GT(carved, 0u);
    const std::string court = test::Md5OfCommand("cat '" + c + "/jpg/court-exif.jpg'");
    const std::string j420 = test::Md5OfCommand("cat '" + c + "/jpg/jpeg420exif.jpg'");
    for (const auto& [path, md5] : test::CopyOutTree(*const_cast<PartitionInfo*>(rebuilt), dir + "/out"))
      EXPECT_EQ(md5, path.find("/T10") != std::string::npos ? court : j420) << path;
    return;
  }
  for (const char* folder : {"jpg", "tif", "nef"})
    for (const auto& e : std::filesystem::directory_iterator(c + "/" + folder))
      expected.insert("100CANON/" + e.path().filename().string());
  for (const char* folder : {"mov", "mp4", "png"})
    for (const auto& e : std::filesystem::directory_iterator(c + "/" + folder))
      expected.insert("101CANON/" + e.path().filename().string());
  for (const char* n : {"1", "2", "3"}) {
    expected.insert(std::string("100CANON/THM/T10") + n + ".JPG");
    expected.insert(std::string("101CANON/THM/T20") + n + ".JPG");
  }
  // Where the old root survived (another layout leaves it outside the new
  // volume's metadata), the paths begin with DCIM/: compare below it.
  std::set<std::string> paths;
  for (std::string p : test::FilePaths(*rebuilt)) {
    if (p.rfind("DCIM/", 0) == 0) p = p.substr(5);
    paths.insert(p);
  }
  EXPECT_EQ(paths, expected);
  EXPECT_EQ(carved, 0u);
  // The bytes, through the copy-out.
  std::map<std::string, std::string> written;  // below the volume's folder
  for (const auto& [path, md5] : test::CopyOutTree(*const_cast<PartitionInfo*>(rebuilt), dir + "/out")) {
    std::string below = path.substr(path.find('/') + 1);
    if (below.rfind("DCIM/", 0) == 0) below = below.substr(5);
    written[below] = md5;
  }
  for (const std::string& path : expected) {
    const std::string name = path.substr(path.find('/') + 1);
    std::string source = name.rfind("THM/T10", 0) == 0   ? c + "/jpg/court-exif.jpg"
                         : name.rfind("THM/T20", 0) == 0 ? c + "/jpg/jpeg420exif.jpg"
                                                         : "";
    for (const char* f : {"jpg", "tif", "nef", "mov", "mp4", "png"})
      if (std::filesystem::exists(c + "/" + f + "/" + name)) source = c + "/" + f + "/" + name;
    ASSERT_TRUE(written.count(path)) << path;
    EXPECT_EQ(written.at(path), test::Md5OfCommand("cat '" + source + "'")) << path;
  }
}

std::string CardName(const ::testing::TestParamInfo<CardFormats>& p) {
  static const char* const kNames[] = {"Defaults", "From32KTo128K", "From128KTo4K"};
  return kNames[p.index];
}

// mkfs.exfat's defaults both times; then 32 KiB clusters formatted over
// with 128 KiB ones and the other way round (cameras format with the card
// size's default, computers with the user's choice).
INSTANTIATE_TEST_SUITE_P(Layouts, FormattedCard,
                         ::testing::Values(CardFormats{"", "", true}, CardFormats{"-c 32K", "-c 128K", false},
                                           CardFormats{"-c 128K", "-c 4K", true}),
                         CardName);

}  // namespace
}  // namespace ambrel
