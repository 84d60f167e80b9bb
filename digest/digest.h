// MD5 (RFC 1321) as a small streaming context: init, update, final.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lupex {

// Lives in the caller's frame; holds no pointers.
struct DigestContext {
    std::uint32_t lo;        // bytes fed so far, modulo 2^29
    std::uint32_t hi;        // bytes fed so far, divided by 2^29
    std::uint32_t a, b, c, d; // chaining state
    unsigned char buffer[64]; // input not yet compressed
};

// The 64 additive constants, floor(2^32 * |sin(i)|) for i = 1..64, one row per round.
// clang-format off
constexpr std::uint32_t md5_constants[64] = {
    // round 1
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    // round 2
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    // round 3
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    // round 4
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391,
};
// clang-format on
static_assert(md5_constants[0] == 0xd76aa478 && md5_constants[63] == 0xeb86d391);

void digest_init(DigestContext *ctx);

// Feeds `size` bytes; `data` may be null when `size` is 0.
void digest_update(DigestContext *ctx, const void *data, std::size_t size);

// Writes the 16 digest bytes, then clears the whole context.
void digest_final(unsigned char (&result)[16], DigestContext *ctx);

// Compresses `size` bytes, a non-zero multiple of 64, and returns the position just
// behind them.
const unsigned char *digest_block(DigestContext *ctx, const unsigned char *data,
                                  std::size_t size);

// The two lowercase hex digits of every byte value, so a digest byte costs one lookup.
struct HexPairs {
    char digits[256][2];
};
constexpr HexPairs make_hex_pairs() {
    HexPairs pairs{};
    for (int v = 0; v < 256; ++v) {
        pairs.digits[v][0] = "0123456789abcdef"[v >> 4];
        pairs.digits[v][1] = "0123456789abcdef"[v & 0x0f];
    }
    return pairs;
}
inline constexpr HexPairs hex_pairs = make_hex_pairs();

// The digest of the `size` bytes at `data` (null when `size` is 0) as 32 lowercase hex
// digits at `hex`, without a terminator: the result of the md5 procedure and of
// lupex_md5. Inline, so that it adds no frame to the work that each of them runs
// before clearing the stack it used.
inline void md5_hex(const void *data, std::size_t size, char *hex) {
    DigestContext ctx;
    digest_init(&ctx);
    digest_update(&ctx, data, size);
    unsigned char digest[16];
    digest_final(digest, &ctx);
    for (int i = 0; i < 16; ++i) {
        hex[2 * i] = hex_pairs.digits[digest[i]][0];
        hex[2 * i + 1] = hex_pairs.digits[digest[i]][1];
    }
}

// The work of the md5 export: the digest of the whole text in `buffer` (not null),
// replied there. Never inlined, so that the export can clear the stack it used.
[[gnu::noinline]] void md5_request(char *buffer);

// The work behind lupex_md5: the digest of `length` bytes at `data` as 32 hex digits and
// a terminator in `out`. Never inlined, so that lupex_md5 can clear the stack it used.
[[gnu::noinline]] void md5_digits(const void *data, std::size_t length, char *out);

} // namespace lupex
