// The Blowfish half of the C API (lupex.h): what its functions clear behind them.
#pragma once

#include <cstddef>

namespace lupex {

// How deep the work behind lupex_encrypt, lupex_decrypt and lupex_encpass goes below
// the function's frame, with a margin: the bytes each clears after it. The BoxSet that
// the work keys in its own frame is most of it. Measured by painting
// (tests/stack_test.cpp): 4,472 bytes on x86-64 Linux (g++; 4,472 with clang++,
// 4,764 at -O0), 4,504 on i386 Linux, 4,712 on 64-bit and 4,600 on 32-bit Windows
// (under Wine), 4,576 on 64-bit ARM and 4,904 on s390x Linux.
constexpr std::size_t keyed_stack_bytes = 6144;

// The same for lupex_key_setup and the calls under a prepared key, which keep only
// block halves, the padded last blocks and saved registers: optimised, 248 bytes on
// x86-64 Linux (g++), 264 (clang++), 264 on i386 Linux, 408 on 64-bit and 376 on
// 32-bit Windows, 336 on 64-bit ARM Linux. Kept tight there: a call under a prepared
// key that encrypts 16 bytes takes about a twentieth of a microsecond. Built at -O0:
// 508 bytes on x86-64; on s390x, 400.
#if defined(__OPTIMIZE__) && (defined(__x86_64__) || defined(__i386__) || defined(__aarch64__))
constexpr std::size_t prepared_stack_bytes = 512;
#else
constexpr std::size_t prepared_stack_bytes = 1024;
#endif

// The same for the CBC calls under a prepared key, whose decryption also keeps a
// decoding step of cipher blocks (cipher/text_cipher.cpp) on the stack: twice as much.
constexpr std::size_t cbc_prepared_stack_bytes = 2 * prepared_stack_bytes;

} // namespace lupex
