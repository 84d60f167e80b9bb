#include "bench/reference.h"

#include <cstddef>
#include <cstring>

#include <openssl/blowfish.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/md5.h>
#include <openssl/rand.h>

namespace {

using Word = BF_LONG; // a macro in OpenSSL's header, not a type name

constexpr char alphabet[] = "./0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
constexpr std::size_t reply_max = 1023;

struct Decoder {
    unsigned char value[256];
    Decoder() : value{} {
        for (unsigned v = 0; v < 64; ++v)
            value[static_cast<unsigned char>(alphabet[v])] = static_cast<unsigned char>(v);
    }
};
const Decoder decoder;

char *skip_blanks(char *p) {
    while (*p == ' ')
        ++p;
    return p;
}

// Cuts the word at `p` and returns the start of what follows it, blanks skipped.
char *cut_word(char *p) {
    while (*p != ' ' && *p != '\0')
        ++p;
    if (*p == ' ')
        *p++ = '\0';
    return skip_blanks(p);
}

void reply(char *buffer, const char *result, std::size_t n) {
    std::memcpy(buffer, "+OK ", 4);
    std::memmove(buffer + 4, result, n);
    buffer[4 + n] = '\0';
}

void reply_error(char *buffer) { std::strcpy(buffer, "-ERR"); }

BF_LONG load_be(const unsigned char *p) {
    return Word{p[0]} << 24 | Word{p[1]} << 16 | Word{p[2]} << 8 | Word{p[3]};
}

char *put_half(char *out, BF_LONG half) {
    for (int i = 0; i < 6; ++i, half >>= 6)
        *out++ = alphabet[half & 0x3f];
    return out;
}

BF_LONG get_half(const char *in) {
    BF_LONG half = 0;
    for (int i = 0; i < 6; ++i)
        half |= Word{decoder.value[static_cast<unsigned char>(in[i])]} << (6 * i);
    return half;
}

void encrypt(char *buffer, const char *key, const char *text) {
    const std::size_t n = std::strlen(text);
    if ((n + 7) / 8 * 12 > reply_max - 4)
        return reply_error(buffer);
    BF_KEY schedule;
    BF_set_key(&schedule, static_cast<int>(std::strlen(key)),
               reinterpret_cast<const unsigned char *>(key));
    char out[reply_max];
    char *o = out;
    for (std::size_t i = 0; i < n; i += 8) {
        unsigned char block[8] = {};
        std::memcpy(block, text + i, n - i < 8 ? n - i : 8);
        BF_LONG data[2] = {load_be(block), load_be(block + 4)};
        BF_encrypt(data, &schedule);
        o = put_half(o, data[1]);
        o = put_half(o, data[0]);
    }
    OPENSSL_cleanse(&schedule, sizeof schedule);
    reply(buffer, out, static_cast<std::size_t>(o - out));
}

void decrypt(char *buffer, const char *key, const char *text) {
    const std::size_t n = std::strlen(text);
    BF_KEY schedule;
    BF_set_key(&schedule, static_cast<int>(std::strlen(key)),
               reinterpret_cast<const unsigned char *>(key));
    unsigned char out[reply_max + 8];
    std::size_t length = 0;
    for (std::size_t i = 0; i < n && length <= reply_max - 4; i += 12) {
        char group[12] = {};
        std::memcpy(group, text + i, n - i < 12 ? n - i : 12);
        BF_LONG data[2] = {get_half(group + 6), get_half(group)};
        BF_decrypt(data, &schedule);
        for (int k = 0; k < 4; ++k) {
            out[length + k] = static_cast<unsigned char>(data[0] >> (24 - 8 * k));
            out[length + 4 + k] = static_cast<unsigned char>(data[1] >> (24 - 8 * k));
        }
        length += 8;
    }
    OPENSSL_cleanse(&schedule, sizeof schedule);
    const auto *end = static_cast<const unsigned char *>(std::memchr(out, 0, length));
    const std::size_t plain = end != nullptr ? static_cast<std::size_t>(end - out) : length;
    if (plain > reply_max - 4)
        return reply_error(buffer);
    reply(buffer, reinterpret_cast<const char *>(out), plain);
}

void encrypt_cbc(char *buffer, const char *key, const char *text) {
    const std::size_t n = std::strlen(text);
    if (1 + 4 * ((8 + (n + 7) / 8 * 8 + 2) / 3) > reply_max - 4)
        return reply_error(buffer);
    char out[reply_max];
    const std::size_t length = reference_encrypt_cbc(
        reinterpret_cast<const unsigned char *>(key), std::strlen(key),
        reinterpret_cast<const unsigned char *>(text), n, out);
    reply(buffer, out, length);
}

void decrypt_cbc(char *buffer, const char *key, const char *text) {
    BF_KEY schedule;
    BF_set_key(&schedule, static_cast<int>(std::strlen(key)),
               reinterpret_cast<const unsigned char *>(key));
    char out[5000];
    const std::size_t length = reference_decrypt_cbc(&schedule, text, std::strlen(text), out);
    OPENSSL_cleanse(&schedule, sizeof schedule);
    if (length > reply_max - 4)
        return reply_error(buffer);
    reply(buffer, out, length);
}

void encpass(char *buffer, const char *password) {
    char out[14];
    reference_pass_hash(reinterpret_cast<const unsigned char *>(password), std::strlen(password),
                        out);
    reply(buffer, out, 13);
}

} // namespace

std::size_t reference_encrypt(const BF_KEY *schedule, const unsigned char *text, std::size_t n,
                              char *out) {
    char *o = out;
    for (std::size_t i = 0; i < n; i += 8) {
        BF_LONG data[2];
        if (n - i >= 8) {
            data[0] = load_be(text + i);
            data[1] = load_be(text + i + 4);
        } else {
            unsigned char block[8] = {};
            std::memcpy(block, text + i, n - i);
            data[0] = load_be(block);
            data[1] = load_be(block + 4);
        }
        BF_encrypt(data, schedule);
        o = put_half(put_half(o, data[1]), data[0]);
    }
    *o = '\0';
    return static_cast<std::size_t>(o - out);
}

std::size_t reference_decrypt(const BF_KEY *schedule, const char *cipher, std::size_t n,
                              char *out) {
    char *o = out;
    for (std::size_t i = 0; i < n; i += 12) {
        BF_LONG data[2];
        if (n - i >= 12) {
            data[0] = get_half(cipher + i + 6);
            data[1] = get_half(cipher + i);
        } else {
            char group[12] = {};
            std::memcpy(group, cipher + i, n - i);
            data[0] = get_half(group + 6);
            data[1] = get_half(group);
        }
        BF_decrypt(data, schedule);
        for (int k = 0; k < 4; ++k) {
            o[k] = static_cast<char>(data[0] >> (24 - 8 * k));
            o[4 + k] = static_cast<char>(data[1] >> (24 - 8 * k));
        }
        o += 8;
    }
    const void *zero = std::memchr(out, 0, static_cast<std::size_t>(o - out));
    const std::size_t length =
        zero != nullptr ? static_cast<std::size_t>(static_cast<const char *>(zero) - out)
                        : static_cast<std::size_t>(o - out);
    out[length] = '\0';
    return length;
}

std::size_t reference_encrypt(const unsigned char *key, std::size_t key_length,
                              const unsigned char *text, std::size_t n, char *out) {
    BF_KEY schedule;
    BF_set_key(&schedule, static_cast<int>(key_length), key);
    const std::size_t length = reference_encrypt(&schedule, text, n, out);
    OPENSSL_cleanse(&schedule, sizeof schedule);
    return length;
}

std::size_t reference_decrypt(const unsigned char *key, std::size_t key_length,
                              const char *cipher, std::size_t n, char *out) {
    BF_KEY schedule;
    BF_set_key(&schedule, static_cast<int>(key_length), key);
    const std::size_t length = reference_decrypt(&schedule, cipher, n, out);
    OPENSSL_cleanse(&schedule, sizeof schedule);
    return length;
}

std::size_t reference_encrypt_cbc(const BF_KEY *schedule, const unsigned char *text,
                                  std::size_t n, char *out) {
    unsigned char raw[8 + 4000], iv[8];
    if (n > 4000 || RAND_bytes(raw, 8) != 1)
        return 0;
    std::memcpy(iv, raw, 8);
    // BF_cbc_encrypt fills a short last block with zero bytes itself.
    BF_cbc_encrypt(text, raw + 8, static_cast<long>(n), schedule, iv, BF_ENCRYPT);
    out[0] = '*';
    const int chars = EVP_EncodeBlock(reinterpret_cast<unsigned char *>(out + 1), raw,
                                      static_cast<int>(8 + (n + 7) / 8 * 8));
    return 1 + static_cast<std::size_t>(chars);
}

std::size_t reference_encrypt_cbc(const unsigned char *key, std::size_t key_length,
                                  const unsigned char *text, std::size_t n, char *out) {
    BF_KEY schedule;
    BF_set_key(&schedule, static_cast<int>(key_length), key);
    const std::size_t length = reference_encrypt_cbc(&schedule, text, n, out);
    OPENSSL_cleanse(&schedule, sizeof schedule);
    return length;
}

std::size_t reference_decrypt_cbc(const BF_KEY *schedule, const char *cipher, std::size_t n,
                                  char *out) {
    if (n > 0 && cipher[0] == '*') {
        ++cipher;
        --n;
    }
    unsigned char raw[3750 + 3];
    if (n > 5000 || n % 4 != 0) {
        out[0] = '\0';
        return 0;
    }
    int bytes = EVP_DecodeBlock(raw, reinterpret_cast<const unsigned char *>(cipher),
                                static_cast<int>(n));
    // EVP_DecodeBlock counts the padding's bytes too.
    for (std::size_t i = n; i > 0 && cipher[i - 1] == '='; --i)
        --bytes;
    if (bytes < 16) {
        out[0] = '\0';
        return 0;
    }
    const long blocks = (bytes - 8) / 8 * 8;
    BF_cbc_encrypt(raw + 8, reinterpret_cast<unsigned char *>(out), blocks, schedule, raw,
                   BF_DECRYPT);
    const void *zero = std::memchr(out, 0, static_cast<std::size_t>(blocks));
    const std::size_t length = zero != nullptr
                                   ? static_cast<std::size_t>(static_cast<const char *>(zero) - out)
                                   : static_cast<std::size_t>(blocks);
    out[length] = '\0';
    return length;
}

void reference_pass_hash(const unsigned char *password, std::size_t n, char *out) {
    BF_KEY schedule;
    BF_set_key(&schedule, static_cast<int>(n), password);
    BF_LONG data[2] = {0xdeadd061, 0x23f6b095};
    BF_encrypt(data, &schedule);
    OPENSSL_cleanse(&schedule, sizeof schedule);
    out[0] = '+';
    *put_half(put_half(out + 1, data[1]), data[0]) = '\0';
}

void reference_md5_hex(const unsigned char *data, std::size_t n, char *out) {
    unsigned char digest[MD5_DIGEST_LENGTH];
    MD5(data, n, digest);
    static constexpr char hex_digits[] = "0123456789abcdef";
    for (int i = 0; i < 16; ++i) {
        out[2 * i] = hex_digits[digest[i] >> 4];
        out[2 * i + 1] = hex_digits[digest[i] & 0x0f];
    }
    out[32] = '\0';
}

void reference_blowfish(char *buffer) {
    char *command = skip_blanks(buffer);
    char *rest = cut_word(command);
    if (std::strcmp(command, "encpass") == 0) {
        if (*rest == '\0')
            return reply_error(buffer);
        return encpass(buffer, rest);
    }
    char *key = rest;
    char *text = cut_word(key);
    if (*key == '\0' || *text == '\0')
        return reply_error(buffer);
    if (std::strcmp(command, "encrypt") == 0)
        encrypt(buffer, key, text);
    else if (std::strcmp(command, "decrypt") == 0)
        decrypt(buffer, key, text);
    else if (std::strcmp(command, "encrypt-cbc") == 0)
        encrypt_cbc(buffer, key, text);
    else if (std::strcmp(command, "decrypt-cbc") == 0)
        decrypt_cbc(buffer, key, text);
    else
        reply_error(buffer);
}

void reference_md5(char *buffer) {
    char hex[33];
    reference_md5_hex(reinterpret_cast<const unsigned char *>(buffer), std::strlen(buffer), hex);
    reply(buffer, hex, 32);
}
