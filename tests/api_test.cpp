// The C API of lupex.h: the results of the procedures for every row of the request
// table it can express, keys of any bytes, long texts, OpenSSL as an oracle,
// capacities exact and one short, every error in its order with nothing written,
// prepared keys against the one-shot calls, and calls from many threads. Every output
// buffer is followed by guard bytes.
#include <climits>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <thread>

#include <gtest/gtest.h>

#include "cipher/blowfish.h"
#include "cipher/blowfish_procedure.h"
#include "cipher/text_cipher.h"
#include "plugin/platform.h"
#include "support.h"

#include "replies.inc"

using namespace lupex;

namespace {

constexpr char guard = '\x5a';
constexpr std::size_t guard_bytes = 64;
constexpr std::size_t length_marker = 0x5a5a5a5a;
// Capacity argument of the calls below: what the capacity function gives.
constexpr std::size_t exact = SIZE_MAX;

struct Result {
    int code;
    std::string text; // up to the terminator, when the call succeeded
};

using TextCall = std::function<int(char *out, std::size_t capacity, std::size_t *out_length)>;

// Calls `call` with an output buffer of `capacity` bytes, guard bytes behind it, all of
// it filled with guard bytes first. Fails the test when a byte behind the capacity
// changed; when the call failed and wrote anything at all, to `out` or to the length;
// or when it succeeded without a terminator at the length it gave.
Result run(const TextCall &call, std::size_t capacity) {
    std::vector<char> buffer(capacity + guard_bytes, guard);
    std::size_t length = length_marker;
    const int code = call(buffer.data(), capacity, &length);
    for (std::size_t i = capacity; i < buffer.size(); ++i)
        if (buffer[i] != guard) {
            ADD_FAILURE() << "wrote past the capacity of " << capacity << " at " << i;
            break;
        }
    if (code != LUPEX_OK) {
        EXPECT_EQ(length, length_marker) << "an error set the length";
        for (std::size_t i = 0; i < capacity; ++i)
            if (buffer[i] != guard) {
                ADD_FAILURE() << "error " << code << " wrote to out at " << i;
                break;
            }
        return {code, ""};
    }
    if (length >= capacity || buffer[length] != '\0' ||
        std::memchr(buffer.data(), '\0', length) != nullptr) {
        ADD_FAILURE() << "no terminator at the length " << length;
        return {code, ""};
    }
    return {code, std::string(buffer.data(), length)};
}

std::size_t or_exact(std::size_t capacity, std::size_t needed) {
    return capacity == exact ? needed : capacity;
}

Result encrypt(const std::string &key, const std::string &text, std::size_t capacity = exact) {
    return run(
        [&](char *out, std::size_t c, std::size_t *n) {
            return lupex_encrypt(key.data(), key.size(), text.data(), text.size(), out, c, n);
        },
        or_exact(capacity, lupex_encrypt_capacity(text.size())));
}

Result decrypt(const std::string &key, const std::string &cipher, std::size_t capacity = exact) {
    return run(
        [&](char *out, std::size_t c, std::size_t *n) {
            return lupex_decrypt(key.data(), key.size(), cipher.data(), cipher.size(), out, c, n);
        },
        or_exact(capacity, lupex_decrypt_capacity(cipher.size())));
}

Result encrypt_with(const lupex_key *k, const std::string &text, std::size_t capacity = exact) {
    return run(
        [&](char *out, std::size_t c, std::size_t *n) {
            return lupex_encrypt_with(k, text.data(), text.size(), out, c, n);
        },
        or_exact(capacity, lupex_encrypt_capacity(text.size())));
}

Result decrypt_with(const lupex_key *k, const std::string &cipher, std::size_t capacity = exact) {
    return run(
        [&](char *out, std::size_t c, std::size_t *n) {
            return lupex_decrypt_with(k, cipher.data(), cipher.size(), out, c, n);
        },
        or_exact(capacity, lupex_decrypt_capacity(cipher.size())));
}

// The password hash or the digest in a buffer of exactly the size the header gives,
// guard bytes behind it.
Result encpass(const std::string &password) {
    return run(
        [&](char *out, std::size_t, std::size_t *n) {
            const int code = lupex_encpass(password.data(), password.size(), out);
            if (code == LUPEX_OK)
                *n = std::strlen(out);
            return code;
        },
        LUPEX_ENCPASS_SIZE);
}

std::string md5_of(const void *data, std::size_t size) {
    const Result digest = run(
        [&](char *out, std::size_t, std::size_t *n) {
            const int code = lupex_md5(data, size, out);
            if (code == LUPEX_OK)
                *n = std::strlen(out);
            return code;
        },
        LUPEX_MD5_SIZE);
    EXPECT_EQ(digest.code, LUPEX_OK);
    return digest.text;
}

Result ok(const std::string &text) { return {LUPEX_OK, text}; }
Result error(int code) { return {code, ""}; }

bool operator==(const Result &a, const Result &b) { return a.code == b.code && a.text == b.text; }
bool operator!=(const Result &a, const Result &b) { return !(a == b); }
std::ostream &operator<<(std::ostream &out, const Result &r) {
    return out << r.code << " '" << r.text << "'";
}

// A prepared key that wipes itself, for the tests.
struct PreparedKey {
    explicit PreparedKey(const std::string &key) : k(std::make_unique<lupex_key>()) {
        EXPECT_EQ(lupex_key_setup(k.get(), key.data(), key.size()), LUPEX_OK);
    }
    ~PreparedKey() { lupex_key_wipe(k.get()); }
    const lupex_key *get() const { return k.get(); }
    std::unique_ptr<lupex_key> k;
};

// Any bytes but zero, a blank first.
std::string text_of(std::size_t n, unsigned seed) {
    std::string text = random_text(n, seed);
    if (n > 0)
        text[0] = ' ';
    return text;
}

} // namespace

TEST(CApi, RequestTableRowsGiveTheProceduresResults) {
    const std::string empty_digest = "d41d8cd98f00b204e9800998ecf8427e";
    int checked = 0;
    for (const auto &row : table_rows(replies_table)) {
        const std::string request = unescape(row[1]), reply = unescape(row[2]);
        SCOPED_TRACE(row[0] + " '" + row[1] + "'");
        const bool success = reply.compare(0, 4, "+OK ") == 0;
        const std::string result = success ? reply.substr(4) : "";
        if (row[0] == "md5") {
            // The empty text, which the procedure turns away, has a digest here.
            EXPECT_EQ(md5_of(request.data(), request.size()), success ? result : empty_digest);
            ++checked;
            continue;
        }
        if (row[0] != "blowfish")
            continue;
        // The words as the procedure cuts them.
        std::vector<char> line(request.begin(), request.end());
        line.push_back('\0');
        char *cursor = line.data();
        const std::string command = next_word(&cursor, ' ');
        if (command == "encpass") {
            EXPECT_EQ(encpass(cursor), success ? ok(result) : error(LUPEX_ERR_TEXT));
            ++checked;
            continue;
        }
        if (command != "encrypt" && command != "decrypt")
            continue; // "-FUNC": no subcommand to choose here
        const std::string key = next_word(&cursor, ' '), text = cursor;
        const bool encrypting = command == "encrypt";
        const Result got = encrypting ? encrypt(key, text) : decrypt(key, text);
        if (reply == "-KEY Invalid Key")
            EXPECT_EQ(got, error(LUPEX_ERR_KEY));
        else if (reply == "-STRING Invalid String")
            EXPECT_EQ(got, error(LUPEX_ERR_TEXT));
        else if (reply == "-STRING String too long")
            // Too long for one reply line only: the whole cipher text, which decrypts.
            EXPECT_EQ(decrypt(key, got.text), ok(text));
        else
            EXPECT_EQ(got, ok(result));
        ++checked;
    }
    EXPECT_GT(checked, 35);
}

TEST(CApi, KeysOfAnyBytes) {
    using namespace std::string_literals;
    const std::string text = "Keys are bytes, blanks and zero bytes too.";
    const std::string keys[] = {"a key with blanks", " ", "\0"s, "ze\0ro"s, "\0\0\0\0"s,
                                "\xff\x80 \x01"s, std::string(72, 'k') + "one tail",
                                std::string(100, '\0')};
    std::vector<std::string> ciphers;
    for (const auto &key : keys) {
        SCOPED_TRACE(to_hex(key.data(), key.size()));
        const Result cipher = encrypt(key, text);
        ASSERT_EQ(cipher.code, LUPEX_OK);
#ifdef LUPEX_HAVE_OPENSSL
        EXPECT_EQ(cipher.text, openssl_encrypt(key, text));
        EXPECT_EQ(encpass(key), ok(openssl_pass_hash(key)));
#endif
        EXPECT_EQ(decrypt(key, cipher.text), ok(text));
        ciphers.push_back(cipher.text);
    }
    // A zero byte is part of the key, not its end; only the first 72 bytes count.
    EXPECT_NE(encrypt("ze\0ro"s, text), encrypt("ze", text));
    EXPECT_NE(encrypt("ze\0ro"s, text), encrypt("zero", text));
    EXPECT_EQ(encrypt(std::string(72, 'k') + "other", text), ok(ciphers[6]));
    EXPECT_EQ(encrypt("\0"s, text), encrypt(std::string(100, '\0'), text));
}

TEST(CApi, LongTextsRoundTrip) {
    // 673 bytes, one more than a reply line holds, and far beyond.
    for (std::size_t n : {1u, 8u, 9u, 672u, 673u, 100000u}) {
        SCOPED_TRACE(n);
        const std::string key = "a key with a blank";
        const std::string text = text_of(n, static_cast<unsigned>(n));
        const Result cipher = encrypt(key, text);
        ASSERT_EQ(cipher.code, LUPEX_OK);
        EXPECT_EQ(cipher.text.size(), 12 * ((n + 7) / 8));
#ifdef LUPEX_HAVE_OPENSSL
        EXPECT_EQ(cipher.text, openssl_encrypt(key, text));
#endif
        EXPECT_EQ(decrypt(key, cipher.text), ok(text));
    }
}

TEST(CApi, CipherTextOfAnyBytesDecryptsAsTheProcedureReadsIt) {
    using namespace std::string_literals;
    // Outside the alphabet, zero bytes included, characters count as '.'.
    EXPECT_EQ(decrypt("secret", "\0\0\0\0\0\0\0\0\0\0\0\0"s), ok("\x0c\xf3\xb1.`\xdcw\xb0"));
    EXPECT_EQ(decrypt("secret", "26FVP/Vur1q.\0"s),
              decrypt("secret", "26FVP/Vur1q." + std::string(12, '.')));
    for (std::size_t n = 1; n <= 60; ++n) {
        SCOPED_TRACE(n);
        const std::string cipher = random_text(n, 300 + static_cast<unsigned>(n), 0, 255);
        const Result plain = decrypt("key", cipher);
        ASSERT_EQ(plain.code, LUPEX_OK);
#ifdef LUPEX_HAVE_OPENSSL
        EXPECT_EQ(plain.text, openssl_decrypt("key", cipher));
#endif
    }
}

TEST(CApi, DecryptionLeavesNothingBehindTheTerminator) {
    // Under a wrong key the blocks decrypt to bytes with zero bytes among them; out
    // holds the plain text up to the first and zero bytes from there on.
    const std::string cipher = encrypt("right key", random_text(64, 9)).text;
    for (int k = 0; k < 20; ++k) {
        const std::string key = "wrong key " + std::to_string(k);
        const std::size_t capacity = lupex_decrypt_capacity(cipher.size());
        std::vector<char> out(capacity, guard);
        std::size_t length = 0;
        ASSERT_EQ(lupex_decrypt(key.data(), key.size(), cipher.data(), cipher.size(), out.data(),
                                capacity, &length),
                  LUPEX_OK);
        for (std::size_t i = length; i < capacity; ++i)
            ASSERT_EQ(out[i], '\0') << key << " at " << i;
    }
}

TEST(CApi, CapacitiesExactAndOneShort) {
    struct Case {
        std::size_t n, encrypt_capacity, decrypt_capacity;
    } cases[] = {
        {1, 13, 9},       {5, 13, 9},       {7, 13, 9},         {8, 13, 9},
        {9, 25, 9},       {12, 25, 9},      {13, 25, 17},       {16, 25, 17},
        {100, 157, 73},   {673, 1021, 457}, {100000, 150001, 66673},
    };
    PreparedKey k("capacity key");
    for (const auto &c : cases) {
        SCOPED_TRACE(c.n);
        EXPECT_EQ(lupex_encrypt_capacity(c.n), c.encrypt_capacity);
        EXPECT_EQ(lupex_decrypt_capacity(c.n), c.decrypt_capacity);
        const std::string text = text_of(c.n, static_cast<unsigned>(c.n));
        const std::string cipher = random_text(c.n, 77, 33, 126);

        const Result encrypted = encrypt("capacity key", text, c.encrypt_capacity);
        EXPECT_EQ(encrypted.code, LUPEX_OK);
        EXPECT_EQ(encrypted.text.size(), c.encrypt_capacity - 1);
        EXPECT_EQ(encrypt_with(k.get(), text, c.encrypt_capacity), encrypted);
        EXPECT_EQ(decrypt("capacity key", cipher, c.decrypt_capacity).code, LUPEX_OK);
        EXPECT_EQ(decrypt_with(k.get(), cipher, c.decrypt_capacity).code, LUPEX_OK);
        // One byte short, or none at all, is refused whatever the result would be: the
        // plain text of `cipher` is mostly far shorter than its capacity.
        for (std::size_t short_by : {std::size_t{1}, c.encrypt_capacity}) {
            EXPECT_EQ(encrypt("capacity key", text, c.encrypt_capacity - short_by),
                      error(LUPEX_ERR_SPACE));
            EXPECT_EQ(encrypt_with(k.get(), text, c.encrypt_capacity - short_by),
                      error(LUPEX_ERR_SPACE));
        }
        for (std::size_t short_by : {std::size_t{1}, c.decrypt_capacity}) {
            EXPECT_EQ(decrypt("capacity key", cipher, c.decrypt_capacity - short_by),
                      error(LUPEX_ERR_SPACE));
            EXPECT_EQ(decrypt_with(k.get(), cipher, c.decrypt_capacity - short_by),
                      error(LUPEX_ERR_SPACE));
        }
    }
}

TEST(CApi, CapacitiesThatOverflowAreZeroAndRefusedBeforeTheTextIsRead) {
    const std::size_t most_blocks = (SIZE_MAX - 1) / 12;
    EXPECT_EQ(lupex_encrypt_capacity(8 * most_blocks), 12 * most_blocks + 1);
    EXPECT_EQ(lupex_encrypt_capacity(8 * most_blocks + 1), 0u);
    EXPECT_EQ(lupex_encrypt_capacity(SIZE_MAX), 0u);
    EXPECT_EQ(lupex_encrypt_capacity(0), 1u);
    EXPECT_EQ(lupex_decrypt_capacity(SIZE_MAX), 8 * (SIZE_MAX / 12 + 1) + 1);
    EXPECT_EQ(lupex_decrypt_capacity(0), 1u);
    // The lengths are lies: a call that read the text would run past these 2 bytes
    // (AddressSanitizer and valgrind would see it).
    const auto text = std::make_unique<char[]>(2);
    text[0] = 'x';
    text[1] = 'y';
    PreparedKey k("k");
    char out[16];
    std::memset(out, guard, sizeof out);
    EXPECT_EQ(lupex_encrypt("k", 1, text.get(), SIZE_MAX, out, SIZE_MAX, nullptr), LUPEX_ERR_TEXT);
    EXPECT_EQ(lupex_encrypt_with(k.get(), text.get(), SIZE_MAX, out, SIZE_MAX, nullptr),
              LUPEX_ERR_TEXT);
    EXPECT_EQ(lupex_decrypt("k", 1, text.get(), SIZE_MAX, out, sizeof out, nullptr),
              LUPEX_ERR_SPACE);
    EXPECT_EQ(lupex_decrypt_with(k.get(), text.get(), SIZE_MAX, out, sizeof out, nullptr),
              LUPEX_ERR_SPACE);
    EXPECT_EQ(std::string(out, sizeof out), std::string(sizeof out, guard));
}

TEST(CApi, ErrorsComeInTheOrderKeyTextSpaceAndWriteNothing) {
    using namespace std::string_literals;
    const lupex_key *const no_key = nullptr;
    PreparedKey k("key");
    struct Case {
        const char *name;
        TextCall call;
        std::size_t capacity;
        int code;
    } cases[] = {
        // Each fault, and each one with every later fault beside it.
        {"encrypt, empty key", [](char *o, std::size_t c, std::size_t *n) {
             return lupex_encrypt("k", 0, "", 0, o, c, n); }, 0, LUPEX_ERR_KEY},
        {"encrypt, null key", [](char *o, std::size_t c, std::size_t *n) {
             return lupex_encrypt(nullptr, 3, nullptr, 4, o, c, n); }, 0, LUPEX_ERR_KEY},
        {"encrypt, empty text", [](char *o, std::size_t c, std::size_t *n) {
             return lupex_encrypt("k", 1, "", 0, o, c, n); }, 0, LUPEX_ERR_TEXT},
        {"encrypt, null text", [](char *o, std::size_t c, std::size_t *n) {
             return lupex_encrypt("k", 1, nullptr, 4, o, c, n); }, 64, LUPEX_ERR_TEXT},
        {"encrypt, zero byte in the text", [](char *o, std::size_t c, std::size_t *n) {
             return lupex_encrypt("k", 1, "ab\0c", 4, o, c, n); }, 64, LUPEX_ERR_TEXT},
        {"encrypt, zero byte last", [](char *o, std::size_t c, std::size_t *n) {
             return lupex_encrypt("k", 1, "abc", 4, o, c, n); }, 2, LUPEX_ERR_TEXT},
        {"encrypt, short of space", [](char *o, std::size_t c, std::size_t *n) {
             return lupex_encrypt("k", 1, "abc", 3, o, c, n); }, 12, LUPEX_ERR_SPACE},
        {"encrypt, null out", [](char *, std::size_t c, std::size_t *n) {
             return lupex_encrypt("k", 1, "abc", 3, nullptr, c, n); }, 64, LUPEX_ERR_SPACE},
        {"decrypt, empty key", [](char *o, std::size_t c, std::size_t *n) {
             return lupex_decrypt("k", 0, "", 0, o, c, n); }, 0, LUPEX_ERR_KEY},
        {"decrypt, null key", [](char *o, std::size_t c, std::size_t *n) {
             return lupex_decrypt(nullptr, 1, "abc", 3, o, c, n); }, 64, LUPEX_ERR_KEY},
        {"decrypt, empty text", [](char *o, std::size_t c, std::size_t *n) {
             return lupex_decrypt("k", 1, "abc", 0, o, c, n); }, 0, LUPEX_ERR_TEXT},
        {"decrypt, null text", [](char *o, std::size_t c, std::size_t *n) {
             return lupex_decrypt("k", 1, nullptr, 3, o, c, n); }, 64, LUPEX_ERR_TEXT},
        {"decrypt, short of space", [](char *o, std::size_t c, std::size_t *n) {
             return lupex_decrypt("k", 1, "abc", 3, o, c, n); }, 8, LUPEX_ERR_SPACE},
        {"decrypt, null out", [](char *, std::size_t c, std::size_t *n) {
             return lupex_decrypt("k", 1, "abc", 3, nullptr, c, n); }, 64, LUPEX_ERR_SPACE},
        {"encrypt_with, null key", [&](char *o, std::size_t c, std::size_t *n) {
             return lupex_encrypt_with(no_key, "", 0, o, c, n); }, 0, LUPEX_ERR_KEY},
        {"encrypt_with, empty text", [&](char *o, std::size_t c, std::size_t *n) {
             return lupex_encrypt_with(k.get(), "", 0, o, c, n); }, 0, LUPEX_ERR_TEXT},
        {"encrypt_with, zero byte", [&](char *o, std::size_t c, std::size_t *n) {
             return lupex_encrypt_with(k.get(), "\0"s.data(), 1, o, c, n); }, 64, LUPEX_ERR_TEXT},
        {"encrypt_with, short of space", [&](char *o, std::size_t c, std::size_t *n) {
             return lupex_encrypt_with(k.get(), "abc", 3, o, c, n); }, 12, LUPEX_ERR_SPACE},
        {"decrypt_with, null key", [&](char *o, std::size_t c, std::size_t *n) {
             return lupex_decrypt_with(no_key, "", 0, o, c, n); }, 0, LUPEX_ERR_KEY},
        {"decrypt_with, empty text", [&](char *o, std::size_t c, std::size_t *n) {
             return lupex_decrypt_with(k.get(), "", 0, o, c, n); }, 0, LUPEX_ERR_TEXT},
        {"decrypt_with, short of space", [&](char *o, std::size_t c, std::size_t *n) {
             return lupex_decrypt_with(k.get(), "abc", 3, o, c, n); }, 8, LUPEX_ERR_SPACE},
        {"encpass, empty password", [](char *o, std::size_t, std::size_t *) {
             return lupex_encpass("p", 0, o); }, 14, LUPEX_ERR_TEXT},
        {"encpass, null password", [](char *o, std::size_t, std::size_t *) {
             return lupex_encpass(nullptr, 8, o); }, 14, LUPEX_ERR_TEXT},
        {"encpass, null out", [](char *, std::size_t, std::size_t *) {
             return lupex_encpass("p", 1, nullptr); }, 14, LUPEX_ERR_SPACE},
        {"md5, null data with a length", [](char *o, std::size_t, std::size_t *) {
             return lupex_md5(nullptr, 5, o); }, 33, LUPEX_ERR_TEXT},
        {"md5, null data and out", [](char *, std::size_t, std::size_t *) {
             return lupex_md5(nullptr, 5, nullptr); }, 33, LUPEX_ERR_TEXT},
        {"md5, null out", [](char *, std::size_t, std::size_t *) {
             return lupex_md5("abc", 3, nullptr); }, 33, LUPEX_ERR_SPACE},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(run(c.call, c.capacity), error(c.code));
    }
    EXPECT_EQ(lupex_key_setup(nullptr, "other", 5), LUPEX_ERR_KEY);
    lupex_key_wipe(nullptr);
}

TEST(CApi, PasswordHash) {
    using namespace std::string_literals;
    EXPECT_EQ(encpass("my password"), ok("+dOPeI/Zzs7N0"));
    EXPECT_EQ(encpass("my password "), ok("+iT0.r0tZnmJ/"));
    // Only the first 72 bytes count; zero bytes count like any other.
    EXPECT_EQ(encpass(std::string(72, 'p') + "a"), encpass(std::string(72, 'p') + "b"));
    EXPECT_NE(encpass("pass\0word"s), encpass("pass"));
}

TEST(CApi, Md5OfAnyBytesTheEmptyTextIncluded) {
    using namespace std::string_literals;
    std::string every_byte(256, '\0');
    for (int b = 0; b < 256; ++b)
        every_byte[b] = static_cast<char>(b);
    struct Case {
        std::string data;
        const char *digest;
    } cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"a\0b"s, "70350f6027bce3713f6b76473084309b"},
        {every_byte, "e2c865db4162bed963bfaa9ef6ac18f0"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(md5_of(c.data.data(), c.data.size()), c.digest) << to_hex(c.data.data(), c.data.size());
    EXPECT_EQ(md5_of(nullptr, 0), "d41d8cd98f00b204e9800998ecf8427e");
    // The procedure's digest for every text it can take.
    const std::string text = random_text(1000, 5);
    EXPECT_EQ("+OK " + md5_of(text.data(), text.size()), call_export(md5, text));
}

TEST(CApi, PreparedKeyGivesTheOneShotResultsAndStaysAsItWas) {
    using namespace std::string_literals;
    for (const std::string key : {"k"s, "a key with blanks"s, "z\0ro"s, std::string(80, 'x')}) {
        SCOPED_TRACE(to_hex(key.data(), key.size()));
        PreparedKey k(key);
        // The schedule as the procedures run it.
        BoxSet boxes;
        box_setup(&boxes, reinterpret_cast<const unsigned char *>(key.data()), key.size());
        EXPECT_EQ(std::memcmp(&boxes, &k.get()->lupex_private_schedule, sizeof boxes), 0);
        wipe_memory(&boxes, sizeof boxes);

        lupex_key before;
        std::memcpy(&before, k.get(), sizeof before);
        // Every length up to ten blocks, beside groups of up to four side by side.
        for (std::size_t n = 1; n <= 90; ++n) {
            SCOPED_TRACE(n);
            const std::string text = text_of(n, static_cast<unsigned>(n));
            const Result cipher = encrypt(key, text);
            ASSERT_EQ(encrypt_with(k.get(), text), cipher);
            ASSERT_EQ(decrypt_with(k.get(), cipher.text), decrypt(key, cipher.text));
            ASSERT_EQ(decrypt_with(k.get(), cipher.text), ok(text));
            const std::string any = random_text(n, 900 + static_cast<unsigned>(n), 0, 255);
            ASSERT_EQ(decrypt_with(k.get(), any), decrypt(key, any));
        }
        EXPECT_EQ(std::memcmp(&before, k.get(), sizeof before), 0);
    }
}

TEST(CApi, KeyWipeZeroesEveryByte) {
    static_assert(sizeof(lupex_key) == 4176);
    EXPECT_EQ(lupex_key_size(), sizeof(lupex_key));
    lupex_key k;
    std::memset(&k, 0xa5, sizeof k);
    lupex_key_wipe(&k);
    const auto *bytes = reinterpret_cast<const unsigned char *>(&k);
    for (std::size_t i = 0; i < sizeof k; ++i)
        ASSERT_EQ(bytes[i], 0) << i;
}

TEST(CApi, ConcurrentCallsGiveTheSameResultsAsSequentialOnes) {
    const PreparedKey shared("one key for all threads");
    struct Job {
        std::string key, text, cipher;
    };
    std::vector<Job> jobs;
    for (unsigned i = 0; i < 48; ++i) {
        Job job{"key " + std::to_string(i), text_of(1 + i * 37 % 700, i), ""};
        job.cipher = encrypt(job.key, job.text).text;
        jobs.push_back(job);
    }
    constexpr int thread_count = 8;
    std::vector<int> wrong(thread_count, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < thread_count; ++t)
        threads.emplace_back([&, t] {
            std::vector<char> out(2048);
            std::size_t n = 0;
            for (int round = 0; round < 3; ++round)
                for (std::size_t i = 0; i < jobs.size(); ++i) {
                    const Job &job = jobs[(i + static_cast<std::size_t>(t) * 7) % jobs.size()];
                    wrong[t] += lupex_encrypt(job.key.data(), job.key.size(), job.text.data(),
                                              job.text.size(), out.data(), out.size(),
                                              &n) != LUPEX_OK;
                    wrong[t] += std::string(out.data(), n) != job.cipher;
                    wrong[t] += lupex_encrypt_with(shared.get(), job.cipher.data(),
                                                   job.cipher.size(), out.data(), out.size(),
                                                   &n) != LUPEX_OK;
                    const std::string twice(out.data(), n);
                    wrong[t] += lupex_decrypt_with(shared.get(), twice.data(), twice.size(),
                                                   out.data(), out.size(), &n) != LUPEX_OK;
                    wrong[t] += std::string(out.data(), n) != job.cipher;
                }
        });
    for (auto &thread : threads)
        thread.join();
    for (int t = 0; t < thread_count; ++t)
        EXPECT_EQ(wrong[t], 0) << "thread " << t;
}

// A lupex_key that holds no prepared key is refused by the calls under it, whatever its
// bytes: with all-zero words Blowfish only swaps each block's halves, and the "cipher
// text" would read without a key.
TEST(CApi, KeysThatAreNotPreparedAreRefused) {
    const std::string text = "attack at dawn, attack at dawn!";
    const std::string cipher = encrypt("the key", text).text;
    struct Case {
        const char *name;
        std::function<void(lupex_key *)> make;
    } cases[] = {
        {"zeroed", [](lupex_key *k) { std::memset(k, 0, sizeof *k); }},
        {"filled with one byte", [](lupex_key *k) { std::memset(k, 0xa5, sizeof *k); }},
        {"random bytes",
         [](lupex_key *k) { std::memcpy(k, random_text(sizeof *k, 17, 0, 255).data(), sizeof *k); }},
        {"wiped", [](lupex_key *k) {
             ASSERT_EQ(lupex_key_setup(k, "the key", 7), LUPEX_OK);
             lupex_key_wipe(k);
         }},
        {"setup refused an empty key", [](lupex_key *k) {
             ASSERT_EQ(lupex_key_setup(k, "the key", 7), LUPEX_OK);
             EXPECT_EQ(lupex_key_setup(k, "other", 0), LUPEX_ERR_KEY);
         }},
        {"setup refused a null key", [](lupex_key *k) {
             ASSERT_EQ(lupex_key_setup(k, "the key", 7), LUPEX_OK);
             EXPECT_EQ(lupex_key_setup(k, nullptr, 5), LUPEX_ERR_KEY);
         }},
        {"a prepared key with only its schedule copied", [](lupex_key *k) {
             PreparedKey prepared("the key");
             std::memset(k, 0, sizeof *k);
             k->lupex_private_schedule = prepared.get()->lupex_private_schedule;
         }},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        auto k = std::make_unique<lupex_key>();
        c.make(k.get());
        EXPECT_EQ(encrypt_with(k.get(), text), error(LUPEX_ERR_KEY));
        EXPECT_EQ(decrypt_with(k.get(), cipher), error(LUPEX_ERR_KEY));
    }
    // A whole copy of a prepared key is one.
    PreparedKey prepared("the key");
    auto copy = std::make_unique<lupex_key>(*prepared.get());
    EXPECT_EQ(encrypt_with(copy.get(), text), ok(cipher));
    EXPECT_EQ(decrypt_with(copy.get(), cipher), ok(text));
    lupex_key_wipe(copy.get());
}

// The text and `out` in one arena, guard bytes all around, at offsets that make the
// input and the bytes the call would write overlap in every way: the same start, `out`
// a block behind or ahead, overlaps of one byte at either end. Each is refused with the
// arena untouched; an `out` just clear of the input works.
TEST(CApi, OverlappingBuffersAreRefusedAndNothingIsWritten) {
    const std::string text = text_of(40, 3); // 5 blocks: 61 bytes of cipher text
    const std::string cipher = encrypt("key", text).text;
    PreparedKey k("key");
    struct Call {
        const char *name;
        const std::string &input;
        std::size_t needed;
        std::function<int(const char *in, char *out, std::size_t capacity)> call;
        const std::string &result;
    } calls[] = {
        {"encrypt", text, lupex_encrypt_capacity(text.size()),
         [&](const char *in, char *out, std::size_t c) {
             return lupex_encrypt("key", 3, in, text.size(), out, c, nullptr);
         }, cipher},
        {"encrypt_with", text, lupex_encrypt_capacity(text.size()),
         [&](const char *in, char *out, std::size_t c) {
             return lupex_encrypt_with(k.get(), in, text.size(), out, c, nullptr);
         }, cipher},
        {"decrypt", cipher, lupex_decrypt_capacity(cipher.size()),
         [&](const char *in, char *out, std::size_t c) {
             return lupex_decrypt("key", 3, in, cipher.size(), out, c, nullptr);
         }, text},
        {"decrypt_with", cipher, lupex_decrypt_capacity(cipher.size()),
         [&](const char *in, char *out, std::size_t c) {
             return lupex_decrypt_with(k.get(), in, cipher.size(), out, c, nullptr);
         }, text},
    };
    constexpr std::ptrdiff_t margin = 128;
    for (const auto &c : calls) {
        const auto n = static_cast<std::ptrdiff_t>(c.input.size());
        const auto needed = static_cast<std::ptrdiff_t>(c.needed);
        // Where `out` starts, relative to the input's first byte.
        const std::ptrdiff_t overlapping[] = {0, 8, -8, 12, -12, n - 1, 1 - needed};
        const std::ptrdiff_t clear[] = {n, -needed};
        for (const bool refused : {true, false})
            for (const std::ptrdiff_t shift : refused ? std::vector<std::ptrdiff_t>(
                                                            std::begin(overlapping), std::end(overlapping))
                                                      : std::vector<std::ptrdiff_t>(
                                                            std::begin(clear), std::end(clear))) {
                SCOPED_TRACE(std::string(c.name) + ", out at input + " + std::to_string(shift));
                std::vector<char> arena(static_cast<std::size_t>(2 * margin + n + needed), guard);
                char *const in = arena.data() + margin + needed;
                std::memcpy(in, c.input.data(), c.input.size());
                const std::vector<char> before = arena;
                char *const out = in + shift;
                const int code = c.call(in, out, c.needed);
                if (refused) {
                    EXPECT_EQ(code, LUPEX_ERR_SPACE);
                    EXPECT_TRUE(arena == before) << "the arena changed";
                } else {
                    ASSERT_EQ(code, LUPEX_OK);
                    EXPECT_EQ(std::string(out), c.result);
                    EXPECT_EQ(std::string(in, c.input.size()), c.input);
                }
            }
    }
}

TEST(CApi, ErrorStringsAndVersion) {
    const int codes[] = {LUPEX_OK,        LUPEX_ERR_KEY,    LUPEX_ERR_TEXT,
                         LUPEX_ERR_SPACE, LUPEX_ERR_MEMORY, LUPEX_ERR_RANDOM};
    std::vector<std::string> messages;
    for (int code : codes) {
        ASSERT_NE(lupex_error_string(code), nullptr) << code;
        messages.push_back(lupex_error_string(code));
    }
    for (int code : {1, -6, 1000, INT_MIN, INT_MAX}) {
        ASSERT_NE(lupex_error_string(code), nullptr) << code;
        messages.push_back(lupex_error_string(code));
    }
    // One message for each code, and one for all the others.
    for (std::size_t i = 0; i < messages.size(); ++i)
        for (std::size_t j = i + 1; j < messages.size(); ++j)
            EXPECT_EQ(messages[i] == messages[j], i >= 6 && j >= 6) << messages[i];
    // The version as the build's project() gives it, not as the header says.
    EXPECT_STREQ(lupex_version(), LUPEX_PROJECT_VERSION);
    EXPECT_STREQ(lupex_version(), LUPEX_VERSION_STRING);
    EXPECT_EQ(LUPEX_VERSION_STRING, std::to_string(LUPEX_VERSION_MAJOR) + "." +
                                        std::to_string(LUPEX_VERSION_MINOR) + "." +
                                        std::to_string(LUPEX_VERSION_PATCH));
}
