#include "recovery/recovery_test_support.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "catalog/node_table.h"
#include "common/text.h"
#include "platform/md5.h"

namespace ambrel::test {

std::uint8_t PatternByte(std::uint64_t i) { return static_cast<std::uint8_t>(i * 7 + i / 512 + 1); }

MemorySource::MemorySource(std::uint64_t sectors) {
  std::vector<std::uint8_t> bytes(sectors * 512);
  for (std::uint64_t i = 0; i < bytes.size(); ++i) bytes[i] = PatternByte(i);
  memory = std::make_shared<MemoryDevice>(std::move(bytes), "memory-source");
  faulty = std::make_shared<FaultyDevice>(memory);
  partition.fsKind = kFsSignature;
  partition.sectorCount = sectors;
  partition.diskPath = "memory-source";
  partition.table.isSignatureTable = true;
  InitTable(partition.table);
  rows.Add(&partition, "00 test");
}

std::uint32_t MemorySource::AddFolder(std::uint32_t parent, const std::string& name) {
  FoundFileNode n{};
  n.parentId = parent;
  SetKind(n, kPresentFolder);
  return AddNodeNamed(partition.table, n, name, true);
}

std::uint32_t MemorySource::AddFile(std::uint32_t parent, const std::string& name, std::uint64_t sector,
                                    std::uint64_t size, bool deleted) {
  FoundFileNode n{};
  n.parentId = parent;
  n.dataSector = sector;
  n.size = size;
  n.typeCode = kTypeUnknown;
  SetKind(n, deleted ? kDeletedFile : kPresentFile);
  return AddNodeNamed(partition.table, n, name, true);
}

void MemorySource::CheckAll() {
  MarkFiles(partition.table, kRootId, [](const FoundFileNode&) { return true; });
}

void MemorySource::Prepare(SaveJob& job, const std::string& target, UserPrompt* prompt) {
  job.target = target;
  job.source = &rows;
  job.prompt = prompt;
  auto device = faulty;
  job.opener = [device](const PartitionInfo&, DiskHandle& out) {
    out = HandleForDevice(device, "memory-source");
    return out.IsOpen();
  };
}

std::string MemorySource::Expected(std::uint64_t sector, std::uint64_t size) const {
  std::string out(size, '\0');
  for (std::uint64_t i = 0; i < size; ++i) out[i] = static_cast<char>(PatternByte(sector * 512 + i));
  return out;
}

std::string FileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string Md5OfFile(const std::string& path) {
  const std::string bytes = FileText(path);
  return AsciiLower(Md5Hex(bytes.data(), bytes.size()));
}

std::string OtherDeviceFolder(const std::string& tag) {
  std::error_code ec;
  if (!std::filesystem::is_directory("/dev/shm", ec)) return {};
  const std::filesystem::path p =
      std::filesystem::path("/dev/shm") / ("ambrel-test-" + tag + "-" + std::to_string(::getpid()));
  std::filesystem::remove_all(p, ec);
  if (!std::filesystem::create_directories(p, ec)) return {};
  return p.string();
}

}  // namespace ambrel::test
