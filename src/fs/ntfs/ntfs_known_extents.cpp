#include "fs/ntfs/ntfs_known_extents.h"

#include <mutex>

namespace ambrel {

namespace {

struct KnownLists {
  std::mutex lock;
  ExtentList mft;
  std::vector<IndexExtent> index;
  MftExtentListener listener;
};

KnownLists& Lists() {
  static KnownLists lists;
  return lists;
}

bool Inside(std::uint64_t lba, std::uint64_t start, std::uint64_t count) {
  return lba >= start && lba - start < count;
}

}  // namespace

void RegisterMftExtents(const ExtentList& extents) {
  KnownLists& l = Lists();
  MftExtentListener listener;
  {
    std::lock_guard<std::mutex> guard(l.lock);
    for (const DataExtent& e : extents)
      for (const DataExtent& known : l.mft)
        if (known.startSector == e.startSector && known.sectorCount == e.sectorCount) return;
    l.mft.insert(l.mft.end(), extents.begin(), extents.end());
    listener = l.listener;
  }
  if (listener)
    for (const DataExtent& e : extents) listener(e);
}

void SetMftExtentListener(MftExtentListener listener) {
  std::lock_guard<std::mutex> guard(Lists().lock);
  Lists().listener = std::move(listener);
}

bool LbaInKnownMftExtents(std::uint64_t lba) {
  std::lock_guard<std::mutex> guard(Lists().lock);
  for (const DataExtent& e : Lists().mft)
    if (!e.sparse && Inside(lba, e.startSector, e.sectorCount)) return true;
  return false;
}

ExtentList KnownMftExtents() {
  std::lock_guard<std::mutex> guard(Lists().lock);
  return Lists().mft;
}

void AddKnownIndexExtent(std::uint64_t startSector, std::uint64_t sectorCount) {
  std::lock_guard<std::mutex> guard(Lists().lock);
  if (Lists().index.size() < kMaxKnownIndexExtents)
    Lists().index.push_back({startSector, sectorCount});
}

bool LbaInKnownIndexExtents(std::uint64_t lba) {
  std::lock_guard<std::mutex> guard(Lists().lock);
  for (const IndexExtent& e : Lists().index)
    if (Inside(lba, e.startSector, e.sectorCount)) return true;
  return false;
}

std::vector<IndexExtent> KnownIndexExtents() {
  std::lock_guard<std::mutex> guard(Lists().lock);
  return Lists().index;
}

void ResetKnownExtents() {
  std::lock_guard<std::mutex> guard(Lists().lock);
  Lists().mft.clear();
  Lists().index.clear();
}

}  // namespace ambrel
