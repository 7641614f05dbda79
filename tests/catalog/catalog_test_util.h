// Small builders for catalogue tests.
#pragma once

#include <cstdint>
#include <string>

#include "app/settings.h"
#include "catalog/node_table.h"

namespace ambrel::test {

inline FoundFileNode MakeNode(std::uint32_t id, std::uint32_t parent, NodeKind kind,
                              std::uint64_t size = 0) {
  FoundFileNode n{};
  n.id = id;
  n.parentId = parent;
  n.size = size;
  SetKind(n, kind);
  return n;
}

inline std::uint32_t AddFile(FoundFileTable& t, std::uint32_t id, std::uint32_t parent,
                             const std::string& name, bool link = true, std::uint64_t size = 0) {
  return AddNodeNamed(t, MakeNode(id, parent, kPresentFile, size), name, link);
}

inline std::uint32_t AddFolder(FoundFileTable& t, std::uint32_t id, std::uint32_t parent,
                               const std::string& name, bool link = true) {
  return AddNodeNamed(t, MakeNode(id, parent, kPresentFolder), name, link);
}

// prefix + decimal number + suffix.
inline std::string Numbered(const char* prefix, std::uint64_t n, const char* suffix = "") {
  std::string s(prefix);
  s.append(std::to_string(n));
  s.append(suffix);
  return s;
}

// Sets a "Default-" setting for the test and marks the table loaded.
inline void SetTestSetting(const std::string& key, const std::string& value) {
  Settings().Set("Default-" + key + ":", value);
  SetSettingsLoaded(true);
}

}  // namespace ambrel::test
