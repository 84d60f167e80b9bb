// Byte order, spelt out with shifts so that no code depends on the host's order or
// casts pointers; compilers turn these into single loads and stores.
#pragma once

#include <cstdint>

namespace lupex {

// First byte most significant: the Blowfish block halves.
inline std::uint32_t load_be32(const unsigned char *p) {
    return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 |
           std::uint32_t{p[3]};
}

inline void store_be32(unsigned char *p, std::uint32_t v) {
    p[0] = static_cast<unsigned char>(v >> 24);
    p[1] = static_cast<unsigned char>(v >> 16);
    p[2] = static_cast<unsigned char>(v >> 8);
    p[3] = static_cast<unsigned char>(v);
}

// First byte least significant: the MD5 message words, bit count and digest.
inline std::uint32_t load_le32(const unsigned char *p) {
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
           std::uint32_t{p[3]} << 24;
}

inline void store_le32(unsigned char *p, std::uint32_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
}

} // namespace lupex
