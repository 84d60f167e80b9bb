// The block cipher: its tables against pi, the published vectors, and OpenSSL.
#include <cstdint>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "cipher/blowfish.h"
#include "support.h"

#include "blowfish_vectors.inc"

using namespace lupex;

#ifdef LUPEX_HAVE_OPENSSL
#include <openssl/blowfish.h>
#endif

namespace {

// Fixed-point numbers in base 2^32: word 0 is the integer part, the rest the fraction.
using Fixed = std::vector<std::uint32_t>;

void divide(Fixed &x, std::uint32_t d) {
    std::uint64_t rest = 0;
    for (auto &w : x) {
        const std::uint64_t cur = rest << 32 | w;
        w = static_cast<std::uint32_t>(cur / d);
        rest = cur % d;
    }
}

void add_scaled(Fixed &sum, const Fixed &x, std::int64_t factor) {
    std::int64_t carry = 0;
    for (std::size_t i = x.size(); i-- > 0;) {
        const std::int64_t v = static_cast<std::int64_t>(sum[i]) + factor * x[i] + carry;
        sum[i] = static_cast<std::uint32_t>(v);
        carry = (v - static_cast<std::uint32_t>(v)) / (std::int64_t{1} << 32);
    }
}

bool is_zero(const Fixed &x) {
    for (auto w : x)
        if (w != 0)
            return false;
    return true;
}

// factor * arctan(1/m), by its Taylor series, added into `sum`.
void add_arctan_inverse(Fixed &sum, std::uint32_t m, std::int64_t factor) {
    Fixed power(sum.size(), 0);
    power[0] = 1;
    divide(power, m);
    for (std::uint32_t k = 1; !is_zero(power); k += 2) {
        Fixed term = power;
        divide(term, k);
        add_scaled(sum, term, (k / 2) % 2 == 0 ? factor : -factor);
        divide(power, m * m);
    }
}

// The first `words` 32-bit words of pi's fractional part, from Machin's formula
// pi = 16 arctan(1/5) - 4 arctan(1/239), with guard words against rounding.
std::vector<std::uint32_t> pi_fraction_words(std::size_t words) {
    Fixed pi(1 + words + 4, 0);
    add_arctan_inverse(pi, 5, 16);
    add_arctan_inverse(pi, 239, -4);
    EXPECT_EQ(pi[0], 3u);
    return std::vector<std::uint32_t>(pi.begin() + 1, pi.begin() + 1 + static_cast<long>(words));
}

struct Vector {
    std::vector<unsigned char> key;
    std::uint32_t plain[2];
    std::uint32_t cipher[2];
};

std::vector<Vector> published_vectors() {
    std::vector<Vector> vectors;
    for (const auto &row : table_rows(blowfish_vectors)) {
        Vector v;
        v.key = from_hex(row.at(0));
        auto p = from_hex(row.at(1)), c = from_hex(row.at(2));
        for (int h = 0; h < 2; ++h) {
            v.plain[h] = std::uint32_t{p[4 * h]} << 24 | p[4 * h + 1] << 16 | p[4 * h + 2] << 8 |
                         p[4 * h + 3];
            v.cipher[h] = std::uint32_t{c[4 * h]} << 24 | c[4 * h + 1] << 16 |
                          c[4 * h + 2] << 8 | c[4 * h + 3];
        }
        vectors.push_back(v);
    }
    return vectors;
}

} // namespace

TEST(BlowfishTables, EveryWordIsADigitOfPi) {
    const auto digits = pi_fraction_words(18 + 4 * 256);
    for (int i = 0; i < 18; ++i)
        EXPECT_EQ(initial_p[i], digits[i]) << "P[" << i << "]";
    for (int s = 0; s < 4; ++s)
        for (int k = 0; k < 256; ++k)
            ASSERT_EQ(initial_s[s][k], digits[18 + 256 * s + k]) << "S[" << s << "][" << k << "]";
}

TEST(BlowfishBlock, PublishedVectorsEncryptAndDecrypt) {
    const auto vectors = published_vectors();
    ASSERT_EQ(vectors.size(), 34u + 24u);
    for (const auto &v : vectors) {
        SCOPED_TRACE(to_hex(v.key.data(), v.key.size()));
        BoxSet boxes;
        box_setup(&boxes, v.key.data(), v.key.size());
        std::uint32_t l = v.plain[0], r = v.plain[1];
        block_encrypt(&boxes, l, r);
        EXPECT_EQ(l, v.cipher[0]);
        EXPECT_EQ(r, v.cipher[1]);
        // Decrypt the published cipher text, not our own output.
        l = v.cipher[0];
        r = v.cipher[1];
        block_decrypt(&boxes, l, r);
        EXPECT_EQ(l, v.plain[0]);
        EXPECT_EQ(r, v.plain[1]);
    }
}

TEST(BlowfishKeySchedule, OnlyTheFirst72KeyBytesCount) {
    const std::string key = random_text(100, 3);
    BoxSet a, b, c;
    auto bytes = reinterpret_cast<const unsigned char *>(key.data());
    box_setup(&a, bytes, 72);
    box_setup(&b, bytes, 100);
    EXPECT_EQ(std::memcmp(&a, &b, sizeof a), 0);
    box_setup(&c, bytes, 71);
    EXPECT_NE(std::memcmp(&a, &c, sizeof a), 0);
    // A short key repeats: "abc" keys like "abcabc...".
    std::string repeated;
    while (repeated.size() < 72)
        repeated += "abc";
    box_setup(&a, reinterpret_cast<const unsigned char *>("abc"), 3);
    box_setup(&b, reinterpret_cast<const unsigned char *>(repeated.data()), 72);
    EXPECT_EQ(std::memcmp(&a, &b, sizeof a), 0);
}

#ifdef LUPEX_HAVE_OPENSSL
TEST(BlowfishBlock, AgreesWithOpenSSLForKeysOf1To100Bytes) {
    for (std::size_t n = 1; n <= 100; ++n) {
        // Bytes 0x80 and above in every key; zero bytes too, since the schedule takes
        // key bytes, not text.
        const std::string key = random_text(n, static_cast<unsigned>(n), 0, 255);
        auto bytes = reinterpret_cast<const unsigned char *>(key.data());
        BoxSet boxes;
        box_setup(&boxes, bytes, n);
        BF_KEY reference;
        BF_set_key(&reference, static_cast<int>(n), bytes);
        for (std::uint32_t i = 0; i < 4; ++i) {
            BF_LONG block[2] = {0x01234567u * (i + 1) ^ static_cast<BF_LONG>(n), 0x89abcdefu + i};
            std::uint32_t l = block[0], r = block[1];
            BF_encrypt(block, &reference);
            block_encrypt(&boxes, l, r);
            ASSERT_EQ(l, block[0]) << "key length " << n;
            ASSERT_EQ(r, block[1]) << "key length " << n;
            block_decrypt(&boxes, l, r);
            BF_decrypt(block, &reference);
            ASSERT_EQ(l, block[0]);
            ASSERT_EQ(r, block[1]);
        }
    }
}
#endif
