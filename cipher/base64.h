// Standard base64 (RFC 4648, section 4): the alphabet A-Z a-z 0-9 + /, each group of
// three bytes written as four characters, a short last group padded with "=". The CBC
// form's cipher text is written in it; it is not the cipher_alphabet.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lupex {

constexpr char base64_alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
static_assert(sizeof base64_alphabet == 65);

// The value that marks a byte outside the alphabet ("=" and the terminator included).
constexpr unsigned char base64_none = 0xff;

struct Base64Index {
    unsigned char value[256];
};

constexpr Base64Index make_base64_index() {
    Base64Index index{};
    for (int c = 0; c < 256; ++c)
        index.value[c] = base64_none;
    for (int v = 0; v < 64; ++v)
        index.value[static_cast<unsigned char>(base64_alphabet[v])] = static_cast<unsigned char>(v);
    return index;
}
inline constexpr Base64Index base64_table = make_base64_index();

// The value of `c`, or base64_none when `c` is not one of the alphabet's characters.
inline unsigned base64_value(char c) { return base64_table.value[static_cast<unsigned char>(c)]; }

// Characters of the padded base64 of n bytes: 4 * ceil(n / 3). The caller keeps n below
// what overflows.
constexpr std::size_t base64_length(std::size_t n) { return 4 * (n / 3 + (n % 3 != 0)); }

// Bytes that `chars` characters of base64 without padding stand for. A count that
// leaves one character over (chars % 4 == 1) stands for none: base64_valid turns it away.
constexpr std::size_t base64_bytes(std::size_t chars) {
    return 3 * (chars / 4) + (chars % 4 == 0 ? 0 : chars % 4 - 1);
}

// Writes the padded base64 of the n bytes at `in` to `out` (base64_length(n) characters,
// no terminator); returns the end of what it wrote.
inline char *base64_encode(const unsigned char *in, std::size_t n, char *out) {
    for (; n >= 3; n -= 3, in += 3) {
        const std::uint32_t v = std::uint32_t{in[0]} << 16 | std::uint32_t{in[1]} << 8 | in[2];
        *out++ = base64_alphabet[v >> 18];
        *out++ = base64_alphabet[v >> 12 & 0x3f];
        *out++ = base64_alphabet[v >> 6 & 0x3f];
        *out++ = base64_alphabet[v & 0x3f];
    }
    if (n != 0) {
        const std::uint32_t v = std::uint32_t{in[0]} << 16 | (n == 2 ? std::uint32_t{in[1]} << 8 : 0);
        *out++ = base64_alphabet[v >> 18];
        *out++ = base64_alphabet[v >> 12 & 0x3f];
        *out++ = n == 2 ? base64_alphabet[v >> 6 & 0x3f] : '=';
        *out++ = '=';
    }
    return out;
}

// Whether the `chars` characters at `in` (padding already taken off) are base64 that an
// encoder writes: every one in the alphabet, a count that some number of bytes gives, and
// the bits of the last character that no byte holds all zero. Anything else stands for
// no bytes at all, or for the same bytes as another text, and is malformed.
inline bool base64_valid(const char *in, std::size_t chars) {
    if (chars % 4 == 1)
        return false;
    // Values are below 64, and base64_none has the bits above: or them all together,
    // four characters at a time into four values, so that the loads need not wait on
    // one chain of ors.
    unsigned v0 = 0, v1 = 0, v2 = 0, v3 = 0;
    std::size_t i = 0;
    for (; i + 4 <= chars; i += 4) {
        v0 |= base64_value(in[i]);
        v1 |= base64_value(in[i + 1]);
        v2 |= base64_value(in[i + 2]);
        v3 |= base64_value(in[i + 3]);
    }
    for (; i < chars; ++i)
        v0 |= base64_value(in[i]);
    if ((v0 | v1 | v2 | v3) >= 64)
        return false;
    // Two characters over carry 12 bits for one byte, three carry 18 for two.
    const unsigned spare_mask = chars % 4 == 2 ? 0x0f : chars % 4 == 3 ? 0x03 : 0;
    return chars == 0 || (base64_value(in[chars - 1]) & spare_mask) == 0;
}

// Writes the base64_bytes(chars) bytes that the `chars` characters at `in` stand for to
// `out`; the characters passed base64_valid. Returns the end of what it wrote.
inline unsigned char *base64_decode(const char *in, std::size_t chars, unsigned char *out) {
    for (; chars >= 4; chars -= 4, in += 4) {
        const std::uint32_t v = base64_value(in[0]) << 18 | base64_value(in[1]) << 12 |
                                base64_value(in[2]) << 6 | base64_value(in[3]);
        *out++ = static_cast<unsigned char>(v >> 16);
        *out++ = static_cast<unsigned char>(v >> 8);
        *out++ = static_cast<unsigned char>(v);
    }
    if (chars >= 2) {
        const std::uint32_t v = base64_value(in[0]) << 18 | base64_value(in[1]) << 12 |
                                (chars == 3 ? base64_value(in[2]) << 6 : 0);
        *out++ = static_cast<unsigned char>(v >> 16);
        if (chars == 3)
            *out++ = static_cast<unsigned char>(v >> 8);
    }
    return out;
}

} // namespace lupex
