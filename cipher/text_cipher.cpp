#include "cipher/text_cipher.h"

#include <algorithm>
#include <cassert>
#include <cstdint>
#include <cstring>

#include "cipher/alphabet.h"
#include "plugin/byte_order.h"
#include "plugin/platform.h"

namespace lupex {

namespace {

const unsigned char *bytes_of(const char *text) {
    return reinterpret_cast<const unsigned char *>(text);
}

// Blocks enciphered side by side in the text loops. Four on 32-bit x86 too: there the
// halves of four blocks do not all fit in registers and some move through the stack,
// yet the loops run faster than with two blocks, which need no stack at all
// (bench/text_loops.sh times them and counts those moves). Four blocks take far less
// than four times as long as one, bound by their instructions; one or two, by their
// rounds' chains of loads. So the last one or two blocks of a text go as
// they are, not padded to four.
constexpr int lanes = 4;

// Enciphers the N blocks at `in` and writes the 12 characters of each of the first
// `count` of them at `out`.
template <int N>
char *encrypt_blocks(const BoxSet *boxes, const unsigned char *in, char *out,
                     std::size_t count) {
    std::uint32_t left[N], right[N];
#pragma GCC unroll 4
    for (int k = 0; k < N; ++k) {
        left[k] = load_be32(in + 8 * k);
        right[k] = load_be32(in + 8 * k + 4);
    }
    blocks_encrypt(boxes, left, right);
    for (std::size_t k = 0; k < count; ++k)
        out = encode_half(encode_half(out, right[k]), left[k]);
    return out;
}

// Deciphers the N groups of 12 characters at `in` and writes the 8 bytes of each of
// the first `count` of them at `out`.
template <int N>
unsigned char *decrypt_blocks(const BoxSet *boxes, const char *in, unsigned char *out,
                              std::size_t count) {
    std::uint32_t left[N], right[N];
#pragma GCC unroll 4
    for (int k = 0; k < N; ++k) {
        right[k] = decode_half(in + 12 * k);
        left[k] = decode_half(in + 12 * k + 6);
    }
    blocks_decrypt(boxes, left, right);
    for (std::size_t k = 0; k < count; ++k) {
        store_be32(out + 8 * k, left[k]);
        store_be32(out + 8 * k + 4, right[k]);
    }
    return out + 8 * count;
}

} // namespace

// Both loops take `lanes` blocks at a time, and the last one to `lanes` from a
// zero-filled copy that pads them. Each holds one copy of the unrolled rounds for four
// blocks, one for two and one for one, which keeps lupex.dll small.

std::size_t encrypt_text(const BoxSet *boxes, const unsigned char *text, std::size_t n,
                         char *out) {
    unsigned char tail[8 * lanes];
    const unsigned char *in = text;
    char *o = out;
    for (std::size_t left = n; left > 0;) {
        std::size_t count = lanes;
        if (left < sizeof tail) {
            std::memset(tail, 0, sizeof tail);
            std::memcpy(tail, in, left);
            in = tail;
            count = blocks_of(left);
            left = sizeof tail;
        }
        if (count == 1)
            o = encrypt_blocks<1>(boxes, in, o, 1);
        else if (count == 2)
            o = encrypt_blocks<2>(boxes, in, o, 2);
        else
            o = encrypt_blocks<lanes>(boxes, in, o, count);
        in += sizeof tail;
        left -= sizeof tail;
    }
    wipe_memory(tail, sizeof tail);
    *o = '\0';
    return static_cast<std::size_t>(o - out);
}

std::size_t decrypt_text(const BoxSet *boxes, const char *cipher, std::size_t n,
                         unsigned char *out) {
    // Characters beyond the text count as zero bytes do: value 0.
    char tail[12 * lanes];
    const char *in = cipher;
    unsigned char *o = out;
    for (std::size_t left = n; left > 0;) {
        std::size_t count = lanes;
        if (left < sizeof tail) {
            std::memset(tail, 0, sizeof tail);
            std::memcpy(tail, in, left);
            in = tail;
            count = groups_of(left);
            left = sizeof tail;
        }
        if (count == 1)
            o = decrypt_blocks<1>(boxes, in, o, 1);
        else if (count == 2)
            o = decrypt_blocks<2>(boxes, in, o, 2);
        else
            o = decrypt_blocks<lanes>(boxes, in, o, count);
        in += sizeof tail;
        left -= sizeof tail;
    }
    wipe_memory(tail, sizeof tail);
    // The plain text ends at the first zero byte: the zero fill of its last block, or
    // wherever a wrong key put one. Nothing behind it stays.
    const std::size_t written = static_cast<std::size_t>(o - out);
    *o = 0;
    const std::size_t length = std::strlen(reinterpret_cast<const char *>(out));
    std::memset(out + length, 0, written - length);
    return length;
}

std::size_t encrypt_text(const unsigned char *key, std::size_t key_length,
                         const unsigned char *text, std::size_t n, char *out) {
    BoxSet boxes;
    box_setup(&boxes, key, key_length);
    const std::size_t length = encrypt_text(&boxes, text, n, out);
    wipe_memory(&boxes, sizeof boxes);
    return length;
}

std::size_t decrypt_text(const unsigned char *key, std::size_t key_length, const char *cipher,
                         std::size_t n, unsigned char *out) {
    BoxSet boxes;
    box_setup(&boxes, key, key_length);
    const std::size_t length = decrypt_text(&boxes, cipher, n, out);
    wipe_memory(&boxes, sizeof boxes);
    return length;
}

void pass_hash(const unsigned char *password, std::size_t length, char *out) {
    BoxSet boxes;
    box_setup(&boxes, password, length);
    std::uint32_t left = 0xdeadd061, right = 0x23f6b095;
    block_encrypt(&boxes, left, right);
    wipe_memory(&boxes, sizeof boxes);
    out[0] = '+';
    *encode_half(encode_half(out + 1, right), left) = '\0';
}

char *text_encrypt(const char *key, const char *text) {
    assert(key != nullptr && key[0] != '\0');
    const std::size_t n = std::strlen(text);
    // The result block is the only allocation: the core pads the last block itself.
    const std::size_t bytes = encrypt_capacity(n);
    auto *result = bytes != 0 ? static_cast<char *>(heap_alloc_zeroed(bytes)) : nullptr;
    if (result != nullptr)
        encrypt_text(bytes_of(key), std::strlen(key), bytes_of(text), n, result);
    return result;
}

char *text_decrypt(const char *key, const char *text, std::size_t longest) {
    assert(key != nullptr && key[0] != '\0');
    // The characters of the groups that give `longest` + 1 bytes, if the text has them.
    const std::size_t groups = longest < SIZE_MAX - 8 ? blocks_of(longest + 1) : SIZE_MAX / 12;
    const std::size_t n = std::min(std::strlen(text), 12 * groups);
    auto *result = static_cast<unsigned char *>(heap_alloc_zeroed(decrypt_capacity(n)));
    if (result != nullptr)
        decrypt_text(bytes_of(key), std::strlen(key), text, n, result);
    return reinterpret_cast<char *>(result);
}

void pass_hash(const char *password, char (&out)[16]) {
    pass_hash(bytes_of(password), std::strlen(password), out);
}

} // namespace lupex
