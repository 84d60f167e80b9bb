// The md5 procedure's work.
#pragma once

#include <cstddef>

namespace lupex {

// The work of the md5 export: the digest of the whole text in `buffer` (not null),
// replied there. Never inlined, so that the export can clear the stack it used.
[[gnu::noinline]] void md5_request(char *buffer);

// How deep md5_request goes below its caller's frame, with a margin: the bytes the
// export clears after it. Measured by painting (tests/stack_test.cpp), optimised:
// 320 bytes on x86-64 Linux (g++), 420 (clang++), 372 on i386 Linux, 448 on 64-bit
// and 424 on 32-bit Windows (under Wine), 344 on 64-bit ARM Linux. Kept tight there:
// an md5 of 400 bytes takes about 0.5 us, and clearing 8 KiB would add more than a
// tenth to it. Built at -O0 the work keeps everything in memory and goes deeper (536
// bytes on x86-64), and every frame on s390x carries a 160-byte register save area
// (672 bytes).
#if defined(__OPTIMIZE__) && (defined(__x86_64__) || defined(__i386__) || defined(__aarch64__))
constexpr std::size_t md5_stack_bytes = 512;
#else
constexpr std::size_t md5_stack_bytes = 1024;
#endif

} // namespace lupex
