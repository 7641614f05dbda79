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
#include "fs/boot_probe.h"
#include "fs/ntfs/ntfs_geometry.h"
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

void Put32(Sector& s, int at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) s[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::vector<Mutation> CommonBpbRejections() {
  return {
      {"no 55AA", [](Sector& s) { s[510] = 0; }},
      {"bytes per sector 256", [](Sector& s) { Put16(s, 11, 256); }},
      {"bytes per sector 768", [](Sector& s) { Put16(s, 11, 768); }},
      {"bytes per sector 8192", [](Sector& s) { Put16(s, 11, 8192); }},
      {"cluster 0", [](Sector& s) { s[13] = 0; }},
      {"cluster 3", [](Sector& s) { s[13] = 3; }},
  };
}

// Geometry and the media byte are legacy hints: tools write anything there.
std::vector<Mutation> CommonBpbAcceptances() {
  return {
      {"media F0", [](Sector& s) { s[21] = 0xF0; }},
      {"geometry 32/64 (mkfs.vfat on a file)", [](Sector& s) { Put16(s, 24, 32); Put16(s, 26, 64); }},
      {"geometry 0/0 (mkntfs on a file)", [](Sector& s) { Put16(s, 24, 0); Put16(s, 26, 0); }},
      {"geometry 63/255", [](Sector& s) { Put16(s, 24, 63); Put16(s, 26, 255); }},
      {"only 90 at 2", [](Sector& s) { s[0] = 0; s[2] = 0x90; }},
  };
}

TEST(BootSectorTests, NtfsRules) {
  Sector good = SectorOf(test::FixtureImage("disk-gpt"), 83968);
  auto rejected = CommonBpbRejections();
  rejected.push_back({"no jump", [](Sector& s) { s[0] = 0; s[2] = 0; }});
  rejected.push_back({"FILE record size byte 0", [](Sector& s) { s[64] = 0; }});
  rejected.push_back({"FILE record of 3 clusters", [](Sector& s) { s[64] = 3; }});
  rejected.push_back({"FILE record of 128 bytes", [](Sector& s) { s[64] = 0xF9; }});
  rejected.push_back({"index record size byte 0", [](Sector& s) { s[68] = 0; }});
  rejected.push_back({"reserved sectors set", [](Sector& s) { Put16(s, 14, 1); }});
  rejected.push_back({"two FATs", [](Sector& s) { s[16] = 2; }});
  rejected.push_back({"32-bit FAT total set", [](Sector& s) { Put32(s, 32, 1000); }});
  rejected.push_back({"no total", [](Sector& s) { Put32(s, 40, 0); Put32(s, 44, 0); }});
  rejected.push_back({"MFT past the end", [](Sector& s) { Put32(s, 48, 0x7FFFFFFF); }});
  rejected.push_back({"mirror past the end", [](Sector& s) { Put32(s, 56, 0x7FFFFFFF); }});
  auto accepted = CommonBpbAcceptances();
  accepted.push_back({"OEM name ignored", [](Sector& s) { std::memcpy(&s[3], "XXXXXXXX", 8); }});
  accepted.push_back({"1 KiB clusters, one per FILE record", [](Sector& s) { s[13] = 2; s[64] = 1; }});
  accepted.push_back({"512-byte clusters, two per FILE record", [](Sector& s) { s[13] = 1; s[64] = 2; }});
  accepted.push_back({"4 KiB FILE records", [](Sector& s) { s[64] = 0xF4; }});
  CheckRules(good, IsNtfsBootSector, rejected, accepted);
}

TEST(BootSectorTests, Fat16Rules) {
  Sector good = SectorOf(test::FixtureImage("disk-mbr"), 2048);
  auto rejected = CommonBpbRejections();
  rejected.push_back({"no jump", [](Sector& s) { s[0] = 0; s[2] = 0; }});
  rejected.push_back({"three FATs", [](Sector& s) { s[16] = 3; }});
  rejected.push_back({"no FATs", [](Sector& s) { s[16] = 0; }});
  rejected.push_back({"no reserved sectors", [](Sector& s) { Put16(s, 14, 0); }});
  rejected.push_back({"no root entries", [](Sector& s) { Put16(s, 17, 0); }});
  rejected.push_back({"no total", [](Sector& s) { Put16(s, 19, 0); Put32(s, 32, 0); }});
  rejected.push_back({"FAT too small for the clusters", [](Sector& s) { Put16(s, 22, 1); }});
  rejected.push_back({"FATs fill the volume", [](Sector& s) { Put16(s, 22, 0x7FFF); }});
  auto accepted = CommonBpbAcceptances();
  accepted.push_back({"one FAT", [](Sector& s) { s[16] = 1; }});
  accepted.push_back({"type text is not examined", [](Sector& s) { std::memcpy(&s[54], "XXXXXXXX", 8); }});
  CheckRules(good, IsFat16BootSector, rejected, accepted);
  EXPECT_FALSE(IsFat32BootSector(good));
}

TEST(BootSectorTests, Fat32Rules) {
  Sector good = SectorOf(test::FixtureImage("disk-mbr"), 67584);
  auto rejected = CommonBpbRejections();
  rejected.push_back({"three FATs", [](Sector& s) { s[16] = 3; }});
  rejected.push_back({"no reserved sectors", [](Sector& s) { Put16(s, 14, 0); }});
  rejected.push_back({"fixed root entries", [](Sector& s) { Put16(s, 17, 512); }});
  rejected.push_back({"root cluster 0", [](Sector& s) { Put32(s, 44, 0); }});
  rejected.push_back({"root cluster past the end", [](Sector& s) { Put32(s, 44, 0x0FFFFFF0); }});
  rejected.push_back({"FAT too small", [](Sector& s) { Put32(s, 36, 1); }});
  auto accepted = CommonBpbAcceptances();
  accepted.push_back({"near jump E9", [](Sector& s) { s[0] = 0xE9; }});
  accepted.push_back({"type text is not examined", [](Sector& s) { std::memcpy(&s[82], "XXXXXXXX", 8); }});
  CheckRules(good, IsFat32BootSector, rejected, accepted);
  EXPECT_FALSE(IsFat16BootSector(good));
}

TEST(BootSectorTests, ExfatRules) {
  Sector good = SectorOf(test::FixtureImage("disk-mbr"), 186368);
  std::vector<Mutation> rejected = {
      {"no 55AA", [](Sector& s) { s[511] = 0; }},
      {"name EXFAS", [](Sector& s) { s[7] = 'S'; }},
      {"a BPB byte set", [](Sector& s) { s[21] = 0xF8; }},
      {"8 KiB sectors", [](Sector& s) { s[108] = 13; }},
      {"clusters past the volume end", [](Sector& s) { s[109] = 16; }},
      {"three FATs", [](Sector& s) { s[110] = 3; }},
      {"heap inside the FAT", [](Sector& s) { Put32(s, 88, 25); }},
      {"root cluster 1", [](Sector& s) { Put32(s, 96, 1); }},
      {"no clusters", [](Sector& s) { Put32(s, 92, 0); }},
  };
  std::vector<Mutation> accepted = {
      {"no jump", [](Sector& s) { s[0] = 0; s[2] = 0; }},
      {"4096-byte sectors", [](Sector& s) { s[108] = 12; }},
  };
  CheckRules(good, IsExfatBootSector, rejected, accepted);
}

// The NTFS cluster size has one rule for the probe and the readers: byte 13
// in the volume's own sectors (or 2^(256 - v) of them), counted in 512-byte
// sectors. A 4 KiB-sector volume with one sector per cluster has 8; a
// volume with 2 MiB clusters is read, not refused.
TEST(NtfsGeometry, ClusterSizeHasOneRuleForTheProbeAndTheReaders) {
  EXPECT_EQ(NtfsClusterSectors(8, 512), 8u);
  EXPECT_EQ(NtfsClusterSectors(1, 4096), 8u);
  EXPECT_EQ(NtfsClusterSectors(128, 512), 128u);
  EXPECT_EQ(NtfsClusterSectors(0xF4, 512), 4096u);  // 2^12 sectors: 2 MiB clusters
  EXPECT_EQ(NtfsClusterSectors(0xF4, 4096), 32768u);
  EXPECT_EQ(NtfsClusterSectors(3, 512), 0u);
  EXPECT_EQ(NtfsClusterSectors(0, 512), 0u);
  EXPECT_EQ(NtfsClusterSectors(0x81, 512), 0u);
  EXPECT_EQ(NtfsClusterSectors(1, 1000), 0u);
  BootSector boot{};
  boot[11] = 0x00;
  boot[12] = 0x10;  // 4096 bytes per sector
  boot[13] = 1;
  EXPECT_EQ(SectorsPerCluster(boot), 8u);
  std::uint64_t lba = 0;
  boot[0x30] = 4;  // MFT at cluster 4
  ASSERT_TRUE(MftStartLba(boot, 2048, false, lba));
  EXPECT_EQ(lba, 2048u + 32u);
  boot[13] = 0xF4;
  boot[11] = 0x00;
  boot[12] = 0x02;
  EXPECT_EQ(SectorsPerCluster(boot), 4096u);
}

// Boot bytes 0x40 (FILE record) and 0x44 (INDX record): a positive value
// counts clusters, a negative one is a power of two in bytes. Values that
// give no usable size are refused with their reason, never guessed.
TEST(NtfsRecordSizeField, ClustersNegativePowersAndHostileValues) {
  struct Case {
    std::uint8_t raw;
    std::uint64_t clusterBytes;
    std::uint32_t sectorBytes;
    std::uint32_t bytes;
    NtfsRecordSizeProblem problem;
  };
  using P = NtfsRecordSizeProblem;
  const Case cases[] = {
      {0xF6, 4096, 512, 1024, P::kNone},          // mkntfs default: 2^10
      {0x01, 4096, 4096, 4096, P::kNone},         // mkntfs -s 4096: one 4 KiB cluster
      {0x02, 512, 512, 1024, P::kNone},           // two 512-byte clusters
      {0xF4, 65536, 4096, 4096, P::kNone},        // 2^12, smaller than the 64 KiB cluster
      {0xF0, 4096, 512, 65536, P::kNone},         // 2^16, the largest
      {0x00, 4096, 512, 0, P::kZero},
      {0x01, 0, 512, 0, P::kZero},                // no cluster size known
      {0x80, 4096, 512, 0, P::kTooLarge},         // -128: 2^128 bytes
      {0xEF, 4096, 512, 0, P::kTooLarge},         // 2^17
      {0x7F, 2u << 20, 512, 0, P::kNotPowerOfTwo},  // 127 clusters
      {0x40, 2u << 20, 512, 0, P::kTooLarge},     // 64 clusters of 2 MiB: 128 MiB
      {0x03, 4096, 512, 0, P::kNotPowerOfTwo},
      {0xF9, 4096, 512, 0, P::kTooSmall},         // 128 bytes
      {0xF8, 4096, 512, 0, P::kBelowSectorSize},  // 256 bytes on 512-byte sectors
      {0xF6, 4096, 4096, 0, P::kBelowSectorSize}, // 1024-byte records on 4 KiB sectors
  };
  for (const Case& c : cases) {
    const NtfsRecordSize got = DecodeNtfsRecordSize(c.raw, c.clusterBytes, c.sectorBytes);
    EXPECT_EQ(got.bytes, c.bytes) << std::hex << int{c.raw} << " " << std::dec << c.clusterBytes;
    EXPECT_EQ(got.problem, c.problem) << std::hex << int{c.raw} << " " << std::dec << c.clusterBytes;
    EXPECT_EQ(got.Usable(), c.problem == P::kNone);
  }
  // Through the boot sector as the readers take it, and the probe refuses
  // a volume whose record size is not usable.
  BootSector boot{};
  boot[11] = 0x00;
  boot[12] = 0x10;  // 4096 bytes per sector
  boot[13] = 1;
  boot[0x40] = 0x01;
  boot[0x44] = 0x01;
  EXPECT_EQ(MftRecordBytes(boot), 4096u);
  EXPECT_EQ(MftRecordSectors(boot), 8u);
  EXPECT_EQ(IndexRecordSize(boot).bytes, 4096u);
  boot[0x40] = 0xF6;
  EXPECT_EQ(MftRecordSize(boot).problem, P::kBelowSectorSize);
  EXPECT_EQ(MftRecordBytes(boot), 0u);
  // What a deep scan writes for a volume rebuilt from loose records.
  BootSector built{};
  built[12] = 0x02;
  built[13] = 8;
  SetMftRecordBytes(built, 4096);
  EXPECT_EQ(MftRecordBytes(built), 4096u);
  SetMftRecordBytes(built, 1024);
  EXPECT_EQ(MftRecordBytes(built), 1024u);
}

}  // namespace
}  // namespace ambrel
