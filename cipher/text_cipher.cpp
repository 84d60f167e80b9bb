#include "cipher/text_cipher.h"

#include <cstdint>
#include <cstring>

#include "cipher/alphabet.h"
#include "plugin/byte_order.h"
#include "plugin/platform.h"

namespace {

const unsigned char *bytes_of(const char *text) {
    return reinterpret_cast<const unsigned char *>(text);
}

// A copy of the `n` characters of `text` and its terminator, in a new heap block.
char *heap_copy(const char *text, std::size_t n) {
    auto *copy = static_cast<char *>(heap_alloc_zeroed(n + 1));
    if (copy != nullptr)
        std::memcpy(copy, text, n);
    return copy;
}

// Blocks enciphered side by side in the text loops. Four on 32-bit x86 too: there the
// halves of four blocks do not all fit in registers and a round moves about seven
// values through the stack, yet the loops run about 1.3 times as fast as with two
// blocks, which need no stack at all. A round's chain of dependent loads sets the
// pace, not those moves (bench/text_loops.sh shows both). The last one to four blocks
// of a text run side by side as well, from a zero-filled copy that pads the last one.
constexpr int lanes = 4;

// Enciphers the N blocks at `in` and writes their 12 N characters at `out`.
template <int N>
char *encrypt_blocks(const BoxSet *boxes, const unsigned char *in, char *out) {
    std::uint32_t left[N], right[N];
    for (int k = 0; k < N; ++k) {
        left[k] = load_be32(in + 8 * k);
        right[k] = load_be32(in + 8 * k + 4);
    }
    blocks_encrypt(boxes, left, right);
    for (int k = 0; k < N; ++k)
        out = encode_half(encode_half(out, right[k]), left[k]);
    return out;
}

// Deciphers the N groups of 12 characters at `in` and writes their 8 N bytes at `out`.
template <int N>
unsigned char *decrypt_blocks(const BoxSet *boxes, const char *in, unsigned char *out) {
    std::uint32_t left[N], right[N];
    for (int k = 0; k < N; ++k) {
        right[k] = decode_half(in + 12 * k);
        left[k] = decode_half(in + 12 * k + 6);
    }
    blocks_decrypt(boxes, left, right);
    for (int k = 0; k < N; ++k) {
        store_be32(out + 8 * k, left[k]);
        store_be32(out + 8 * k + 4, right[k]);
    }
    return out + 8 * N;
}

} // namespace

std::size_t encrypt_text(const BoxSet *boxes, const unsigned char *text, std::size_t n,
                         char *out) {
    char *o = out;
    const unsigned char *in = text;
    for (std::size_t whole = n / 8; whole >= lanes; whole -= lanes, in += 8 * lanes)
        o = encrypt_blocks<lanes>(boxes, in, o);
    // One to four blocks are left, the last of them perhaps short: a copy filled with
    // zero bytes pads it.
    const std::size_t rest = n - static_cast<std::size_t>(in - text);
    if (rest > 0) {
        unsigned char tail[8 * lanes] = {};
        std::memcpy(tail, in, rest);
        switch (blocks_of(rest)) {
        case 1: o = encrypt_blocks<1>(boxes, tail, o); break;
        case 2: o = encrypt_blocks<2>(boxes, tail, o); break;
        case 3: o = encrypt_blocks<3>(boxes, tail, o); break;
        default: o = encrypt_blocks<4>(boxes, tail, o); break;
        }
        wipe_memory(tail, sizeof tail);
    }
    *o = '\0';
    return static_cast<std::size_t>(o - out);
}

std::size_t decrypt_text(const BoxSet *boxes, const char *cipher, std::size_t n,
                         unsigned char *out) {
    unsigned char *o = out;
    const char *in = cipher;
    for (std::size_t whole = n / 12; whole >= lanes; whole -= lanes, in += 12 * lanes)
        o = decrypt_blocks<lanes>(boxes, in, o);
    // One to four groups are left, the last perhaps short: a copy filled with zero
    // bytes, which count as value 0, completes it.
    const std::size_t rest = n - static_cast<std::size_t>(in - cipher);
    if (rest > 0) {
        char tail[12 * lanes] = {};
        std::memcpy(tail, in, rest);
        switch (groups_of(rest)) {
        case 1: o = decrypt_blocks<1>(boxes, tail, o); break;
        case 2: o = decrypt_blocks<2>(boxes, tail, o); break;
        case 3: o = decrypt_blocks<3>(boxes, tail, o); break;
        default: o = decrypt_blocks<4>(boxes, tail, o); break;
        }
    }
    // The plain text ends at the first zero byte: the zero fill of its last block, or
    // wherever a wrong key put one. Nothing behind it stays.
    const std::size_t written = static_cast<std::size_t>(o - out);
    const void *zero = std::memchr(out, 0, written);
    const std::size_t length =
        zero != nullptr ? static_cast<std::size_t>(static_cast<const unsigned char *>(zero) - out)
                        : written;
    std::memset(out + length, 0, written + 1 - length);
    return length;
}

std::size_t encrypt_text(const unsigned char *key, std::size_t key_length,
                         const unsigned char *text, std::size_t n, char *out) {
    BoxSet boxes;
    box_setup(&boxes, key, key_length);
    const std::size_t length = encrypt_text(&boxes, text, n, out);
    wipe_memory(&boxes, sizeof boxes);
    return length;
}

std::size_t decrypt_text(const unsigned char *key, std::size_t key_length, const char *cipher,
                         std::size_t n, unsigned char *out) {
    BoxSet boxes;
    box_setup(&boxes, key, key_length);
    const std::size_t length = decrypt_text(&boxes, cipher, n, out);
    wipe_memory(&boxes, sizeof boxes);
    return length;
}

void pass_hash(const unsigned char *password, std::size_t length, char *out) {
    BoxSet boxes;
    box_setup(&boxes, password, length);
    std::uint32_t left = 0xdeadd061, right = 0x23f6b095;
    block_encrypt(&boxes, left, right);
    wipe_memory(&boxes, sizeof boxes);
    out[0] = '+';
    *encode_half(encode_half(out + 1, right), left) = '\0';
}

char *text_encrypt(const char *key, const char *text) {
    const std::size_t n = std::strlen(text);
    if (key == nullptr || key[0] == '\0')
        return heap_copy(text, n);
    // The result block is the only allocation: the core pads the last block itself.
    const std::size_t bytes = encrypt_capacity(n);
    auto *result = bytes != 0 ? static_cast<char *>(heap_alloc_zeroed(bytes)) : nullptr;
    if (result != nullptr)
        encrypt_text(bytes_of(key), std::strlen(key), bytes_of(text), n, result);
    return result;
}

char *text_decrypt(const char *key, const char *text) {
    const std::size_t n = std::strlen(text);
    if (key == nullptr || key[0] == '\0')
        return heap_copy(text, n);
    auto *result = static_cast<unsigned char *>(heap_alloc_zeroed(decrypt_capacity(n)));
    if (result != nullptr)
        decrypt_text(bytes_of(key), std::strlen(key), text, n, result);
    return reinterpret_cast<char *>(result);
}

void pass_hash(const char *password, char (&out)[16]) {
    pass_hash(bytes_of(password), std::strlen(password), out);
}
