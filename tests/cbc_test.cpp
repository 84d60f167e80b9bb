// The CBC form on the blowfish procedure and the C API: the base64 codec against the
// RFC's vectors, known answers with fixed IVs against OpenSSL's BF_cbc_encrypt, round
// trips through every face, malformed cipher texts in a table, the reply line's bounds,
// a fresh IV on every call, the random source failing, capacities, the order of the
// errors, overlapping buffers, and a prepared key that overlaps `out` or its own key.
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cipher/base64.h"
#include "cipher/text_cipher.h"
#include "lupex.h"
#include "plugin/heap_hooks.h"
#include "plugin/random_hooks.h"
#include "support.h"

#ifdef LUPEX_HAVE_OPENSSL
#include <openssl/blowfish.h>
#include <openssl/evp.h>
#endif

using namespace lupex;

namespace {

constexpr char guard = '\x5a';

struct Result {
    int code;
    std::string text;
    bool operator==(const Result &o) const { return code == o.code && text == o.text; }
};
std::ostream &operator<<(std::ostream &out, const Result &r) {
    return out << r.code << " '" << r.text << "'";
}

// Which C API call, one-shot or under a prepared key.
enum Call { encrypt_once, decrypt_once, encrypt_prepared, decrypt_prepared };

// Calls one of the four with an `out` of `capacity` bytes (the capacity function's when
// 0) and guard bytes behind it. Fails the test when anything past the capacity changed,
// when an error wrote anything, or when a result has no terminator at its length.
Result cbc(Call call, const std::string &key, const std::string &input, std::size_t capacity = 0) {
    const bool encrypting = call == encrypt_once || call == encrypt_prepared;
    if (capacity == 0)
        capacity = encrypting ? lupex_encrypt_cbc_capacity(input.size())
                              : lupex_decrypt_cbc_capacity(input.size());
    std::vector<char> buffer(capacity + 64, guard);
    std::size_t length = 0x5a5a;
    auto k = std::make_unique<lupex_key>();
    EXPECT_EQ(lupex_key_setup(k.get(), key.data(), key.size()), LUPEX_OK);
    int code = LUPEX_OK;
    switch (call) {
    case encrypt_once:
        code = lupex_encrypt_cbc(key.data(), key.size(), input.data(), input.size(),
                                 buffer.data(), capacity, &length);
        break;
    case decrypt_once:
        code = lupex_decrypt_cbc(key.data(), key.size(), input.data(), input.size(),
                                 buffer.data(), capacity, &length);
        break;
    case encrypt_prepared:
        code = lupex_encrypt_cbc_with(k.get(), input.data(), input.size(), buffer.data(),
                                      capacity, &length);
        break;
    case decrypt_prepared:
        code = lupex_decrypt_cbc_with(k.get(), input.data(), input.size(), buffer.data(),
                                      capacity, &length);
        break;
    }
    lupex_key_wipe(k.get());
    for (std::size_t i = capacity; i < buffer.size(); ++i)
        if (buffer[i] != guard) {
            ADD_FAILURE() << "wrote past the capacity at " << i;
            break;
        }
    if (code != LUPEX_OK) {
        EXPECT_EQ(length, 0x5a5au) << "an error set the length";
        EXPECT_EQ(std::string(buffer.data(), capacity), std::string(capacity, guard))
            << "an error wrote to out";
        return {code, ""};
    }
    EXPECT_LT(length, capacity);
    EXPECT_EQ(buffer[length], '\0');
    // Decryption zeroes everything behind the plain text.
    if (!encrypting)
        EXPECT_EQ(std::string(buffer.data() + length, capacity - length),
                  std::string(capacity - length, '\0'));
    return {code, std::string(buffer.data(), length)};
}

Result ok(const std::string &text) { return {LUPEX_OK, text}; }
Result error(int code) { return {code, ""}; }

std::string procedure(const std::string &request) { return call_export(blowfish, request); }

// The 8 bytes of the IV of a CBC cipher text.
std::string iv_of(const std::string &cipher) {
    const std::string body = cipher.substr(1, 12);
    unsigned char bytes[9];
    base64_decode(body.data(), 11, bytes);
    return std::string(reinterpret_cast<char *>(bytes), 8);
}

// Fixes the IV of every encryption while it lives, where the seam is (the POSIX
// static library that the tests link).
#ifndef _WIN32
#define LUPEX_HAVE_RANDOM_SEAM 1
unsigned char fixed_iv[8];
bool fixed_source(unsigned char *out, std::size_t bytes) {
    for (std::size_t i = 0; i < bytes; ++i)
        out[i] = fixed_iv[i % 8];
    return true;
}
bool failing_source(unsigned char *, std::size_t) { return false; }
struct SourceHook {
    explicit SourceHook(RandomSource source) { random_hooks_source(source); }
    ~SourceHook() { random_hooks_source(nullptr); }
};
#endif

// Any bytes but zero, not a blank first (the procedure skips blanks before the text).
std::string text_of(std::size_t n, unsigned seed) {
    std::string text = random_text(n, seed);
    if (n > 0)
        text[0] = 'x';
    return text;
}

} // namespace

TEST(Base64, RfcVectorsEncodeAndDecode) {
    const char *const vectors[][2] = {{"", ""},         {"f", "Zg=="},       {"fo", "Zm8="},
                                      {"foo", "Zm9v"},  {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="},
                                      {"foobar", "Zm9vYmFy"}};
    for (const auto &v : vectors) {
        const std::string bytes = v[0], text = v[1];
        char out[16] = {};
        const char *end = base64_encode(reinterpret_cast<const unsigned char *>(bytes.data()),
                                        bytes.size(), out);
        EXPECT_EQ(std::string(out, static_cast<std::size_t>(end - out)), text);
        EXPECT_EQ(base64_length(bytes.size()), text.size());
        const std::size_t chars = text.find('=') == std::string::npos ? text.size() : text.find('=');
        ASSERT_TRUE(base64_valid(text.data(), chars)) << text;
        EXPECT_EQ(base64_bytes(chars), bytes.size());
        unsigned char decoded[16];
        const unsigned char *decoded_end = base64_decode(text.data(), chars, decoded);
        EXPECT_EQ(std::string(reinterpret_cast<char *>(decoded),
                              static_cast<std::size_t>(decoded_end - decoded)),
                  bytes);
    }
    // The alphabet's order (Python's base64 reads the module's cipher texts in
    // tests/python).
    for (int v = 0; v < 64; ++v)
        EXPECT_EQ(base64_value(base64_alphabet[v]), static_cast<unsigned>(v));
    EXPECT_EQ(base64_value('='), base64_none);
    EXPECT_EQ(base64_value('.'), base64_none);
    EXPECT_EQ(base64_value('\0'), base64_none);
}

#if defined(LUPEX_HAVE_OPENSSL) && defined(LUPEX_HAVE_RANDOM_SEAM)
namespace {
// "*" and the base64 of IV and the blocks, as OpenSSL computes them.
std::string openssl_cbc(const std::string &key, const unsigned char (&iv)[8],
                        const std::string &text) {
    BF_KEY schedule;
    BF_set_key(&schedule, static_cast<int>(key.size()),
               reinterpret_cast<const unsigned char *>(key.data()));
    std::vector<unsigned char> padded((text.size() + 7) / 8 * 8, 0);
    std::memcpy(padded.data(), text.data(), text.size());
    std::vector<unsigned char> all(8 + padded.size());
    std::memcpy(all.data(), iv, 8);
    unsigned char chain[8];
    std::memcpy(chain, iv, 8);
    BF_cbc_encrypt(padded.data(), all.data() + 8, static_cast<long>(padded.size()), &schedule,
                   chain, BF_ENCRYPT);
    std::vector<unsigned char> encoded(4 * (all.size() + 2) / 3 + 1);
    const int n = EVP_EncodeBlock(encoded.data(), all.data(), static_cast<int>(all.size()));
    return "*" + std::string(reinterpret_cast<char *>(encoded.data()), static_cast<std::size_t>(n));
}
} // namespace

TEST(Cbc, KnownAnswersWithFixedIvsAgreeWithOpenSSL) {
    const std::string keys[] = {"k", "sixteen-byte-key", std::string(72, 'K'),
                                std::string("key\0with\0zeros", 14), random_text(100, 5)};
    const std::size_t lengths[] = {1, 7, 8, 9, 15, 16, 17, 24, 31, 32, 33, 40, 100, 752, 3000};
    unsigned seed = 1;
    for (const auto &key : keys)
        for (std::size_t n : lengths) {
            SCOPED_TRACE("key of " + std::to_string(key.size()) + ", text of " + std::to_string(n));
            for (int i = 0; i < 8; ++i)
                fixed_iv[i] = static_cast<unsigned char>(seed * 37 + i * 91);
            const std::string text = text_of(n, ++seed);
            const std::string expected = openssl_cbc(key, fixed_iv, text);
            SourceHook hook(fixed_source);
            EXPECT_EQ(cbc(encrypt_once, key, text), ok(expected));
            EXPECT_EQ(cbc(encrypt_prepared, key, text), ok(expected));
            EXPECT_EQ(cbc(decrypt_once, key, expected), ok(text));
            EXPECT_EQ(cbc(decrypt_prepared, key, expected), ok(text));
            if (key.find('\0') == std::string::npos && key.find(' ') == std::string::npos &&
                n <= 752) {
                EXPECT_EQ(procedure("encrypt-cbc " + key + " " + text), "+OK " + expected);
                EXPECT_EQ(procedure("decrypt-cbc " + key + " " + expected), "+OK " + text);
            }
        }
}
#endif

TEST(Cbc, RoundTripsThroughEveryFaceInEveryAcceptedSpelling) {
    const std::string key = "round-trip-key";
    for (std::size_t n = 1; n <= 100; n += (n < 40 ? 1 : 13)) {
        SCOPED_TRACE(n);
        const std::string text = text_of(n, static_cast<unsigned>(n));
        const Result once = cbc(encrypt_once, key, text), prepared = cbc(encrypt_prepared, key, text);
        ASSERT_EQ(once.code, LUPEX_OK);
        ASSERT_EQ(prepared.code, LUPEX_OK);
        ASSERT_EQ(once.text.size(), lupex_encrypt_cbc_capacity(n) - 1);
        const std::string reply = procedure("encrypt-cbc " + key + " " + text);
        ASSERT_EQ(reply.substr(0, 5), "+OK *");
        for (const std::string &cipher : {once.text, prepared.text, reply.substr(4)}) {
            const std::string body = cipher.substr(1), bare = body.substr(0, body.find('='));
            for (const std::string &spelling :
                 {cipher, body, bare, "*" + bare, cipher + "   ", bare + " "}) {
                SCOPED_TRACE(spelling);
                EXPECT_EQ(cbc(decrypt_once, key, spelling), ok(text));
                EXPECT_EQ(cbc(decrypt_prepared, key, spelling), ok(text));
                EXPECT_EQ(procedure("decrypt-cbc " + key + " " + spelling), "+OK " + text);
            }
        }
    }
    // The C API has no bound on the length.
    const std::string long_text = text_of(100000, 9);
    const Result long_cipher = cbc(encrypt_once, key, long_text);
    ASSERT_EQ(long_cipher.code, LUPEX_OK);
    EXPECT_EQ(cbc(decrypt_prepared, key, long_cipher.text), ok(long_text));
}

TEST(Cbc, AWrongKeyDecryptsToOtherBytesWithSuccess) {
    const Result cipher = cbc(encrypt_once, "right key", "attack at dawn");
    const Result wrong = cbc(decrypt_once, "wrong key", cipher.text);
    EXPECT_EQ(wrong.code, LUPEX_OK);
    EXPECT_NE(wrong.text, "attack at dawn");
    // And the ECB form's text under the same key is no CBC text at all.
    EXPECT_EQ(procedure("decrypt-cbc k " + procedure("encrypt k attack at dawn").substr(4)),
              "-STRING Invalid String");
}

TEST(Cbc, MalformedCipherTextsAreRefusedOnEveryFace) {
    const std::string key = "malformed-key";
    const std::string good = cbc(encrypt_once, key, "8 bytes!").text; // "*" and 24 characters
    ASSERT_EQ(good.size(), 25u);
    const std::string body = good.substr(1);
    const std::string ecb = procedure("encrypt " + key + " 8 bytes!").substr(4);
    const struct {
        const char *what;
        std::string cipher;
    } cases[] = {
        {"a character outside the alphabet", body.substr(0, 10) + "!" + body.substr(11)},
        {"a dot of the cipher alphabet", body.substr(0, 10) + "." + body.substr(11)},
        {"the ECB form's cipher text", ecb},
        {"a blank inside", body.substr(0, 12) + " " + body.substr(12)},
        {"a tab at the end", body + "\t"},
        {"a blank in front (C API)", " " + good},
        {"two markers", "*" + good},
        {"a marker behind", body + "*"},
        {"padding inside", body.substr(0, 4) + "=" + body.substr(4)},
        {"padding after a whole group", body.substr(0, 20) + "===="},
        {"three padding characters", body.substr(0, 21) + "==="},
        {"padding that does not fill the group", body.substr(0, 22) + "="},
        {"one character over a group", body.substr(0, 21)},
        {"bits that no byte holds", body.substr(0, 21) + base64_alphabet[base64_value(body[21]) | 1] + "=="},
        {"a cut block", body.substr(0, 20)},
        {"the IV alone", body.substr(0, 11) + "="},
        {"the marker alone", "*"},
        {"blanks alone", "*   "},
        {"a zero byte inside", body.substr(0, 8) + std::string(1, '\0') + body.substr(9)},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(cbc(decrypt_once, key, c.cipher), error(LUPEX_ERR_TEXT));
        EXPECT_EQ(cbc(decrypt_prepared, key, c.cipher), error(LUPEX_ERR_TEXT));
        if (c.cipher.find('\0') == std::string::npos && c.cipher[0] != ' ' &&
            c.cipher.find_first_not_of("* ") != std::string::npos)
            EXPECT_EQ(procedure("decrypt-cbc " + key + " " + c.cipher), "-STRING Invalid String");
    }
    EXPECT_EQ(cbc(decrypt_once, key, good), ok("8 bytes!"));
}

TEST(Cbc, TheReplyLinesBoundsRefuseWholeAndCutNothing) {
    const std::string key = "bound-key";
    // 752 bytes give "*" and 1,016 characters: a reply of 1,021.
    const std::string longest = text_of(752, 1);
    const std::string reply = procedure("encrypt-cbc " + key + " " + longest);
    EXPECT_EQ(reply.size(), 4u + 1 + 1016);
    EXPECT_EQ(procedure("decrypt-cbc " + key + " " + reply.substr(4)), "+OK " + longest);
    for (std::size_t n : {753u, 760u, 761u, 2000u})
        EXPECT_EQ(procedure("encrypt-cbc " + key + " " + text_of(n, 2)), "-STRING String too long");
    // Plain texts up to 1,019 bytes are replied whole; longer ones refused, those whose
    // decrypted bytes have a zero byte early on taken as the shorter text they are.
    for (std::size_t n : {1016u, 1018u, 1019u, 1020u, 1024u, 5000u}) {
        SCOPED_TRACE(n);
        const std::string text = text_of(n, static_cast<unsigned>(n));
        const Result cipher = cbc(encrypt_once, key, text);
        ASSERT_EQ(cipher.code, LUPEX_OK);
        EXPECT_EQ(procedure("decrypt-cbc " + key + " " + cipher.text),
                  n <= 1019 ? "+OK " + text : "-STRING String too long");
    }
}

TEST(Cbc, EveryEncryptionDrawsAFreshIv) {
    const std::string key = "fresh-iv-key", text = "the same text every time";
    auto k = std::make_unique<lupex_key>();
    ASSERT_EQ(lupex_key_setup(k.get(), key.data(), key.size()), LUPEX_OK);
    std::set<std::string> ivs, ciphers;
    std::vector<char> out(lupex_encrypt_cbc_capacity(text.size()));
    const int calls = 4000;
    for (int i = 0; i < calls; ++i) {
        std::size_t n = 0;
        const int code = i % 2 == 0
            ? lupex_encrypt_cbc_with(k.get(), text.data(), text.size(), out.data(), out.size(), &n)
            : lupex_encrypt_cbc(key.data(), key.size(), text.data(), text.size(), out.data(),
                                out.size(), &n);
        ASSERT_EQ(code, LUPEX_OK);
        const std::string cipher(out.data(), n);
        ivs.insert(iv_of(cipher));
        ciphers.insert(cipher);
    }
    for (int i = 0; i < 1000; ++i) {
        const std::string cipher = procedure("encrypt-cbc " + key + " " + text).substr(4);
        ivs.insert(iv_of(cipher));
        ciphers.insert(cipher);
    }
    EXPECT_EQ(ivs.size(), calls + 1000u);
    EXPECT_EQ(ciphers.size(), calls + 1000u);
    lupex_key_wipe(k.get());
    // Equal blocks no longer show: a text of equal blocks gives unequal cipher blocks.
    const std::string blocks(64, 'b');
    const std::string cipher = cbc(encrypt_once, key, blocks).text;
    std::vector<unsigned char> raw(base64_bytes(cipher.size() - 1) + 3);
    base64_decode(cipher.data() + 1, cipher.find('=') == std::string::npos ? cipher.size() - 1
                                                                           : cipher.find('=') - 1,
                  raw.data());
    std::set<std::string> cipher_blocks;
    for (std::size_t at = 8; at < 8 + 64; at += 8)
        cipher_blocks.insert(std::string(reinterpret_cast<char *>(raw.data()) + at, 8));
    EXPECT_EQ(cipher_blocks.size(), 8u);
}

#ifdef LUPEX_HAVE_RANDOM_SEAM
TEST(Cbc, AFailingRandomSourceIsRefusedWithNothingWritten) {
    SourceHook hook(failing_source);
    EXPECT_EQ(cbc(encrypt_once, "key", "text"), error(LUPEX_ERR_RANDOM));
    EXPECT_EQ(cbc(encrypt_prepared, "key", "text"), error(LUPEX_ERR_RANDOM));
    EXPECT_STREQ(lupex_error_string(LUPEX_ERR_RANDOM), "Random source failed");
    // The procedure replies, zeroes the request behind the reply, and returns 3.
    std::vector<char> buffer(LUPEX_BUFFER_MIN, guard);
    const std::string request = "encrypt-cbc key " + std::string(200, 't');
    std::memcpy(buffer.data(), request.c_str(), request.size() + 1);
    EXPECT_EQ(blowfish(nullptr, nullptr, buffer.data(), nullptr, 0, 0), LUPEX_PROC_RESULT);
    const std::string reply = "-RANDOM Random source failed";
    EXPECT_EQ(std::string(buffer.data()), reply);
    EXPECT_EQ(std::string(buffer.data() + reply.size(), request.size() + 1 - reply.size()),
              std::string(request.size() + 1 - reply.size(), '\0'));
    // Decryption needs no random bytes.
    const std::string cipher = "*AAECAwQFBgfLSrHrInMFRg==";
    EXPECT_EQ(procedure("decrypt-cbc sixteen-byte-key " + cipher), "+OK 12345678");
    // A failed allocation after the draw leaves nothing behind.
    random_hooks_source(fixed_source);
    const long live = heap_hooks_live_blocks();
    heap_hooks_fail_allocation(0);
    EXPECT_EQ(procedure("encrypt-cbc key text"), "-MEMORY Out of memory");
    heap_hooks_fail_allocation(0);
    EXPECT_EQ(procedure("decrypt-cbc sixteen-byte-key " + cipher), "-MEMORY Out of memory");
    heap_hooks_fail_allocation(-1);
    EXPECT_EQ(heap_hooks_live_blocks(), live);
}
#endif

TEST(Cbc, CapacitiesExactAndOneShort) {
    for (std::size_t n : {1u, 7u, 8u, 9u, 16u, 17u, 23u, 24u, 25u, 100u, 752u, 1000u}) {
        SCOPED_TRACE(n);
        const std::size_t blocks = (n + 7) / 8;
        EXPECT_EQ(lupex_encrypt_cbc_capacity(n), 1 + 4 * ((8 + 8 * blocks + 2) / 3) + 1);
        const std::string text = text_of(n, static_cast<unsigned>(n));
        const std::size_t capacity = lupex_encrypt_cbc_capacity(n);
        const Result cipher = cbc(encrypt_once, "cap", text, capacity);
        ASSERT_EQ(cipher.code, LUPEX_OK);
        EXPECT_EQ(cipher.text.size(), capacity - 1);
        EXPECT_EQ(cbc(encrypt_once, "cap", text, capacity - 1), error(LUPEX_ERR_SPACE));
        EXPECT_EQ(cbc(encrypt_prepared, "cap", text, capacity - 1), error(LUPEX_ERR_SPACE));
        // The longest valid text of its length needs the whole decrypt capacity: the one
        // without "*", padding or blanks, whose plain text fills its last block.
        const std::string bare = cipher.text.substr(1, cipher.text.find('=') - 1);
        for (const std::string &spelling : {cipher.text, bare, cipher.text + "  "}) {
            const std::size_t m = spelling.size(), d = lupex_decrypt_cbc_capacity(m);
            EXPECT_LE(d, 3 * ((m + 3) / 4) + 1);
            EXPECT_GE(d, 8 * blocks + 1);
            EXPECT_EQ(cbc(decrypt_once, "cap", spelling, d), ok(text));
            EXPECT_EQ(cbc(decrypt_once, "cap", spelling, d - 1), error(LUPEX_ERR_SPACE));
            EXPECT_EQ(cbc(decrypt_prepared, "cap", spelling, d - 1), error(LUPEX_ERR_SPACE));
        }
        EXPECT_EQ(lupex_decrypt_cbc_capacity(bare.size()), 8 * blocks + 1);
    }
    for (std::size_t m = 0; m < 200; ++m)
        EXPECT_LE(lupex_decrypt_cbc_capacity(m), 3 * ((m + 3) / 4) + 1) << m;
    EXPECT_EQ(lupex_decrypt_cbc_capacity(0), 1u);
    EXPECT_LE(lupex_decrypt_cbc_capacity(SIZE_MAX), 3 * (SIZE_MAX / 4 + 1) + 1);
    // The last length whose capacity fits in size_t, and the first that does not.
    const std::size_t most_blocks = 3 * ((SIZE_MAX - 2) / 4) / 8 - 1;
    EXPECT_NE(lupex_encrypt_cbc_capacity(8 * most_blocks), 0u);
    // 8 * (most_blocks + 1) bytes are 3 * 2^(w-2) - 8 (w the bits of size_t): their
    // base64 is 2^w - 8 characters.
    EXPECT_EQ(lupex_encrypt_cbc_capacity(8 * most_blocks), SIZE_MAX - 5);
    EXPECT_EQ(lupex_encrypt_cbc_capacity(8 * most_blocks + 1), 0u);
    EXPECT_EQ(lupex_encrypt_cbc_capacity(SIZE_MAX), 0u);
}

TEST(Cbc, ErrorsComeInTheOrderKeyTextSpaceAndWriteNothing) {
    auto k = std::make_unique<lupex_key>();
    std::memset(k.get(), 0, sizeof *k);
    char out[64];
    std::memset(out, guard, sizeof out);
    const char *bad = "not base64!";
    const char *good = "*AAECAwQFBgfLSrHrInMFRg==";
    const std::size_t g = std::strlen(good);
    std::size_t n = 7;
    const struct {
        const char *what;
        int got, expected;
    } cases[] = {
        {"encrypt, no key, no text", lupex_encrypt_cbc("k", 0, nullptr, 3, out, 0, &n), LUPEX_ERR_KEY},
        {"encrypt, no text, no room", lupex_encrypt_cbc("k", 1, "", 0, out, 0, &n), LUPEX_ERR_TEXT},
        {"encrypt, zero byte", lupex_encrypt_cbc("k", 1, "a\0b", 3, out, 64, &n), LUPEX_ERR_TEXT},
        {"encrypt, no room", lupex_encrypt_cbc("k", 1, "abc", 3, out, 25, &n), LUPEX_ERR_SPACE},
        {"encrypt, null out", lupex_encrypt_cbc("k", 1, "abc", 3, nullptr, 64, &n), LUPEX_ERR_SPACE},
        {"encrypt_with, unprepared", lupex_encrypt_cbc_with(k.get(), "", 0, out, 0, &n), LUPEX_ERR_KEY},
        {"encrypt_with, null key", lupex_encrypt_cbc_with(nullptr, "abc", 3, out, 64, &n), LUPEX_ERR_KEY},
        {"decrypt, no key, malformed", lupex_decrypt_cbc(nullptr, 1, bad, 11, out, 0, &n), LUPEX_ERR_KEY},
        {"decrypt, malformed, no room", lupex_decrypt_cbc("k", 1, bad, 11, out, 0, &n), LUPEX_ERR_TEXT},
        {"decrypt, null text", lupex_decrypt_cbc("k", 1, nullptr, 5, out, 64, &n), LUPEX_ERR_TEXT},
        {"decrypt, empty text", lupex_decrypt_cbc("k", 1, good, 0, out, 64, &n), LUPEX_ERR_TEXT},
        {"decrypt, no room", lupex_decrypt_cbc("k", 1, good, g, out, 8, &n), LUPEX_ERR_SPACE},
        {"decrypt, null out", lupex_decrypt_cbc("k", 1, good, g, nullptr, 64, &n), LUPEX_ERR_SPACE},
        {"decrypt_with, unprepared", lupex_decrypt_cbc_with(k.get(), bad, 11, out, 0, &n), LUPEX_ERR_KEY},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.got, c.expected) << c.what;
    EXPECT_EQ(n, 7u);
    EXPECT_EQ(std::string(out, sizeof out), std::string(sizeof out, guard));
}

// The input and `out` in one arena, overlapping in every way, each refused with the
// arena untouched; an `out` just clear of the input works.
TEST(Cbc, OverlappingBuffersAreRefusedAndNothingIsWritten) {
    const std::string key = "overlap-key", text = text_of(40, 3);
    const std::string cipher = cbc(encrypt_once, key, text).text;
    auto k = std::make_unique<lupex_key>();
    ASSERT_EQ(lupex_key_setup(k.get(), key.data(), key.size()), LUPEX_OK);
    for (Call call : {encrypt_once, decrypt_once, encrypt_prepared, decrypt_prepared}) {
        const bool encrypting = call == encrypt_once || call == encrypt_prepared;
        const std::string &input = encrypting ? text : cipher;
        const auto n = static_cast<std::ptrdiff_t>(input.size());
        const std::size_t needed = encrypting ? lupex_encrypt_cbc_capacity(input.size())
                                              : lupex_decrypt_cbc_capacity(input.size());
        const auto m = static_cast<std::ptrdiff_t>(needed);
        for (std::ptrdiff_t shift : {std::ptrdiff_t{0}, std::ptrdiff_t{8}, std::ptrdiff_t{-8},
                                     n - 1, 1 - m, n, -m}) {
            SCOPED_TRACE(std::to_string(call) + ", out at input + " + std::to_string(shift));
            std::vector<char> arena(static_cast<std::size_t>(256 + n + m), guard);
            char *const in = arena.data() + 128 + m;
            std::memcpy(in, input.data(), input.size());
            const std::vector<char> before = arena;
            char *const out = in + shift;
            int code = 0;
            switch (call) {
            case encrypt_once:
                code = lupex_encrypt_cbc(key.data(), key.size(), in, input.size(), out, needed, nullptr);
                break;
            case decrypt_once:
                code = lupex_decrypt_cbc(key.data(), key.size(), in, input.size(), out, needed, nullptr);
                break;
            case encrypt_prepared:
                code = lupex_encrypt_cbc_with(k.get(), in, input.size(), out, needed, nullptr);
                break;
            case decrypt_prepared:
                code = lupex_decrypt_cbc_with(k.get(), in, input.size(), out, needed, nullptr);
                break;
            }
            if (shift == n || shift == -m) {
                ASSERT_EQ(code, LUPEX_OK);
                if (!encrypting)
                    EXPECT_EQ(std::string(out), text);
            } else {
                EXPECT_EQ(code, LUPEX_ERR_SPACE);
                EXPECT_TRUE(arena == before) << "the arena changed";
            }
        }
    }
    lupex_key_wipe(k.get());
}

// A prepared key is input too: an `out` over any byte of *k is refused for every call
// under it, ECB and CBC, and the key stays as it was; key bytes inside *k set it up as
// the same bytes elsewhere do.
TEST(PreparedKey, AnOutOverTheKeyIsRefusedAndKeyBytesInsideItCount) {
    const std::string key = "prepared-overlap", text = "a text of some blocks, 40 bytes long!!!!";
    ASSERT_EQ(text.size(), 40u);
    // The key in the middle of an arena, so that `out` may start before it.
    std::vector<unsigned char> arena(3 * sizeof(lupex_key));
    auto *const k = reinterpret_cast<lupex_key *>(arena.data() + sizeof(lupex_key));
    ASSERT_EQ(lupex_key_setup(k, key.data(), key.size()), LUPEX_OK);
    const std::vector<unsigned char> prepared(arena.begin(), arena.end());
    std::string ecb(lupex_encrypt_capacity(text.size()), '\0');
    ASSERT_EQ(lupex_encrypt_with(k, text.data(), text.size(), &ecb[0], ecb.size(), nullptr),
              LUPEX_OK);
    ecb.resize(ecb.size() - 1);
    const std::string cbc_cipher = cbc(encrypt_once, key, text).text;
    struct With {
        const char *name;
        const std::string &input;
        std::size_t needed;
        int (*call)(const lupex_key *, const char *, std::size_t, char *, std::size_t, std::size_t *);
    } calls[] = {
        {"encrypt_with", text, lupex_encrypt_capacity(text.size()),
         [](const lupex_key *kk, const char *in, std::size_t n, char *o, std::size_t c, std::size_t *l) {
             return lupex_encrypt_with(kk, in, n, o, c, l); }},
        {"decrypt_with", ecb, lupex_decrypt_capacity(ecb.size()),
         [](const lupex_key *kk, const char *in, std::size_t n, char *o, std::size_t c, std::size_t *l) {
             return lupex_decrypt_with(kk, in, n, o, c, l); }},
        {"encrypt_cbc_with", text, lupex_encrypt_cbc_capacity(text.size()),
         [](const lupex_key *kk, const char *in, std::size_t n, char *o, std::size_t c, std::size_t *l) {
             return lupex_encrypt_cbc_with(kk, in, n, o, c, l); }},
        {"decrypt_cbc_with", cbc_cipher, lupex_decrypt_cbc_capacity(cbc_cipher.size()),
         [](const lupex_key *kk, const char *in, std::size_t n, char *o, std::size_t c, std::size_t *l) {
             return lupex_decrypt_cbc_with(kk, in, n, o, c, l); }},
    };
    const auto size = static_cast<std::ptrdiff_t>(sizeof(lupex_key));
    for (const auto &c : calls) {
        const auto needed = static_cast<std::ptrdiff_t>(c.needed);
        // Where `out` starts, relative to the key's first byte.
        for (std::ptrdiff_t shift : {std::ptrdiff_t{0}, std::ptrdiff_t{72}, size / 2, size - 1,
                                     size - 8, 1 - needed, std::ptrdiff_t{-8}}) {
            SCOPED_TRACE(std::string(c.name) + ", out at key + " + std::to_string(shift));
            std::size_t length = 0x5a;
            char *const out = reinterpret_cast<char *>(k) + shift;
            EXPECT_EQ(c.call(k, c.input.data(), c.input.size(), out, c.needed, &length),
                      LUPEX_ERR_SPACE);
            EXPECT_EQ(length, 0x5au);
            EXPECT_TRUE(std::vector<unsigned char>(arena.begin(), arena.end()) == prepared)
                << "the key or the bytes around it changed";
        }
        // Just clear of the key, either side, works.
        for (std::ptrdiff_t shift : {size, -needed}) {
            char *const out = reinterpret_cast<char *>(k) + shift;
            EXPECT_EQ(c.call(k, c.input.data(), c.input.size(), out, c.needed, nullptr), LUPEX_OK)
                << c.name << " at " << shift;
            std::memcpy(arena.data(), prepared.data(), arena.size());
        }
    }
    EXPECT_EQ(cbc(decrypt_once, key, cbc_cipher), ok(text));

    // Key bytes inside *k, anywhere in it and of any length: the schedule run over them
    // is the one the same bytes elsewhere give.
    for (std::size_t at : {std::size_t{0}, std::size_t{4}, std::size_t{72}, std::size_t{2000},
                           sizeof(lupex_key) - 80}) {
        for (std::size_t n : {std::size_t{1}, std::size_t{16}, std::size_t{72}, std::size_t{80}}) {
            SCOPED_TRACE("key of " + std::to_string(n) + " at " + std::to_string(at));
            auto inside = std::make_unique<lupex_key>(), elsewhere = std::make_unique<lupex_key>();
            ASSERT_EQ(lupex_key_setup(inside.get(), "something else", 14), LUPEX_OK);
            const std::string bytes(reinterpret_cast<const char *>(inside.get()) + at, n);
            ASSERT_EQ(lupex_key_setup(elsewhere.get(), bytes.data(), n), LUPEX_OK);
            ASSERT_EQ(lupex_key_setup(inside.get(), reinterpret_cast<const char *>(inside.get()) + at, n),
                      LUPEX_OK);
            EXPECT_EQ(std::memcmp(inside.get(), elsewhere.get(), sizeof(lupex_key)), 0);
            lupex_key_wipe(inside.get());
            lupex_key_wipe(elsewhere.get());
        }
    }
    lupex_key_wipe(k);
}
