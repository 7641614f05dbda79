// NTFS compressed files written by ntfs-3g (mount option "compression", the
// folder's compressed attribute set first) come out decompressed and
// byte-identical; a file whose $DATA is marked encrypted is reported and
// never written.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

#include "app/settings.h"
#include "catalog/node_table.h"
#include "fs/ntfs/ntfs_file_data.h"
#include "fs/parse_file_system.h"
#include "recovery/recovery_test_support.h"
#include "support/test_paths.h"

namespace ambrel {
namespace {

namespace fs = std::filesystem;

std::string Text(std::size_t n) {
  std::string s;
  for (int i = 0; s.size() < n; ++i) s += "line " + std::to_string(i) + ": the quick brown fox jumps over it\n";
  s.resize(n);
  return s;
}

std::string Random(std::size_t n, unsigned seed) {
  std::mt19937 engine(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(engine());
  return s;
}

struct Sample {
  std::string name;
  std::string bytes;
};

std::vector<Sample> Samples() {
  return {
      {"text.txt", Text(300000)},                                   // compressed units
      {"random.bin", Random(140000, 1)},                            // units stored whole
      {"mixed.bin", std::string(200000, '\0') + Random(5000, 2) + Text(90000)},  // sparse units too
      {"tail.txt", Text(3000)},                                     // one short unit
      {"encrypted.bin", Text(50000)},
  };
}

bool CanMountNtfs() {
  return ::geteuid() == 0 && fs::exists("/dev/fuse") && test::Shell("command -v mkntfs ntfs-3g fusermount >/dev/null");
}

// Builds the image; false when a tool fails.
bool BuildImage(const std::string& dir, const std::string& img) {
  const std::string mnt = dir + "/mnt";
  fs::create_directories(mnt);
  if (!test::Shell("truncate -s 32M '" + img + "' && mkntfs -q -f -F -c 4096 -p 0 -H 255 -S 63 '" + img +
                   "' >/dev/null 2>&1 && ntfs-3g -o compression '" + img + "' '" + mnt + "'"))
    return false;
  bool ok = test::Shell("mkdir '" + mnt + "/z' && python3 -c 'import os,sys,struct; "
                        "os.setxattr(sys.argv[1], \"system.ntfs_attrib_be\", struct.pack(\">I\", 0x800))' '" + mnt +
                        "/z'");
  for (const Sample& s : Samples()) {
    std::ofstream(mnt + "/z/" + s.name, std::ios::binary) << s.bytes;
    ok = ok && static_cast<bool>(std::ofstream(mnt + "/z/" + s.name, std::ios::binary | std::ios::app));
  }
  std::ofstream(mnt + "/plain.txt", std::ios::binary) << Text(20000);
  return test::Shell("fusermount -u '" + mnt + "'") && ok;
}

// Sets the encrypted flag (0x4000) in the $DATA attribute header of the
// record that names `utf16`.
bool MarkEncrypted(const std::string& img, const std::string& utf16) {
  auto bytes = test::ReadBytes(img);
  for (std::size_t at = test::FindBytes(bytes, utf16); at != std::string::npos;
       at = test::FindBytes(bytes, utf16, at + 1)) {
    const std::size_t record = at / 1024 * 1024;
    if (std::memcmp(bytes.data() + record, "FILE", 4) != 0) continue;
    std::uint16_t first;
    std::memcpy(&first, bytes.data() + record + 0x14, 2);
    for (std::size_t pos = record + first; pos + 16 < record + 1024;) {
      std::uint32_t type, length;
      std::memcpy(&type, bytes.data() + pos, 4);
      std::memcpy(&length, bytes.data() + pos + 4, 4);
      if (type == 0xFFFFFFFF || length == 0) break;
      if (type == 0x80) {
        bytes[pos + 0x0D] |= 0x40;
        return test::WriteBytes(img, bytes);
      }
      pos += length;
    }
  }
  return false;
}

TEST(NtfsCompressed, FilesWrittenCompressedByNtfs3gComeOutAsTheOriginals) {
  if (!CanMountNtfs()) GTEST_SKIP() << "needs root, FUSE, mkntfs and ntfs-3g";
  const std::string dir = test::TempDir("ntfs-compressed");
  const std::string img = dir + "/c.img";
  ASSERT_TRUE(BuildImage(dir, img));
  // ntfs-3g really stored them compressed: the text is nowhere in the image.
  const auto raw = test::ReadBytes(img);
  EXPECT_EQ(test::FindBytes(raw, Text(300000).substr(100000, 64)), std::string::npos);
  std::string utf16;
  for (char c : std::string("encrypted.bin")) utf16 += std::string{c, '\0'};
  ASSERT_TRUE(MarkEncrypted(img, utf16));

  // The preview's reader decompresses too.
  SetSettingsLoaded(true);
  OverrideSetting("ParseFileSys", "1");
  PartitionInfo partition;
  partition.fsKind = kFsNtfs;
  partition.diskPath = img;
  partition.displayName = img;
  partition.sectorCount = fs::file_size(img) / 512;
  std::memcpy(partition.bootSector.data(), raw.data(), 512);
  ASSERT_TRUE(ParseFileSystem(nullptr, partition));
  int previewed = 0;
  for (const Sample& s : Samples()) {
    for (std::uint32_t id = 0; id < partition.table.count; ++id) {
      const FoundFileNode* node = NodeAt(partition.table, id);
      if (node == nullptr || node->name == nullptr || s.name != node->name) continue;
      std::vector<std::uint8_t> data(s.bytes.size());
      const bool read = ReadNtfsFileData(*node, partition, nullptr, data.size(), data.data());
      if (s.name == "encrypted.bin") {
        EXPECT_FALSE(read);
      } else {
        EXPECT_TRUE(read && std::string(data.begin(), data.end()) == s.bytes) << s.name;
        ++previewed;
      }
    }
  }
  EXPECT_EQ(previewed, 4);

  const std::string out = test::OtherDeviceFolder("ntfs-compressed");
  if (out.empty()) GTEST_SKIP() << "no second file system for the target";
  const auto r = test::RunCliCommand("recover '" + img + "' --out '" + out + "' --json", "ntfs-compressed");
  EXPECT_NE(r.out.find("encrypted.bin: encrypted (EFS)"), std::string::npos) << r.out << r.err;
  const auto files = test::FilesBelow(out);
  for (const Sample& s : Samples()) {
    std::string found;
    bool present = false;
    for (const auto& [path, size] : files)
      if (fs::path(path).filename() == s.name) {
        present = true;
        found = test::Md5OfFile(out + "/" + path);
      }
    if (s.name == "encrypted.bin") {
      EXPECT_FALSE(present) << "an encrypted file is never written";
      continue;
    }
    ASSERT_TRUE(present) << s.name;
    std::ofstream(dir + "/want", std::ios::binary | std::ios::trunc) << s.bytes;
    EXPECT_EQ(found, test::Md5OfFile(dir + "/want")) << s.name;
  }
  fs::remove_all(out);
}

}  // namespace
}  // namespace ambrel
