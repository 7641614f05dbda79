// Reserving a node table's array before a reader fills it with explicit ids
// (an MFT walk adds record numbers in rising order; without a reservation
// each step past the capacity would copy the whole array).
//
// Threads: the worker thread that owns the table, before it publishes it.
#pragma once

#include <cstdint>

#include "catalog/node_table.h"

namespace ambrel {

// Grows the array to at least `records` records (clamped to the table's
// bound); never shrinks it. False when memory runs out (table unchanged).
bool ReserveNodes(FoundFileTable& table, std::uint32_t records);

}  // namespace ambrel
