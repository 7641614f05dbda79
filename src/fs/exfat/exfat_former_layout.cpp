#include "fs/exfat/exfat_former_layout.h"

#include <algorithm>
#include <map>
#include <set>
#include <unordered_map>

#include "common/byte_cursor.h"

namespace ambrel {
namespace {

constexpr std::size_t kEntry = 32;
constexpr std::uint8_t kFileEntry = 0x85, kDeletedFileEntry = 0x05;
constexpr std::uint8_t kStreamEntry = 0xC0, kDeletedStreamEntry = 0x40;
constexpr std::uint16_t kDirectoryAttribute = 0x10;
constexpr unsigned kMaxClusterShift = 16;  // 32 MiB clusters of 512-byte sectors
constexpr std::size_t kMaxRuns = 1024, kMaxChildren = 512;
constexpr std::size_t kMaxFiles = 256, kMaxSignatures = 4096;
constexpr std::uint8_t kNameEntry = 0xC1, kDeletedNameEntry = 0x41;
constexpr std::size_t kNameChars = 15;

}  // namespace

std::vector<std::uint32_t> ExfatSubdirectoryClusters(std::span<const std::uint8_t> directoryBytes) {
  std::vector<std::uint32_t> out;
  ByteCursor cursor(directoryBytes.data(), directoryBytes.size());
  for (std::size_t off = 0; off + 2 * kEntry <= directoryBytes.size(); off += kEntry) {
    const std::uint8_t type = directoryBytes[off];
    if (type != kFileEntry && type != kDeletedFileEntry) continue;
    const auto attributes = cursor.U16(off + 4);
    const std::uint8_t next = directoryBytes[off + kEntry];
    // A live set continues with a live stream entry, a deleted one with a
    // deleted one.
    const bool paired = (type == kFileEntry && next == kStreamEntry) ||
                        (type == kDeletedFileEntry && next == kDeletedStreamEntry);
    if (!attributes || !(*attributes & kDirectoryAttribute) || !paired) continue;
    const auto first = cursor.U32(off + kEntry + 20);
    if (first && *first >= 2 && *first != 0xFFFFFFFFu) out.push_back(*first);
  }
  return out;
}

std::vector<ExfatNamedFile> ExfatFileClusters(std::span<const std::uint8_t> directoryBytes) {
  std::vector<ExfatNamedFile> out;
  ByteCursor cursor(directoryBytes.data(), directoryBytes.size());
  for (std::size_t off = 0; off + 2 * kEntry <= directoryBytes.size(); off += kEntry) {
    const std::uint8_t type = directoryBytes[off];
    if (type != kFileEntry && type != kDeletedFileEntry) continue;
    const bool live = type == kFileEntry;
    const std::uint8_t secondaries = directoryBytes[off + 1];
    const auto attributes = cursor.U16(off + 4);
    if (!attributes || (*attributes & kDirectoryAttribute) || secondaries < 2) continue;
    if (directoryBytes[off + kEntry] != (live ? kStreamEntry : kDeletedStreamEntry)) continue;
    const auto first = cursor.U32(off + kEntry + 20);
    const auto nameLength = cursor.U8(off + kEntry + 3);
    if (!first || *first < 2 || *first == 0xFFFFFFFFu || !nameLength) continue;
    // The name: 15 UTF-16 units per name entry after the stream entry.
    std::string name;
    bool ascii = true;
    for (std::size_t k = 0; k < *nameLength; ++k) {
      const std::size_t entry = off + kEntry * (2 + k / kNameChars);
      if (entry + kEntry > directoryBytes.size() || entry >= off + kEntry * (1 + std::size_t{secondaries}) ||
          directoryBytes[entry] != (live ? kNameEntry : kDeletedNameEntry))
        break;
      const auto unit = cursor.U16(entry + 2 + 2 * (k % kNameChars));
      if (!unit) break;
      if (*unit >= 0x80) ascii = false;
      name.push_back(static_cast<char>(*unit < 0x80 ? *unit : '?'));
    }
    ExfatNamedFile file;
    file.firstCluster = *first;
    const auto dot = name.rfind('.');
    if (ascii && dot != std::string::npos && dot + 1 < name.size()) {
      file.extension = name.substr(dot + 1);
      std::transform(file.extension.begin(), file.extension.end(), file.extension.begin(),
                     [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
    }
    out.push_back(std::move(file));
  }
  return out;
}

std::optional<FormerExfatLayout> SolveFormerExfatLayout(std::span<const FormerDirectoryRun> runs,
                                                        std::uint64_t lowestLba) {
  std::vector<std::uint64_t> starts;
  // (named cluster, the run that names it): a folder never lies on the
  // directory that names it.
  std::vector<std::pair<std::uint32_t, std::uint64_t>> children;
  for (const FormerDirectoryRun& r : runs) {
    if (starts.size() < kMaxRuns) starts.push_back(r.lba);
    for (std::uint32_t c : r.children)
      if (children.size() < kMaxChildren) children.emplace_back(c, r.lba);
  }
  std::sort(starts.begin(), starts.end());
  starts.erase(std::unique(starts.begin(), starts.end()), starts.end());
  std::sort(children.begin(), children.end());
  children.erase(std::unique(children.begin(), children.end(),
                             [](const auto& a, const auto& b) { return a.first == b.first; }),
                 children.end());
  if (starts.size() < 2 || children.size() < 2) return std::nullopt;

  FormerExfatLayout best{};
  std::uint32_t runnerUp = 0;
  for (unsigned shift = 0; shift <= kMaxClusterShift; ++shift) {
    const std::uint64_t spc = std::uint64_t{1} << shift;
    // heap -> the named clusters that land on a run with it; a cluster
    // counts once per heap.
    std::unordered_map<std::uint64_t, std::uint32_t> votes;
    for (const auto& [c, namedBy] : children) {
      const std::uint64_t offset = (std::uint64_t{c} - 2) * spc;
      for (std::uint64_t s : starts) {
        if (s == namedBy || s < offset || s - offset < lowestLba) continue;
        ++votes[s - offset];
      }
    }
    for (const auto& [heap, count] : votes) {
      if (count > best.links) {
        runnerUp = best.links;
        best = {heap, static_cast<std::uint32_t>(spc), count};
      } else if (count > runnerUp) {
        runnerUp = count;  // an equal count elsewhere makes the answer ambiguous
      }
    }
  }
  if (best.links < 2 || runnerUp == best.links) return std::nullopt;
  return best;
}

}  // namespace ambrel

namespace ambrel {

std::optional<FormerExfatLayout> SolveFormerExfatLayoutByFiles(std::span<const FormerDirectoryRun> runs,
                                                               std::span<const SignatureStart> signatures,
                                                               std::uint64_t lowestLba) {
  std::vector<const ExfatNamedFile*> files;
  for (const FormerDirectoryRun& r : runs)
    for (const ExfatNamedFile& f : r.files)
      if (!f.extension.empty() && files.size() < kMaxFiles) files.push_back(&f);
  const std::size_t signatureCount = std::min(signatures.size(), kMaxSignatures);
  if (files.size() < 3 || signatureCount == 0 || runs.empty()) return std::nullopt;

  FormerExfatLayout best{};
  std::uint32_t runnerUp = 0;
  for (unsigned shift = 0; shift <= kMaxClusterShift; ++shift) {
    const std::uint64_t spc = std::uint64_t{1} << shift;
    std::unordered_map<std::uint64_t, std::uint32_t> votes;
    for (const ExfatNamedFile* f : files) {
      const std::uint64_t offset = (std::uint64_t{f->firstCluster} - 2) * spc;
      for (std::size_t i = 0; i < signatureCount; ++i) {
        const SignatureStart& s = signatures[i];
        if (s.extension != f->extension || s.lba < offset || s.lba - offset < lowestLba) continue;
        ++votes[s.lba - offset];
      }
    }
    for (const auto& [heap, count] : votes) {
      if (count < 3 || count < runnerUp) continue;
      std::size_t aligned = 0;
      for (const FormerDirectoryRun& r : runs) aligned += r.lba >= heap && (r.lba - heap) % spc == 0;
      if (aligned * 5 < runs.size() * 4) continue;
      if (count > best.links) {
        runnerUp = best.links;
        best = {heap, static_cast<std::uint32_t>(spc), count};
      } else if (count > runnerUp) {
        runnerUp = count;
      }
    }
  }
  if (best.links < 3 || runnerUp == best.links) return std::nullopt;
  return best;
}

}  // namespace ambrel
