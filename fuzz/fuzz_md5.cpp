// The md5 export with arbitrary bytes as its host buffer, and the digest context fed
// the whole input (zero bytes included) in pieces cut where the input says, both
// against a textbook MD5 written here: one loop of 64 steps over a padded copy.
#include <algorithm>
#include <cmath>
#include <vector>

#include "digest/digest.h"
#include "fuzz_support.h"

using namespace lupex;

namespace {

std::string reference_md5_hex(const std::uint8_t *data, std::size_t size) {
    static const auto constants = [] {
        std::vector<std::uint32_t> k(64);
        for (int i = 0; i < 64; ++i)
            k[i] = static_cast<std::uint32_t>(std::floor(std::fabs(std::sin(i + 1.0)) * 4294967296.0));
        return k;
    }();
    static const int shifts[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

    std::vector<std::uint8_t> message(data, data + size);
    message.push_back(0x80);
    while (message.size() % 64 != 56)
        message.push_back(0);
    const std::uint64_t bits = static_cast<std::uint64_t>(size) * 8;
    for (int i = 0; i < 8; ++i)
        message.push_back(static_cast<std::uint8_t>(bits >> (8 * i)));

    std::uint32_t h[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
    for (std::size_t at = 0; at < message.size(); at += 64) {
        std::uint32_t m[16];
        for (int i = 0; i < 16; ++i) {
            m[i] = 0;
            for (int b = 3; b >= 0; --b)
                m[i] = m[i] << 8 | message[at + 4 * i + b];
        }
        std::uint32_t a = h[0], b = h[1], c = h[2], d = h[3];
        for (int i = 0; i < 64; ++i) {
            std::uint32_t f;
            int g;
            switch (i / 16) {
            case 0: f = (b & c) | (~b & d); g = i; break;
            case 1: f = (d & b) | (~d & c); g = (5 * i + 1) % 16; break;
            case 2: f = b ^ c ^ d; g = (3 * i + 5) % 16; break;
            default: f = c ^ (b | ~d); g = (7 * i) % 16; break;
            }
            const std::uint32_t sum = a + f + constants[i] + m[g];
            const int s = shifts[i / 16][i % 4];
            a = d;
            d = c;
            c = b;
            b = b + (sum << s | sum >> (32 - s));
        }
        h[0] += a;
        h[1] += b;
        h[2] += c;
        h[3] += d;
    }
    std::string bytes;
    for (std::uint32_t word : h)
        for (int i = 0; i < 4; ++i)
            bytes += static_cast<char>(word >> (8 * i) & 0xff);
    return hex_of(bytes);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const std::string reply = call_guarded(md5, data, size);
    const std::size_t text = strnlen(reinterpret_cast<const char *>(data), size);
    const std::string expected =
        text == 0 ? "--STRING Enter a string to encrypt" : "+OK " + reference_md5_hex(data, text);
    fuzz_check(reply == expected, "md5 reply differs from the reference", reply + "\n" + expected);

    // Piece lengths 0 to 129 taken from the input's own bytes, so blocks are entered
    // and left at every offset; what they do not cover goes in last.
    DigestContext ctx;
    digest_init(&ctx);
    std::size_t at = 0;
    for (std::size_t i = 0; i < size && at < size; ++i) {
        const std::size_t piece = std::min<std::size_t>(data[i] % 130, size - at);
        digest_update(&ctx, data + at, piece);
        at += piece;
    }
    digest_update(&ctx, data + at, size - at);
    unsigned char digest[16];
    digest_final(digest, &ctx);
    const std::string streamed = hex_of(std::string(reinterpret_cast<char *>(digest), 16));
    fuzz_check(streamed == reference_md5_hex(data, size), "streamed digest differs", streamed);
    return 0;
}
