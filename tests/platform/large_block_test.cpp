// Large blocks: zero when made at every size around the point where they
// become their own huge-page mappings, wholly writable, and freed without
// disturbing the heap; a vector of them keeps its content as it grows.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "catalog/large_vector.h"
#include "platform/large_block.h"

namespace ambrel {
namespace {

TEST(LargeBlock, ZeroWritableAndFreedAtEverySize) {
  EXPECT_EQ(AllocLargeBlock(0), nullptr);
  for (std::size_t bytes : {std::size_t{1}, kLargeBlockBytes - 1, kLargeBlockBytes, kLargeBlockBytes + 1,
                            (std::size_t{2} << 20) + 12345, std::size_t{6} << 20}) {
    SCOPED_TRACE(bytes);
    auto* block = static_cast<std::uint8_t*>(AllocLargeBlock(bytes));
    ASSERT_NE(block, nullptr);
#if !defined(__SANITIZE_ADDRESS__)
    if (bytes >= kLargeBlockBytes) {
      EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % (2u << 20), 0u);
    }
#endif
    std::size_t nonZero = 0;
    for (std::size_t i = 0; i < bytes; ++i) nonZero += block[i] != 0;
    EXPECT_EQ(nonZero, 0u);
    std::memset(block, 0xA5, bytes);
    EXPECT_EQ(block[bytes - 1], 0xA5);
    FreeLargeBlock(block, bytes);
  }
  FreeLargeBlock(nullptr, kLargeBlockBytes);
}

TEST(LargeBlock, VectorKeepsItsContentAcrossTheThreshold) {
  LargeVector<std::uint64_t> values;
  for (std::uint64_t i = 0; i < 600'000; ++i) values.push_back(i * 7);  // grows past 4 MiB
  for (std::uint64_t i = 0; i < values.size(); i += 997) ASSERT_EQ(values[i], i * 7);
  LargeVector<std::uint64_t> copy = values;
  values.clear();
  values.shrink_to_fit();
  EXPECT_EQ(copy.back(), 599'999u * 7);
}

}  // namespace
}  // namespace ambrel
