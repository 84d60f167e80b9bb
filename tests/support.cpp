#include "support.h"

#include <cstring>
#include <random>

#include <gtest/gtest.h>

#ifdef LUPEX_HAVE_OPENSSL
#include <openssl/blowfish.h>
#endif

std::string call_export(lupex_procedure procedure, const std::string &request,
                        std::size_t capacity) {
    constexpr std::size_t guard = 64;
    constexpr char guard_byte = '\x5a';
    if (capacity == 0)
        capacity = std::max<std::size_t>(LUPEX_BUFFER_MIN, request.size() + 1);
    std::vector<char> buffer(capacity + guard, guard_byte);
    std::memcpy(buffer.data(), request.c_str(), request.size() + 1);
    EXPECT_EQ(procedure(nullptr, nullptr, buffer.data(), nullptr, 1, 0), LUPEX_PROC_RESULT);
    for (std::size_t i = capacity; i < buffer.size(); ++i)
        if (buffer[i] != guard_byte) {
            ADD_FAILURE() << "reply wrote past the buffer at offset " << i;
            break;
        }
    const void *end = std::memchr(buffer.data(), '\0', capacity);
    if (end == nullptr) {
        ADD_FAILURE() << "reply has no terminator inside the buffer";
        return std::string();
    }
    return std::string(buffer.data());
}

std::string to_hex(const void *data, std::size_t size) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    auto bytes = static_cast<const unsigned char *>(data);
    for (std::size_t i = 0; i < size; ++i) {
        hex += digits[bytes[i] >> 4];
        hex += digits[bytes[i] & 15];
    }
    return hex;
}

std::vector<unsigned char> from_hex(const std::string &hex) {
    std::vector<unsigned char> bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<unsigned char>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

std::string unescape(const std::string &field) {
    std::string out;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && field[i + 1] == 'x') {
            out += static_cast<char>(std::stoul(field.substr(i + 2, 2), nullptr, 16));
            i += 3;
        } else {
            out += field[i];
        }
    }
    return out;
}

std::vector<std::vector<std::string>> table_rows(const char *table) {
    std::vector<std::vector<std::string>> rows;
    const char *p = table;
    while (*p != '\0') {
        const char *eol = std::strchr(p, '\n');
        std::string line = eol ? std::string(p, eol) : std::string(p);
        p = eol ? eol + 1 : p + line.size();
        if (line.empty() || line[0] == '#')
            continue;
        std::vector<std::string> fields;
        std::size_t start = 0, tab;
        while ((tab = line.find('\t', start)) != std::string::npos) {
            fields.push_back(line.substr(start, tab - start));
            start = tab + 1;
        }
        fields.push_back(line.substr(start));
        rows.push_back(fields);
    }
    return rows;
}

std::string random_text(std::size_t n, unsigned seed, unsigned char lo, unsigned char hi) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> byte(lo, hi);
    std::string text(n, '\0');
    for (auto &c : text)
        c = static_cast<char>(byte(rng));
    return text;
}

#ifdef LUPEX_HAVE_OPENSSL
namespace {

const std::string alphabet = "./0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";

using Half = BF_LONG; // a macro for a 32-bit unsigned type

BF_KEY openssl_schedule(const std::string &key) {
    BF_KEY schedule;
    BF_set_key(&schedule, static_cast<int>(key.size()),
               reinterpret_cast<const unsigned char *>(key.data()));
    return schedule;
}

void append_half(std::string &out, Half half) {
    for (int c = 0; c < 6; ++c, half >>= 6)
        out += alphabet[half & 63];
}

Half half_of(const std::string &cipher, std::size_t at) {
    Half half = 0;
    for (std::size_t c = 0; c < 6; ++c) {
        const std::size_t pos = at + c < cipher.size() ? alphabet.find(cipher[at + c]) : 0;
        half |= static_cast<Half>(pos == std::string::npos ? 0 : pos) << (6 * c);
    }
    return half;
}

} // namespace

std::string openssl_encrypt(const std::string &key, const std::string &text) {
    const BF_KEY schedule = openssl_schedule(key);
    std::string padded = text;
    padded.append((8 - text.size() % 8) % 8, '\0');
    std::string out;
    for (std::size_t i = 0; i < padded.size(); i += 8) {
        unsigned char block[8];
        BF_ecb_encrypt(reinterpret_cast<const unsigned char *>(padded.data() + i), block,
                       &schedule, BF_ENCRYPT);
        for (int half : {4, 0})
            append_half(out, Half{block[half]} << 24 | Half{block[half + 1]} << 16 |
                                 Half{block[half + 2]} << 8 | block[half + 3]);
    }
    return out;
}

std::string openssl_decrypt(const std::string &key, const std::string &cipher) {
    const BF_KEY schedule = openssl_schedule(key);
    std::string out;
    for (std::size_t at = 0; at < cipher.size(); at += 12) {
        Half block[2] = {half_of(cipher, at + 6), half_of(cipher, at)};
        BF_decrypt(block, &schedule);
        for (Half half : block)
            for (int shift = 24; shift >= 0; shift -= 8)
                out += static_cast<char>(half >> shift & 0xff);
    }
    return out.substr(0, out.find('\0'));
}

std::string openssl_pass_hash(const std::string &password) {
    const BF_KEY schedule = openssl_schedule(password);
    Half block[2] = {0xdeadd061, 0x23f6b095};
    BF_encrypt(block, &schedule);
    std::string out = "+";
    append_half(out, block[1]);
    append_half(out, block[0]);
    return out;
}
#endif
