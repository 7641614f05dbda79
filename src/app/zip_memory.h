// Reading a ZIP archive that is already in memory through minizip's unzip
// interface, with custom file functions over the buffer. Used by the
// resource pack and usable by any reader of zipped data (Office documents,
// archive listings). The buffer must outlive the handle. Any thread; one
// handle per thread.
#pragma once

#include <unzip.h>

#include <cstdint>
#include <string>
#include <vector>

namespace ambrel {

class ZipInMemory {
 public:
  ZipInMemory(const std::uint8_t* bytes, std::uint64_t size);
  ~ZipInMemory();
  ZipInMemory(const ZipInMemory&) = delete;
  ZipInMemory& operator=(const ZipInMemory&) = delete;

  // Null when the bytes are not a readable archive.
  unzFile handle() const { return zip_; }

  // Locates `name` (bytes as stored in the archive, default comparison)
  // and reads it whole; false when absent, larger than `maxBytes`, or
  // damaged (a read error or a CRC mismatch).
  bool ReadEntry(const std::string& name, std::vector<std::uint8_t>& out,
                 std::uint64_t maxBytes = 0x4000000ull);

  struct Source {
    const std::uint8_t* bytes;
    std::uint64_t size;
    std::uint64_t pos;
  };

 private:
  Source source_;
  unzFile zip_ = nullptr;
};

}  // namespace ambrel
