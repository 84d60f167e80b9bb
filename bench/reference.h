// What a host author would write with OpenSSL's libcrypto instead of loading the
// library: the same request line in the host buffer, the same reply line out; and what
// a program would write instead of calling the C API, with the same output. The
// benchmark times each procedure and each API call beside its reference and checks
// that both give the same result before it times anything.
#pragma once

#include <cstddef>

#include <openssl/blowfish.h>

// "encrypt KEY TEXT", "decrypt KEY TEXT", "encrypt-cbc KEY TEXT", "decrypt-cbc KEY
// CIPHERTEXT" or "encpass PASSWORD", answered in place.
// Only well-formed requests are answered as the library answers them; the others get
// "-ERR".
void reference_blowfish(char *buffer);

// "+OK " and the 32 hex digits of the MD5 digest of the whole buffer text.
void reference_md5(char *buffer);

// The cipher text of the `n` bytes at `text` under a prepared key, 12 characters per
// 8-byte block, and a terminator at `out`: BF_encrypt a block at a time. Returns the
// number of characters.
std::size_t reference_encrypt(const BF_KEY *schedule, const unsigned char *text,
                              std::size_t n, char *out);

// The plain text of `n` cipher text characters at `cipher` under a prepared key, cut at
// its first zero byte and terminated, at `out`: BF_decrypt a block at a time. Returns
// its length.
std::size_t reference_decrypt(const BF_KEY *schedule, const char *cipher, std::size_t n,
                              char *out);

// The same under a key scheduled for the call and cleansed after it.
std::size_t reference_encrypt(const unsigned char *key, std::size_t key_length,
                              const unsigned char *text, std::size_t n, char *out);
std::size_t reference_decrypt(const unsigned char *key, std::size_t key_length,
                              const char *cipher, std::size_t n, char *out);

// The CBC form's cipher text of the `n` bytes at `text` (at most 4,000) and a
// terminator at `out`: "*" and EVP_EncodeBlock of an IV from RAND_bytes and the blocks
// of BF_cbc_encrypt. Returns the number of characters.
std::size_t reference_encrypt_cbc(const BF_KEY *schedule, const unsigned char *text,
                                  std::size_t n, char *out);
std::size_t reference_encrypt_cbc(const unsigned char *key, std::size_t key_length,
                                  const unsigned char *text, std::size_t n, char *out);

// The plain text of a CBC cipher text as the encryption writes it ("*", padded base64,
// at most 5,000 characters), cut at its first zero byte and terminated, at `out`:
// EVP_DecodeBlock and BF_cbc_encrypt. Returns its length.
std::size_t reference_decrypt_cbc(const BF_KEY *schedule, const char *cipher, std::size_t n,
                                  char *out);

// "+" and 12 characters and a terminator (14 bytes) at `out`.
void reference_pass_hash(const unsigned char *password, std::size_t n, char *out);

// The 32 hex digits of the MD5 digest and a terminator (33 bytes) at `out`.
void reference_md5_hex(const unsigned char *data, std::size_t n, char *out);
