// The 64-character alphabet of cipher texts and password hashes.
#pragma once

#include <cstdint>

namespace lupex {

// Position v stands for the 6-bit value v.
constexpr char cipher_alphabet[] =
    "./0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
static_assert(sizeof cipher_alphabet == 65);

struct AlphabetIndex {
    unsigned char value[256];
};

// Every byte maps to its position in the alphabet, and every byte outside it
// (the terminator included) to 0, so any text decodes without a search.
constexpr AlphabetIndex make_alphabet_index() {
    AlphabetIndex index{};
    for (int v = 0; v < 64; ++v)
        index.value[static_cast<unsigned char>(cipher_alphabet[v])] = static_cast<unsigned char>(v);
    return index;
}
inline constexpr AlphabetIndex alphabet_table = make_alphabet_index();

// The position of `c` in cipher_alphabet, or 0 when `c` is not one of its characters.
inline unsigned alphabet_index(char c) {
    return alphabet_table.value[static_cast<unsigned char>(c)];
}

// Six characters for one half, low six bits first. The sixth carries only bits 30-31,
// so it is always one of "./01".
inline char *encode_half(char *out, std::uint32_t half) {
    for (int i = 0; i < 6; ++i) {
        *out++ = cipher_alphabet[half & 0x3f];
        half >>= 6;
    }
    return out;
}

// The half that six characters stand for; bits of the sixth above bit 31 fall away.
inline std::uint32_t decode_half(const char *in) {
    std::uint32_t half = 0;
    for (int i = 0; i < 6; ++i)
        half |= std::uint32_t{alphabet_index(in[i])} << (6 * i);
    return half;
}

} // namespace lupex
