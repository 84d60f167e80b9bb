// The work behind lupex_md5.
#pragma once

#include <cstddef>

namespace lupex {

// The digest of `length` bytes at `data` as 32 hex digits and a terminator in `out`.
// Never inlined, so that lupex_md5 can clear the stack it used.
[[gnu::noinline]] void md5_digits(const void *data, std::size_t length, char *out);

} // namespace lupex
