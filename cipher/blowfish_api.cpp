// The Blowfish functions of the C API: checks, then the core of text_cipher.h.

#include <cstdint>
#include <cstring>

#include "cipher/blowfish.h"
#include "cipher/text_cipher.h"
#include "plugin/clear_regs.h"
#include "plugin/platform.h"
#include "plugin/stack_clear.h"

namespace {

using namespace lupex;

const unsigned char *bytes_of(const void *data) { return static_cast<const unsigned char *>(data); }

// Whether the `a_bytes` bytes at `a` and the `b_bytes` at `b` share a byte. Compared as
// addresses: the two need not lie in one object.
bool overlap(const void *a, std::size_t a_bytes, const void *b, std::size_t b_bytes) {
    const auto x = reinterpret_cast<std::uintptr_t>(a), y = reinterpret_cast<std::uintptr_t>(b);
    return x < y + b_bytes && y < x + a_bytes;
}

// The checks after the key's, in the API's order: the text, then `out`, which needs
// `needed` bytes (0: the result would not fit in size_t). A text whose cipher text
// would not fit is refused before it is read. The text loops read a group of blocks
// before they write its output, but write it ahead of the groups still to be read: an
// `out` that overlaps the input is refused. So is one that overlaps the prepared key
// `k` the call reads from (null for the calls that key their own schedule): the
// schedule would change under the call, and every later call under `k` would go wrong.
int check_encrypt(const void *text, std::size_t n, const char *out, std::size_t out_capacity,
                  std::size_t needed, const lupex_key *k) {
    if (text == nullptr || n == 0 || needed == 0 || std::memchr(text, 0, n) != nullptr)
        return LUPEX_ERR_TEXT;
    if (out == nullptr || out_capacity < needed || overlap(text, n, out, needed) ||
        (k != nullptr && overlap(k, sizeof *k, out, needed)))
        return LUPEX_ERR_SPACE;
    return LUPEX_OK;
}

// The same for a cipher text, which `parsed` takes apart first in the CBC form
// (a malformed one is a text error).
int check_decrypt(const char *cipher, std::size_t n, const char *out, std::size_t out_capacity,
                  std::size_t needed, const lupex_key *k, CbcText *parsed = nullptr) {
    if (cipher == nullptr || n == 0 || (parsed != nullptr && !cbc_parse(cipher, n, parsed)))
        return LUPEX_ERR_TEXT;
    if (out == nullptr || out_capacity < needed || overlap(cipher, n, out, needed) ||
        (k != nullptr && overlap(k, sizeof *k, out, needed)))
        return LUPEX_ERR_SPACE;
    return LUPEX_OK;
}

// The CBC form's decryption writes the plain text and its terminator; the rest of the
// `needed` bytes that the caller was asked for is zeroed, as the ECB form's is.
void zero_behind(char *out, std::size_t length, std::size_t needed) {
    const std::size_t written = length + 1;
    std::memset(out + written, 0, needed - written);
}

int done(std::size_t *out_length, std::size_t length) {
    if (out_length != nullptr)
        *out_length = length;
    return LUPEX_OK;
}

// The key bytes that the schedule reads at most: 18 words of the P-array.
constexpr std::size_t max_key_bytes = 4 * p_words;

// The mark of a prepared key: a value that a zeroed key, or one of random bytes, is
// most unlikely to hold in these 64 bits.
constexpr std::uint64_t prepared_tag = 0xc5a1d07e3b94f261;

// The schedule of a prepared key, or null when `k` is null or not prepared.
const BoxSet *prepared(const lupex_key *k) {
    if (k == nullptr || k->lupex_private_tag != prepared_tag)
        return nullptr;
    return &k->lupex_private_schedule;
}

} // namespace

LUPEX_CLEAR_REGS
std::size_t lupex_encrypt_capacity(std::size_t text_length) {
    return encrypt_capacity(text_length);
}

LUPEX_CLEAR_REGS
std::size_t lupex_decrypt_capacity(std::size_t cipher_length) {
    return decrypt_capacity(cipher_length);
}

LUPEX_CLEAR_REGS
int lupex_encrypt(const void *key, std::size_t key_length, const void *text,
                  std::size_t text_length, char *out, std::size_t out_capacity,
                  std::size_t *out_length) {
    if (key == nullptr || key_length == 0)
        return LUPEX_ERR_KEY;
    if (const int error = check_encrypt(text, text_length, out, out_capacity,
                                        encrypt_capacity(text_length), nullptr))
        return error;
    const std::size_t length =
        encrypt_text(bytes_of(key), key_length, bytes_of(text), text_length, out);
    clear_stack(keyed_stack_bytes);
    return done(out_length, length);
}

LUPEX_CLEAR_REGS
int lupex_decrypt(const void *key, std::size_t key_length, const char *cipher,
                  std::size_t cipher_length, char *out, std::size_t out_capacity,
                  std::size_t *out_length) {
    if (key == nullptr || key_length == 0)
        return LUPEX_ERR_KEY;
    if (const int error = check_decrypt(cipher, cipher_length, out, out_capacity,
                                        decrypt_capacity(cipher_length), nullptr))
        return error;
    const std::size_t length = decrypt_text(bytes_of(key), key_length, cipher, cipher_length,
                                            reinterpret_cast<unsigned char *>(out));
    clear_stack(keyed_stack_bytes);
    return done(out_length, length);
}

LUPEX_CLEAR_REGS
int lupex_encpass(const void *password, std::size_t password_length,
                  char out[LUPEX_ENCPASS_SIZE]) {
    if (password == nullptr || password_length == 0)
        return LUPEX_ERR_TEXT;
    if (out == nullptr)
        return LUPEX_ERR_SPACE;
    pass_hash(bytes_of(password), password_length, out);
    clear_stack(keyed_stack_bytes);
    return LUPEX_OK;
}

std::size_t lupex_key_size() { return sizeof(lupex_key); }

LUPEX_CLEAR_REGS
int lupex_key_setup(lupex_key *k, const void *key, std::size_t key_length) {
    if (k == nullptr)
        return LUPEX_ERR_KEY;
    if (key == nullptr || key_length == 0) {
        lupex_key_wipe(k);
        return LUPEX_ERR_KEY;
    }
    // The schedule reads the key while it writes *k, and the key's bytes may lie inside
    // *k: the bytes that count go to a copy of their own first. A shorter key repeats
    // in the schedule as it does in the copy, so the copy keys *k alike.
    unsigned char copy[max_key_bytes];
    const std::size_t copied = key_length < sizeof copy ? key_length : sizeof copy;
    std::memcpy(copy, key, copied);
    // The mark goes first and comes back last: a key is never marked while its
    // schedule is half run.
    k->lupex_private_tag = 0;
    box_setup(&k->lupex_private_schedule, copy, copied);
    wipe_memory(copy, sizeof copy);
    clear_stack(prepared_stack_bytes);
    k->lupex_private_tag = prepared_tag;
    return LUPEX_OK;
}

LUPEX_CLEAR_REGS
int lupex_encrypt_with(const lupex_key *k, const void *text, std::size_t text_length,
                       char *out, std::size_t out_capacity, std::size_t *out_length) {
    const BoxSet *const boxes = prepared(k);
    if (boxes == nullptr)
        return LUPEX_ERR_KEY;
    if (const int error = check_encrypt(text, text_length, out, out_capacity,
                                        encrypt_capacity(text_length), k))
        return error;
    const std::size_t length = encrypt_text(boxes, bytes_of(text), text_length, out);
    clear_stack(prepared_stack_bytes);
    return done(out_length, length);
}

LUPEX_CLEAR_REGS
int lupex_decrypt_with(const lupex_key *k, const char *cipher, std::size_t cipher_length,
                       char *out, std::size_t out_capacity, std::size_t *out_length) {
    const BoxSet *const boxes = prepared(k);
    if (boxes == nullptr)
        return LUPEX_ERR_KEY;
    if (const int error = check_decrypt(cipher, cipher_length, out, out_capacity,
                                        decrypt_capacity(cipher_length), k))
        return error;
    const std::size_t length =
        decrypt_text(boxes, cipher, cipher_length, reinterpret_cast<unsigned char *>(out));
    clear_stack(prepared_stack_bytes);
    return done(out_length, length);
}

LUPEX_CLEAR_REGS
std::size_t lupex_encrypt_cbc_capacity(std::size_t text_length) {
    return cbc_encrypt_capacity(text_length);
}

LUPEX_CLEAR_REGS
std::size_t lupex_decrypt_cbc_capacity(std::size_t cipher_length) {
    return cbc_decrypt_capacity(cipher_length);
}

// The CBC calls draw the IV after every check and before any key material is on the
// stack: whatever the random source leaves deeper down holds nothing of the key or the
// text, and the clear behind the call covers the work that follows.

LUPEX_CLEAR_REGS
int lupex_encrypt_cbc(const void *key, std::size_t key_length, const void *text,
                      std::size_t text_length, char *out, std::size_t out_capacity,
                      std::size_t *out_length) {
    if (key == nullptr || key_length == 0)
        return LUPEX_ERR_KEY;
    if (const int error = check_encrypt(text, text_length, out, out_capacity,
                                        cbc_encrypt_capacity(text_length), nullptr))
        return error;
    unsigned char iv[cbc_iv_bytes];
    if (!random_bytes(iv, sizeof iv))
        return LUPEX_ERR_RANDOM;
    const std::size_t length =
        encrypt_cbc_text(bytes_of(key), key_length, iv, bytes_of(text), text_length, out);
    clear_stack(keyed_stack_bytes);
    return done(out_length, length);
}

LUPEX_CLEAR_REGS
int lupex_decrypt_cbc(const void *key, std::size_t key_length, const char *cipher,
                      std::size_t cipher_length, char *out, std::size_t out_capacity,
                      std::size_t *out_length) {
    if (key == nullptr || key_length == 0)
        return LUPEX_ERR_KEY;
    CbcText parsed;
    const std::size_t needed = cbc_decrypt_capacity(cipher_length);
    if (const int error =
            check_decrypt(cipher, cipher_length, out, out_capacity, needed, nullptr, &parsed))
        return error;
    const std::size_t length = decrypt_cbc_text(bytes_of(key), key_length, parsed, parsed.blocks,
                                                reinterpret_cast<unsigned char *>(out));
    zero_behind(out, length, needed);
    clear_stack(keyed_stack_bytes);
    return done(out_length, length);
}

LUPEX_CLEAR_REGS
int lupex_encrypt_cbc_with(const lupex_key *k, const void *text, std::size_t text_length,
                           char *out, std::size_t out_capacity, std::size_t *out_length) {
    const BoxSet *const boxes = prepared(k);
    if (boxes == nullptr)
        return LUPEX_ERR_KEY;
    if (const int error = check_encrypt(text, text_length, out, out_capacity,
                                        cbc_encrypt_capacity(text_length), k))
        return error;
    unsigned char iv[cbc_iv_bytes];
    if (!random_bytes(iv, sizeof iv))
        return LUPEX_ERR_RANDOM;
    const std::size_t length = encrypt_cbc_text(boxes, iv, bytes_of(text), text_length, out);
    clear_stack(cbc_prepared_stack_bytes);
    return done(out_length, length);
}

LUPEX_CLEAR_REGS
int lupex_decrypt_cbc_with(const lupex_key *k, const char *cipher, std::size_t cipher_length,
                           char *out, std::size_t out_capacity, std::size_t *out_length) {
    const BoxSet *const boxes = prepared(k);
    if (boxes == nullptr)
        return LUPEX_ERR_KEY;
    CbcText parsed;
    const std::size_t needed = cbc_decrypt_capacity(cipher_length);
    if (const int error =
            check_decrypt(cipher, cipher_length, out, out_capacity, needed, k, &parsed))
        return error;
    const std::size_t length =
        decrypt_cbc_text(boxes, parsed, parsed.blocks, reinterpret_cast<unsigned char *>(out));
    zero_behind(out, length, needed);
    clear_stack(cbc_prepared_stack_bytes);
    return done(out_length, length);
}

LUPEX_CLEAR_REGS
void lupex_key_wipe(lupex_key *k) {
    if (k != nullptr)
        wipe_memory(k, sizeof *k);
}
