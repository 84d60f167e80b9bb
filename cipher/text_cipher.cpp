#include "cipher/text_cipher.h"

#include <algorithm>
#include <cassert>
#include <cstdint>
#include <cstring>

#include "cipher/alphabet.h"
#include "plugin/byte_order.h"
#include "plugin/platform.h"

namespace lupex {

namespace {

const unsigned char *bytes_of(const char *text) {
    return reinterpret_cast<const unsigned char *>(text);
}

// Blocks enciphered side by side in the text loops. Four on 32-bit x86 too: there the
// halves of four blocks do not all fit in registers and some move through the stack,
// yet the loops run faster than with two blocks, which need no stack at all
// (bench/text_loops.sh times them and counts those moves). Four blocks take far less
// than four times as long as one, bound by their instructions; one or two, by their
// rounds' chains of loads. So the last one or two blocks of a text go as
// they are, not padded to four.
constexpr int lanes = 4;

// The rounds out of line, one copy of each for every caller in this file: the ECB and
// CBC decryption loops share the deciphering of one, two and four blocks, and a single
// block's enciphering serves the CBC chain, the ECB loop's last block and the password
// hash. Unrolled, each copy is kilobytes, and lupex.dll stays small; the call costs
// little beside the rounds it makes.
template <int N>
[[gnu::noinline]] void decipher(const BoxSet *boxes, std::uint32_t (&left)[N],
                                std::uint32_t (&right)[N]) {
    blocks_decrypt(boxes, left, right);
}

[[gnu::noinline]] void encipher_one(const BoxSet *boxes, std::uint32_t &left,
                                    std::uint32_t &right) {
    block_encrypt(boxes, left, right);
}

// Enciphers the N blocks at `in` and writes the 12 characters of each of the first
// `count` of them at `out`.
template <int N>
char *encrypt_blocks(const BoxSet *boxes, const unsigned char *in, char *out,
                     std::size_t count) {
    std::uint32_t left[N], right[N];
#pragma GCC unroll 4
    for (int k = 0; k < N; ++k) {
        left[k] = load_be32(in + 8 * k);
        right[k] = load_be32(in + 8 * k + 4);
    }
    if constexpr (N == 1)
        encipher_one(boxes, left[0], right[0]);
    else
        blocks_encrypt(boxes, left, right);
    for (std::size_t k = 0; k < count; ++k)
        out = encode_half(encode_half(out, right[k]), left[k]);
    return out;
}

// Deciphers the N groups of 12 characters at `in` and writes the 8 bytes of each of
// the first `count` of them at `out`.
template <int N>
unsigned char *decrypt_blocks(const BoxSet *boxes, const char *in, unsigned char *out,
                              std::size_t count) {
    std::uint32_t left[N], right[N];
#pragma GCC unroll 4
    for (int k = 0; k < N; ++k) {
        right[k] = decode_half(in + 12 * k);
        left[k] = decode_half(in + 12 * k + 6);
    }
    decipher(boxes, left, right);
    for (std::size_t k = 0; k < count; ++k) {
        store_be32(out + 8 * k, left[k]);
        store_be32(out + 8 * k + 4, right[k]);
    }
    return out + 8 * count;
}

} // namespace

// Both loops take `lanes` blocks at a time, and the last one to `lanes` from a
// zero-filled copy that pads them. Encryption holds a copy of the unrolled rounds for
// four blocks and one for two, and calls encipher_one for a last block alone;
// decryption shares decipher's rounds for four and for two with the CBC form.

std::size_t encrypt_text(const BoxSet *boxes, const unsigned char *text, std::size_t n,
                         char *out) {
    unsigned char tail[8 * lanes];
    const unsigned char *in = text;
    char *o = out;
    for (std::size_t left = n; left > 0;) {
        std::size_t count = lanes;
        if (left < sizeof tail) {
            std::memset(tail, 0, sizeof tail);
            std::memcpy(tail, in, left);
            in = tail;
            count = blocks_of(left);
            left = sizeof tail;
        }
        if (count == 1)
            o = encrypt_blocks<1>(boxes, in, o, 1);
        else if (count == 2)
            o = encrypt_blocks<2>(boxes, in, o, 2);
        else
            o = encrypt_blocks<lanes>(boxes, in, o, count);
        in += sizeof tail;
        left -= sizeof tail;
    }
    wipe_memory(tail, sizeof tail);
    *o = '\0';
    return static_cast<std::size_t>(o - out);
}

std::size_t decrypt_text(const BoxSet *boxes, const char *cipher, std::size_t n,
                         unsigned char *out) {
    // Characters beyond the text count as zero bytes do: value 0.
    char tail[12 * lanes];
    const char *in = cipher;
    unsigned char *o = out;
    for (std::size_t left = n; left > 0;) {
        std::size_t count = lanes;
        if (left < sizeof tail) {
            std::memset(tail, 0, sizeof tail);
            std::memcpy(tail, in, left);
            in = tail;
            count = groups_of(left);
            left = sizeof tail;
        }
        // A last block alone goes as two: one block's rounds wait on their loads, and a
        // second block beside it (the zero fill) takes no longer.
        if (count <= 2)
            o = decrypt_blocks<2>(boxes, in, o, count);
        else
            o = decrypt_blocks<lanes>(boxes, in, o, count);
        in += sizeof tail;
        left -= sizeof tail;
    }
    wipe_memory(tail, sizeof tail);
    // The plain text ends at the first zero byte: the zero fill of its last block, or
    // wherever a wrong key put one. Nothing behind it stays.
    const std::size_t written = static_cast<std::size_t>(o - out);
    *o = 0;
    const std::size_t length = std::strlen(reinterpret_cast<const char *>(out));
    std::memset(out + length, 0, written - length);
    return length;
}

bool cbc_parse(const char *cipher, std::size_t n, CbcText *text) {
    if (n > 0 && cipher[0] == '*') {
        ++cipher;
        --n;
    }
    while (n > 0 && cipher[n - 1] == ' ')
        --n;
    // Padding fills the last group to four characters, and only that group.
    std::size_t padding = 0;
    while (padding < 2 && n > 0 && cipher[n - 1] == '=') {
        --n;
        ++padding;
    }
    if (padding != 0 && (n + padding) % 4 != 0)
        return false;
    if (!base64_valid(cipher, n))
        return false;
    const std::size_t bytes = base64_bytes(n);
    if (bytes < cbc_iv_bytes + 8 || bytes % 8 != 0)
        return false;
    *text = {cipher, n, bytes / 8 - 1};
    return true;
}

namespace {

// The bytes that go into one decoding step: whole groups of three bytes and whole
// blocks, and groups of four blocks for the loop (12 blocks, 128 characters).
constexpr std::size_t cbc_step_bytes = 8 * 3 * lanes;
static_assert(cbc_step_bytes % 3 == 0 && cbc_step_bytes % (8 * lanes) == 0);

// Deciphers the N cipher blocks at `in`, each chained to the 8 bytes before it, and
// writes the 8 plain bytes of each of the first `count` of them at `out`.
template <int N>
unsigned char *decrypt_cbc_blocks(const BoxSet *boxes, const unsigned char *in,
                                  unsigned char *out, std::size_t count) {
    std::uint32_t left[N], right[N];
#pragma GCC unroll 4
    for (int k = 0; k < N; ++k) {
        left[k] = load_be32(in + 8 * k);
        right[k] = load_be32(in + 8 * k + 4);
    }
    decipher(boxes, left, right);
    for (std::size_t k = 0; k < count; ++k) {
        store_be32(out + 8 * k, left[k] ^ load_be32(in + 8 * k - 8));
        store_be32(out + 8 * k + 4, right[k] ^ load_be32(in + 8 * k - 4));
    }
    return out + 8 * count;
}

} // namespace

std::size_t encrypt_cbc_text(const BoxSet *boxes, const unsigned char (&iv)[cbc_iv_bytes],
                             const unsigned char *text, std::size_t n, char *out) {
    // Three blocks are four groups of base64: the IV and the cipher blocks gather here
    // and go out 32 characters at a time.
    unsigned char pending[24];
    unsigned char tail[8];
    std::memcpy(pending, iv, cbc_iv_bytes);
    std::size_t filled = cbc_iv_bytes;
    std::uint32_t left = load_be32(iv), right = load_be32(iv + 4);
    char *o = out;
    *o++ = '*';
    for (std::size_t at = 0; at < n; at += 8) {
        const unsigned char *block = text + at;
        if (n - at < 8) {
            std::memset(tail, 0, sizeof tail);
            std::memcpy(tail, block, n - at);
            block = tail;
        }
        left ^= load_be32(block);
        right ^= load_be32(block + 4);
        encipher_one(boxes, left, right);
        store_be32(pending + filled, left);
        store_be32(pending + filled + 4, right);
        filled += 8;
        if (filled == sizeof pending) {
            o = base64_encode(pending, filled, o);
            filled = 0;
        }
    }
    o = base64_encode(pending, filled, o);
    wipe_memory(tail, sizeof tail);
    *o = '\0';
    return static_cast<std::size_t>(o - out);
}

std::size_t decrypt_cbc_text(const BoxSet *boxes, const CbcText &text, std::size_t blocks,
                             unsigned char *out) {
    // One step's cipher blocks, behind the block that the first of them chains to: the
    // IV, or the last block of the step before. Zeroed, so that the lanes that run past
    // a short last step decipher defined bytes.
    unsigned char step[8 + cbc_step_bytes] = {};
    const std::size_t total = cbc_iv_bytes + 8 * blocks;
    const char *in = text.chars;
    unsigned char *o = out;
    for (std::size_t done = 0; done < total;) {
        // The first step decodes the IV into the place of the chained block.
        unsigned char *const into = done == 0 ? step : step + 8;
        const std::size_t bytes = std::min(total - done, cbc_step_bytes);
        const std::size_t chars = bytes / 3 * 4 + (bytes % 3 == 0 ? 0 : bytes % 3 + 1);
        base64_decode(in, chars, into);
        in += chars;
        done += bytes;
        // Three blocks left go as four, one as two, as in the ECB loop: the blocks read
        // beyond the step's own stay inside `step` (zeros, or an earlier step's blocks),
        // and their results are dropped.
        const unsigned char *block = step + 8;
        std::size_t left = static_cast<std::size_t>(into + bytes - block) / 8;
        for (; left >= 3; left -= std::min<std::size_t>(left, lanes), block += 8 * lanes)
            o = decrypt_cbc_blocks<lanes>(boxes, block, o, std::min<std::size_t>(left, lanes));
        if (left > 0)
            o = decrypt_cbc_blocks<2>(boxes, block, o, left);
        std::memcpy(step, into + bytes - 8, 8);
    }
    const std::size_t written = static_cast<std::size_t>(o - out);
    *o = 0;
    const std::size_t length = std::strlen(reinterpret_cast<const char *>(out));
    std::memset(out + length, 0, written - length);
    return length;
}

std::size_t encrypt_cbc_text(const unsigned char *key, std::size_t key_length,
                             const unsigned char (&iv)[cbc_iv_bytes], const unsigned char *text,
                             std::size_t n, char *out) {
    BoxSet boxes;
    box_setup(&boxes, key, key_length);
    const std::size_t length = encrypt_cbc_text(&boxes, iv, text, n, out);
    wipe_memory(&boxes, sizeof boxes);
    return length;
}

std::size_t decrypt_cbc_text(const unsigned char *key, std::size_t key_length,
                             const CbcText &text, std::size_t blocks, unsigned char *out) {
    BoxSet boxes;
    box_setup(&boxes, key, key_length);
    const std::size_t length = decrypt_cbc_text(&boxes, text, blocks, out);
    wipe_memory(&boxes, sizeof boxes);
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
    encipher_one(&boxes, left, right);
    wipe_memory(&boxes, sizeof boxes);
    out[0] = '+';
    *encode_half(encode_half(out + 1, right), left) = '\0';
}

char *text_encrypt(const char *key, const char *text) {
    assert(key != nullptr && key[0] != '\0');
    const std::size_t n = std::strlen(text);
    // The result block is the only allocation: the core pads the last block itself.
    const std::size_t bytes = encrypt_capacity(n);
    auto *result = bytes != 0 ? static_cast<char *>(heap_alloc_zeroed(bytes)) : nullptr;
    if (result != nullptr)
        encrypt_text(bytes_of(key), std::strlen(key), bytes_of(text), n, result);
    return result;
}

char *text_decrypt(const char *key, const char *text, std::size_t longest) {
    assert(key != nullptr && key[0] != '\0');
    // The characters of the groups that give `longest` + 1 bytes, if the text has them.
    const std::size_t groups = longest < SIZE_MAX - 8 ? blocks_of(longest + 1) : SIZE_MAX / 12;
    const std::size_t n = std::min(std::strlen(text), 12 * groups);
    auto *result = static_cast<unsigned char *>(heap_alloc_zeroed(decrypt_capacity(n)));
    if (result != nullptr)
        decrypt_text(bytes_of(key), std::strlen(key), text, n, result);
    return reinterpret_cast<char *>(result);
}

CbcStatus text_encrypt_cbc(const char *key, const char *text, char **result) {
    assert(key != nullptr && key[0] != '\0' && text[0] != '\0');
    *result = nullptr;
    const std::size_t n = std::strlen(text);
    const std::size_t bytes = cbc_encrypt_capacity(n);
    // The IV is drawn before the key touches the stack: whatever the random source
    // leaves deeper down holds nothing of the key or the text.
    unsigned char iv[cbc_iv_bytes];
    if (!random_bytes(iv, sizeof iv))
        return cbc_random_failed;
    auto *out = bytes != 0 ? static_cast<char *>(heap_alloc_zeroed(bytes)) : nullptr;
    if (out == nullptr)
        return cbc_out_of_memory;
    encrypt_cbc_text(bytes_of(key), std::strlen(key), iv, bytes_of(text), n, out);
    *result = out;
    return cbc_ok;
}

CbcStatus text_decrypt_cbc(const char *key, const char *text, char **result,
                           std::size_t longest) {
    assert(key != nullptr && key[0] != '\0');
    *result = nullptr;
    CbcText parsed;
    if (!cbc_parse(text, std::strlen(text), &parsed))
        return cbc_malformed;
    const std::size_t blocks =
        longest < SIZE_MAX - 8 ? std::min(parsed.blocks, blocks_of(longest + 1)) : parsed.blocks;
    auto *out = static_cast<unsigned char *>(heap_alloc_zeroed(8 * blocks + 1));
    if (out == nullptr)
        return cbc_out_of_memory;
    decrypt_cbc_text(bytes_of(key), std::strlen(key), parsed, blocks, out);
    *result = reinterpret_cast<char *>(out);
    return cbc_ok;
}

void pass_hash(const char *password, char (&out)[16]) {
    pass_hash(bytes_of(password), std::strlen(password), out);
}

} // namespace lupex
