// Text encryption and decryption in the printable cipher text format, and the
// password hash: one core under a keyed BoxSet, which the blowfish procedure and the C
// API both call. Each call that keys a BoxSet of its own wipes it before returning.
#pragma once

#include <cstddef>
#include <cstdint>

#include "cipher/base64.h"
#include "cipher/blowfish.h"

namespace lupex {

// The 8-byte blocks of an n-byte text, the last one filled with zero bytes; its cipher
// text has 12 characters per block. Never overflows.
constexpr std::size_t blocks_of(std::size_t n) { return n / 8 + (n % 8 != 0); }

// The groups of 12 characters of an n-character cipher text, the last one completed
// with characters of value 0; each decrypts to 8 bytes. Never overflows.
constexpr std::size_t groups_of(std::size_t n) { return n / 12 + (n % 12 != 0); }

// Bytes that the cipher text of an n-byte text needs, terminator included; 0 when that
// overflows size_t.
constexpr std::size_t encrypt_capacity(std::size_t n) {
    return blocks_of(n) <= (SIZE_MAX - 1) / 12 ? 12 * blocks_of(n) + 1 : 0;
}

// Bytes that the plain text of an n-character cipher text needs, terminator included.
// Never overflows: it is at most two thirds of n, and 9.
constexpr std::size_t decrypt_capacity(std::size_t n) { return 8 * groups_of(n) + 1; }

// The core. Neither reads past its input nor needs it terminated, and neither
// allocates; the caller clears the stack behind them (block halves and the padded last
// block are kept there). Never inlined, so that the C API's calls under a prepared key
// can clear the stack they used.

// Writes the cipher text of the `n` bytes at `text` to `out`: 12 cipher_alphabet
// characters per block, right half first, and a terminator (encrypt_capacity(n) bytes
// in all). Returns the number of characters. Blocks are enciphered independently; a
// zero byte inside the text is enciphered like any other.
[[gnu::noinline]] std::size_t encrypt_text(const BoxSet *boxes, const unsigned char *text,
                                           std::size_t n, char *out);

// Writes the 8 bytes of each group of 12 characters at `cipher` (`n` of them) to `out`,
// each character outside cipher_alphabet (a zero byte too) counting as value 0, and a
// short last group completed with such characters. The plain text ends at the first
// zero byte: from there to the end of the decrypt_capacity(n) bytes, `out` is zeroed.
// Returns the plain text's length.
[[gnu::noinline]] std::size_t decrypt_text(const BoxSet *boxes, const char *cipher,
                                           std::size_t n, unsigned char *out);

// The same under a BoxSet of their own, keyed from `key_length` bytes at `key` (not 0)
// and wiped before they return.
[[gnu::noinline]] std::size_t encrypt_text(const unsigned char *key, std::size_t key_length,
                                           const unsigned char *text, std::size_t n, char *out);
[[gnu::noinline]] std::size_t decrypt_text(const unsigned char *key, std::size_t key_length,
                                           const char *cipher, std::size_t n,
                                           unsigned char *out);

// Writes "+" and 12 alphabet characters and a terminator (14 bytes) to `out`: the fixed
// block 0xDEADD061:0x23F6B095 enciphered under the `length` bytes of `password` (not
// 0), right half first.
[[gnu::noinline]] void pass_hash(const unsigned char *password, std::size_t length, char *out);

// The CBC form: "*" and the standard base64 (base64.h) of IV, C1, ..., Cn, where
// Ci = E(Pi xor C(i-1)), C0 is the IV, and the text is filled with zero bytes to whole
// blocks. Same key schedule, block halves read first byte most significant.
constexpr std::size_t cbc_iv_bytes = 8;

// Bytes that the CBC cipher text of an n-byte text needs: the marker, the base64 of the
// IV and the blocks, the terminator. 0 when that overflows size_t.
constexpr std::size_t cbc_encrypt_capacity(std::size_t n) {
    // 4 * ceil(8 * (blocks + 1) / 3) + 2 fits exactly while 8 * (blocks + 1) stays
    // within three times the groups of four characters that size_t holds.
    constexpr std::size_t most_blocks = 3 * ((SIZE_MAX - 2) / 4) / 8 - 1;
    return blocks_of(n) <= most_blocks ? 2 + base64_length(8 * (blocks_of(n) + 1)) : 0;
}

// Bytes that the plain text of any valid CBC cipher text of n characters needs,
// terminator included: what its blocks after the IV give at most, and 1. Never
// overflows; at most 3 * ceil(n / 4) + 1.
constexpr std::size_t cbc_decrypt_capacity(std::size_t n) {
    const std::size_t bytes = base64_bytes(n);
    return (bytes >= 16 ? bytes / 8 * 8 - 8 : 0) + 1;
}

// A CBC cipher text taken apart: its base64 characters without the marker, the blanks
// at its end and the padding, and the blocks after the IV that they stand for.
struct CbcText {
    const char *chars;
    std::size_t count;
    std::size_t blocks;
};

// Takes the `n` characters at `cipher` apart into *text: an optional "*" in front, then
// base64 (base64_valid) with or without its "=" padding, then any blanks. Refuses
// (false) everything else, and a text of less than the IV and one whole block, or with
// a cut block.
bool cbc_parse(const char *cipher, std::size_t n, CbcText *text);

// Writes the CBC cipher text of the `n` bytes at `text` (n > 0) with IV `iv` to `out`:
// cbc_encrypt_capacity(n) bytes, the terminator included. Returns the number of
// characters.
[[gnu::noinline]] std::size_t encrypt_cbc_text(const BoxSet *boxes,
                                               const unsigned char (&iv)[cbc_iv_bytes],
                                               const unsigned char *text, std::size_t n,
                                               char *out);

// Writes the first `blocks` blocks (at most text.blocks) of the plain text of `text` to
// `out`, and a terminator (8 * blocks + 1 bytes in all). The plain text ends at the
// first zero byte: from there to the terminator, `out` is zeroed. Returns the plain
// text's length. Decrypts four blocks side by side, as the ECB loops do: each block's
// decryption needs only cipher blocks.
[[gnu::noinline]] std::size_t decrypt_cbc_text(const BoxSet *boxes, const CbcText &text,
                                               std::size_t blocks, unsigned char *out);

// The same under a BoxSet of their own, keyed from `key_length` bytes at `key` (not 0)
// and wiped before they return.
[[gnu::noinline]] std::size_t encrypt_cbc_text(const unsigned char *key, std::size_t key_length,
                                               const unsigned char (&iv)[cbc_iv_bytes],
                                               const unsigned char *text, std::size_t n,
                                               char *out);
[[gnu::noinline]] std::size_t decrypt_cbc_text(const unsigned char *key, std::size_t key_length,
                                               const CbcText &text, std::size_t blocks,
                                               unsigned char *out);

// The procedures' faces of the core, over zero-terminated texts.

// The cipher text of `text` under `key` (not empty), as a new zero-terminated heap
// block that the caller releases with heap_release. Null when memory runs out (nothing
// is then left allocated).
[[nodiscard]] char *text_encrypt(const char *key, const char *text);

// The plain text of cipher text `text` under `key` (not empty), as a new zero-terminated
// heap block that the caller releases with heap_release. Null when memory runs out
// (nothing is then left allocated). Only the groups that give the first `longest` + 1
// bytes are decrypted: a plain text of more than `longest` bytes comes back cut, longer
// than `longest` still, for a caller that would refuse it anyway.
[[nodiscard]] char *text_decrypt(const char *key, const char *text,
                                 std::size_t longest = SIZE_MAX);

// What the CBC faces below give back.
enum CbcStatus { cbc_ok, cbc_out_of_memory, cbc_random_failed, cbc_malformed };

// The CBC cipher text of `text` (not empty) under `key` (not empty), with a new IV from
// the platform's random source, as a new zero-terminated heap block in *result that the
// caller releases with heap_release. *result is null on any status but cbc_ok (nothing
// is then left allocated).
[[nodiscard]] CbcStatus text_encrypt_cbc(const char *key, const char *text, char **result);

// The plain text of CBC cipher text `text` under `key` (not empty), the same way;
// cbc_malformed when cbc_parse refuses it. As text_decrypt, only the blocks that give
// the first `longest` + 1 bytes are decrypted.
[[nodiscard]] CbcStatus text_decrypt_cbc(const char *key, const char *text, char **result,
                                         std::size_t longest = SIZE_MAX);

// The hash of `password` (zero-terminated, not empty) into `out`.
void pass_hash(const char *password, char (&out)[16]);

} // namespace lupex
