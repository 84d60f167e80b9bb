#include "cipher/text_cipher.h"

#include <cstdint>
#include <cstring>

#include "cipher/alphabet.h"
#include "cipher/blowfish.h"
#include "plugin/byte_order.h"
#include "plugin/platform.h"

namespace {

const unsigned char *bytes_of(const char *text) {
    return reinterpret_cast<const unsigned char *>(text);
}

// Zero bytes behind the text in a working copy, from the terminator's position on,
// through which the loops read the last block or group: the terminator and a whole
// block of padding for encryption, a whole group of characters of value 0 (the
// terminator the first of them) for decryption.
constexpr std::size_t block_fill = 1 + 8;
constexpr std::size_t group_fill = 12;

// A copy of the `n` bytes of `text` in a zero-filled block of n + `fill` bytes, so
// that `fill` zero bytes follow it from position n on. Null when the size overflows or
// memory runs out.
unsigned char *working_copy(const char *text, std::size_t n, std::size_t fill) {
    if (n > SIZE_MAX - fill)
        return nullptr;
    auto *copy = static_cast<unsigned char *>(heap_alloc_zeroed(n + fill));
    if (copy != nullptr)
        std::memcpy(copy, text, n);
    return copy;
}

// Blocks enciphered side by side in the text loops; the rest go one at a time. Four
// on 32-bit x86 too: there the halves of four blocks do not all fit in registers and
// a round moves about seven values through the stack, yet the loops run about 1.3
// times as fast as with two blocks, which need no stack at all. A round's chain of
// dependent loads sets the pace, not those moves (bench/text_loops.sh shows both).
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

char *text_encrypt(const char *key, const char *text) {
    const std::size_t n = std::strlen(text);
    unsigned char *copy = working_copy(text, n, block_fill);
    if (copy == nullptr || key == nullptr || key[0] == '\0')
        return reinterpret_cast<char *>(copy);

    // 12 characters for every 8 bytes of the copy, and a terminator, fit in twice the
    // copy's size (2n + 18 bytes), which a 32-bit size_t may not hold.
    const std::size_t copy_bytes = n + block_fill;
    char *result = copy_bytes <= SIZE_MAX / 2
                       ? static_cast<char *>(heap_alloc_zeroed(2 * copy_bytes))
                       : nullptr;
    if (result == nullptr) {
        heap_release(copy);
        return nullptr;
    }
    BoxSet boxes;
    box_setup(&boxes, bytes_of(key), std::strlen(key));
    // The text holds no zero byte, so its blocks are the ones that start with a
    // non-zero byte; the last is padded by the copy's zero fill.
    const unsigned char *in = copy;
    char *out = result;
    std::size_t blocks = blocks_of(n);
    for (; blocks >= lanes; blocks -= lanes, in += 8 * lanes)
        out = encrypt_blocks<lanes>(&boxes, in, out);
    for (; blocks > 0; --blocks, in += 8)
        out = encrypt_blocks<1>(&boxes, in, out);
    wipe_memory(&boxes, sizeof boxes);
    heap_release(copy);
    return result;
}

char *text_decrypt(const char *key, const char *text) {
    const std::size_t n = std::strlen(text);
    unsigned char *copy = working_copy(text, n, group_fill);
    if (copy == nullptr || key == nullptr || key[0] == '\0')
        return reinterpret_cast<char *>(copy);

    // 8 bytes for every 12 characters of the copy, and a terminator, fit in the copy's
    // own size.
    auto *result = static_cast<unsigned char *>(heap_alloc_zeroed(n + group_fill));
    if (result == nullptr) {
        heap_release(copy);
        return nullptr;
    }
    BoxSet boxes;
    box_setup(&boxes, bytes_of(key), std::strlen(key));
    // Nor does the cipher text: its groups of 12 characters are the ones that start
    // with a non-zero character, the last completed by the copy's zero fill.
    const char *in = reinterpret_cast<const char *>(copy);
    unsigned char *out = result;
    std::size_t groups = groups_of(n);
    for (; groups >= lanes; groups -= lanes, in += 12 * lanes)
        out = decrypt_blocks<lanes>(&boxes, in, out);
    for (; groups > 0; --groups, in += 12)
        out = decrypt_blocks<1>(&boxes, in, out);
    wipe_memory(&boxes, sizeof boxes);
    heap_release(copy);
    return reinterpret_cast<char *>(result);
}

void pass_hash(const char *password, char (&out)[16]) {
    BoxSet boxes;
    box_setup(&boxes, bytes_of(password), std::strlen(password));
    std::uint32_t left = 0xdeadd061, right = 0x23f6b095;
    block_encrypt(&boxes, left, right);
    wipe_memory(&boxes, sizeof boxes);
    out[0] = '+';
    *encode_half(encode_half(out + 1, right), left) = '\0';
}
