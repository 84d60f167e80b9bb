// The text format: lengths, round trips through the exports with OpenSSL as an
// oracle, the alphabet, short and odd cipher texts, and the wiping of working memory.
#include <cstdint>
#include <cstring>
#include <memory>

#include <gtest/gtest.h>

#include "cipher/alphabet.h"
#include "cipher/blowfish.h"
#include "cipher/text_cipher.h"
#include "plugin/heap_hooks.h"
#include "plugin/platform.h"
#include "support.h"

using namespace lupex;

namespace {

struct Released {
    void operator()(char *block) const { heap_release(block); }
};
using Text = std::unique_ptr<char, Released>;

std::string encrypt(const std::string &key, const std::string &text) {
    Text result(text_encrypt(key.c_str(), text.c_str()));
    EXPECT_NE(result, nullptr);
    return result ? result.get() : "";
}

std::string decrypt(const std::string &key, const std::string &text) {
    Text result(text_decrypt(key.c_str(), text.c_str()));
    EXPECT_NE(result, nullptr);
    return result ? result.get() : "";
}

const std::string alphabet = "./0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";

} // namespace

TEST(Alphabet, IndexIsThePositionOrZero) {
    for (int c = 0; c < 256; ++c) {
        const auto pos = alphabet.find(static_cast<char>(c));
        EXPECT_EQ(alphabet_index(static_cast<char>(c)), pos == std::string::npos ? 0 : pos) << c;
    }
}

TEST(TextCipher, TwelveCharactersPerStartedBlock) {
    struct Case {
        std::size_t n, characters;
    } cases[] = {{1, 12}, {7, 12}, {8, 12}, {9, 24}, {16, 24}, {100, 156}};
    for (const auto &c : cases)
        EXPECT_EQ(encrypt("key", std::string(c.n, 'x')).size(), c.characters) << c.n;
}

TEST(TextCipher, RoundTripsAtLengthsAroundBlockAndLaneBoundaries) {
    // Every length up to 10 blocks, which covers every remainder of blocks beside a
    // group of 2, 3 or 4 side by side; then lengths around larger multiples, up to 672,
    // the longest text whose cipher text fits in a reply.
    std::vector<std::size_t> lengths;
    for (std::size_t n = 1; n <= 80; ++n)
        lengths.push_back(n);
    for (std::size_t n : {95u, 96u, 97u, 127u, 128u, 129u, 255u, 256u, 257u, 383u, 384u, 385u,
                          511u, 512u, 513u, 663u, 664u, 665u, 671u, 672u})
        lengths.push_back(n);
    for (std::size_t n : lengths) {
        SCOPED_TRACE(n);
        // Any byte but zero, blanks among them but not first (blanks after the key are
        // skipped); keys of 1 to 80 bytes, one word.
        std::string text = random_text(n, static_cast<unsigned>(n));
        for (std::size_t i = 0; i < n; i += 7)
            text[i] = ' ';
        text[0] = 'x';
        const std::string key = random_text(1 + n % 80, 500 + static_cast<unsigned>(n), 33, 255);

        const std::string encrypted = call_export(blowfish, "encrypt " + key + " " + text);
        ASSERT_EQ(encrypted.substr(0, 4), "+OK ");
        const std::string cipher = encrypted.substr(4);
        ASSERT_EQ(cipher.size(), 12 * ((n + 7) / 8));
        for (std::size_t i = 0; i < cipher.size(); ++i) {
            ASSERT_NE(alphabet.find(cipher[i]), std::string::npos) << cipher;
            // The sixth character of each half holds only bits 30-31.
            if (i % 6 == 5)
                ASSERT_NE(std::string("./01").find(cipher[i]), std::string::npos) << cipher;
        }
#ifdef LUPEX_HAVE_OPENSSL
        EXPECT_EQ(cipher, openssl_encrypt(key, text));
#endif
        EXPECT_EQ(call_export(blowfish, "decrypt " + key + " " + cipher), "+OK " + text);
    }
}

TEST(TextCipher, ShortGroupsReadZeroForMissingCharacters) {
    // 5 characters make one block, 13 make two; the missing ones count as '.'.
    for (const std::string cipher : {"abcde", "abcdefghijklm", "Z"}) {
        std::string padded = cipher;
        padded.append((12 - cipher.size() % 12) % 12, '.');
        const std::string short_plain = decrypt("key", cipher);
        EXPECT_EQ(short_plain, decrypt("key", padded)) << cipher;
        EXPECT_LE(short_plain.size(), 8 * ((cipher.size() + 11) / 12));
    }
}

TEST(TextCipher, CharactersOutsideTheAlphabetDecodeAsDot) {
    EXPECT_EQ(decrypt("key", "!bcdef ghijk"), decrypt("key", ".bcdef.ghijk"));
    EXPECT_EQ(decrypt("key", "\x80\xff\t~-_+=?*ab"), decrypt("key", "..........ab"));
}

TEST(TextCipher, WrongKeyResultEndsAtTheFirstZeroByte) {
    const std::string cipher = encrypt("right key", random_text(64, 9, 1, 255));
    for (int k = 0; k < 20; ++k) {
        const std::string key = "wrong key " + std::to_string(k);
        // The raw blocks as block_decrypt gives them.
        BoxSet boxes;
        box_setup(&boxes, reinterpret_cast<const unsigned char *>(key.data()), key.size());
        std::string raw;
        for (std::size_t g = 0; g < cipher.size(); g += 12) {
            std::uint32_t right = decode_half(cipher.data() + g);
            std::uint32_t left = decode_half(cipher.data() + g + 6);
            block_decrypt(&boxes, left, right);
            for (std::uint32_t half : {left, right})
                for (int shift = 24; shift >= 0; shift -= 8)
                    raw += static_cast<char>(half >> shift);
        }
        EXPECT_EQ(decrypt(key, cipher), raw.substr(0, raw.find('\0')));
    }
}

#ifndef _WIN32
namespace {
std::vector<std::string> released_blocks;
void keep_released(const unsigned char *block, std::size_t bytes) {
    released_blocks.emplace_back(reinterpret_cast<const char *>(block), bytes);
}
} // namespace

TEST(TextCipher, ReleasedBlocksHoldNoPlainText) {
    const std::string secret = "attack at dawn, bring the plans";
    released_blocks.clear();
    heap_hooks_observe_release(keep_released);
    const std::string cipher = encrypt("the key", secret);
    EXPECT_EQ(decrypt("the key", cipher), secret);
    heap_hooks_observe_release(nullptr);
    // The result of each call: the text functions need no working copy.
    ASSERT_EQ(released_blocks.size(), 2u);
    for (const auto &block : released_blocks)
        EXPECT_EQ(block.find_first_not_of('\0'), std::string::npos) << "a block was not wiped";
}

// A plain text longer than a reply holds is refused whole, so the procedure decrypts
// no more of a cipher text than gives one byte beyond that: 128 groups, a result block
// of 1,025 bytes, whatever the length of the cipher text.
TEST(TextCipher, DecryptionStopsOneBlockPastTheLongestAsked) {
    const std::string text = random_text(2000, 21, 1, 255);
    const std::string cipher = encrypt("the key", text);
    struct Case {
        std::size_t longest, length;
    } cases[] = {{0, 8}, {7, 8}, {8, 16}, {1019, 1024}, {1999, 2000}, {5000, 2000}};
    for (const auto &c : cases) {
        Text plain(text_decrypt("the key", cipher.c_str(), c.longest));
        ASSERT_NE(plain, nullptr);
        EXPECT_EQ(std::string(plain.get()), text.substr(0, c.length)) << c.longest;
    }
    const std::string long_cipher = encrypt("k", random_text(200000, 22, 1, 255));
    released_blocks.clear();
    heap_hooks_observe_release(keep_released);
    const std::string reply = call_export(blowfish, "decrypt k " + long_cipher);
    const std::string fits = call_export(blowfish, "decrypt k " + cipher.substr(0, 1524));
    heap_hooks_observe_release(nullptr);
    EXPECT_EQ(reply, "-STRING String too long");
    EXPECT_EQ(fits, "+OK " + decrypt("k", cipher.substr(0, 1524)));
    ASSERT_EQ(released_blocks.size(), 2u);
    EXPECT_EQ(released_blocks[0].size(), 1025u);
    EXPECT_EQ(released_blocks[1].size(), 1017u);
}
#endif
