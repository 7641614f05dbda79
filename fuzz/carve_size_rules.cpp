// Fuzzes the signature table and every size rule: the first byte picks a
// carving unit, the rest is a file at LBA 0 of a small device whose first
// part is the chunk in hand and whose rest is only reachable through disk
// reads; a rule that waits is run again with the whole device in hand
// until it answers. Then every sector of the data goes through the
// signature tests and the continuation tests against the sector before.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "deepscan/carve/carve_units.h"
#include "deepscan/carve/pending_carves.h"
#include "deepscan/carve/signature_detect.h"

namespace {

class BufferDisk final : public ambrel::SectorHitSource {
 public:
  explicit BufferDisk(const std::vector<std::uint8_t>& bytes) : bytes_(bytes) {}
  bool ReadDisk(std::uint64_t lba, std::uint32_t count, std::uint8_t* out) override {
    const std::uint64_t at = lba * 512, n = std::uint64_t{count} * 512;
    if (at > bytes_.size() || n > bytes_.size() - at) return false;
    std::memcpy(out, bytes_.data() + at, n);
    return true;
  }
  void PushHint(std::uint64_t) override {}

 private:
  const std::vector<std::uint8_t>& bytes_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ambrel;
  if (size < 2) return 0;
  const auto& table = CarveUnitTable();
  const std::uint16_t unit = static_cast<std::uint16_t>(data[0] % table.size());
  std::vector<std::uint8_t> disk(data + 1, data + size);
  disk.resize((disk.size() + 511) / 512 * 512 + 512, 0);
  BufferDisk reader(disk);
  std::vector<std::uint8_t> scratch;
  // The chunk is the first half of the device (at least one sector).
  const std::size_t chunkBytes = std::max<std::size_t>(512, disk.size() / 1024 * 512);
  CarveInput in;
  in.chunk = ChunkData{ByteSpan(disk.data(), chunkBytes), 0};
  in.disk = &reader;
  in.areaEndLba = disk.size() / 512;
  in.scratch = &scratch;
  CarveState state;
  state.unit = unit;
  state.type = table[unit].type;
  RuleResult result = SizeRule(state, in);
  // Pending: continue with the whole device as the next chunk, as often as
  // the rule asks (each answer must move it on: a loop is a fault).
  CarveInput rest = in;
  rest.chunk = ChunkData{ByteSpan(disk.data(), disk.size()), 0};
  for (int round = 0; result == RuleResult::kPending && round < 64; ++round) {
    PendingCarves pending;
    if (!pending.AddPending(state)) break;
    for (CarveState& s : pending.TakeAll()) {
      result = SizeRule(s, rest);
      state = s;
    }
  }
  for (std::size_t at = 0; at + 512 <= disk.size(); at += 512) {
    const ByteCursor sector(disk.data() + at, 512);
    const auto match = DetectSignature(sector.span());
    if (match && at >= 512 && table[match->unit].continues)
      table[match->unit].continues(ByteCursor(disk.data() + at - 512, 512), sector);
  }
  // A known size is never 0.
  if (result == RuleResult::kSized && state.size == 0) __builtin_trap();
  return 0;
}
