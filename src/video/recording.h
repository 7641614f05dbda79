// A rebuilt recording: where its pieces lie on the disk, in file order, and
// how far its placement could be checked.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ambrel::video {

struct Fragment {
  std::uint64_t startLba = 0;
  std::uint64_t sectors = 0;
  bool operator==(const Fragment&) const = default;
};

enum class RecordingKind : std::uint8_t { kQuickTime, kTransportStream };

struct Recording {
  RecordingKind kind = RecordingKind::kQuickTime;
  std::string name;
  std::vector<Fragment> fragments;
  std::uint64_t size = 0;        // bytes of the file
  std::uint32_t skip = 0;        // bytes of the first sector before the file starts
  std::uint32_t created = 0;     // seconds since 1970, 0 when unknown
  // Verified: every sample that can be checked opens at its place, and
  // every break between pieces was placed by the data, not guessed.
  bool verified = false;
  std::uint32_t samplesChecked = 0;
  std::uint32_t samplesVerified = 0;
  // Per cent of the checked samples that opened at their place.
  unsigned VerifiedPercent() const {
    return samplesChecked == 0 ? 0 : static_cast<unsigned>(std::uint64_t{samplesVerified} * 100 / samplesChecked);
  }
};

// "0x%x.ext" from the first fragment's LBA ("0x%x_%x.ext", high and low
// halves, when the LBA needs more than 32 bits, so that names never collide).
std::string RecordingName(std::uint64_t lba, const char* extension);

// True when two recordings share a sector.
bool SharesSectors(const Recording& a, const Recording& b);

}  // namespace ambrel::video
