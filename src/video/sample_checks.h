// Whether the bytes at a sample's place open a sample of the expected
// size: the NAL length chain of a video sample sums to its size, an audio
// frame header is there. These tests decide which placement of a
// recording's pieces is right, so they must seldom pass on other data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "video/atoms.h"

namespace ambrel::video {

// Bytes of one recording by file offset, through some placement of its
// pieces on the disk.
class FileReader {
 public:
  virtual ~FileReader() = default;
  virtual bool Read(std::uint64_t fileOffset, std::uint8_t* out, std::size_t length) = 0;
};

// A NAL unit header as an encoder writes it at the start of a unit:
// H.264 (one byte) and H.265 (two bytes, the second with temporal id 1-7
// and layer 0).
bool AvcNalHeaderOk(std::uint8_t b);
bool HevcNalHeaderOk(std::uint8_t b0, std::uint8_t b1);
// The NAL types a video sample usually starts with (slices, SEI, parameter
// sets, access unit delimiter), with their reference flags as encoders
// set them: the tighter test of the scan's sample-start list.
bool AvcSampleStartHeader(std::uint8_t b);
bool HevcSampleStartHeader(std::uint8_t b0, std::uint8_t b1);

// Frame lengths of audio headers (0 when the bytes are not such a header).
std::uint32_t Ac3FrameBytes(const std::uint8_t* p);    // needs 5 bytes
std::uint32_t Eac3FrameBytes(const std::uint8_t* p);   // needs 4 bytes
std::uint32_t AdtsFrameBytes(const std::uint8_t* p);   // needs 7 bytes
std::uint32_t MpegAudioFrameBytes(const std::uint8_t* p);  // needs 4 bytes
// The first element of a raw AAC frame: a channel element with instance 0,
// or a fill or data element.
bool RawAacStart(std::uint8_t b);

struct SampleCheck {
  bool checkable = false;   // the format has a test
  bool ok = false;
  // The last byte the test read, as an offset inside the sample.
  std::uint32_t lastByte = 0;
};
SampleCheck CheckSample(FileReader& file, std::uint64_t offset, std::uint32_t size, SampleFormat format,
                        std::uint8_t nalLengthBytes);

// The byte ranges [first, end) (file offsets) of the NAL unit payloads of a
// length-prefixed sample, after each unit's header; false when the chain
// does not hold.
bool NalPayloadRanges(FileReader& file, std::uint64_t offset, std::uint32_t size, std::uint8_t nalLengthBytes,
                      std::vector<std::pair<std::uint64_t, std::uint64_t>>& out);

// Scans bytes of NAL unit payload for 00 00 00, 00 00 01 or 00 00 02, which
// emulation prevention keeps out of every NAL unit. `zeros` carries the
// count of zero bytes that ended the previous piece (start at 0). False
// when one is found.
bool FreeOfStartCodes(const std::uint8_t* p, std::size_t n, int& zeros);

}  // namespace ambrel::video
