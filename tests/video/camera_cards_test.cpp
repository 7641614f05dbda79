// Six generated camera cards end to end: small clips made with ffmpeg,
// written 2 to 6 pieces each into FAT32 and exFAT volumes that are then
// formatted again, recovered by `ambrel-cli recover --mode 6` with the
// video switches and checked by MD5, a silent decode and the frame count.
// The full set of 30 cards with camera-size clips is the same script's
// `run` (see scripts/video_cards.py).
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "support/test_paths.h"

namespace ambrel {
namespace {

bool Have(const char* tool) {
  const std::string command = std::string("command -v ") + tool + " > /dev/null 2>&1";
  return std::system(command.c_str()) == 0;
}

// The sanitized build runs the program several times slower; two cards (one
// FAT32, one exFAT) still take every path the six do.
#ifdef AMBREL_SANITIZED_BUILD
constexpr const char* kCards = "2";
#else
constexpr const char* kCards = "6";
#endif

TEST(CameraCards, SmallCardsComeBackByteExact) {
  for (const char* tool : {"python3", "ffmpeg", "ffprobe", "mkfs.vfat", "mkfs.exfat"})
    if (!Have(tool)) GTEST_SKIP() << tool << " is not installed";
  const std::string work = test::TempDir("camera-cards");
  const std::string command = "python3 " + test::SourceDir() + "/scripts/video_cards.py run --small --cards " + kCards +
                              " --pool " + test::BinaryDir() + "/video-pool-small --work " + work + " --cli " +
                              test::BinaryDir() + "/cli/ambrel-cli --report " + work + "/report.json" +
                              " --min-exact 95";
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
}

}  // namespace
}  // namespace ambrel
