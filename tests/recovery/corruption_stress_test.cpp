// Random single-field corruptions of every fixture image (boot-sector
// fields, FAT entries, directory entries, MFT record and attribute headers,
// run lists, FAT entries pointed into another chain, GPT entries all
// repeating the first), each listed and recovered by ambrel-cli: no crash
// or hang, no file larger than the image and no more bytes in all than it
// holds, nothing written outside the output folder, no partial file left. scripts/corrupt_stress.py does the work; run it with
// --runs 1000 for the long version.
#include <gtest/gtest.h>

#include "recovery/recovery_test_support.h"
#include "support/test_paths.h"

namespace ambrel {
namespace {

TEST(CorruptionStress, DamagedFixturesNeverCrashOrEscapeTheOutputFolder) {
  if (test::OtherDeviceFolder("stress-probe").empty()) GTEST_SKIP() << "no second file system for the target";
  if (!test::Shell("command -v python3 >/dev/null")) GTEST_SKIP() << "python3 missing";
  for (const char* name : {"fat16-basic", "fat32-basic", "exfat-basic", "ntfs-basic", "disk-mbr", "disk-gpt"})
    ASSERT_FALSE(test::FixtureImage(name).empty()) << name;
  const std::string log = test::TempDir("stress") + "/stress.txt";
  const bool ok = test::Shell("python3 '" + test::SourceDir() + "/scripts/corrupt_stress.py' --runs 12 --seed 3 --strict --cli '" +
                              test::BinaryDir() + "/cli/ambrel-cli' --images '" + test::BinaryDir() +
                              "/fixture-images' >'" + log + "' 2>&1");
  EXPECT_TRUE(ok) << test::FileText(log);
  EXPECT_NE(test::FileText(log).find("disk-gpt: runs 12, crash 0, hang 0, oversize 0, total oversize 0, outside 0, partial left 0"),
            std::string::npos)
      << test::FileText(log);
}

}  // namespace
}  // namespace ambrel
