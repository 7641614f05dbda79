// Helpers of the NTFS tests: records cut from the fixture image and a small
// builder of crafted records.
#pragma once

#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "fs/ntfs/ntfs_record.h"
#include "support/test_paths.h"

namespace ambrel::test {

using Record = std::vector<std::uint8_t>;

inline std::vector<std::uint8_t> ReadImageBytes(const std::string& path, std::uint64_t offset,
                                                std::size_t length) {
  std::vector<std::uint8_t> bytes(length);
  std::ifstream in(path, std::ios::binary);
  in.seekg(static_cast<std::streamoff>(offset));
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(length));
  if (!in) bytes.clear();
  return bytes;
}

// Record `number` of the fixture's MFT (the low records lie in its first
// run), fixups applied.
inline Record FixtureRecord(const std::string& image, std::uint32_t number) {
  auto boot = ReadImageBytes(image, 0, 512);
  if (boot.size() != 512) return {};
  std::uint64_t mftCluster;
  std::memcpy(&mftCluster, boot.data() + 48, 8);
  const std::uint64_t offset = mftCluster * boot[13] * 512 + std::uint64_t{number} * 1024;
  Record record = ReadImageBytes(image, offset, 1024);
  if (record.size() == 1024) ApplyRecordFixups(record);
  return record;
}

// Builds a 1024-byte FILE record attribute by attribute.
class RecordBuilder {
 public:
  explicit RecordBuilder(std::uint32_t number, std::uint16_t flags = 1) : record_(1024, 0) {
    std::memcpy(record_.data(), "FILE", 4);
    Put16(0x14, 0x38);
    Put16(0x16, flags);
    Put32(0x2C, number);
    pos_ = 0x38;
    Put32(pos_, 0xFFFFFFFF);
  }
  RecordBuilder& StandardInformation(std::uint64_t created, std::uint64_t modified,
                                     std::uint32_t dosAttributes) {
    std::vector<std::uint8_t> v(0x30, 0);
    std::memcpy(v.data(), &created, 8);
    std::memcpy(v.data() + 8, &modified, 8);
    std::memcpy(v.data() + 0x20, &dosAttributes, 4);
    return Resident(0x10, v);
  }
  RecordBuilder& FileName(std::uint32_t parent, const std::u16string& name, std::uint8_t space) {
    std::vector<std::uint8_t> v(0x42 + name.size() * 2, 0);
    std::memcpy(v.data(), &parent, 4);
    v[0x40] = static_cast<std::uint8_t>(name.size());
    v[0x41] = space;
    std::memcpy(v.data() + 0x42, name.data(), name.size() * 2);
    return Resident(0x30, v);
  }
  RecordBuilder& Resident(std::uint32_t type, const std::vector<std::uint8_t>& value) {
    const std::uint32_t length = static_cast<std::uint32_t>((0x18 + value.size() + 7) & ~7u);
    Put32(pos_, type);
    Put32(pos_ + 4, length);
    record_[pos_ + 8] = 0;
    Put32(pos_ + 0x10, static_cast<std::uint32_t>(value.size()));
    Put16(pos_ + 0x14, 0x18);
    std::memcpy(record_.data() + pos_ + 0x18, value.data(), value.size());
    return Advance(length);
  }
  RecordBuilder& NonResident(std::uint32_t type, std::uint64_t startVcn, std::uint64_t realSize,
                             const std::vector<std::uint8_t>& runs) {
    const std::uint32_t length = static_cast<std::uint32_t>((0x40 + runs.size() + 1 + 7) & ~7u);
    Put32(pos_, type);
    Put32(pos_ + 4, length);
    record_[pos_ + 8] = 1;
    std::memcpy(record_.data() + pos_ + 0x10, &startVcn, 8);
    Put16(pos_ + 0x20, 0x40);
    std::memcpy(record_.data() + pos_ + 0x30, &realSize, 8);
    std::memcpy(record_.data() + pos_ + 0x40, runs.data(), runs.size());
    return Advance(length);
  }
  Record Build() const { return record_; }
  std::size_t position() const { return pos_; }

  void Put16(std::size_t at, std::uint16_t v) { std::memcpy(record_.data() + at, &v, 2); }
  void Put32(std::size_t at, std::uint32_t v) { std::memcpy(record_.data() + at, &v, 4); }

 private:
  RecordBuilder& Advance(std::uint32_t length) {
    pos_ += length;
    if (pos_ + 4 <= record_.size()) Put32(pos_, 0xFFFFFFFF);
    return *this;
  }
  Record record_;
  std::size_t pos_ = 0;
};

}  // namespace ambrel::test
