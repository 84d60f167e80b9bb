// The Blowfish half of the C API (lupex.h): what its functions clear behind them.
#pragma once

#include <cstddef>

// How deep the work behind lupex_encrypt, lupex_decrypt and lupex_encpass goes below
// the function's frame, with a margin: the bytes each clears after it. The BoxSet that
// the work keys in its own frame is most of it. Measured by painting
// (tests/stack_test.cpp): 4,552 bytes on x86-64 Linux.
constexpr std::size_t keyed_stack_bytes = 6144;

// The same for lupex_key_setup and the calls under a prepared key, which keep only
// block halves, a padded last block and a few saved registers: 312 bytes on x86-64
// Linux. Kept tight, since a call under a prepared key that encrypts 16 bytes takes
// well under a tenth of a microsecond.
constexpr std::size_t prepared_stack_bytes = 512;
