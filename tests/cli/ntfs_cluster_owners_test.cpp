// Which live file holds a cluster of an NTFS volume, by the run lists of
// its FILE records. Files written, deleted and written over through ntfs-3g:
// a deleted file whose clusters a new file took is listed overwritten and
// names that file, as The Sleuth Kit's istat places the clusters. Two live
// records patched to share one run (a damaged volume): each is listed
// cross-linked with the other and neither is written as recovered. A file
// fragmented beyond what one record holds (its runs, even its name, moved
// to extension records by an attribute list) and a folder's index blocks
// own their clusters too.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli_run.h"
#include "support/test_paths.h"

namespace ambrel {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

bool CanMountNtfs() {
  return ::geteuid() == 0 && fs::exists("/dev/fuse") &&
         test::Shell("command -v mkntfs ntfs-3g fusermount fls istat >/dev/null 2>&1");
}

std::string RandomBytes(std::size_t n, unsigned seed) {
  std::mt19937 engine(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(engine());
  return s;
}

std::string CommandText(const std::string& dir, const std::string& command) {
  const std::string out = dir + "/command.txt";
  if (!test::Shell("(" + command + ") > " + test::Quoted(out) + " 2>/dev/null")) return "";
  return test::ReadFileBytes(out);
}

// fls -r -p: path -> (inode, deleted), system files left out.
struct FlsEntry {
  std::string inode;
  bool deleted = false;
};
std::map<std::string, FlsEntry> FlsFiles(const std::string& dir, const std::string& img) {
  std::map<std::string, FlsEntry> out;
  std::istringstream lines(CommandText(dir, "fls -r -p " + test::Quoted(img)));
  for (std::string line; std::getline(lines, line);) {
    const auto tab = line.find('\t');
    if (tab == std::string::npos || line.find("/r ") == std::string::npos) continue;
    const std::string path = line.substr(tab + 1);
    if (path.empty() || path[0] == '$' || path.find("/$") != std::string::npos) continue;
    std::istringstream head(line.substr(0, tab));
    std::string kind, word;
    head >> kind >> word;
    FlsEntry e;
    e.deleted = word == "*";
    if (e.deleted) head >> word;
    e.inode = word.substr(0, word.find('-'));
    out[path] = e;
  }
  return out;
}

// The clusters of the unnamed $DATA of an inode, in file order (istat reads
// a deleted record's run list as it was left).
std::vector<std::uint64_t> DataClusters(const std::string& dir, const std::string& img, const std::string& inode) {
  std::vector<std::uint64_t> out;
  std::istringstream lines(CommandText(dir, "istat " + test::Quoted(img) + " " + inode));
  bool data = false;
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("Type: ", 0) == 0) {
      data = line.rfind("Type: $DATA", 0) == 0 && line.find("Name: N/A") != std::string::npos;
      continue;
    }
    if (!data || line.empty() || !std::isdigit(static_cast<unsigned char>(line[0]))) continue;
    std::istringstream numbers(line);
    for (std::uint64_t c; numbers >> c;) out.push_back(c);
  }
  return out;
}

// Every cluster of every non-resident attribute of an inode ($DATA of all
// its records, $INDEX_ALLOCATION, a non-resident $ATTRIBUTE_LIST, ...).
std::vector<std::uint64_t> AttributeClusters(const std::string& dir, const std::string& img,
                                             const std::string& inode) {
  std::vector<std::uint64_t> out;
  std::istringstream lines(CommandText(dir, "istat " + test::Quoted(img) + " " + inode));
  bool runs = false;
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("Type: ", 0) == 0) {
      runs = line.find("Non-Resident") != std::string::npos;
      continue;
    }
    if (!runs || line.empty() || !std::isdigit(static_cast<unsigned char>(line[0]))) continue;
    std::istringstream numbers(line);
    for (std::uint64_t c; numbers >> c;) out.push_back(c);
  }
  return out;
}

// The first VCN of the unnamed $DATA that an extension record holds, by
// istat's attribute-list lines ("Type: 128-0 \tMFT Entry: 646 \tVCN: 1221");
// 0 when the file has no attribute list.
std::uint64_t ExtensionDataVcn(const std::string& dir, const std::string& img, const std::string& inode) {
  std::istringstream lines(CommandText(dir, "istat " + test::Quoted(img) + " " + inode));
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("Type: 128-", 0) != 0 || line.find("MFT Entry: " + inode + " ") != std::string::npos) continue;
    const auto vcn = line.find("VCN: ");
    if (vcn != std::string::npos && line.find("MFT Entry: ") != std::string::npos)
      return std::stoull(line.substr(vcn + 5));
  }
  return 0;
}

std::map<std::string, Json> ListEntries(const std::string& img, const std::string& options = "") {
  const test::CliOutput list = test::RunAmbrelCli("list --json " + options + " " + test::Quoted(img));
  EXPECT_EQ(list.status, 0) << list.err;
  std::map<std::string, Json> out;
  const Json doc = Json::parse(list.out, nullptr, false);
  if (!doc.is_array() || doc.size() != 1) return out;
  for (const Json& e : doc[0]["entries"]) out[e["path"].get<std::string>()] = e;
  return out;
}

class NtfsClusterOwners : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!CanMountNtfs()) GTEST_SKIP() << "needs root, FUSE, mkntfs, ntfs-3g and sleuthkit";
    dir_ = test::TempDir("ntfs-owners");
    img_ = dir_ + "/volume.img";
    mnt_ = dir_ + "/mnt";
    fs::create_directories(mnt_);
  }
  bool Format() {
    return test::Shell("(truncate -s 16M " + test::Quoted(img_) + " && mkntfs -q -F -f -c 4096 -L OWNERS " +
                       test::Quoted(img_) + " && ntfs-3g " + test::Quoted(img_) + " " + test::Quoted(mnt_) +
                       ") >/dev/null 2>&1");
  }
  bool Unmount() { return test::Shell("fusermount -u " + test::Quoted(mnt_)); }
  std::string dir_, img_, mnt_;
};

// Twenty files, every second one deleted, then one new file filling all
// but 3 MiB of the free space: ntfs-3g hands it the freed clusters of the
// last deleted files.
TEST_F(NtfsClusterOwners, ADeletedFileNamesTheLiveFileThatTookItsClusters) {
  ASSERT_TRUE(Format());
  for (int i = 1; i <= 20; ++i)
    test::WriteFileBytes(mnt_ + "/f" + std::to_string(100 + i) + ".dat", RandomBytes(20000 + 1000 * i, i));
  ASSERT_TRUE(test::Shell("sync"));
  for (int i = 2; i <= 20; i += 2) fs::remove(mnt_ + "/f" + std::to_string(100 + i) + ".dat");
  ASSERT_TRUE(test::Shell("sync"));
  const std::uintmax_t free = fs::space(mnt_).available;
  ASSERT_GT(free, 4u << 20);
  test::WriteFileBytes(mnt_ + "/new1.bin", RandomBytes(free - (3u << 20), 99));
  test::WriteFileBytes(mnt_ + "/new2.bin", RandomBytes(100000, 98));
  ASSERT_TRUE(Unmount());

  // The oracle: which live file holds each cluster, by istat.
  const auto files = FlsFiles(dir_, img_);
  std::map<std::uint64_t, std::string> holder;
  for (const auto& [path, e] : files)
    if (!e.deleted)
      for (std::uint64_t c : DataClusters(dir_, img_, e.inode)) holder[c] = path;
  const auto listed = ListEntries(img_, "--deleted");
  int overwritten = 0, intact = 0;
  for (const auto& [path, e] : files) {
    if (!e.deleted) continue;
    ASSERT_TRUE(listed.count(path)) << path;
    const Json& entry = listed.at(path);
    std::string expected;
    std::size_t held = 0;
    const auto clusters = DataClusters(dir_, img_, e.inode);
    for (std::uint64_t c : clusters)
      if (holder.count(c)) {
        if (expected.empty()) expected = holder[c];
        ++held;
      }
    if (held == 0) {
      EXPECT_EQ(entry.value("state", ""), "intact") << path;
      EXPECT_FALSE(entry.contains("overwrittenBy")) << path;
      ++intact;
      continue;
    }
    ++overwritten;
    EXPECT_EQ(entry.value("state", ""), held == clusters.size() ? "overwritten" : "partly overwritten") << path;
    EXPECT_EQ(entry.value("overwrittenBy", ""), expected) << path;
    EXPECT_NE(entry.value("damage", "").find("first by " + expected), std::string::npos) << entry.dump();
    EXPECT_FALSE(entry.value("whole", true)) << path;
  }
  EXPECT_GT(overwritten, 0) << "no deleted file was written over: the test proves nothing";
  EXPECT_GT(intact, 0);

  // The copy-out names it too and never counts it recovered.
  const std::string out = dir_ + "/out";
  const test::CliOutput r =
      test::RunAmbrelCli("recover " + test::Quoted(img_) + " --deleted --json --out " + test::Quoted(out));
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  const Json summary = Json::parse(r.out, nullptr, false);
  ASSERT_TRUE(summary.is_object()) << r.out;
  EXPECT_EQ(summary.value("files", -1), intact);
  int named = 0;
  for (const Json& d : summary["damagedFiles"]) named += d.get<std::string>().find(", first by new") != std::string::npos;
  EXPECT_EQ(named, overwritten) << r.out;
}

// A folder of 300 short names, then the volume filled with one-cluster
// files and every second one deleted: the free space is holes of one
// cluster. Longer names grow the folder's index into some of them (no new
// records, so the deleted files keep theirs), and one file takes the rest
// in so many runs that ntfs-3g moves them, and its name, to extension
// records behind an attribute list.
TEST_F(NtfsClusterOwners, AFragmentedFilesExtensionRecordsAndAFoldersIndexBlocksOwnTheirClusters) {
  ASSERT_TRUE(Format());
  const std::string folder = mnt_ + "/big folder/";
  fs::create_directories(folder);
  for (int i = 0; i < 300; ++i) test::WriteFileBytes(folder + "e" + std::to_string(1000 + i), "");
  int files = 0;
  for (; fs::space(mnt_).available >= 8 * 4096; ++files) {
    char name[32];
    std::snprintf(name, sizeof name, "/s%04d.dat", files);
    test::WriteFileBytes(mnt_ + name, RandomBytes(4096, 1000 + files));
  }
  ASSERT_TRUE(test::Shell("sync"));
  for (int i = 0; i < files; i += 2) {
    char name[32];
    std::snprintf(name, sizeof name, "/s%04d.dat", i);
    fs::remove(mnt_ + name);
  }
  ASSERT_TRUE(test::Shell("sync"));
  for (int i = 0; i < 300; ++i) {
    std::string longer;
    for (int k = 0; k < 15; ++k) longer += "entry " + std::to_string(1000 + i) + " ";
    fs::rename(folder + "e" + std::to_string(1000 + i), folder + longer);
  }
  ASSERT_TRUE(test::Shell("sync"));
  const std::uintmax_t free = fs::space(mnt_).available;
  ASSERT_GT(free, 64u * 4096);
  const std::string frag = RandomBytes(free - 16 * 4096, 7);
  test::WriteFileBytes(mnt_ + "/frag.bin", frag);
  ASSERT_TRUE(Unmount());

  // The oracle: the holder of each cluster by istat, over every attribute
  // of the files that took freed clusters (the folder, frag.bin, and the
  // MFT, which may grow into a hole and names no file).
  const auto entries = FlsFiles(dir_, img_);
  ASSERT_TRUE(entries.count("frag.bin"));
  const std::string fragInode = entries.at("frag.bin").inode;
  std::map<std::uint64_t, std::string> holder;
  for (std::uint64_t c : AttributeClusters(dir_, img_, "0")) holder[c] = "";
  for (std::uint64_t c : AttributeClusters(dir_, img_, fragInode)) holder[c] = "frag.bin";
  std::string folderInode;
  {
    const std::string ifind = CommandText(dir_, "ifind -n " + test::Quoted("big folder") + " " + test::Quoted(img_));
    folderInode = ifind.substr(0, ifind.find('\n'));
  }
  ASSERT_FALSE(folderInode.empty());
  for (std::uint64_t c : AttributeClusters(dir_, img_, folderInode)) holder[c] = "big folder";
  const std::uint64_t extensionVcn = ExtensionDataVcn(dir_, img_, fragInode);
  ASSERT_GT(extensionVcn, 0u) << "frag.bin has no extension record: the test proves nothing";
  const std::vector<std::uint64_t> fragClusters = DataClusters(dir_, img_, fragInode);
  ASSERT_GT(fragClusters.size(), extensionVcn);
  const std::set<std::uint64_t> inExtension(fragClusters.begin() + static_cast<std::ptrdiff_t>(extensionVcn),
                                            fragClusters.end());

  const auto listed = ListEntries(img_);
  // The spread file is listed whole, at its size, once.
  ASSERT_TRUE(listed.count("frag.bin"));
  EXPECT_EQ(listed.at("frag.bin").value("size", 0ull), frag.size());
  EXPECT_TRUE(listed.at("frag.bin").value("whole", false)) << listed.at("frag.bin").dump();
  // istat per deleted file is slow: every one listed intact or written over
  // by the folder is checked, and every tenth of the others.
  int byFolder = 0, byExtension = 0, checked = 0, seen = 0;
  for (const auto& [path, e] : entries) {
    if (!e.deleted) continue;
    ASSERT_TRUE(listed.count(path)) << path;
    const Json& entry = listed.at(path);
    if (entry.value("state", "") == "overwritten" && entry.value("overwrittenBy", "") != "big folder" && seen++ % 10)
      continue;
    bool held = false;
    std::string expected;
    std::uint64_t first = 0;
    for (std::uint64_t c : DataClusters(dir_, img_, e.inode))
      if (holder.count(c)) {
        held = true;
        expected = holder[c];
        first = c;
        break;
      }
    ++checked;
    if (!held) {
      EXPECT_EQ(entry.value("state", ""), "intact") << path;
      continue;
    }
    EXPECT_EQ(entry.value("state", ""), "overwritten") << path;
    EXPECT_EQ(entry.value("overwrittenBy", ""), expected) << path << " cluster " << first;
    byFolder += expected == "big folder";
    byExtension += expected == "frag.bin" && inExtension.count(first);
  }
  EXPECT_GT(checked, 50);
  EXPECT_GT(byFolder, 0) << "no deleted file lies under the folder's index blocks";
  EXPECT_GT(byExtension, 0) << "no deleted file lies under an extent of an extension record";

  // The spread file comes out byte for byte.
  const std::string out = dir_ + "/out";
  const test::CliOutput r = test::RunAmbrelCli("recover " + test::Quoted(img_) + " --present --filter frag --json --out " +
                                               test::Quoted(out));
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  bool found = false;
  for (const auto& f : fs::recursive_directory_iterator(out))
    if (f.is_regular_file() && f.path().filename() == "frag.bin") {
      found = true;
      EXPECT_TRUE(test::ReadFileBytes(f.path().string()) == frag);
    }
  EXPECT_TRUE(found) << r.out;
}

// The byte offset of the FILE record whose name is `name` (UTF-16) in the
// MFT's first run, found by its $FILE_NAME; npos when none.
std::size_t RecordNamed(const std::string& bytes, const std::string& name) {
  std::string wide;
  for (char c : name) wide += std::string{c, '\0'};
  const std::uint64_t clusterBytes = std::uint64_t{static_cast<std::uint8_t>(bytes[13])} * 512;
  std::uint64_t mftCluster;
  std::memcpy(&mftCluster, bytes.data() + 48, 8);
  const std::size_t mft = mftCluster * clusterBytes;
  for (std::size_t at = bytes.find(wide, mft); at != std::string::npos; at = bytes.find(wide, at + 1)) {
    const std::size_t record = mft + (at - mft) / 1024 * 1024;
    std::uint32_t number;
    std::memcpy(&number, bytes.data() + record + 0x2C, 4);
    if (bytes.compare(record, 4, "FILE") == 0 && number >= 16) return record;
  }
  return std::string::npos;
}

// The offset of the run list of a record's non-resident $DATA and the room
// the attribute leaves for it.
std::size_t DataRunList(const std::string& bytes, std::size_t record, std::size_t& room) {
  std::uint16_t first;
  std::memcpy(&first, bytes.data() + record + 0x14, 2);
  for (std::size_t at = record + first; at + 8 < record + 1024;) {
    std::uint32_t type, length;
    std::memcpy(&type, bytes.data() + at, 4);
    std::memcpy(&length, bytes.data() + at + 4, 4);
    if (type == 0xFFFFFFFF || length == 0) break;
    if (type == 0x80 && bytes[at + 8] == 1) {
      std::uint16_t runs;
      std::memcpy(&runs, bytes.data() + at + 0x20, 2);
      room = length - runs;
      return at + runs;
    }
    at += length;
  }
  return std::string::npos;
}

// b.bin's run list is made a copy of a.bin's: both records claim the same
// clusters, and b.bin's own clusters belong to no one.
TEST_F(NtfsClusterOwners, TwoLiveFilesSharingARunAreCrossLinkedAndNotRecovered) {
  ASSERT_TRUE(Format());
  const std::string a = RandomBytes(3 * 4096, 1), b = RandomBytes(3 * 4096, 2), c = RandomBytes(5000, 3);
  test::WriteFileBytes(mnt_ + "/a.bin", a);
  test::WriteFileBytes(mnt_ + "/b.bin", b);
  test::WriteFileBytes(mnt_ + "/c.bin", c);
  ASSERT_TRUE(Unmount());
  std::string bytes = test::ReadFileBytes(img_);
  const std::size_t recordA = RecordNamed(bytes, "a.bin"), recordB = RecordNamed(bytes, "b.bin");
  ASSERT_NE(recordA, std::string::npos);
  ASSERT_NE(recordB, std::string::npos);
  std::size_t roomA = 0, roomB = 0;
  const std::size_t runsA = DataRunList(bytes, recordA, roomA), runsB = DataRunList(bytes, recordB, roomB);
  ASSERT_NE(runsA, std::string::npos);
  ASSERT_NE(runsB, std::string::npos);
  // The run list ends at its 0 header byte.
  std::size_t lengthA = 0;
  while (lengthA < roomA && bytes[runsA + lengthA] != 0) lengthA += 1 + (bytes[runsA + lengthA] & 0x0F) +
                                                            ((static_cast<std::uint8_t>(bytes[runsA + lengthA]) >> 4) & 0x0F);
  ASSERT_LT(lengthA, roomB);
  ASSERT_LT(runsB + lengthA - recordB, 510u) << "the patch would cross the update-sequence slot";
  bytes.replace(runsB, lengthA, bytes, runsA, lengthA);
  bytes[runsB + lengthA] = 0;
  test::WriteFileBytes(img_, bytes);

  const auto listed = ListEntries(img_);
  ASSERT_TRUE(listed.count("a.bin") && listed.count("b.bin") && listed.count("c.bin"));
  EXPECT_EQ(listed.at("a.bin").value("damage", ""), "cross-linked with b.bin");
  EXPECT_EQ(listed.at("b.bin").value("damage", ""), "cross-linked with a.bin");
  EXPECT_FALSE(listed.at("a.bin").value("whole", true));
  EXPECT_FALSE(listed.at("b.bin").value("whole", true));
  EXPECT_TRUE(listed.at("c.bin").value("whole", false));

  const std::string out = dir_ + "/out";
  const test::CliOutput r = test::RunAmbrelCli("recover " + test::Quoted(img_) + " --json --out " + test::Quoted(out));
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  EXPECT_NE(r.out.find("a.bin: cross-linked with b.bin: 0 of 12288 bytes"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("b.bin: cross-linked with a.bin: 0 of 12288 bytes"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"files\":1,"), std::string::npos) << r.out;
  // Neither is written with the other's bytes; c.bin comes out whole.
  for (const auto& entry : fs::recursive_directory_iterator(out)) {
    if (!entry.is_regular_file()) continue;
    const std::string name = entry.path().filename().string();
    const std::string data = test::ReadFileBytes(entry.path().string());
    if (name == "a.bin" || name == "b.bin") {
      EXPECT_TRUE(data.empty()) << name;
    } else if (name == "c.bin") {
      EXPECT_EQ(data, c);
    }
  }
}

}  // namespace
}  // namespace ambrel
