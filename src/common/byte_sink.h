// Where the copy-out's reader puts a file's bytes: an output file, or a
// buffer in memory for the preview, which must see exactly what a copy
// would write.
#pragma once

#include <cstddef>

namespace ambrel {

class ByteSink {
 public:
  virtual ~ByteSink() = default;
  // Takes all `size` bytes; false when they cannot be taken (the reader
  // then ends the file as on a failed write).
  virtual bool Write(const void* bytes, std::size_t size) = 0;
};

}  // namespace ambrel
