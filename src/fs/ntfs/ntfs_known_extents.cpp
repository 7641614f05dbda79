#include "fs/ntfs/ntfs_known_extents.h"

namespace ambrel {

namespace {

bool Inside(std::uint64_t lba, std::uint64_t start, std::uint64_t count) {
  return lba >= start && lba - start < count;
}

}  // namespace

bool KnownExtents::RegisterMft(const ExtentList& extents) {
  std::lock_guard<std::mutex> guard(lock_);
  for (const DataExtent& e : extents)
    for (const DataExtent& known : mft_)
      if (known.startSector == e.startSector && known.sectorCount == e.sectorCount) return false;
  mft_.insert(mft_.end(), extents.begin(), extents.end());
  return true;
}

bool KnownExtents::InMft(std::uint64_t lba) const {
  std::lock_guard<std::mutex> guard(lock_);
  for (const DataExtent& e : mft_)
    if (!e.sparse && Inside(lba, e.startSector, e.sectorCount)) return true;
  return false;
}

ExtentList KnownExtents::Mft() const {
  std::lock_guard<std::mutex> guard(lock_);
  return mft_;
}

void KnownExtents::AddIndex(std::uint64_t startSector, std::uint64_t sectorCount) {
  std::lock_guard<std::mutex> guard(lock_);
  if (index_.size() < kMaxKnownIndexExtents) index_.push_back({startSector, sectorCount});
}

bool KnownExtents::InIndex(std::uint64_t lba) const {
  std::lock_guard<std::mutex> guard(lock_);
  for (const IndexExtent& e : index_)
    if (Inside(lba, e.startSector, e.sectorCount)) return true;
  return false;
}

std::vector<IndexExtent> KnownExtents::Index() const {
  std::lock_guard<std::mutex> guard(lock_);
  return index_;
}

void KnownExtents::Reset() {
  std::lock_guard<std::mutex> guard(lock_);
  mft_.clear();
  index_.clear();
}

}  // namespace ambrel
