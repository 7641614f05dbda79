#include "recovery/recovery_test_support.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "catalog/node_table.h"
#include "common/text.h"
#include "platform/md5.h"
#include "support/test_paths.h"

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

CliResult RunCliCommand(const std::string& args, const std::string& tag, const std::string& env) {
  const std::string home = TempDir("cli-run-" + tag);
  const std::string cmd = "AMBREL_ALLOW_SECOND_INSTANCE=1 " + env + " " + BinaryDir() + "/cli/ambrel-cli --home '" +
                          home + "' " + args + " >'" + home + "/stdout.txt' 2>'" + home + "/stderr.txt'";
  const int rc = std::system(cmd.c_str());
  CliResult r;
  r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  r.out = FileText(home + "/stdout.txt");
  r.err = FileText(home + "/stderr.txt");
  return r;
}

std::vector<std::uint8_t> ReadBytes(const std::string& path) {
  const std::string text = FileText(path);
  return std::vector<std::uint8_t>(text.begin(), text.end());
}

bool WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

std::size_t FindBytes(const std::vector<std::uint8_t>& hay, const std::string& needle, std::size_t from) {
  if (needle.empty() || hay.size() < needle.size()) return std::string::npos;
  for (std::size_t i = from; i + needle.size() <= hay.size(); ++i)
    if (std::memcmp(hay.data() + i, needle.data(), needle.size()) == 0) return i;
  return std::string::npos;
}

bool Shell(const std::string& command) {
  const int rc = std::system(command.c_str());
  return WIFEXITED(rc) && WEXITSTATUS(rc) == 0;
}

std::string FixtureCopy(const std::string& name, const std::string& tag) {
  const std::string image = FixtureImage(name);
  if (image.empty()) return {};
  const std::string copy = TempDir("fixture-" + tag) + "/" + name + ".img";
  return CopyImage(image, copy) ? copy : std::string();
}

std::map<std::string, std::uint64_t> FilesBelow(const std::string& folder) {
  std::map<std::string, std::uint64_t> files;
  std::error_code ec;
  for (auto it = std::filesystem::recursive_directory_iterator(folder, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
    if (it->is_regular_file()) files[std::filesystem::relative(it->path(), folder).string()] = it->file_size();
  return files;
}

}  // namespace ambrel::test
