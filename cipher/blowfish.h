// The Blowfish block cipher: key schedule and the encryption of one 64-bit block held
// as two 32-bit halves (left: the block's first four bytes, first byte most
// significant).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "lupex.h"

namespace lupex {

// The keyed working state: the P-array's 18 words, then the four S-boxes of 256 words
// each. It is the schedule inside the C API's prepared key itself, so that the text
// loops run on a caller's lupex_key in place, through the one type they read. The
// procedures keep one in the frame of the call that keys it and wipe it before that
// frame ends.
using BoxSet = decltype(lupex_key::lupex_private_schedule);
constexpr int p_words = 18;
constexpr int s_words = 256;
static_assert(sizeof(BoxSet) == 4 * (p_words + 4 * s_words), "no padding in the key");
static_assert(sizeof(BoxSet::words) == sizeof(BoxSet), "the words are the whole key");

// The P-array, and the first word of S-box `box`.
inline std::uint32_t *p_array(BoxSet *boxes) { return boxes->words; }
inline const std::uint32_t *p_array(const BoxSet *boxes) { return boxes->words; }
inline std::uint32_t *sbox(BoxSet *boxes, int box) { return boxes->words + p_words + s_words * box; }
inline const std::uint32_t *sbox(const BoxSet *boxes, int box) {
    return boxes->words + p_words + s_words * box;
}

// The unkeyed tables: the fractional hex digits of pi, P first, then S[0] to S[3].
extern const std::uint32_t initial_p[18];
extern const std::uint32_t initial_s[4][256];

// Keys `boxes` from `key_length` bytes of `key` (only the first 72 count; a shorter key
// repeats). `key_length` must not be 0: callers turn an empty key away first. Never
// inlined, so that lupex_key_setup can clear the stack it used.
[[gnu::noinline]] void box_setup(BoxSet *boxes, const unsigned char *key, std::size_t key_length);

// The four S-boxes, each by the address of its first word in a register of its own.
// The boxes lie at fixed offsets from the key's start, and left to itself the compiler
// folds those offsets into every load (base, index and displacement) or into vector
// additions of the indices; on common x86 cores a load with three address parts is
// slower than one with two. The empty asm statements hide where the addresses
// come from, so each stays a plain base register.
struct Sboxes {
    const std::uint32_t *box[4];
};
inline Sboxes sboxes_of(const BoxSet *boxes) {
    const std::uint32_t *s0 = sbox(boxes, 0), *s1 = sbox(boxes, 1), *s2 = sbox(boxes, 2),
                        *s3 = sbox(boxes, 3);
    __asm__("" : "+r"(s0), "+r"(s1), "+r"(s2), "+r"(s3));
    return {{s0, s1, s2, s3}};
}

// The word of S-box `box` at `offset` bytes from its start (a multiple of 4, below
// 1,024). Addressing the box by byte offset lets the load use an unscaled index, which
// is faster than a scaled one on common x86 cores and costs nothing elsewhere.
inline std::uint32_t sbox_word(const Sboxes &s, int box, std::uint32_t offset) {
    std::uint32_t word;
    std::memcpy(&word, reinterpret_cast<const unsigned char *>(s.box[box]) + offset, 4);
    return word;
}

// F: ((S0[a] + S1[b]) ^ S2[c]) + S3[d] over the bytes a..d of x, most significant
// first. A single block's rounds wait on each other, so this one takes the bytes out
// already multiplied by 4, as byte offsets, for the faster load.
inline std::uint32_t round_f(const Sboxes &s, std::uint32_t x) {
    return ((sbox_word(s, 0, x >> 22 & 0x3fc) + sbox_word(s, 1, x >> 14 & 0x3fc)) ^
            sbox_word(s, 2, x >> 6 & 0x3fc)) +
           sbox_word(s, 3, x << 2 & 0x3fc);
}

// The same for blocks side by side, which are bound by the number of instructions
// rather than by a chain of loads: the plain bytes as scaled indices from the key's
// start take fewer (the top byte needs no mask, the others one byte move each), and
// leave the registers that four base addresses would hold to the blocks' halves.
inline std::uint32_t round_f(const BoxSet *boxes, std::uint32_t x) {
    // Each box's offset added to the byte as a size_t, so that it folds into the load.
    const std::uint32_t *s = boxes->words + p_words;
    const std::size_t a = x >> 24, b = x >> 16 & 0xff, c = x >> 8 & 0xff, d = x & 0xff;
    return ((s[a] + s[s_words + b]) ^ s[2 * s_words + c]) + s[3 * s_words + d];
}

// What the rounds of N blocks side by side read the S-boxes through: a single block
// has time to spare between its loads, several do not.
template <int N>
inline auto round_boxes(const BoxSet *boxes) {
    if constexpr (N == 1)
        return sboxes_of(boxes);
    else
        return boxes;
}

// Encrypts N independent blocks in place, block k being left[k]:right[k]. The
// sixteen rounds are written as eight pairs so that the halves trade roles instead of
// being swapped, and each P word is folded into the half that round_f's result lands
// on: that half is ready long before round_f's result, so a round's serial chain holds
// one xor instead of two. The blocks' chains do not depend on one another, so the
// processor runs them side by side.
template <int N>
inline void blocks_encrypt(const BoxSet *boxes, std::uint32_t (&left)[N],
                           std::uint32_t (&right)[N]) {
    const std::uint32_t *P = p_array(boxes);
    const auto s = round_boxes<N>(boxes);
    std::uint32_t l[N], r[N];
#pragma GCC unroll 4
    for (int k = 0; k < N; ++k) {
        l[k] = left[k] ^ P[0];
        r[k] = right[k];
    }
    // Unrolled whole, blocks and rounds, so that P's indices are constants and the
    // halves stay in registers.
#pragma GCC unroll 8
    for (int i = 1; i < 17; i += 2) {
#pragma GCC unroll 4
        for (int k = 0; k < N; ++k)
            r[k] = (r[k] ^ P[i]) ^ round_f(s, l[k]);
#pragma GCC unroll 4
        for (int k = 0; k < N; ++k)
            l[k] = (l[k] ^ P[i + 1]) ^ round_f(s, r[k]);
    }
#pragma GCC unroll 4
    for (int k = 0; k < N; ++k) {
        left[k] = r[k] ^ P[17];
        right[k] = l[k];
    }
}

// Decrypts N independent blocks in place: blocks_encrypt with the P-array taken
// backwards.
template <int N>
inline void blocks_decrypt(const BoxSet *boxes, std::uint32_t (&left)[N],
                           std::uint32_t (&right)[N]) {
    const std::uint32_t *P = p_array(boxes);
    const auto s = round_boxes<N>(boxes);
    std::uint32_t l[N], r[N];
#pragma GCC unroll 4
    for (int k = 0; k < N; ++k) {
        l[k] = left[k] ^ P[17];
        r[k] = right[k];
    }
#pragma GCC unroll 8
    for (int i = 16; i > 0; i -= 2) {
#pragma GCC unroll 4
        for (int k = 0; k < N; ++k)
            r[k] = (r[k] ^ P[i]) ^ round_f(s, l[k]);
#pragma GCC unroll 4
        for (int k = 0; k < N; ++k)
            l[k] = (l[k] ^ P[i - 1]) ^ round_f(s, r[k]);
    }
#pragma GCC unroll 4
    for (int k = 0; k < N; ++k) {
        left[k] = r[k] ^ P[0];
        right[k] = l[k];
    }
}

// Encrypts one block in place.
inline void block_encrypt(const BoxSet *boxes, std::uint32_t &left, std::uint32_t &right) {
    std::uint32_t l[1] = {left}, r[1] = {right};
    blocks_encrypt(boxes, l, r);
    left = l[0];
    right = r[0];
}

// Decrypts one block in place; undoes block_encrypt under the same BoxSet.
inline void block_decrypt(const BoxSet *boxes, std::uint32_t &left, std::uint32_t &right) {
    std::uint32_t l[1] = {left}, r[1] = {right};
    blocks_decrypt(boxes, l, r);
    left = l[0];
    right = r[0];
}

} // namespace lupex
