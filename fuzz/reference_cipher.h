// A plain Blowfish and cipher text format for the fuzz targets to compare the library
// with. Written the long way on purpose: a swap after every round, bytes gathered one
// at a time, the alphabet searched with strchr, texts as std::string. It shares only
// the initial tables with the library (the unit tests derive every word from pi).
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>

#include "cipher/blowfish.h"

namespace reference {

constexpr char alphabet[] = "./0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";

struct Cipher {
    std::uint32_t p[18];
    std::uint32_t s[4][256];

    std::uint32_t f(std::uint32_t x) const {
        const unsigned a = x >> 24 & 0xff, b = x >> 16 & 0xff, c = x >> 8 & 0xff, d = x & 0xff;
        return ((s[0][a] + s[1][b]) ^ s[2][c]) + s[3][d];
    }

    void encrypt(std::uint32_t &left, std::uint32_t &right) const {
        for (int i = 0; i < 16; ++i) {
            left ^= p[i];
            right ^= f(left);
            std::swap(left, right);
        }
        std::swap(left, right);
        right ^= p[16];
        left ^= p[17];
    }

    void decrypt(std::uint32_t &left, std::uint32_t &right) const {
        for (int i = 17; i > 1; --i) {
            left ^= p[i];
            right ^= f(left);
            std::swap(left, right);
        }
        std::swap(left, right);
        right ^= p[1];
        left ^= p[0];
    }

    // `key` must not be empty.
    explicit Cipher(const std::string &key) {
        std::memcpy(s, lupex::initial_s, sizeof s);
        std::size_t j = 0;
        for (int i = 0; i < 18; ++i) {
            std::uint32_t word = 0;
            for (int k = 0; k < 4; ++k)
                word = word << 8 | static_cast<unsigned char>(key[j++ % key.size()]);
            p[i] = lupex::initial_p[i] ^ word;
        }
        std::uint32_t left = 0, right = 0;
        for (int i = 0; i < 18; i += 2) {
            encrypt(left, right);
            p[i] = left;
            p[i + 1] = right;
        }
        for (auto &box : s)
            for (int k = 0; k < 256; k += 2) {
                encrypt(left, right);
                box[k] = left;
                box[k + 1] = right;
            }
    }
};

inline std::uint32_t half_from_bytes(const std::string &bytes, std::size_t at) {
    std::uint32_t half = 0;
    for (std::size_t i = 0; i < 4; ++i)
        half = half << 8 | static_cast<unsigned char>(bytes[at + i]);
    return half;
}

inline void append_half_characters(std::string &out, std::uint32_t half) {
    for (int i = 0; i < 6; ++i)
        out += alphabet[half >> (6 * i) & 63];
}

// The value of cipher text character `c`: its position, or 0 outside the alphabet.
inline std::uint64_t character_value(char c) {
    const char *at = c == '\0' ? nullptr : std::strchr(alphabet, c);
    return at == nullptr ? 0 : static_cast<std::uint64_t>(at - alphabet);
}

inline std::uint32_t half_from_characters(const std::string &text, std::size_t at) {
    std::uint64_t half = 0;
    for (std::size_t i = 0; i < 6; ++i)
        if (at + i < text.size())
            half |= character_value(text[at + i]) << (6 * i);
    return static_cast<std::uint32_t>(half);
}

// Zero-free `text` under `key`: 12 characters per 8-byte block, the last block filled
// with zero bytes; an empty key gives the text back.
inline std::string encrypt(const std::string &key, const std::string &text) {
    if (key.empty())
        return text;
    const Cipher cipher(key);
    std::string padded = text;
    while (padded.size() % 8 != 0)
        padded += '\0';
    std::string out;
    for (std::size_t at = 0; at < padded.size(); at += 8) {
        std::uint32_t left = half_from_bytes(padded, at), right = half_from_bytes(padded, at + 4);
        cipher.encrypt(left, right);
        append_half_characters(out, right);
        append_half_characters(out, left);
    }
    return out;
}

// Any zero-free `text` under `key`: 8 bytes per started group of 12 characters, cut at
// the first zero byte; an empty key gives the text back.
inline std::string decrypt(const std::string &key, const std::string &text) {
    if (key.empty())
        return text;
    const Cipher cipher(key);
    std::string out;
    for (std::size_t at = 0; at < text.size(); at += 12) {
        std::uint32_t right = half_from_characters(text, at);
        std::uint32_t left = half_from_characters(text, at + 6);
        cipher.decrypt(left, right);
        for (std::uint32_t half : {left, right})
            for (int shift = 24; shift >= 0; shift -= 8)
                out += static_cast<char>(half >> shift & 0xff);
    }
    return out.substr(0, out.find('\0'));
}

// "+" and 12 characters: the block 0xDEADD061:0x23F6B095 under a non-empty password.
inline std::string pass_hash(const std::string &password) {
    const Cipher cipher(password);
    std::uint32_t left = 0xdeadd061, right = 0x23f6b095;
    cipher.encrypt(left, right);
    std::string out = "+";
    append_half_characters(out, right);
    append_half_characters(out, left);
    return out;
}

} // namespace reference
