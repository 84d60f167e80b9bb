// The services that differ between Windows and POSIX: the process heap and the
// library entry point. platform_win32.cpp and platform_posix.cpp implement them.
#pragma once

#include <cstddef>
#include <cstring>

namespace lupex {

// A zero-filled block of `bytes` bytes, or null when the heap cannot supply it.
// Release it with heap_release on the same call.
[[nodiscard]] void *heap_alloc_zeroed(std::size_t bytes);

// Wipes the whole block, then returns it to the heap. A null block is accepted and
// left alone. Wiping here means no caller can forget it: every working copy of a
// key, a plain text or a cipher text is cleared before the heap sees it again.
void heap_release(void *block);

// Clears `bytes` bytes at `p` in a way the optimiser cannot drop as a dead store.
inline void wipe_memory(void *p, std::size_t bytes) {
    std::memset(p, 0, bytes);
    __asm__ __volatile__("" : : "r"(p) : "memory");
}

} // namespace lupex
