#include "app/zip_memory.h"

#include <cstring>

namespace ambrel {
namespace {

using Source = ZipInMemory::Source;

voidpf ZCALLBACK OpenSource(voidpf opaque, const void*, int mode) {
  // Read-only: any request to write is refused.
  if (mode & ZLIB_FILEFUNC_MODE_WRITE) return nullptr;
  static_cast<Source*>(opaque)->pos = 0;
  return opaque;
}

uLong ZCALLBACK ReadSource(voidpf, voidpf stream, void* buf, uLong size) {
  auto* s = static_cast<Source*>(stream);
  const std::uint64_t left = s->pos < s->size ? s->size - s->pos : 0;
  const std::uint64_t n = size < left ? size : left;
  if (n) std::memcpy(buf, s->bytes + s->pos, static_cast<std::size_t>(n));
  s->pos += n;
  return static_cast<uLong>(n);
}

uLong ZCALLBACK WriteSource(voidpf, voidpf, const void*, uLong) { return 0; }

ZPOS64_T ZCALLBACK TellSource(voidpf, voidpf stream) { return static_cast<Source*>(stream)->pos; }

long ZCALLBACK SeekSource(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
  auto* s = static_cast<Source*>(stream);
  std::uint64_t base = 0;
  switch (origin) {
    case ZLIB_FILEFUNC_SEEK_SET: base = 0; break;
    case ZLIB_FILEFUNC_SEEK_CUR: base = s->pos; break;
    case ZLIB_FILEFUNC_SEEK_END: base = s->size; break;
    default: return -1;
  }
  if (offset > s->size || base > s->size - offset) return -1;
  s->pos = base + offset;
  return 0;
}

int ZCALLBACK CloseSource(voidpf, voidpf) { return 0; }
int ZCALLBACK ErrorSource(voidpf, voidpf) { return 0; }

}  // namespace

ZipInMemory::ZipInMemory(const std::uint8_t* bytes, std::uint64_t size)
    : source_{bytes, bytes ? size : 0, 0} {
  zlib_filefunc64_def funcs{};
  funcs.zopen64_file = OpenSource;
  funcs.zread_file = ReadSource;
  funcs.zwrite_file = WriteSource;
  funcs.ztell64_file = TellSource;
  funcs.zseek64_file = SeekSource;
  funcs.zclose_file = CloseSource;
  funcs.zerror_file = ErrorSource;
  funcs.opaque = &source_;
  if (source_.size) zip_ = unzOpen2_64("memory", &funcs);
}

ZipInMemory::~ZipInMemory() {
  if (zip_) unzClose(zip_);
}

bool ZipInMemory::ReadEntry(const std::string& name, std::vector<std::uint8_t>& out,
                            std::uint64_t maxBytes) {
  out.clear();
  if (!zip_ || name.empty() || unzLocateFile(zip_, name.c_str(), 0) != UNZ_OK) return false;
  unz_file_info64 info{};
  if (unzGetCurrentFileInfo64(zip_, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK)
    return false;
  if (info.uncompressed_size > maxBytes) return false;
  if (unzOpenCurrentFile(zip_) != UNZ_OK) return false;
  out.resize(static_cast<std::size_t>(info.uncompressed_size));
  std::size_t done = 0;
  bool ok = true;
  while (ok && done < out.size()) {
    const std::size_t want = out.size() - done < 0x100000 ? out.size() - done : 0x100000;
    const int got = unzReadCurrentFile(zip_, out.data() + done, static_cast<unsigned>(want));
    if (got <= 0) ok = false;
    else done += static_cast<std::size_t>(got);
  }
  // Closing checks the CRC once the entry was read to its end.
  if (unzCloseCurrentFile(zip_) != UNZ_OK) ok = false;
  if (!ok) out.clear();
  return ok;
}

}  // namespace ambrel
