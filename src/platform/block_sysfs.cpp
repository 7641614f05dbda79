#include "platform/block_sysfs.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>

namespace ambrel {
namespace {

namespace fs = std::filesystem;
const fs::path kClassBlock = "/sys/class/block";

std::string ReadFirstLine(const fs::path& path) {
  std::ifstream in(path);
  std::string line;
  if (!in || !std::getline(in, line)) return {};
  while (!line.empty() && (line.back() == ' ' || line.back() == '\n' || line.back() == '\r'))
    line.pop_back();
  return line;
}

// The sysfs folder of the device (not the block entry): tells the bus.
std::string DeviceLinkTarget(const std::string& disk) {
  std::error_code ec;
  fs::path target = fs::canonical(kClassBlock / disk / "device", ec);
  return ec ? std::string() : target.string();
}

enum class Bus { kNone, kUsb, kAta, kScsi, kSd };

Bus BusOf(const std::string& disk) {
  std::string target = DeviceLinkTarget(disk);
  if (target.empty()) return Bus::kNone;
  if (target.find("/usb") != std::string::npos) return Bus::kUsb;
  if (target.find("/virtio") != std::string::npos || target.find("/nvme") != std::string::npos)
    return Bus::kNone;
  if (target.find("/mmc_host/") != std::string::npos) return Bus::kSd;
  if (target.find("/ata") != std::string::npos) return Bus::kAta;
  if (target.find("/host") != std::string::npos && target.find("/target") != std::string::npos)
    return Bus::kScsi;
  return Bus::kNone;
}

// Mount-table fields escape blanks and other bytes as \ooo.
std::string UnescapeMountField(const std::string& field) {
  std::string out;
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size()) {
      const std::string oct = field.substr(i + 1, 3);
      bool octal = std::all_of(oct.begin(), oct.end(), [](char c) { return c >= '0' && c <= '7'; });
      if (octal) {
        out.push_back(static_cast<char>(std::strtol(oct.c_str(), nullptr, 8)));
        i += 3;
        continue;
      }
    }
    out.push_back(field[i]);
  }
  return out;
}

}  // namespace

std::string SysfsNameOfNode(const std::string& devicePath) {
  struct stat st {};
  if (::stat(devicePath.c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) return {};
  fs::path link = fs::path("/sys/dev/block") /
                  (std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev)));
  std::error_code ec;
  fs::path target = fs::canonical(link, ec);
  return ec ? std::string() : target.filename().string();
}

std::string SysfsDiskOf(const std::string& name) {
  if (name.empty()) return {};
  std::error_code ec;
  if (!fs::exists(kClassBlock / name / "partition", ec)) return name;
  fs::path target = fs::canonical(kClassBlock / name, ec);
  return ec ? std::string() : target.parent_path().filename().string();
}

std::string SysfsAttribute(const std::string& name, const std::string& attribute) {
  if (name.empty()) return {};
  return ReadFirstLine(kClassBlock / name / attribute);
}

bool SysfsDiskModel(const std::string& devicePath, std::string& model) {
  model.clear();
  std::string disk = SysfsDiskOf(SysfsNameOfNode(devicePath));
  if (disk.empty() || BusOf(disk) == Bus::kNone) return false;
  std::string vendor = SysfsAttribute(disk, "device/vendor");
  std::string product = SysfsAttribute(disk, "device/model");
  if (product.empty()) product = SysfsAttribute(disk, "device/name");  // SD cards
  if (!vendor.empty()) model = vendor + " ";
  model += product;
  while (!model.empty() && model.back() == ' ') model.pop_back();
  if (model.size() > 4096) model.resize(4096);
  return !model.empty();
}

bool SysfsDiskRemovable(const std::string& devicePath) {
  std::string disk = SysfsDiskOf(SysfsNameOfNode(devicePath));
  if (disk.empty()) return false;
  return SysfsAttribute(disk, "removable") == "1" || BusOf(disk) == Bus::kUsb;
}

std::vector<std::string> SysfsBlockNames() {
  std::vector<std::string> names;
  std::error_code ec;
  for (fs::directory_iterator it(kClassBlock, ec), end; !ec && it != end; it.increment(ec))
    names.push_back(it->path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<SysfsPartition> SysfsPartitionsOf(const std::string& disk) {
  std::vector<SysfsPartition> parts;
  std::error_code ec;
  fs::path base = kClassBlock / disk;
  for (fs::directory_iterator it(base, ec), end; !ec && it != end; it.increment(ec)) {
    std::string number = ReadFirstLine(it->path() / "partition");
    if (number.empty()) continue;
    SysfsPartition p;
    p.name = it->path().filename().string();
    p.number = std::atoi(number.c_str());
    p.start = std::strtoull(ReadFirstLine(it->path() / "start").c_str(), nullptr, 10);
    p.size = std::strtoull(ReadFirstLine(it->path() / "size").c_str(), nullptr, 10);
    parts.push_back(std::move(p));
  }
  std::sort(parts.begin(), parts.end(),
            [](const SysfsPartition& a, const SysfsPartition& b) { return a.number < b.number; });
  return parts;
}

std::map<std::string, std::string> MountPointsByDevice() {
  std::map<std::string, std::string> points;
  std::ifstream in("/proc/self/mountinfo");
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string id, parent, device, root, mountPoint;
    if (!(fields >> id >> parent >> device >> root >> mountPoint)) continue;
    points.emplace(device, UnescapeMountField(mountPoint));
  }
  return points;
}

std::uint64_t FreeBytesAt(const std::string& mountPoint) {
  struct statvfs st {};
  if (mountPoint.empty() || ::statvfs(mountPoint.c_str(), &st) != 0) return 0;
  return static_cast<std::uint64_t>(st.f_bavail) * st.f_frsize;
}

}  // namespace ambrel
