// Text encryption and decryption in the printable cipher text format, and the
// password hash. Each call keys its own BoxSet and wipes it before returning.
#pragma once

#include <cstddef>

// The 8-byte blocks of an n-byte text, the last one filled with zero bytes; its cipher
// text has 12 characters per block. Never overflows.
constexpr std::size_t blocks_of(std::size_t n) { return n / 8 + (n % 8 != 0); }

// The groups of 12 characters of an n-character cipher text, the last one completed
// with characters of value 0; each decrypts to 8 bytes. Never overflows.
constexpr std::size_t groups_of(std::size_t n) { return n / 12 + (n % 12 != 0); }

// The cipher text of `text` under `key`, as a new zero-terminated heap block that the
// caller releases with heap_release. Each 8-byte block is enciphered on its own and
// written as 12 cipher_alphabet characters, right half first. An empty key returns a
// copy of the text. Null when memory runs out (nothing is then left allocated).
[[nodiscard]] char *text_encrypt(const char *key, const char *text);

// The plain text of cipher text `text` under `key`, as a new zero-terminated heap block
// that the caller releases with heap_release. 12 characters make one block; a short
// last group reads its missing characters as value 0 and characters outside the
// alphabet as value 0. The result ends at its first zero byte. An empty key returns a
// copy of the text. Null when memory runs out (nothing is then left allocated).
[[nodiscard]] char *text_decrypt(const char *key, const char *text);

// "+" and 12 alphabet characters: the fixed block 0xDEADD061:0x23F6B095 enciphered
// under `password` (zero-terminated, not empty), right half first.
void pass_hash(const char *password, char (&out)[16]);
