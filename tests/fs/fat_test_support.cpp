#include "fs/fat_test_support.h"

#include <md5.h>

#include <cstdio>
#include <fstream>
#include <functional>

#include "app/settings.h"
#include "catalog/node_table.h"

namespace ambrel::test {

void EnableParsing() {
  SetSettingsLoaded(true);
  OverrideSetting("ParseFileSys", "1");
}

PartitionInfo ImagePartition(const std::string& imagePath, std::int32_t fsKind) {
  PartitionInfo p;
  p.fsKind = fsKind;
  p.diskPath = imagePath;
  p.displayName = imagePath;
  std::ifstream in(imagePath, std::ios::binary | std::ios::ate);
  p.sectorCount = static_cast<std::uint64_t>(in.tellg()) / 512;
  in.seekg(0);
  in.read(reinterpret_cast<char*>(p.bootSector.data()), 512);
  return p;
}

std::map<std::string, std::uint32_t> NodePaths(const FoundFileTable& table) {
  std::map<std::string, std::uint32_t> out;
  std::function<void(std::uint32_t, const std::string&, int)> walk = [&](std::uint32_t id, const std::string& prefix,
                                                                         int depth) {
    const FoundFileNode* n = NodeAt(table, id);
    if (!n || depth > 64) return;
    for (std::uint32_t i = 0; i < n->childCount; ++i) {
      const FoundFileNode* c = NodeAt(table, n->childIds[i]);
      if (!c || c->id == kRootId) continue;
      std::string path = prefix.empty() ? c->name : prefix + "/" + c->name;
      const std::uint32_t childId = c->id;  // packed record: copy before binding
      out.emplace(path, childId);
      walk(childId, path, depth + 1);
    }
  };
  walk(kRootId, "", 0);
  return out;
}

std::string Md5OfExtents(DiskHandle& handle, const ExtentList& extents, std::uint64_t size) {
  MD5_CTX ctx;
  MD5Init(&ctx);
  std::uint64_t left = size;
  std::vector<std::uint8_t> buf;
  for (const DataExtent& e : extents) {
    for (std::uint64_t s = 0; s < e.sectorCount && left > 0; s += 128) {
      std::uint32_t n = static_cast<std::uint32_t>(std::min<std::uint64_t>(128, e.sectorCount - s));
      buf.assign(n * 512, 0);
      ReadSectors(handle, e.startSector + s, n, buf.data());
      std::uint64_t take = std::min<std::uint64_t>(left, buf.size());
      MD5Update(&ctx, buf.data(), take);
      left -= take;
    }
  }
  char hex[MD5_DIGEST_STRING_LENGTH];
  MD5End(&ctx, hex);
  return left == 0 ? std::string(hex) : std::string("short");
}

bool FlsAvailable() { return std::system("command -v fls > /dev/null 2>&1") == 0; }

std::vector<FlsEntry> RunFls(const std::string& imagePath) {
  std::vector<FlsEntry> out;
  std::string cmd = "fls -r -p '" + imagePath + "' 2>/dev/null";
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return out;
  char line[4096];
  while (std::fgets(line, sizeof line, p)) {
    std::string s(line);
    if (!s.empty() && s.back() == '\n') s.pop_back();
    auto tab = s.find('\t');
    if (tab == std::string::npos || s.size() < 4) continue;
    FlsEntry e;
    e.directory = s[0] == 'd';
    e.deleted = s.find(" * ") != std::string::npos && s.find(" * ") < tab;
    e.path = s.substr(tab + 1);
    if (s[0] == 'v' || s[0] == 'V' || e.path.find("(Volume Label Entry)") != std::string::npos) continue;
    out.push_back(e);
  }
  pclose(p);
  return out;
}

}  // namespace ambrel::test
