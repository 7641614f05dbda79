// Unreadable sectors in the metadata of a volume (the MFT, a folder's
// clusters, the fixed FAT16 root), through the faulty device over images
// made by mkntfs/ntfs-3g and mkfs.vfat/mtools: a failed read is retried in
// smaller pieces, a bad sector costs only the record or the entries it
// holds, and the volume names what it could not read.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "catalog/node_table.h"
#include "device/faulty_device.h"
#include "device/memory_device.h"
#include "fs/fat_test_support.h"
#include "fs/parse_file_system.h"
#include "support/test_paths.h"

namespace ambrel {
namespace {

std::vector<std::uint8_t> LoadImage(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::size_t Find(const std::vector<std::uint8_t>& hay, const std::string& needle, std::size_t from = 0) {
  if (needle.empty() || hay.size() < needle.size()) return std::string::npos;
  for (std::size_t i = from; i + needle.size() <= hay.size(); ++i)
    if (std::memcmp(hay.data() + i, needle.data(), needle.size()) == 0) return i;
  return std::string::npos;
}

std::string Utf16(const std::string& ascii) {
  std::string out;
  for (char c : ascii) out += std::string{c, '\0'};
  return out;
}

bool Shell(const std::string& command) { return std::system(command.c_str()) == 0; }

bool HaveTools(std::initializer_list<const char*> tools) {
  for (const char* t : tools)
    if (!Shell(std::string("command -v ") + t + " >/dev/null 2>&1")) return false;
  return true;
}

// The image parsed through a faulty device whose `bad` sectors fail.
struct FaultyParse {
  PartitionInfo partition;
  bool parsed = false;
  std::map<std::string, std::uint32_t> paths;
};

FaultyParse Parse(const std::string& image, std::int32_t kind, const std::vector<std::uint64_t>& bad) {
  test::EnableParsing();
  FaultyParse r;
  r.partition = test::ImagePartition(image, kind);
  auto faulty = std::make_shared<FaultyDevice>(std::make_shared<MemoryDevice>(LoadImage(image)));
  for (std::uint64_t lba : bad) faulty->FailSectors(lba, 1);
  r.partition.source = faulty;
  r.parsed = ParseFileSystem(nullptr, r.partition);
  if (r.parsed) r.paths = test::NodePaths(r.partition.table);
  return r;
}

// The byte offset of the FILE record that holds `name` as its file name.
std::size_t FileRecordOf(const std::vector<std::uint8_t>& image, const std::string& name) {
  const std::string wanted = Utf16(name);
  for (std::size_t at = 0; at + 1024 <= image.size(); at += 1024) {
    if (std::memcmp(image.data() + at, "FILE", 4) != 0) continue;
    if (image[at + 0x16] & 0x02) continue;  // a folder's index may hold the name too
    const std::vector<std::uint8_t> record(image.begin() + static_cast<std::ptrdiff_t>(at),
                                           image.begin() + static_cast<std::ptrdiff_t>(at + 1024));
    if (Find(record, wanted) != std::string::npos) return at;
  }
  return std::string::npos;
}

// One unreadable sector in the MFT used to zero the whole 4 MiB read it
// fell in: every record of a small volume was lost and the listing was
// empty. Now it costs the one record it lies in, and names it.
TEST(MetadataReadErrors, AnUnreadableMftSectorCostsOnlyItsRecord) {
  const std::string image = test::FixtureImage("ntfs-basic");
  ASSERT_FALSE(image.empty());
  const auto bytes = LoadImage(image);
  const std::size_t record = FileRecordOf(bytes, "IMG_0001.JPG");
  ASSERT_NE(record, std::string::npos);
  std::uint32_t number = 0;
  std::memcpy(&number, bytes.data() + record + 0x2C, 4);

  const FaultyParse clean = Parse(image, kFsNtfs, {});
  ASSERT_TRUE(clean.parsed);
  EXPECT_TRUE(clean.partition.unreadMetadata.empty());
  ASSERT_TRUE(clean.paths.count("Photos/IMG_0001.JPG"));

  const std::uint64_t badLba = record / 512 + 1;  // the record's second sector
  const FaultyParse damaged = Parse(image, kFsNtfs, {badLba});
  ASSERT_TRUE(damaged.parsed);
  EXPECT_EQ(damaged.paths.count("Photos/IMG_0001.JPG"), 0u);
  EXPECT_EQ(damaged.paths.size() + 1, clean.paths.size());
  for (const auto& [path, id] : clean.paths) {
    if (path != "Photos/IMG_0001.JPG") {
      EXPECT_TRUE(damaged.paths.count(path)) << path;
    }
  }
  ASSERT_EQ(damaged.partition.unreadMetadata.size(), 1u);
  const UnreadMetadata& u = damaged.partition.unreadMetadata[0];
  EXPECT_EQ(u.kind, UnreadMetadataKind::kMftRecords);
  EXPECT_EQ(u.first, number);
  EXPECT_EQ(u.count, 1u);
  EXPECT_EQ(u.lba, badLba);
}

// Two neighbouring records unreadable: one piece naming both.
TEST(MetadataReadErrors, NeighbouringUnreadableRecordsAreOnePiece) {
  const std::string image = test::FixtureImage("ntfs-basic");
  ASSERT_FALSE(image.empty());
  const auto bytes = LoadImage(image);
  const std::size_t record = FileRecordOf(bytes, "IMG_0001.JPG");
  ASSERT_NE(record, std::string::npos);
  std::uint32_t number = 0;
  std::memcpy(&number, bytes.data() + record + 0x2C, 4);
  const FaultyParse damaged = Parse(image, kFsNtfs, {record / 512, record / 512 + 2});
  ASSERT_TRUE(damaged.parsed);
  ASSERT_EQ(damaged.partition.unreadMetadata.size(), 1u);
  EXPECT_EQ(damaged.partition.unreadMetadata[0].first, number);
  EXPECT_EQ(damaged.partition.unreadMetadata[0].count, 2u);
}

// A FAT16 volume (2 KiB clusters) with DIR holding twelve files of long
// names, four 32-byte entries each: four files to a sector.
struct FatFolder {
  std::string image;
  std::size_t folderAt = 0;  // byte offset of DIR's first cluster
};

std::string LongName(int n) {
  char name[64];
  std::snprintf(name, sizeof name, "long file name number %02d.txt", n);
  return name;
}

FatFolder MakeFatFolder(const std::string& tag, const std::string& fatOptions = "-F 16 -s 4") {
  FatFolder f;
  const std::string dir = test::TempDir(tag);
  f.image = dir + "/fat.img";
  std::string files;
  for (int n = 1; n <= 12; ++n) {
    const std::string path = dir + "/" + LongName(n);
    std::ofstream(path) << "file " << n << "\n";
    files += " '" + path + "'";
  }
  if (!Shell("truncate -s 40M '" + f.image + "' && mkfs.vfat " + fatOptions + " -n META '" + f.image +
             "' >/dev/null 2>&1 && mmd -i '" + f.image + "' ::/DIR && mcopy -i '" + f.image + "'" + files +
             " ::/DIR/"))
    return {};
  const auto bytes = LoadImage(f.image);
  f.folderAt = Find(bytes, std::string(".          \x10", 12));
  if (f.folderAt == std::string::npos || f.folderAt % 512 != 0) return {};
  return f;
}

// One bad sector in a folder's cluster used to read as the folder's end:
// the files in it and every file after it were dropped silently. Now the
// files in the bad sector are lost, the rest are listed, and the folder
// is named.
TEST(MetadataReadErrors, AnUnreadableFolderSectorCostsOnlyItsEntries) {
  if (!HaveTools({"mkfs.vfat", "mcopy", "mmd"})) GTEST_SKIP() << "mkfs.vfat/mtools missing";
  const FatFolder f = MakeFatFolder("meta-fat-folder");
  ASSERT_FALSE(f.image.empty());
  const FaultyParse clean = Parse(f.image, kFsFat16, {});
  ASSERT_TRUE(clean.parsed);
  for (int n = 1; n <= 12; ++n) ASSERT_TRUE(clean.paths.count("DIR/" + LongName(n))) << n;

  const std::uint64_t badLba = f.folderAt / 512 + 1;  // entries 16 to 31: files 4 to 7 end there
  const FaultyParse damaged = Parse(f.image, kFsFat16, {badLba});
  ASSERT_TRUE(damaged.parsed);
  for (int n : {1, 2, 3, 9, 10, 11, 12}) EXPECT_TRUE(damaged.paths.count("DIR/" + LongName(n))) << n;
  for (int n : {4, 5, 6, 7}) EXPECT_FALSE(damaged.paths.count("DIR/" + LongName(n))) << n;
  ASSERT_EQ(damaged.partition.unreadMetadata.size(), 1u);
  const UnreadMetadata& u = damaged.partition.unreadMetadata[0];
  EXPECT_EQ(u.kind, UnreadMetadataKind::kFolderSectors);
  EXPECT_EQ(u.folder, "/DIR");
  EXPECT_EQ(u.lba, badLba);
  EXPECT_EQ(u.count, 1u);
}

// The folder's first sector (its "." and ".." entries) unreadable: the
// folder cannot be checked, but is kept, and its other sectors are listed.
TEST(MetadataReadErrors, AFolderWhoseFirstSectorIsUnreadableKeepsTheRest) {
  if (!HaveTools({"mkfs.vfat", "mcopy", "mmd"})) GTEST_SKIP() << "mkfs.vfat/mtools missing";
  const FatFolder f = MakeFatFolder("meta-fat-first");
  ASSERT_FALSE(f.image.empty());
  const FaultyParse damaged = Parse(f.image, kFsFat16, {f.folderAt / 512});
  ASSERT_TRUE(damaged.parsed);
  EXPECT_TRUE(damaged.paths.count("DIR"));
  for (int n = 5; n <= 12; ++n) EXPECT_TRUE(damaged.paths.count("DIR/" + LongName(n))) << n;
  for (int n = 1; n <= 3; ++n) EXPECT_FALSE(damaged.paths.count("DIR/" + LongName(n))) << n;
  ASSERT_EQ(damaged.partition.unreadMetadata.size(), 1u);
  EXPECT_EQ(damaged.partition.unreadMetadata[0].folder, "/DIR");
}

// The fixed root of FAT16: a bad sector in it costs its entries only.
TEST(MetadataReadErrors, AnUnreadableSectorOfTheFat16RootCostsOnlyItsEntries) {
  if (!HaveTools({"mkfs.vfat", "mcopy"})) GTEST_SKIP() << "mkfs.vfat/mtools missing";
  const std::string dir = test::TempDir("meta-fat16-root");
  const std::string image = dir + "/fat16.img";
  std::string files;
  for (int n = 1; n <= 12; ++n) {
    std::ofstream(dir + "/" + LongName(n)) << "root file " << n << "\n";
    files += " '" + dir + "/" + LongName(n) + "'";
  }
  ASSERT_TRUE(Shell("truncate -s 20M '" + image + "' && mkfs.vfat -F 16 -n ROOT16 '" + image +
                    "' >/dev/null 2>&1 && mcopy -i '" + image + "'" + files + " ::/"));
  const auto bytes = LoadImage(image);
  const std::size_t label = Find(bytes, std::string("ROOT16     \x08", 12), 512);
  ASSERT_NE(label, std::string::npos);
  ASSERT_EQ(label % 512, 0u);  // the label is the root's first entry
  // Root sector 1 holds entries 16 to 31: the label, then four entries per
  // file put files 4 to 7 at their end there.
  const FaultyParse damaged = Parse(image, kFsFat16, {label / 512 + 1});
  ASSERT_TRUE(damaged.parsed);
  for (int n : {1, 2, 3, 9, 10, 11, 12}) EXPECT_TRUE(damaged.paths.count(LongName(n))) << n;
  EXPECT_FALSE(damaged.paths.count(LongName(5)));
  ASSERT_EQ(damaged.partition.unreadMetadata.size(), 1u);
  EXPECT_EQ(damaged.partition.unreadMetadata[0].folder, "/");
  EXPECT_EQ(damaged.partition.unreadMetadata[0].first, 0u);
}

// exFAT, on a volume made by mkfs.exfat: a bad sector in the root's
// cluster used to zero the whole cluster, and with it every folder after
// it. Now the sets in that sector are lost, the rest are listed.
TEST(MetadataReadErrors, AnUnreadableExfatDirectorySectorCostsOnlyItsSets) {
  const std::string image = test::FixtureImage("exfat-dirs");
  ASSERT_FALSE(image.empty());
  const auto bytes = LoadImage(image);
  std::uint32_t heap = 0, root = 0;
  std::memcpy(&heap, bytes.data() + 88, 4);
  std::memcpy(&root, bytes.data() + 96, 4);
  const std::uint64_t rootLba = heap + (std::uint64_t{root - 2} << bytes[109]);
  const FaultyParse clean = Parse(image, kFsExfat, {});
  ASSERT_TRUE(clean.parsed);
  for (int n = 1; n <= 25; ++n) ASSERT_TRUE(clean.paths.count("dir" + std::to_string(n))) << n;

  // Root sector 1 holds entries 16 to 31: three per folder after the
  // label, bitmap and up-case entries.
  const FaultyParse damaged = Parse(image, kFsExfat, {rootLba + 1});
  ASSERT_TRUE(damaged.parsed);
  int missing = 0;
  for (int n = 1; n <= 25; ++n) missing += damaged.paths.count("dir" + std::to_string(n)) == 0;
  EXPECT_GE(missing, 4);
  EXPECT_LE(missing, 7);
  EXPECT_FALSE(damaged.paths.count("dir7"));
  for (int n : {1, 2, 3, 12, 20, 25}) {
    EXPECT_TRUE(damaged.paths.count("dir" + std::to_string(n))) << n;
    EXPECT_TRUE(damaged.paths.count("dir" + std::to_string(n) + "/b" + std::to_string(n) + ".bin")) << n;
  }
  ASSERT_EQ(damaged.partition.unreadMetadata.size(), 1u);
  EXPECT_EQ(damaged.partition.unreadMetadata[0].kind, UnreadMetadataKind::kFolderSectors);
  EXPECT_EQ(damaged.partition.unreadMetadata[0].folder, "/");
  EXPECT_EQ(damaged.partition.unreadMetadata[0].lba, rootLba + 1);
}

}  // namespace
}  // namespace ambrel
