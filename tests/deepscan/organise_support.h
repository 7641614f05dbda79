// Helpers of the organisation tests: a whole deep scan of an image with the
// result organiser plugged in, images made by the real formatting tools in
// a temporary folder, and the damage users do to them.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "catalog/partition_info.h"
#include "deepscan/scan_settings.h"

namespace ambrel {
class FoundFileCatalog;
}

namespace ambrel::test {

struct OrganisedScan {
  std::vector<std::unique_ptr<PartitionInfo>> results;
  std::vector<std::string> steps;
  bool organised = false;
};

// Option bytes (32..42) set for one scan.
using ScanOptions = std::vector<std::pair<int, std::uint8_t>>;

// Scans the whole image in `mode` (live results on or off) and organises
// the hits; `catalog` receives the live results when given. An image that
// is one volume is scanned as that volume (its free space in modes 2, 5).
OrganisedScan ScanAndOrganise(const std::string& image, RecoveryMode mode, bool live,
                              FoundFileCatalog* catalog = nullptr, const ScanOptions& options = {});

// Runs a shell command; true when it exits 0.
bool Run(const std::string& command);
// Writes `count` zero sectors at `lba` of the image.
void ZeroSectors(const std::string& image, std::uint64_t lba, std::uint64_t count);
// Copies a gzip fixture image (fixtures/images/<name>.img.gz) to `path`.
bool CopyFixture(const std::string& name, const std::string& path);

// The paths of the files (not folders) below the root of a result, and of
// the deleted ones. Lost-folder entries keep their "丢失的文件/" prefix.
std::set<std::string> FilePaths(const PartitionInfo& p);
std::set<std::string> DeletedFilePaths(const PartitionInfo& p);
// Files of the paths from `fls -r -p` (sleuthkit), "*" marking deleted
// entries, for the volume at sector `offset` of the image.
std::set<std::string> FlsFiles(const std::string& image, std::uint64_t offset, bool deleted);

// The results found by `origin`, and the one starting at `start` (null).
std::vector<const PartitionInfo*> ResultsBy(const OrganisedScan& scan, std::uint32_t origin);
const PartitionInfo* ResultAt(const OrganisedScan& scan, std::uint64_t start,
                              std::int32_t kind = 0);

// Copies the whole tree of a result out with the recovery copy-out into
// `folder` and returns the md5 of every file written, by its path below
// the folder.
std::map<std::string, std::string> CopyOutTree(PartitionInfo& p, const std::string& folder);
// md5 (lower-case hex) of a shell command's output, for an oracle's bytes.
std::string Md5OfCommand(const std::string& command);

}  // namespace ambrel::test
