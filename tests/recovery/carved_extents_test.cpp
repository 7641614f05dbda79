// A carved file of the found-files partition is read as one run from its
// first sector, as long as its size.
#include <gtest/gtest.h>

#include "catalog/partition_info.h"
#include "recovery/save_item.h"

namespace ambrel {
namespace {

TEST(CarvedExtents, OneRunFromTheFirstSector) {
  PartitionInfo found;
  found.fsKind = kFsSignature;
  FoundFileNode node{};
  node.dataSector = 0x100000000ull;
  node.size = 1025;
  node.typeCode = 46;
  SetKind(node, kPresentFile);
  node.flags |= 1u << 9;  // a structural size changes nothing in the extents
  ExtentList extents;
  ASSERT_TRUE(BuildExtents(node, found, extents));
  ASSERT_EQ(extents.size(), 1u);
  EXPECT_EQ(extents[0].startSector, 0x100000000ull);
  EXPECT_EQ(extents[0].sectorCount, 3u);
}

}  // namespace
}  // namespace ambrel
