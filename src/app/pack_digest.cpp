// The pack's expected size and digest come from the header the pack maker
// writes beside the pack; only this file includes it.
#include "pack_digest.h"

#include "app/resource_pack.h"

namespace ambrel {

PackCheck BuiltPackCheck() { return PackCheck{kPackExpectedSize, kPackExpectedMd5}; }

}  // namespace ambrel
