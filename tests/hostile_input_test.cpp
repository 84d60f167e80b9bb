// Hostile and odd requests through the exports: requests of boundary lengths, every
// byte value, blanks only, cipher text of any characters, keys longer than the text.
// Each gets its exact reply line and nothing worse: call_export checks the guard bytes
// behind a buffer of max(1,024, request + 1) bytes, which for a request of more than
// 1,023 bytes is exactly the request and its terminator.
#include <gtest/gtest.h>

#include "support.h"

namespace {

const std::string unknown = "-FUNC Unknown subfunction";
const std::string no_string = "-STRING Invalid String";
const std::string too_long = "-STRING String too long";

// `prefix` filled up with `fill` to `n` bytes, or cut to `n` bytes.
std::string sized(const std::string &prefix, std::size_t n, char fill) {
    std::string request = prefix;
    request.resize(n, fill);
    return request;
}

std::string repeated(const std::string &part, std::size_t times) {
    std::string whole;
    for (std::size_t i = 0; i < times; ++i)
        whole += part;
    return whole;
}

std::string whole_or_too_long(const std::string &result) {
    return result.size() > LUPEX_REPLY_MAX - 4 ? too_long : "+OK " + result;
}

} // namespace

TEST(HostileInput, RequestsOfBoundaryLengthsGetTheirReply) {
    // "............" under "secret" decrypts to these 8 bytes, none of them zero; a short
    // group of dots reads the same, since missing characters count as '.'.
    const std::string dots_plain = "\x0c\xf3\xb1.`\xdcw\xb0";
    const std::string dllinfo_line = call_export(dllinfo, "");
    const std::string hash_of_72 = call_export(blowfish, "encpass " + std::string(72, 'p'));
    struct Blanks {
        std::size_t n;
        const char *md5;
    } lengths[] = {
        {0, nullptr},
        {1, "7215ee9c7d9dc229d2921a40e899ec5f"},
        {1023, "6e4a3af887def92496bef388c16a6d6f"},
        {1024, "10801b757893f9edbff42cd92fdd406a"},
        {100000, "59859987edd7b14768d80c7d4a22a088"},
    };
    for (const auto &length : lengths) {
        const std::size_t n = length.n;
        // Lengths 0 and 1 cut every request before its first word ends.
        const bool whole_words = n > 1;
        const std::size_t dot_groups = n > 15 ? (n - 15 + 11) / 12 : 0;
        const struct {
            lupex_procedure procedure;
            std::string request, reply;
        } cases[] = {
            {blowfish, std::string(n, ' '), unknown},
            {md5, std::string(n, ' '),
             length.md5 ? std::string("+OK ") + length.md5 : "--STRING Enter a string to encrypt"},
            {dllinfo, std::string(n, ' '), dllinfo_line},
            {dllinfo, sized("encrypt secret ", n, 'x'), dllinfo_line},
            {blowfish, sized("encrypt secret ", n, 'a'), whole_words ? too_long : unknown},
            {blowfish, sized("decrypt secret", n, ' '), whole_words ? no_string : unknown},
            {blowfish, sized("decrypt secret ", n, '.'),
             whole_words ? whole_or_too_long(repeated(dots_plain, dot_groups)) : unknown},
            {blowfish, sized("encpass ", n, 'p'), whole_words ? hash_of_72 : unknown},
        };
        for (const auto &c : cases) {
            SCOPED_TRACE(c.request.substr(0, 20) + "... (" + std::to_string(n) + " bytes)");
            EXPECT_EQ(call_export(c.procedure, c.request), c.reply);
        }
    }
}

TEST(HostileInput, EveryByteValueInKeysTextsAndPasswords) {
    for (int b = 1; b <= 255; ++b) {
        SCOPED_TRACE("byte " + std::to_string(b));
        const char c = static_cast<char>(b);
        // A blank ends the key word, so the blank's own key is an ordinary word.
        const std::string key = c == ' ' ? "key" : std::string("k") + c + "y" + c;
        const std::string text = std::string("t") + c + c + "t" + c;
        const std::string password = std::string("p") + c + "w" + c;

        const std::string encrypted = call_export(blowfish, "encrypt " + key + " " + text);
        ASSERT_EQ(encrypted.size(), 4 + 12u);
        const std::string hash = call_export(blowfish, "encpass " + password);
#ifdef LUPEX_HAVE_OPENSSL
        EXPECT_EQ(encrypted, "+OK " + openssl_encrypt(key, text));
        EXPECT_EQ(hash, "+OK " + openssl_pass_hash(password));
#else
        EXPECT_EQ(hash.size(), 4 + 13u);
#endif
        EXPECT_EQ(call_export(blowfish, "decrypt " + key + " " + encrypted.substr(4)),
                  "+OK " + text);
    }
}

TEST(HostileInput, CipherTextOfAnyCharactersAndLength) {
    std::vector<std::size_t> lengths;
    for (std::size_t n = 1; n <= 100; ++n)
        lengths.push_back(n);
    // Around the longest plain text a reply holds (1,019 bytes: 128 groups give 1,024).
    for (std::size_t n : {1000u, 1019u, 1020u, 1524u, 1525u, 1536u, 1537u, 5000u, 100000u})
        lengths.push_back(n);
    for (std::size_t n : lengths) {
        SCOPED_TRACE(n);
        // Any byte but zero; the text cannot start with a blank (blanks after the key
        // are skipped), so it starts with one outside the alphabet instead.
        std::string cipher = random_text(n, static_cast<unsigned>(n) + 4000);
        cipher[0] = '!';
        const std::string reply = call_export(blowfish, "decrypt secret " + cipher);
#ifdef LUPEX_HAVE_OPENSSL
        EXPECT_EQ(reply, whole_or_too_long(openssl_decrypt("secret", cipher)));
#else
        if (reply != too_long) {
            ASSERT_EQ(reply.substr(0, 4), "+OK ");
            EXPECT_LE(reply.size() - 4, 8 * ((n + 11) / 12));
        }
#endif
    }
}

TEST(HostileInput, KeysLongerThanTheText) {
    for (std::size_t key_length : {2u, 8u, 72u, 73u, 200u, 1100u, 5000u}) {
        // Any byte but zero and the blank, which would end the key word.
        std::string key = random_text(key_length, static_cast<unsigned>(key_length));
        for (char &c : key)
            if (c == ' ')
                c = '_';
        for (std::size_t text_length = 1; text_length < key_length && text_length <= 9;
             ++text_length) {
            SCOPED_TRACE("key " + std::to_string(key_length) + " bytes, text " +
                         std::to_string(text_length));
            const std::string text = random_text(text_length, 99, 33, 126);
            const std::string encrypted = call_export(blowfish, "encrypt " + key + " " + text);
            // Only the first 72 key bytes count.
            EXPECT_EQ(encrypted, call_export(blowfish, "encrypt " + key.substr(0, 72) + " " + text));
#ifdef LUPEX_HAVE_OPENSSL
            EXPECT_EQ(encrypted, "+OK " + openssl_encrypt(key, text));
#endif
            EXPECT_EQ(call_export(blowfish, "decrypt " + key + " " + encrypted.substr(4)),
                      "+OK " + text);
        }
    }
}
