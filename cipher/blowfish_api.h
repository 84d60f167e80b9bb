// The Blowfish half of the C API (lupex.h): what its functions clear behind them.
#pragma once

#include <cstddef>

namespace lupex {

// How deep the work behind lupex_encrypt, lupex_decrypt and lupex_encpass goes below
// the function's frame, with a margin: the bytes each clears after it. The BoxSet that
// the work keys in its own frame is most of it. Measured by painting
// (tests/stack_test.cpp): 4,472 bytes on x86-64 Linux, 4,504 on i386 Linux, 4,712 on
// 64-bit and 4,600 on 32-bit Windows (under Wine).
constexpr std::size_t keyed_stack_bytes = 6144;

// The same for lupex_key_setup and the calls under a prepared key, which keep only
// block halves, the padded last blocks and saved registers: 248 bytes on x86-64 Linux,
// 264 on i386 Linux, 408 on 64-bit and 376 on 32-bit Windows. Kept tight: a call under
// a prepared key that encrypts 16 bytes takes about a tenth of a microsecond.
constexpr std::size_t prepared_stack_bytes = 512;

} // namespace lupex
