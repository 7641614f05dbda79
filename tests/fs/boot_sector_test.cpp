// Boot-sector recognition against the boot sectors that mkfs.vfat, mkntfs
// and mkfs.exfat wrote into the fixture disks, including their backups.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "fs/exfat/exfat_boot_sector.h"
#include "fs/fat/fat_boot_sector.h"
#include "fs/ntfs/ntfs_boot_sector.h"
#include "support/test_paths.h"

namespace ambrel {
namespace {

using Sector = std::array<std::uint8_t, 512>;

Sector SectorOf(const std::string& image, std::uint64_t lba) {
  Sector s{};
  std::ifstream in(image, std::ios::binary);
  in.seekg(static_cast<std::streamoff>(lba * 512));
  in.read(reinterpret_cast<char*>(s.data()), 512);
  EXPECT_TRUE(in.good()) << image << " sector " << lba;
  return s;
}

enum Expect { kNtfs, kFat16, kFat32, kExfat };

// Exactly one of the four tests must accept a real boot sector.
void ExpectOnly(const Sector& s, Expect kind, const std::string& what) {
  EXPECT_EQ(IsNtfsBootSector(s), kind == kNtfs) << what;
  EXPECT_EQ(IsFat16BootSector(s), kind == kFat16) << what;
  EXPECT_EQ(IsFat32BootSector(s), kind == kFat32) << what;
  EXPECT_EQ(IsExfatBootSector(s), kind == kExfat) << what;
}

struct Volume {
  const char* image;
  std::uint64_t start, sectors;
  Expect kind;
};

// Partition starts and lengths as written by fixtures/make-disks.sh.
const Volume kVolumes[] = {
    {"disk-mbr", 2048, 65536, kFat16},   {"disk-mbr", 67584, 81920, kFat32},
    {"disk-mbr", 151552, 32768, kNtfs},  {"disk-mbr", 186368, 16384, kExfat},
    {"disk-gpt", 2048, 81920, kFat32},   {"disk-gpt", 83968, 143360, kNtfs},
    {"disk-gpt", 227328, 16384, kExfat}, {"disk-gpt", 243712, 40960, kFat16},
};

TEST(BootSectorTests, RecogniseRealBootSectorsAndTheirBackups) {
  for (const Volume& v : kVolumes) {
    std::string image = test::FixtureImage(v.image);
    ASSERT_FALSE(image.empty()) << v.image;
    std::string where = std::string(v.image) + "@" + std::to_string(v.start);
    ExpectOnly(SectorOf(image, v.start), v.kind, where);
    if (v.kind == kFat32) ExpectOnly(SectorOf(image, v.start + 6), kFat32, where + " backup");
    if (v.kind == kNtfs) ExpectOnly(SectorOf(image, v.start + v.sectors - 1), kNtfs, where + " backup");
    if (v.kind == kExfat) ExpectOnly(SectorOf(image, v.start + 12), kExfat, where + " backup");
    // The partition table sector and an empty sector are no boot sectors.
    ExpectOnly(SectorOf(image, v.start + 1), Expect(-1), where + " +1");
  }
  ExpectOnly(SectorOf(test::FixtureImage("disk-mbr"), 0), Expect(-1), "MBR");
}

struct Mutation {
  const char* rule;
  std::function<void(Sector&)> apply;
};

// Each rule broken alone must reject the sector; the variants the rules
// allow must still pass.
void CheckRules(const Sector& good, bool (*test)(ByteSpan), const std::vector<Mutation>& rejected,
                const std::vector<Mutation>& accepted) {
  ASSERT_TRUE(test(good));
  for (const auto& m : rejected) {
    Sector s = good;
    m.apply(s);
    EXPECT_FALSE(test(s)) << "accepted despite: " << m.rule;
  }
  for (const auto& m : accepted) {
    Sector s = good;
    m.apply(s);
    EXPECT_TRUE(test(s)) << "rejected: " << m.rule;
  }
  EXPECT_FALSE(test(ByteSpan(good.data(), 511)));  // a short span is never one
}

void Put16(Sector& s, int at, std::uint16_t v) {
  s[at] = v & 0xFF;
  s[at + 1] = v >> 8;
}

std::vector<Mutation> CommonBpbRejections() {
  return {
      {"no 55AA", [](Sector& s) { s[510] = 0; }},
      {"bytes per sector 256", [](Sector& s) { Put16(s, 11, 256); }},
      {"bytes per sector 8192", [](Sector& s) { Put16(s, 11, 8192); }},
      {"cluster 0", [](Sector& s) { s[13] = 0; }},
      {"cluster 3", [](Sector& s) { s[13] = 3; }},
      {"media F0", [](Sector& s) { s[21] = 0xF0; }},
      {"geometry 32/64", [](Sector& s) { Put16(s, 24, 32); Put16(s, 26, 64); }},
  };
}

std::vector<Mutation> CommonBpbAcceptances() {
  return {
      {"bytes per sector 4096", [](Sector& s) { Put16(s, 11, 4096); }},
      {"cluster 128", [](Sector& s) { s[13] = 128; }},
      {"only heads 255", [](Sector& s) { Put16(s, 24, 32); Put16(s, 26, 255); }},
      {"only 63 sectors per track", [](Sector& s) { Put16(s, 24, 63); Put16(s, 26, 16); }},
  };
}

TEST(BootSectorTests, NtfsRules) {
  Sector good = SectorOf(test::FixtureImage("disk-gpt"), 83968);
  auto rejected = CommonBpbRejections();
  rejected.push_back({"no jump", [](Sector& s) { s[0] = 0xE9; s[2] = 0; }});
  rejected.push_back({"byte 64 not F6", [](Sector& s) { s[64] = 0xF4; }});
  auto accepted = CommonBpbAcceptances();
  accepted.push_back({"OEM name ignored", [](Sector& s) { std::memcpy(&s[3], "XXXXXXXX", 8); }});
  accepted.push_back({"only 90 at 2", [](Sector& s) { s[0] = 0; s[2] = 0x90; }});
  CheckRules(good, IsNtfsBootSector, rejected, accepted);
}

TEST(BootSectorTests, Fat16Rules) {
  Sector good = SectorOf(test::FixtureImage("disk-mbr"), 2048);
  auto rejected = CommonBpbRejections();
  rejected.push_back({"no jump", [](Sector& s) { s[0] = 0xE9; s[2] = 0; }});
  rejected.push_back({"three FATs", [](Sector& s) { s[16] = 3; }});
  rejected.push_back({"no FATs", [](Sector& s) { s[16] = 0; }});
  rejected.push_back({"FAT12 label", [](Sector& s) { s[57] = '2'; }});
  rejected.push_back({"no FAT16 text", [](Sector& s) { s[54] = ' '; }});
  auto accepted = CommonBpbAcceptances();
  accepted.push_back({"one FAT", [](Sector& s) { s[16] = 1; }});
  CheckRules(good, IsFat16BootSector, rejected, accepted);
}

TEST(BootSectorTests, Fat32Rules) {
  Sector good = SectorOf(test::FixtureImage("disk-mbr"), 67584);
  auto rejected = CommonBpbRejections();
  rejected.push_back({"jump 90 only", [](Sector& s) { s[0] = 0; s[2] = 0x90; }});
  rejected.push_back({"three FATs", [](Sector& s) { s[16] = 3; }});
  rejected.push_back({"no FAT32 text", [](Sector& s) { s[86] = '6'; }});
  auto accepted = CommonBpbAcceptances();
  accepted.push_back({"near jump E9", [](Sector& s) { s[0] = 0xE9; }});
  CheckRules(good, IsFat32BootSector, rejected, accepted);
}

TEST(BootSectorTests, ExfatRules) {
  Sector good = SectorOf(test::FixtureImage("disk-mbr"), 186368);
  std::vector<Mutation> rejected = {
      {"no 55AA", [](Sector& s) { s[511] = 0; }},
      {"no jump", [](Sector& s) { s[0] = 0; s[2] = 0; }},
      {"name EXFAS", [](Sector& s) { s[7] = 'S'; }},
      {"4096-byte sectors", [](Sector& s) { s[108] = 12; }},
      {"cluster shift 17", [](Sector& s) { s[109] = 17; }},
  };
  std::vector<Mutation> accepted = {
      {"cluster shift 16", [](Sector& s) { s[109] = 16; }},
      {"BPB area is zero anyway", [](Sector& s) { s[21] = 0; }},
  };
  CheckRules(good, IsExfatBootSector, rejected, accepted);
}

}  // namespace
}  // namespace ambrel
