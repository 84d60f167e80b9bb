// Shared test helpers: calls made the way a host makes them, hex, table parsing.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "lupex.h"

// Calls `procedure` with a host buffer of max(1,024, request + 1) bytes followed by
// guard bytes, and returns the reply line. Fails the test when the reply runs past the
// buffer or has no terminator inside it. `capacity` overrides the buffer size.
std::string call_export(lupex_procedure procedure, const std::string &request,
                        std::size_t capacity = 0);

std::string to_hex(const void *data, std::size_t size);
std::vector<unsigned char> from_hex(const std::string &hex);

// "\xHH" escapes, the only escape the data tables use (for blanks at either end of a
// field, tabs and bytes outside printable ASCII).
std::string unescape(const std::string &field);

// Lines of a table, comments ('#') and empty lines left out, split at tabs.
std::vector<std::vector<std::string>> table_rows(const char *table);

// Random bytes in [lo, hi], deterministic for a given seed.
std::string random_text(std::size_t n, unsigned seed, unsigned char lo = 1,
                        unsigned char hi = 255);
