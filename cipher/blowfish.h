// The Blowfish block cipher: key schedule and the encryption of one 64-bit block held
// as two 32-bit halves (left: the block's first four bytes, first byte most
// significant).
#pragma once

#include <cstddef>
#include <cstdint>

// The keyed working state. A plain value in the frame of the call that keys it;
// wipe it before that frame ends.
struct BoxSet {
    std::uint32_t P[18];
    std::uint32_t S[4][256];
};

// The unkeyed tables: the fractional hex digits of pi, P first, then S[0] to S[3].
extern const std::uint32_t initial_p[18];
extern const std::uint32_t initial_s[4][256];

// Keys `boxes` from `key_length` bytes of `key` (only the first 72 count; a shorter key
// repeats). `key_length` must not be 0: callers turn an empty key away first.
void box_setup(BoxSet *boxes, const unsigned char *key, std::size_t key_length);

// F: ((S0[a] + S1[b]) ^ S2[c]) + S3[d] over the bytes a..d of x, most significant first.
inline std::uint32_t round_f(const BoxSet *boxes, std::uint32_t x) {
    return ((boxes->S[0][x >> 24] + boxes->S[1][(x >> 16) & 0xff]) ^
            boxes->S[2][(x >> 8) & 0xff]) +
           boxes->S[3][x & 0xff];
}

// Encrypts the block in place. The sixteen rounds are written as eight pairs so that
// the halves trade roles instead of being swapped.
inline void block_encrypt(const BoxSet *boxes, std::uint32_t &left, std::uint32_t &right) {
    const std::uint32_t *P = boxes->P;
    std::uint32_t l = left, r = right;
    for (int i = 0; i < 16; i += 2) {
        l ^= P[i];
        r ^= round_f(boxes, l);
        r ^= P[i + 1];
        l ^= round_f(boxes, r);
    }
    left = r ^ P[17];
    right = l ^ P[16];
}

// Decrypts the block in place: block_encrypt with the P-array taken backwards.
inline void block_decrypt(const BoxSet *boxes, std::uint32_t &left, std::uint32_t &right) {
    const std::uint32_t *P = boxes->P;
    std::uint32_t l = left, r = right;
    for (int i = 17; i > 1; i -= 2) {
        l ^= P[i];
        r ^= round_f(boxes, l);
        r ^= P[i - 1];
        l ^= round_f(boxes, r);
    }
    left = r ^ P[0];
    right = l ^ P[1];
}
