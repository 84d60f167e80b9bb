// "decrypt-cbc" and lupex_decrypt_cbc (one-shot and under a prepared key) against a
// decoder of the CBC form written here the long way: the input is a key and a cipher
// text of any bytes (its two zero-free parts). Every face must refuse exactly what the
// decoder refuses, and give exactly its plain text otherwise; the procedure refuses a
// plain text of more than 1,019 bytes whole.
#include <optional>

#include "fuzz_support.h"
#include "reference_cipher.h"

namespace {

constexpr char base64_alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The bytes that a CBC cipher text stands for: an optional "*", RFC 4648 base64 with
// or without its "=" padding, blanks at the end. Nothing when it is not of that form:
// a character outside the alphabet, padding anywhere but at the end or not filling the
// last group, a character over a group, bits in the last character that no byte holds.
std::optional<std::string> cbc_bytes(std::string text) {
    if (!text.empty() && text[0] == '*')
        text.erase(0, 1);
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    std::size_t padding = 0;
    while (padding < 2 && !text.empty() && text.back() == '=') {
        text.pop_back();
        ++padding;
    }
    if (padding > 0 && (text.size() + padding) % 4 != 0)
        return std::nullopt;
    std::string bytes;
    std::uint32_t bits = 0;
    int held = 0;
    for (char c : text) {
        const char *at = c != '\0' ? std::strchr(base64_alphabet, c) : nullptr;
        if (at == nullptr)
            return std::nullopt;
        bits = bits << 6 | static_cast<std::uint32_t>(at - base64_alphabet);
        held += 6;
        if (held >= 8) {
            held -= 8;
            bytes += static_cast<char>(bits >> held & 0xff);
            bits &= (1u << held) - 1;
        }
    }
    // Six bits over make no byte: a character over a group. Bits that no byte holds
    // must be zero.
    if (held == 6 || bits != 0)
        return std::nullopt;
    return bytes;
}

// The plain text of a CBC cipher text under `key` (not empty), cut at its first zero
// byte: IV first, then Pi = D(Ci) xor C(i-1). Nothing when the form is wrong, or the
// bytes are not the IV and whole blocks, one at least.
std::optional<std::string> cbc_decrypt(const std::string &key, const std::string &cipher) {
    const std::optional<std::string> bytes = cbc_bytes(cipher);
    if (!bytes || bytes->size() < 16 || bytes->size() % 8 != 0)
        return std::nullopt;
    const reference::Cipher schedule(key);
    std::string plain;
    for (std::size_t at = 8; at < bytes->size(); at += 8) {
        std::uint32_t left = reference::half_from_bytes(*bytes, at);
        std::uint32_t right = reference::half_from_bytes(*bytes, at + 4);
        schedule.decrypt(left, right);
        left ^= reference::half_from_bytes(*bytes, at - 8);
        right ^= reference::half_from_bytes(*bytes, at - 4);
        for (int k = 0; k < 4; ++k)
            plain += static_cast<char>(left >> (24 - 8 * k));
        for (int k = 0; k < 4; ++k)
            plain += static_cast<char>(right >> (24 - 8 * k));
    }
    return plain.substr(0, plain.find('\0'));
}

// lupex_decrypt_cbc or lupex_decrypt_cbc_with into exactly the capacity asked for,
// guard bytes behind it: the plain text, or nothing for a refusal, which must leave
// `out` and the length untouched.
std::optional<std::string> api_decrypt(const std::string &key, const std::string &cipher,
                                       const lupex_key *prepared) {
    constexpr std::size_t guard = 64;
    constexpr char guard_byte = '\x5a';
    const std::size_t capacity = lupex_decrypt_cbc_capacity(cipher.size());
    fuzz_check(capacity <= 3 * ((cipher.size() + 3) / 4) + 1, "the capacity passes its bound");
    std::unique_ptr<char[]> out(new char[capacity + guard]);
    std::memset(out.get(), guard_byte, capacity + guard);
    std::size_t length = 0x5a5a;
    ASAN_POISON_MEMORY_REGION(out.get() + capacity, guard);
    const int code =
        prepared != nullptr
            ? lupex_decrypt_cbc_with(prepared, cipher.data(), cipher.size(), out.get(), capacity,
                                     &length)
            : lupex_decrypt_cbc(key.data(), key.size(), cipher.data(), cipher.size(), out.get(),
                                capacity, &length);
    ASAN_UNPOISON_MEMORY_REGION(out.get() + capacity, guard);
    for (std::size_t i = 0; i < capacity + guard; ++i)
        if (code != LUPEX_OK || i >= capacity)
            fuzz_check(out[i] == guard_byte, "a refusal wrote to out, or a call past it");
    if (code != LUPEX_OK) {
        fuzz_check(code == LUPEX_ERR_TEXT, "a refusal other than LUPEX_ERR_TEXT");
        fuzz_check(length == 0x5a5a, "a refusal set the length");
        return std::nullopt;
    }
    fuzz_check(length < capacity, "the length passes the capacity");
    for (std::size_t i = length; i < capacity; ++i)
        fuzz_check(out[i] == '\0', "bytes behind the plain text");
    return std::string(out.get(), length);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const TwoTexts input = split_at_zero(data, size);
    const std::string &key = input.first, &cipher = input.second;
    if (key.empty() || cipher.empty())
        return 0;
    const std::optional<std::string> expected = cbc_decrypt(key, cipher);
    const std::string detail = "key    " + hex_of(key) + "\ncipher " + hex_of(cipher) +
                               "\nexpected " + (expected ? hex_of(*expected) : "refusal");

    fuzz_check(api_decrypt(key, cipher, nullptr) == expected, "lupex_decrypt_cbc differs", detail);
    lupex_key prepared;
    fuzz_check(lupex_key_setup(&prepared, key.data(), key.size()) == LUPEX_OK, "key setup failed");
    fuzz_check(api_decrypt(key, cipher, &prepared) == expected, "lupex_decrypt_cbc_with differs",
               detail);
    lupex_key_wipe(&prepared);

    // The procedure: the key is one word, and the blanks in front of the text are not
    // the text's.
    if (key.find(' ') != std::string::npos)
        return 0;
    const std::string text = cipher.substr(std::min(cipher.find_first_not_of(' '), cipher.size()));
    const std::string request = "decrypt-cbc " + key + " " + cipher;
    const std::string reply = call_guarded(blowfish, request.data(), request.size());
    const std::optional<std::string> plain = text.empty() ? std::nullopt : cbc_decrypt(key, text);
    const std::string wanted = !plain                ? "-STRING Invalid String"
                               : plain->size() > 1019 ? "-STRING String too long"
                                                      : "+OK " + *plain;
    fuzz_check(reply == wanted, "decrypt-cbc differs", detail + "\nreply  " + hex_of(reply));
    return 0;
}
