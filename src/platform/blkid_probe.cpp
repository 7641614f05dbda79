#include "platform/blkid_probe.h"

#include <blkid/blkid.h>
#include <fcntl.h>
#include <unistd.h>

namespace ambrel {
namespace {

std::string Value(blkid_probe probe, const char* name) {
  const char* data = nullptr;
  std::size_t size = 0;
  if (blkid_probe_lookup_value(probe, name, &data, &size) != 0 || !data) return {};
  return std::string(data);  // NUL-terminated by libblkid
}

}  // namespace

bool ProbeWithBlkid(const std::string& path, std::uint64_t offset, std::uint64_t length,
                    BlkidFacts& facts, BlkidProbers probers) {
  facts = BlkidFacts{};
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  bool found = false;
  blkid_probe probe = blkid_new_probe();
  if (probe && blkid_probe_set_device(probe, fd, static_cast<blkid_loff_t>(offset),
                                      static_cast<blkid_loff_t>(length)) == 0) {
    blkid_probe_enable_superblocks(probe, 1);
    blkid_probe_set_superblocks_flags(
        probe, BLKID_SUBLKS_LABEL | BLKID_SUBLKS_UUID | BLKID_SUBLKS_TYPE | BLKID_SUBLKS_VERSION);
    blkid_probe_enable_partitions(probe, 0);
    if (probers == BlkidProbers::kNtfsFatExfat) {
      static char ntfs[] = "ntfs", vfat[] = "vfat", exfat[] = "exfat";
      static char* only[] = {ntfs, vfat, exfat, nullptr};
      blkid_probe_filter_superblocks_type(probe, BLKID_FLTR_ONLYIN, only);
    }
    if (blkid_do_safeprobe(probe) == 0) {
      facts.type = Value(probe, "TYPE");
      facts.version = Value(probe, "VERSION");
      facts.label = Value(probe, "LABEL");
      facts.uuid = Value(probe, "UUID");
      found = !facts.type.empty();
    }
  }
  if (probe) blkid_free_probe(probe);
  ::close(fd);
  return found;
}

}  // namespace ambrel
