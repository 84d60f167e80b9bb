// The services that differ between Windows and POSIX: the process heap, the
// operating system's random source and the library entry point. platform_win32.cpp and platform_posix.cpp implement them.
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

// Fills the `bytes` bytes at `out` from the operating system's cryptographic random
// source. False when the source fails; there is no other source to fall back on, and
// the caller refuses the work that needed the bytes.
[[nodiscard]] bool random_bytes(unsigned char *out, std::size_t bytes);

// Clears `bytes` bytes at `p` in a way the optimiser cannot drop as a dead store.
inline void wipe_memory(void *p, std::size_t bytes) {
    std::memset(p, 0, bytes);
    __asm__ __volatile__("" : : "r"(p) : "memory");
}

} // namespace lupex
