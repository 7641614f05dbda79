#include "organise_support.h"

#include <cstdio>
#include <filesystem>
#include <cstdlib>
#include <fstream>

#include "app/settings.h"
#include "catalog/found_file_catalog.h"
#include "catalog/node_table.h"
#include "deepscan/deep_scan_extensions.h"
#include "deepscan/organise/result_organiser.h"
#include "deepscan/scan_session.h"
#include "device/device_enum.h"
#include "fs/boot_probe.h"
#include "deepscan_support.h"
#include "recovery/save_job.h"
#include "recovery/save_source.h"
#include "support/test_paths.h"

namespace ambrel::test {
namespace {

class OrganiserOnly final : public ScanExtensions {
 public:
  explicit OrganiserOnly(FoundFileCatalog* catalog) : organiser(catalog) {}
  bool InKnownMftExtent(std::uint64_t lba) override { return organiser.InKnownMftExtent(lba); }
  void AfterChunk(ScanSession& s, const ChunkData& c, HitList& h, SectorHitSource& d) override {
    organiser.AfterChunk(s, c, h, d);
  }
  void AddRealPartitions(ScanSession& s) override { organiser.AddRealPartitions(s); }
  bool OrganiseResults(ScanSession& s) override { return organiser.OrganiseResults(s); }
  ResultOrganiser organiser;
};

std::uint64_t FileSectors(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  return in ? static_cast<std::uint64_t>(in.tellg()) / 512 : 0;
}

std::string PathBelowRoot(const FoundFileTable& t, std::uint32_t id) {
  std::string path;
  for (int depth = 0; id != kRootId && depth < 256; ++depth) {
    const FoundFileNode* n = NodeAt(t, id);
    if (!n) return "";
    path = path.empty() ? std::string(n->name) : std::string(n->name) + "/" + path;
    if (n->parentId == id) break;
    id = n->parentId;
  }
  return path;
}

std::set<std::string> Files(const PartitionInfo& p, bool deletedOnly) {
  std::set<std::string> out;
  for (std::uint32_t id = kRootId + 1; id < p.table.count; ++id) {
    const FoundFileNode* n = NodeAt(p.table, id);
    if (!n || !IsFileKind(KindOf(*n))) continue;
    if (deletedOnly && KindOf(*n) != kDeletedFile) continue;
    out.insert(PathBelowRoot(p.table, id));
  }
  return out;
}

}  // namespace

namespace {

template <class Extensions>
OrganisedScan ScanWith(Extensions& extensions, const std::string& image, RecoveryMode mode, bool live,
                       const ScanOptions& options) {
  Settings().Set("Default-ParseFileSys:", "1");
  Settings().Set("Default-ShowAllFile:", "1");
  SetSettingsLoaded(true);
  PartitionInfo disk;
  DiskDescription description;
  if (DescribeDisk(image, description, JudgeSector) && description.volumes.size() == 1 &&
      description.volumes[0].startLba == 0)
    MakePartitionInfo(description.volumes[0], disk);
  disk.startLba = 0;
  disk.sectorCount = disk.diskSectorCount = FileSectors(image);
  disk.diskPath = disk.diskName = disk.displayName = image;
  ScanEnvironment env;
  env.pollMs = 1;
  env.organiseDelayMs = 0;
  env.extensions = &extensions;
  DeepScanSettings settings = DefaultScanSettings(disk, mode);
  settings.SetOption(kOptLiveResults, live ? 1 : 0);
  for (const auto& [number, value] : options) settings.SetOption(number, value);
  OrganisedScan out;
  {
    ScanSession scan(std::move(disk), mode, settings, env);
    if (!scan.Start()) return out;
    scan.Join();
    out.organised = scan.Completed();
  }
  out.results = extensions.TakeResults();
  return out;
}

}  // namespace

OrganisedScan ScanCarveAndOrganise(const std::string& image, RecoveryMode mode, bool live) {
  DeepScanExtensions extensions;
  return ScanWith(extensions, image, mode, live, {});
}

OrganisedScan ScanAndOrganise(const std::string& image, RecoveryMode mode, bool live, FoundFileCatalog* catalog,
                              const ScanOptions& options) {
  Settings().Set("Default-ParseFileSys:", "1");
  Settings().Set("Default-ShowAllFile:", "1");
  SetSettingsLoaded(true);
  PartitionInfo disk;
  DiskDescription description;
  if (DescribeDisk(image, description, JudgeSector) && description.volumes.size() == 1 &&
      description.volumes[0].startLba == 0)
    MakePartitionInfo(description.volumes[0], disk);
  disk.startLba = 0;
  disk.sectorCount = disk.diskSectorCount = FileSectors(image);
  disk.diskPath = disk.diskName = disk.displayName = image;
  OrganiserOnly extensions(catalog);
  ScanEnvironment env;
  env.pollMs = 1;
  env.organiseDelayMs = 0;
  env.extensions = &extensions;
  DeepScanSettings settings = DefaultScanSettings(disk, mode);
  settings.SetOption(kOptLiveResults, live ? 1 : 0);
  for (const auto& [number, value] : options) settings.SetOption(number, value);
  OrganisedScan out;
  {
    ScanSession scan(std::move(disk), mode, settings, env);
    if (!scan.Start()) return out;
    scan.Join();
    out.organised = scan.Completed();
  }
  out.results = std::move(extensions.organiser.Results());
  out.steps = extensions.organiser.Steps();
  return out;
}

bool Run(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

void ZeroSectors(const std::string& image, std::uint64_t lba, std::uint64_t count) {
  std::fstream f(image, std::ios::binary | std::ios::in | std::ios::out);
  f.seekp(static_cast<std::streamoff>(lba * 512));
  const std::vector<char> zeros(count * 512, 0);
  f.write(zeros.data(), static_cast<std::streamsize>(zeros.size()));
}

bool CopyFixture(const std::string& name, const std::string& path) {
  const std::string source = FixtureImage(name);
  return !source.empty() && Run("cp --sparse=always '" + source + "' '" + path + "'");
}

std::set<std::string> FilePaths(const PartitionInfo& p) { return Files(p, false); }
std::set<std::string> DeletedFilePaths(const PartitionInfo& p) { return Files(p, true); }

std::set<std::string> FlsFiles(const std::string& image, std::uint64_t offset, bool deleted) {
  std::set<std::string> out;
  for (const std::string& line :
       CommandLines("fls -r -p -o " + std::to_string(offset) + " '" + image + "' 2>/dev/null")) {
    // "r/r * 12-128-2:\tpath" or "r/r 12:\tpath"
    if (line.rfind("r/r", 0) != 0) continue;
    const bool isDeleted = line.find(" * ") != std::string::npos;
    const auto tab = line.find('\t');
    if (tab == std::string::npos || isDeleted != deleted) continue;
    const std::string path = line.substr(tab + 1);
    if (path.empty() || path[0] == '$' || path.find("/$") != std::string::npos) continue;
    out.insert(path);
  }
  return out;
}

std::vector<const PartitionInfo*> ResultsBy(const OrganisedScan& scan, std::uint32_t origin) {
  std::vector<const PartitionInfo*> out;
  for (const auto& p : scan.results)
    if (p && p->origin == origin) out.push_back(p.get());
  return out;
}

const PartitionInfo* ResultAt(const OrganisedScan& scan, std::uint64_t start, std::int32_t kind) {
  for (const auto& p : scan.results)
    if (p && p->startLba == start && (kind == 0 || p->fsKind == kind)) return p.get();
  return nullptr;
}

std::map<std::string, std::string> CopyOutTree(PartitionInfo& p, const std::string& folder) {
  SetSettingsLoaded(true);
  OverrideSetting("SaveDir", "");
  std::filesystem::create_directories(folder);
  PartitionRows rows;
  rows.Add(&p, "result");
  SaveJob job;
  job.source = &rows;
  job.target = folder;
  job.row = 0;
  job.nodeId = kRootId;
  StartSaveJob(job, &SaveCurrFileThread, nullptr);
  std::map<std::string, std::string> out;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
    if (!entry.is_regular_file()) continue;
    const std::string path = std::filesystem::relative(entry.path(), folder).string();
    out[path] = Md5OfCommand("cat '" + entry.path().string() + "'");
  }
  return out;
}

std::string Md5OfCommand(const std::string& command) {
  const std::vector<std::string> lines = CommandLines(command + " | md5sum");
  return lines.empty() ? "" : lines[0].substr(0, 32);
}

}  // namespace ambrel::test
