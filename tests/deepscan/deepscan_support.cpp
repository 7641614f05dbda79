#include "deepscan_support.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include "deepscan/sector_classifier.h"
#include "deepscan/sector_hit.h"

namespace ambrel::test {

Bytes ReadImage(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

void PutU16(Bytes& b, std::size_t at, std::uint16_t v) {
  b[at] = std::uint8_t(v);
  b[at + 1] = std::uint8_t(v >> 8);
}
void PutU32(Bytes& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = std::uint8_t(v >> (8 * i));
}
void PutU64(Bytes& b, std::size_t at, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) b[at + i] = std::uint8_t(v >> (8 * i));
}

namespace {

class ImageSource final : public SectorHitSource {
 public:
  explicit ImageSource(const Bytes& image) : image_(image) {}
  bool ReadDisk(std::uint64_t lba, std::uint32_t count, std::uint8_t* out) override {
    if ((lba + count) * 512 > image_.size()) return false;
    std::memcpy(out, image_.data() + lba * 512, count * 512ull);
    return true;
  }
  void PushHint(std::uint64_t) override {}

 private:
  const Bytes& image_;
};

}  // namespace

std::map<std::uint64_t, ScanHit> ClassifyImage(const Bytes& image) {
  std::map<std::uint64_t, ScanHit> out;
  ImageSource source(image);
  const std::uint64_t sectors = image.size() / 512;
  for (std::uint64_t first = 0; first < sectors; first += kChunkSectors) {
    const std::uint64_t count = std::min<std::uint64_t>(kChunkSectors, sectors - first);
    ChunkData chunk{ByteSpan(image.data() + first * 512, count * 512), first};
    ChunkHitBuilder builder;
    for (std::uint32_t i = 0; i < count; ++i) {
      std::uint8_t kind = 0;
      if (ClassifySector(chunk.bytes.subspan(i * 512ull, 512), first + i, kind))
        MakeSectorHit(chunk, i, first + i, kind, source, builder);
    }
    for (ScanHit& hit : builder.hits) out[hit.lba] = std::move(hit);
  }
  return out;
}

std::vector<std::string> CommandLines(const std::string& command) {
  std::vector<std::string> lines;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return lines;
  char line[4096];
  while (std::fgets(line, sizeof line, pipe)) {
    std::string s(line);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
    lines.push_back(s);
  }
  pclose(pipe);
  return lines;
}

bool ToolAvailable(const char* tool) {
  return std::system((std::string("command -v ") + tool + " > /dev/null 2>&1").c_str()) == 0;
}

std::uint64_t NumberAfter(const std::vector<std::string>& lines, const std::string& label) {
  for (const std::string& l : lines) {
    auto at = l.find(label);
    if (at == std::string::npos) continue;
    return std::strtoull(l.c_str() + at + label.size(), nullptr, 10);
  }
  return UINT64_MAX;
}

Bytes MakeFileRecord(std::uint32_t number, std::uint32_t parent, const std::u16string& name,
                     std::uint8_t space, const Bytes& runs, std::uint64_t dataSize) {
  Bytes r(1024, 0);
  std::memcpy(r.data(), "FILE", 4);
  PutU16(r, 0x04, 0x30);   // update sequence at 0x30
  PutU16(r, 0x06, 3);
  PutU16(r, 0x14, 0x38);
  PutU16(r, 0x16, 1);      // in use
  PutU32(r, 0x1C, 1024);
  PutU32(r, 0x2C, number);
  std::size_t at = 0x38;
  // $STANDARD_INFORMATION, resident, 48-byte value.
  PutU32(r, at, 0x10);
  PutU32(r, at + 4, 0x60);
  PutU32(r, at + 16, 48);
  PutU16(r, at + 20, 0x18);
  at += 0x60;
  // $FILE_NAME.
  const std::uint32_t valueLength = 66 + 2 * std::uint32_t(name.size());
  const std::uint32_t fnLength = (0x18 + valueLength + 7) & ~7u;
  PutU32(r, at, 0x30);
  PutU32(r, at + 4, fnLength);
  PutU32(r, at + 16, valueLength);
  PutU16(r, at + 20, 0x18);
  PutU32(r, at + 0x18, parent);
  r[at + 0x18 + 64] = std::uint8_t(name.size());
  r[at + 0x18 + 65] = space;
  for (std::size_t k = 0; k < name.size(); ++k) PutU16(r, at + 0x18 + 66 + 2 * k, name[k]);
  at += fnLength;
  // $DATA, non-resident.
  const std::uint32_t dataLength = (0x40 + std::uint32_t(runs.size()) + 7) & ~7u;
  PutU32(r, at, 0x80);
  PutU32(r, at + 4, dataLength);
  r[at + 8] = 1;
  PutU16(r, at + 0x20, 0x40);
  PutU64(r, at + 0x28, (dataSize + 4095) & ~4095ull);
  PutU64(r, at + 0x30, dataSize);
  PutU64(r, at + 0x38, dataSize);
  std::memcpy(r.data() + at + 0x40, runs.data(), runs.size());
  at += dataLength;
  PutU32(r, at, 0xFFFFFFFF);
  PutU32(r, 0x18, std::uint32_t(at + 8));
  return r;
}

Bytes MakeFat32Boot(std::uint32_t totalSectors) {
  Bytes b(512, 0);
  b[0] = 0xEB; b[1] = 0x58; b[2] = 0x90;
  std::memcpy(b.data() + 3, "mkfs.fat", 8);
  PutU16(b, 11, 512);
  b[13] = 8;
  PutU16(b, 14, 32);
  b[16] = 2;
  b[21] = 0xF8;
  PutU32(b, 32, totalSectors);
  PutU32(b, 36, (totalSectors / 8 * 4 + 511) / 512 + 1);
  PutU32(b, 44, 2);
  std::memcpy(b.data() + 82, "FAT32   ", 8);
  b[510] = 0x55; b[511] = 0xAA;
  return b;
}

Bytes MakeNtfsBoot(std::uint64_t totalSectors) {
  Bytes b(512, 0);
  b[0] = 0xEB; b[1] = 0x52; b[2] = 0x90;
  std::memcpy(b.data() + 3, "NTFS    ", 8);
  PutU16(b, 11, 512);
  b[13] = 8;
  b[21] = 0xF8;
  PutU64(b, 40, totalSectors);
  PutU64(b, 48, 4);
  PutU64(b, 56, totalSectors / 16);
  b[64] = 0xF6;
  b[68] = 1;
  b[510] = 0x55; b[511] = 0xAA;
  return b;
}

}  // namespace ambrel::test
