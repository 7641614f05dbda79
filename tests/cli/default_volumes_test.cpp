// Volumes as the formatting tools write them by default on plain files
// (geometry 32/64, 0/0...), and a boot sector at LBA 0 whose partition-entry
// area is zero: info and list see one whole volume of the right kind.
#include <gtest/gtest.h>

#include "cli_run.h"
#include "support/test_paths.h"

namespace ambrel {
namespace {

struct DefaultVolume {
  const char* image;
  const char* kind;
  const char* label;
};

const DefaultVolume kVolumes[] = {
    {"fat12-small", "FAT12", "FAT12VOL"},   {"fat16-default", "FAT16", "DEFFAT16"},
    {"fat32-default", "FAT32", "DEFFAT32"}, {"fat32-s4096", "FAT32", "FAT32S4K"},
    {"ntfs-default", "NTFS", "DefNTFS"},    {"ntfs-c512", "NTFS", "NTFS512"},
    {"ntfs-c1024", "NTFS", "NTFS1K"},       {"exfat-default", "exFAT", "DefExfat"},
};

TEST(DefaultVolumes, InfoAndListSeeOneWholeVolume) {
  for (const DefaultVolume& v : kVolumes) {
    const std::string image = test::FixtureImage(v.image);
    ASSERT_FALSE(image.empty()) << v.image;
    const test::CliOutput info = test::RunAmbrelCli("info " + test::Quoted(image));
    EXPECT_EQ(info.status, 0) << v.image << info.err;
    EXPECT_NE(info.out.find("partition table: none"), std::string::npos) << v.image << info.out;
    EXPECT_NE(info.out.find("volumes: 1"), std::string::npos) << v.image << info.out;
    EXPECT_NE(info.out.find(std::string(" ") + v.kind + " "), std::string::npos) << v.image << info.out;
    const test::CliOutput list = test::RunAmbrelCli("list " + test::Quoted(image));
    EXPECT_EQ(list.status, 0) << v.image << list.err;
    const std::string head = std::string("# volume 1: ") + v.kind + " \"" + v.label + "\"";
    EXPECT_EQ(list.out.rfind(head, 0), 0u) << v.image << list.out.substr(0, 200);
    EXPECT_NE(list.out.find("SECTOR.BIN"), std::string::npos) << v.image;
  }
}

}  // namespace
}  // namespace ambrel
