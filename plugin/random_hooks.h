// Test seam of the POSIX random source (the Windows one has none), in the static
// library that the tests link only (LUPEX_HEAP_HOOKS, with the heap's seam), not in
// the shipped one: it lets a test fix the CBC form's IV, or make the source fail.
#pragma once

#include <cstddef>

namespace lupex {

// Takes the place of the operating system's source for every random_bytes call from
// now; null gives it back. The source fills `bytes` bytes at `out`, or returns false
// for a failure.
using RandomSource = bool (*)(unsigned char *out, std::size_t bytes);
void random_hooks_source(RandomSource source);

} // namespace lupex
