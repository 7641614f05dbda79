// The per-machine key/value store that stands where the Windows registry
// (HKEY_LOCAL_MACHINE) stood. A key such as "SOFTWARE\Company\Product" is a
// folder under the store's root (the backslashes become folder separators);
// each value is a file in it named like the value, holding the value's text.
//
// Keys are opened, never created: when the key's folder does not exist,
// reads and writes fail. An installer (or an administrator) creates the key,
// e.g. `mkdir -p /var/lib/ambrel/registry/SOFTWARE/Company/Product`.
//
// The root is /var/lib/ambrel/registry/, or $AMBREL_REGISTRY when set.
// Any thread; a write replaces the value's file atomically (rename).
#pragma once

#include <string>

namespace ambrel {

std::string MachineStoreRoot();
// Replaces the root (tests). Call before other threads use the store.
void SetMachineStoreRoot(const std::string& root);

// True when the key exists. A key path with an empty, "." or ".." part, or
// a part holding "/", is never found.
bool StoreKeyExists(const std::string& key);
// Reads a value of at most `maxBytes` bytes; false when the key or the value
// is missing or the value is longer.
bool StoreReadValue(const std::string& key, const std::string& name, std::string& value,
                    std::size_t maxBytes = 260);
// Writes a value into an existing key; false when the key is missing or the
// value cannot be written.
bool StoreWriteValue(const std::string& key, const std::string& name, const std::string& value);

}  // namespace ambrel
