// Test seam of the POSIX heap (the Windows heap has none), in the static library that
// the tests link only (LUPEX_HEAP_HOOKS), not in the shipped one: failure injection, a
// count of blocks not yet released, and a look at each block as it is released.
#pragma once

#include <cstddef>

namespace lupex {

// The n-th allocation from now (0 = the next one) returns null; -1 turns it off.
void heap_hooks_fail_allocation(long n);

// Blocks allocated and not yet released, over the whole process.
long heap_hooks_live_blocks();

// Called with each released block after its wipe, before the C allocator gets it.
using HeapReleaseObserver = void (*)(const unsigned char *block, std::size_t bytes);
void heap_hooks_observe_release(HeapReleaseObserver observe);

} // namespace lupex
