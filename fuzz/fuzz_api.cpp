// The C API against the reference cipher. The input is a capacity choice, a key length,
// that many key bytes and the text, all of any bytes. lupex_encrypt must give the
// reference's cipher text, or the error that the checks in the order key, text, space
// call for; lupex_decrypt must give the text back, and read any text as the reference
// reads cipher text; the calls under a prepared key must give the one-shot results,
// lupex_encpass the reference's hash, lupex_md5 the md5 procedure's digest. Every
// output buffer is followed by guard bytes that AddressSanitizer watches; an error must
// leave the buffer and the length untouched.
#include <functional>

#include "fuzz_support.h"
#include "reference_cipher.h"

namespace {

constexpr std::size_t guard = 64;
constexpr char guard_byte = '\x5a';
constexpr std::size_t untouched_length = 0x5a5a5a5a;

struct Output {
    int code;
    std::string text;
};

using Call = std::function<int(char *out, std::size_t capacity, std::size_t *length)>;

// Calls `call` with `capacity` bytes of output and poisoned guard bytes behind them.
Output guarded(const Call &call, std::size_t capacity) {
    std::unique_ptr<char[]> out(new char[capacity + guard]);
    std::memset(out.get(), guard_byte, capacity + guard);
    std::size_t length = untouched_length;
    const long live = lupex::heap_hooks_live_blocks();
    ASAN_POISON_MEMORY_REGION(out.get() + capacity, guard);
    const int code = call(out.get(), capacity, &length);
    ASAN_UNPOISON_MEMORY_REGION(out.get() + capacity, guard);
    fuzz_check(lupex::heap_hooks_live_blocks() == live, "the C API allocated");
    for (std::size_t i = capacity; i < capacity + guard; ++i)
        fuzz_check(out[i] == guard_byte, "wrote past the capacity");
    if (code != LUPEX_OK) {
        fuzz_check(length == untouched_length, "an error set the length");
        for (std::size_t i = 0; i < capacity; ++i)
            fuzz_check(out[i] == guard_byte, "an error wrote to out");
        return {code, ""};
    }
    fuzz_check(length < capacity && out[length] == '\0', "no terminator at the length");
    fuzz_check(std::memchr(out.get(), '\0', length) == nullptr, "a zero byte inside the result");
    // Nothing but zero bytes behind the terminator, in what the call was given.
    for (std::size_t i = length; i < capacity; ++i)
        fuzz_check(out[i] == '\0' || out[i] == guard_byte, "bytes behind the terminator");
    return {code, std::string(out.get(), length)};
}

// The capacity to offer: exact, one byte short, or more than enough.
std::size_t offered(unsigned choice, std::size_t needed) {
    switch (choice % 3) {
    case 0: return needed;
    case 1: return needed - 1;
    default: return needed + 16;
    }
}

void check_same(const Output &a, const Output &b, const char *what, const std::string &detail) {
    fuzz_check(a.code == b.code && a.text == b.text, what, detail);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size < 2)
        return 0;
    const unsigned choice = data[0];
    const std::size_t key_length = std::min<std::size_t>(data[1], size - 2);
    const std::string key(reinterpret_cast<const char *>(data) + 2, key_length);
    const std::string text(reinterpret_cast<const char *>(data) + 2 + key_length,
                           size - 2 - key_length);
    const std::string detail = "key  " + hex_of(key) + "\ntext " + hex_of(text);
    // Exactly sized copies, so that AddressSanitizer sees any read past an input.
    const std::unique_ptr<char[]> key_copy(new char[key.size() + 1]);
    const std::unique_ptr<char[]> text_copy(new char[text.size() + 1]);
    std::memcpy(key_copy.get(), key.data(), key.size());
    std::memcpy(text_copy.get(), text.data(), text.size());
    const char *k = key_copy.get(), *t = text_copy.get();

    lupex_key prepared;
    const int setup = lupex_key_setup(&prepared, k, key.size());
    fuzz_check(setup == (key.empty() ? LUPEX_ERR_KEY : LUPEX_OK), "lupex_key_setup", detail);
    // A failed setup leaves the key unprepared: the calls under it are refused.
    const lupex_key *with = &prepared;

    // Encryption.
    const std::size_t encrypt_needed = lupex_encrypt_capacity(text.size());
    const std::size_t encrypt_offered = offered(choice, encrypt_needed);
    const Output cipher = guarded(
        [&](char *out, std::size_t c, std::size_t *n) {
            return lupex_encrypt(k, key.size(), t, text.size(), out, c, n);
        },
        encrypt_offered);
    const int encrypt_expected = key.empty()                                   ? LUPEX_ERR_KEY
                                 : text.empty() || text.find('\0') != std::string::npos ? LUPEX_ERR_TEXT
                                 : encrypt_offered < encrypt_needed            ? LUPEX_ERR_SPACE
                                                                               : LUPEX_OK;
    fuzz_check(cipher.code == encrypt_expected, "lupex_encrypt's result", detail);
    if (cipher.code == LUPEX_OK)
        fuzz_check(cipher.text == reference::encrypt(key, text), "cipher text differs", detail);
    check_same(guarded(
                   [&](char *out, std::size_t c, std::size_t *n) {
                       return lupex_encrypt_with(with, t, text.size(), out, c, n);
                   },
                   encrypt_offered),
               cipher, "lupex_encrypt_with differs", detail);

    // Decryption of the cipher text, and of the text read as cipher text.
    const auto decrypt = [&](const std::string &input, bool prepared_key) {
        return guarded(
            [&](char *out, std::size_t c, std::size_t *n) {
                return prepared_key
                           ? lupex_decrypt_with(with, input.data(), input.size(), out, c, n)
                           : lupex_decrypt(k, key.size(), input.data(), input.size(), out, c, n);
            },
            offered(choice, lupex_decrypt_capacity(input.size())));
    };
    if (cipher.code == LUPEX_OK && choice % 3 != 1) {
        fuzz_check(decrypt(cipher.text, false).text == text, "lupex_decrypt did not undo it", detail);
        fuzz_check(decrypt(cipher.text, true).text == text, "lupex_decrypt_with did not undo it",
                   detail);
    }
    const Output plain = decrypt(text, false);
    const int decrypt_expected = key.empty()        ? LUPEX_ERR_KEY
                                 : text.empty()     ? LUPEX_ERR_TEXT
                                 : choice % 3 == 1  ? LUPEX_ERR_SPACE
                                                    : LUPEX_OK;
    fuzz_check(plain.code == decrypt_expected, "lupex_decrypt's result", detail);
    if (plain.code == LUPEX_OK)
        fuzz_check(plain.text == reference::decrypt(key, text), "plain text differs", detail);
    check_same(decrypt(text, true), plain, "lupex_decrypt_with differs", detail);
    lupex_key_wipe(&prepared);
    if (!text.empty())
        fuzz_check(decrypt(text, true).code == LUPEX_ERR_KEY, "a wiped key was taken", detail);

    // The key as a password; the text's digest.
    const Output hash = guarded(
        [&](char *out, std::size_t, std::size_t *n) {
            const int code = lupex_encpass(k, key.size(), out);
            if (code == LUPEX_OK)
                *n = std::strlen(out);
            return code;
        },
        LUPEX_ENCPASS_SIZE);
    fuzz_check(hash.code == (key.empty() ? LUPEX_ERR_TEXT : LUPEX_OK), "lupex_encpass's result");
    if (hash.code == LUPEX_OK)
        fuzz_check(hash.text == reference::pass_hash(key), "hash differs", detail);
    const Output digest = guarded(
        [&](char *out, std::size_t, std::size_t *n) {
            const int code = lupex_md5(t, text.size(), out);
            if (code == LUPEX_OK)
                *n = std::strlen(out);
            return code;
        },
        LUPEX_MD5_SIZE);
    fuzz_check(digest.code == LUPEX_OK, "lupex_md5's result", detail);
    fuzz_check(digest.text.size() == 32, "not 32 digits", detail);
    if (!text.empty() && text.find('\0') == std::string::npos)
        fuzz_check(call_guarded(md5, text.data(), text.size()) == "+OK " + digest.text,
                   "lupex_md5 differs from the md5 procedure", detail);
    return 0;
}
