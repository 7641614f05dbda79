// Bookkeeping of worker threads. Every worker thread calls ThreadBegin first
// and ThreadEnd last, from its own thread; any thread may read ThreadCount
// (the user interface refuses a new scan while it is not zero).
#pragma once

#include <cstdint>
#include <string_view>

namespace ambrel {

void ThreadBegin(std::string_view name);
void ThreadEnd(std::string_view name);
std::int32_t ThreadCount();

// Waits until no worker runs, at most `timeoutMs` milliseconds; true when
// the count reached zero. Used at shutdown before shared tables are freed.
bool WaitForWorkers(std::uint32_t timeoutMs);

}  // namespace ambrel
