#include "platform/machine_store.h"

#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "platform/files.h"
#include "platform/process.h"

namespace ambrel {
namespace {

std::mutex g_rootLock;
std::string g_root;

bool SafePart(const std::string& part) {
  return !part.empty() && part != "." && part != ".." && part.find('/') == std::string::npos &&
         part.find('\0') == std::string::npos;
}

// The folder of a key, or "" when the key path is not acceptable.
std::string KeyFolder(const std::string& key) {
  std::string folder = MachineStoreRoot();
  std::string part;
  bool any = false;
  for (std::size_t i = 0; i <= key.size(); ++i) {
    if (i == key.size() || key[i] == '\\') {
      if (!SafePart(part)) return {};
      folder += part + "/";
      part.clear();
      any = true;
    } else {
      part += key[i];
    }
  }
  return any ? folder : std::string();
}

}  // namespace

std::string MachineStoreRoot() {
  std::lock_guard<std::mutex> guard(g_rootLock);
  if (g_root.empty()) {
    const char* env = std::getenv("AMBREL_REGISTRY");
    g_root = env && *env ? env : "/var/lib/ambrel/registry";
    if (g_root.back() != '/') g_root += '/';
  }
  return g_root;
}

void SetMachineStoreRoot(const std::string& root) {
  std::lock_guard<std::mutex> guard(g_rootLock);
  g_root = root;
  if (g_root.empty() || g_root.back() != '/') g_root += '/';
}

bool StoreKeyExists(const std::string& key) {
  const std::string folder = KeyFolder(key);
  return !folder.empty() && FolderExists(folder);
}

bool StoreReadValue(const std::string& key, const std::string& name, std::string& value,
                    std::size_t maxBytes) {
  const std::string folder = KeyFolder(key);
  if (folder.empty() || !SafePart(name) || !FolderExists(folder)) return false;
  std::vector<std::uint8_t> bytes;
  if (!ReadWholeFile(folder + name, bytes, maxBytes)) return false;
  value.assign(bytes.begin(), bytes.end());
  return true;
}

bool StoreWriteValue(const std::string& key, const std::string& name, const std::string& value) {
  const std::string folder = KeyFolder(key);
  if (folder.empty() || !SafePart(name) || !FolderExists(folder)) return false;
  const std::string temp = folder + "." + name + "." + std::to_string(CurrentProcessId()) + "." +
                           std::to_string(CurrentThreadId());
  if (!WriteWholeFile(temp, value.data(), value.size())) {
    RemoveFile(temp);
    return false;
  }
  if (!RenameFile(temp, folder + name)) {
    RemoveFile(temp);
    return false;
  }
  return true;
}

}  // namespace ambrel
