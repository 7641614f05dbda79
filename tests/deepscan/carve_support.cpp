#include "carve_support.h"

#include <cstring>
#include <fstream>
#include <iterator>

#include "deepscan/deep_scan_extensions.h"
#include "deepscan/scan_session.h"
#include "device/memory_device.h"
#include "support/test_paths.h"

namespace ambrel::test {

Bytes CorpusFile(const std::string& relative) {
  const std::string dir = CorpusDir();
  if (dir.empty()) return {};
  std::ifstream in(dir + "/" + relative, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void Plant(Bytes& image, std::uint64_t lba, const Bytes& file) {
  const std::size_t at = lba * 512;
  if (image.size() < at + file.size()) image.resize(at + file.size());
  std::memcpy(image.data() + at, file.data(), file.size());
}

Bytes SectorWith(std::size_t offset, const std::string& bytes) {
  Bytes sector(512, 0x20);
  std::memcpy(sector.data() + offset, bytes.data(), bytes.size());
  return sector;
}

CarveRun CarveImage(const Bytes& image, RecoveryMode mode, DeepScanSettings settings) {
  Bytes padded = image;
  padded.resize((padded.size() + 511) / 512 * 512);
  auto device = std::make_shared<MemoryDevice>(padded);
  PartitionInfo whole;
  whole.sectorCount = whole.diskSectorCount = padded.size() / 512;
  whole.diskPath = "memory";
  ScanEnvironment env;
  env.open = [device](const PartitionInfo&, DiskHandle& h) {
    h = HandleForDevice(device, "memory");
    return true;
  };
  env.pollMs = 1;
  env.pauseMs = 5;
  env.organiseDelayMs = 0;
  DeepScanExtensions extensions;
  env.extensions = &extensions;
  ScanSession scan(std::move(whole), mode, settings, env);
  CarveRun run;
  if (!scan.Start()) return run;
  scan.Join();
  scan.ForEachHit([&](const ScanHit& hit) {
    if (IsSignatureKind(hit.kind)) run.hits[hit.lba] = CarvedHit{hit.kind, hit.status, hit.Size()};
  });
  for (auto& part : extensions.TakeResults())
    if (part && part->fsKind == kFsSignature) run.foundFiles = std::move(part);
  return run;
}

}  // namespace ambrel::test
