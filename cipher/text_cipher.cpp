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

// A zero-filled copy of `text` with `fill` zero bytes behind its terminator's
// position; those bytes pad the last block. Null when the size overflows or memory
// runs out.
unsigned char *working_copy(const char *text, std::size_t n, std::size_t fill) {
    if (n > SIZE_MAX - fill)
        return nullptr;
    auto *copy = static_cast<unsigned char *>(heap_alloc_zeroed(n + fill));
    if (copy != nullptr)
        std::memcpy(copy, text, n);
    return copy;
}

} // namespace

char *text_encrypt(const char *key, const char *text) {
    const std::size_t n = std::strlen(text);
    unsigned char *copy = working_copy(text, n, 9);
    if (copy == nullptr || key == nullptr || key[0] == '\0')
        return reinterpret_cast<char *>(copy);

    // 12 characters per block and a terminator; 2n + 18 covers it and is the size of
    // record, guarded here for 32-bit size_t.
    char *result = n <= (SIZE_MAX - 18) / 2 ? static_cast<char *>(heap_alloc_zeroed(2 * n + 18))
                                            : nullptr;
    if (result == nullptr) {
        heap_release(copy);
        return nullptr;
    }
    BoxSet boxes;
    box_setup(&boxes, bytes_of(key), std::strlen(key));
    char *out = result;
    for (const unsigned char *block = copy; *block != 0; block += 8) {
        std::uint32_t left = load_be32(block), right = load_be32(block + 4);
        block_encrypt(&boxes, left, right);
        out = encode_half(out, right);
        out = encode_half(out, left);
    }
    wipe_memory(&boxes, sizeof boxes);
    heap_release(copy);
    return result;
}

char *text_decrypt(const char *key, const char *text) {
    const std::size_t n = std::strlen(text);
    unsigned char *copy = working_copy(text, n, 12);
    if (copy == nullptr || key == nullptr || key[0] == '\0')
        return reinterpret_cast<char *>(copy);

    auto *result = static_cast<unsigned char *>(heap_alloc_zeroed(n + 12));
    if (result == nullptr) {
        heap_release(copy);
        return nullptr;
    }
    BoxSet boxes;
    box_setup(&boxes, bytes_of(key), std::strlen(key));
    unsigned char *out = result;
    for (const char *group = reinterpret_cast<const char *>(copy); *group != '\0'; group += 12) {
        std::uint32_t right = decode_half(group), left = decode_half(group + 6);
        block_decrypt(&boxes, left, right);
        store_be32(out, left);
        store_be32(out + 4, right);
        out += 8;
    }
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
