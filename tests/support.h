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

#ifdef LUPEX_HAVE_OPENSSL
// The text format and the password hash over OpenSSL's Blowfish: an oracle that shares
// nothing with the library. Keys and passwords are non-empty; texts have no zero bytes.
// The cipher text of `text`, 12 characters per 8-byte block, right half first.
std::string openssl_encrypt(const std::string &key, const std::string &text);
// The plain text of any cipher text (characters outside the alphabet count as 0, a
// short last group is filled with 0), cut at its first zero byte.
std::string openssl_decrypt(const std::string &key, const std::string &cipher);
// "+" and 12 characters: the block 0xDEADD061:0x23F6B095 enciphered under `password`.
std::string openssl_pass_hash(const std::string &password);
#endif
