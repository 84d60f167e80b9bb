#include "digest/digest.h"

#include <cstring>

#include "plugin/byte_order.h"
#include "plugin/platform.h"

namespace lupex {

namespace {

inline std::uint32_t rotl(std::uint32_t x, int s) { return x << s | x >> (32 - s); }

// One step of each round: a = b + ((a + f(b, c, d) + word + constant) <<< s).
// Each step waits for b, the previous step's result, so f is written to do as little
// as possible after b is known: F as d ^ (b & (c ^ d)); G, whose two terms share no
// set bit, as a sum whose c & ~d term is added before b arrives; H with c ^ d first.
inline void step_f(std::uint32_t &a, std::uint32_t b, std::uint32_t c, std::uint32_t d,
                   std::uint32_t w, std::uint32_t k, int s) {
    a = b + rotl(a + (d ^ (b & (c ^ d))) + w + k, s);
}
inline void step_g(std::uint32_t &a, std::uint32_t b, std::uint32_t c, std::uint32_t d,
                   std::uint32_t w, std::uint32_t k, int s) {
    a = b + rotl(a + w + k + (c & ~d) + (b & d), s);
}
inline void step_h(std::uint32_t &a, std::uint32_t b, std::uint32_t c, std::uint32_t d,
                   std::uint32_t w, std::uint32_t k, int s) {
    a = b + rotl(a + (b ^ c ^ d) + w + k, s);
}
inline void step_i(std::uint32_t &a, std::uint32_t b, std::uint32_t c, std::uint32_t d,
                   std::uint32_t w, std::uint32_t k, int s) {
    a = b + rotl(a + (c ^ (b | ~d)) + w + k, s);
}

} // namespace

void digest_init(DigestContext *ctx) {
    ctx->lo = 0;
    ctx->hi = 0;
    ctx->a = 0x67452301;
    ctx->b = 0xefcdab89;
    ctx->c = 0x98badcfe;
    ctx->d = 0x10325476;
}

const unsigned char *digest_block(DigestContext *ctx, const unsigned char *data,
                                  std::size_t size) {
    constexpr const std::uint32_t *K = md5_constants;
    // The message words stay in this frame: kept in the context, they would be held in
    // registers that the chaining values need across blocks.
    std::uint32_t X[16];
    std::uint32_t a = ctx->a, b = ctx->b, c = ctx->c, d = ctx->d;
    do {
        for (int i = 0; i < 16; ++i)
            X[i] = load_le32(data + 4 * i);
        const std::uint32_t sa = a, sb = b, sc = c, sd = d;
        // clang-format off
        step_f(a, b, c, d, X[ 0], K[ 0],  7); step_f(d, a, b, c, X[ 1], K[ 1], 12);
        step_f(c, d, a, b, X[ 2], K[ 2], 17); step_f(b, c, d, a, X[ 3], K[ 3], 22);
        step_f(a, b, c, d, X[ 4], K[ 4],  7); step_f(d, a, b, c, X[ 5], K[ 5], 12);
        step_f(c, d, a, b, X[ 6], K[ 6], 17); step_f(b, c, d, a, X[ 7], K[ 7], 22);
        step_f(a, b, c, d, X[ 8], K[ 8],  7); step_f(d, a, b, c, X[ 9], K[ 9], 12);
        step_f(c, d, a, b, X[10], K[10], 17); step_f(b, c, d, a, X[11], K[11], 22);
        step_f(a, b, c, d, X[12], K[12],  7); step_f(d, a, b, c, X[13], K[13], 12);
        step_f(c, d, a, b, X[14], K[14], 17); step_f(b, c, d, a, X[15], K[15], 22);

        step_g(a, b, c, d, X[ 1], K[16],  5); step_g(d, a, b, c, X[ 6], K[17],  9);
        step_g(c, d, a, b, X[11], K[18], 14); step_g(b, c, d, a, X[ 0], K[19], 20);
        step_g(a, b, c, d, X[ 5], K[20],  5); step_g(d, a, b, c, X[10], K[21],  9);
        step_g(c, d, a, b, X[15], K[22], 14); step_g(b, c, d, a, X[ 4], K[23], 20);
        step_g(a, b, c, d, X[ 9], K[24],  5); step_g(d, a, b, c, X[14], K[25],  9);
        step_g(c, d, a, b, X[ 3], K[26], 14); step_g(b, c, d, a, X[ 8], K[27], 20);
        step_g(a, b, c, d, X[13], K[28],  5); step_g(d, a, b, c, X[ 2], K[29],  9);
        step_g(c, d, a, b, X[ 7], K[30], 14); step_g(b, c, d, a, X[12], K[31], 20);

        step_h(a, b, c, d, X[ 5], K[32],  4); step_h(d, a, b, c, X[ 8], K[33], 11);
        step_h(c, d, a, b, X[11], K[34], 16); step_h(b, c, d, a, X[14], K[35], 23);
        step_h(a, b, c, d, X[ 1], K[36],  4); step_h(d, a, b, c, X[ 4], K[37], 11);
        step_h(c, d, a, b, X[ 7], K[38], 16); step_h(b, c, d, a, X[10], K[39], 23);
        step_h(a, b, c, d, X[13], K[40],  4); step_h(d, a, b, c, X[ 0], K[41], 11);
        step_h(c, d, a, b, X[ 3], K[42], 16); step_h(b, c, d, a, X[ 6], K[43], 23);
        step_h(a, b, c, d, X[ 9], K[44],  4); step_h(d, a, b, c, X[12], K[45], 11);
        step_h(c, d, a, b, X[15], K[46], 16); step_h(b, c, d, a, X[ 2], K[47], 23);

        step_i(a, b, c, d, X[ 0], K[48],  6); step_i(d, a, b, c, X[ 7], K[49], 10);
        step_i(c, d, a, b, X[14], K[50], 15); step_i(b, c, d, a, X[ 5], K[51], 21);
        step_i(a, b, c, d, X[12], K[52],  6); step_i(d, a, b, c, X[ 3], K[53], 10);
        step_i(c, d, a, b, X[10], K[54], 15); step_i(b, c, d, a, X[ 1], K[55], 21);
        step_i(a, b, c, d, X[ 8], K[56],  6); step_i(d, a, b, c, X[15], K[57], 10);
        step_i(c, d, a, b, X[ 6], K[58], 15); step_i(b, c, d, a, X[13], K[59], 21);
        step_i(a, b, c, d, X[ 4], K[60],  6); step_i(d, a, b, c, X[11], K[61], 10);
        step_i(c, d, a, b, X[ 2], K[62], 15); step_i(b, c, d, a, X[ 9], K[63], 21);
        // clang-format on
        a += sa;
        b += sb;
        c += sc;
        d += sd;
        data += 64;
        size -= 64;
    } while (size != 0);
    ctx->a = a;
    ctx->b = b;
    ctx->c = c;
    ctx->d = d;
    return data;
}

void digest_update(DigestContext *ctx, const void *data, std::size_t size) {
    // Nothing to count or copy; `data` may be null, which memcpy must not be given.
    if (size == 0)
        return;
    auto in = static_cast<const unsigned char *>(data);
    const std::uint32_t saved = ctx->lo;
    // The count is kept in bytes; size_t may be 64 bits, so the part above 2^29
    // goes to `hi` in whole.
    ctx->lo = (saved + static_cast<std::uint32_t>(size)) & 0x1fffffff;
    if (ctx->lo < saved)
        ++ctx->hi;
    ctx->hi += static_cast<std::uint32_t>(size >> 29);

    std::size_t used = saved & 0x3f;
    if (used != 0) {
        const std::size_t available = 64 - used;
        if (size < available) {
            std::memcpy(ctx->buffer + used, in, size);
            return;
        }
        std::memcpy(ctx->buffer + used, in, available);
        in += available;
        size -= available;
        digest_block(ctx, ctx->buffer, 64);
    }
    if (size >= 64) {
        in = digest_block(ctx, in, size & ~std::size_t{0x3f});
        size &= 0x3f;
    }
    if (size != 0)
        std::memcpy(ctx->buffer, in, size);
}

void digest_final(unsigned char (&result)[16], DigestContext *ctx) {
    std::size_t used = ctx->lo & 0x3f;
    ctx->buffer[used++] = 0x80;
    std::size_t available = 64 - used;
    if (available < 8) {
        std::memset(ctx->buffer + used, 0, available);
        digest_block(ctx, ctx->buffer, 64);
        used = 0;
        available = 64;
    }
    std::memset(ctx->buffer + used, 0, available - 8);
    // Bit count: bytes times eight, the low word's top three bits moving into `hi`.
    const std::uint32_t bits_lo = ctx->lo << 3;
    const std::uint32_t bits_hi = ctx->hi;
    store_le32(ctx->buffer + 56, bits_lo);
    store_le32(ctx->buffer + 60, bits_hi);
    digest_block(ctx, ctx->buffer, 64);
    store_le32(result + 0, ctx->a);
    store_le32(result + 4, ctx->b);
    store_le32(result + 8, ctx->c);
    store_le32(result + 12, ctx->d);
    wipe_memory(ctx, sizeof *ctx);
}

} // namespace lupex
