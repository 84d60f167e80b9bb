/* lupex: Blowfish text cipher, password hash and MD5 digest as a plug-in library.
 * Copyright (c) 2026 the lupex authors. MIT License: see LICENSE.
 *
 * A host loads the library (lupex.dll on Windows, liblupex.so elsewhere), looks the
 * procedures up by name and calls them with one text buffer. The buffer holds the
 * request, a zero-terminated line of words; on return it holds one reply line,
 * written from its first byte:
 *
 *   "+OK <result>"          success
 *   "-<CODE> <message>"     failure: FUNC, KEY, STRING, MEMORY, RANDOM, or "-STRING"
 *                           for md5
 *
 * Buffer contract: a reply is at most LUPEX_REPLY_MAX (1,023) characters plus its
 * terminator, and the library is not told the buffer's capacity, so a host supplies
 * at least LUPEX_BUFFER_MIN (1,024) bytes, and at least the request plus its
 * terminator. Every procedure zeroes whatever is left of the request behind the
 * reply line (dllinfo, which does not read the request, within the first
 * LUPEX_BUFFER_MIN bytes). Every procedure returns LUPEX_PROC_RESULT (3), whatever
 * the reply.
 *
 *   char buffer[LUPEX_BUFFER_MIN] = "encrypt secret Hello, world";
 *   blowfish(0, 0, buffer, 0, 0, 0);     // buffer: "+OK 26FVP/Vur1q.7J5YR0oj5Ks1"
 *
 * All five exports use the stdcall convention on 32-bit x86 (the callee removes its
 * arguments; the names are undecorated) and the platform's only convention
 * elsewhere. Calls from several threads at once are safe: the library keeps nothing
 * between calls.
 *
 * A program that links the library calls the C API at the end of this file instead:
 * the same cipher text, hash and digest over byte strings with explicit lengths, into
 * output the caller owns, without the limits of one reply line. liblupex.so, on
 * Windows liblupex-2.dll, and the static library liblupex_static.a carry it; lupex.dll
 * exports the five procedures only. A program that defines
 * LUPEX_API_ONLY before including this file gets the C API alone, without the names
 * of the five procedures (md5, blowfish, dllinfo, LoadDll, UnloadDll), which it may
 * then use for its own functions. Every other name here begins with lupex_ or LUPEX_.
 */
#ifndef LUPEX_H
#define LUPEX_H

#include <stddef.h>
#include <stdint.h>

/* The version of this header; lupex_version() gives the library's. Within one major
 * version the C API and the five procedures only grow: a program built against
 * 2.0.0 runs with any later 2.x.y library. */
#define LUPEX_VERSION_MAJOR 2
#define LUPEX_VERSION_MINOR 1
#define LUPEX_VERSION_PATCH 0
#define LUPEX_VERSION_STRING "2.1.0"

#if defined(_WIN32)
#define LUPEX_CALL __stdcall
#elif defined(__i386__)
#define LUPEX_CALL __attribute__((stdcall))
#else
#define LUPEX_CALL
#endif

/* Windows exports come from the module definition file; ELF builds hide everything
 * else and mark these five and the C API. */
#if !defined(_WIN32) && defined(LUPEX_BUILDING)
#define LUPEX_API __attribute__((visibility("default")))
#else
#define LUPEX_API
#endif

/* A function whose status the compiler warns about when the caller drops it. */
#if defined(__GNUC__) || defined(__clang__)
#define LUPEX_NODISCARD __attribute__((warn_unused_result))
#else
#define LUPEX_NODISCARD
#endif

#define LUPEX_PROC_RESULT 3
#define LUPEX_REPLY_MAX 1023
#define LUPEX_BUFFER_MIN 1024

#ifdef __cplusplus
extern "C" {
#endif

#ifndef LUPEX_API_ONLY

/* A procedure: the third argument is the host buffer; the other five belong to the
 * host and are never read. On 32-bit x86 they are six 32-bit values (24 bytes). */
typedef int(LUPEX_CALL *lupex_procedure)(void *host_a, void *host_b, char *buffer,
                                         void *host_d, int host_e, int host_f);

/* Lifecycle hooks: both do nothing; UnloadDll always returns 1. */
LUPEX_API void LUPEX_CALL LoadDll(void *load_info);
LUPEX_API int LUPEX_CALL UnloadDll(int reason);

/* "encrypt KEY TEXT", "decrypt KEY TEXT", "encrypt-cbc KEY TEXT", "decrypt-cbc KEY
 * CIPHERTEXT", "encpass PASSWORD". Words are separated by blanks; TEXT, CIPHERTEXT and
 * PASSWORD are the rest of the line, inner and trailing blanks kept (a CBC cipher
 * text's trailing blanks are ignored). Only the first 72 bytes of KEY or PASSWORD
 * count. A TEXT of more than 672 bytes to "encrypt", or of more than 752 bytes to
 * "encrypt-cbc", is refused ("-STRING String too long"): its cipher text would not fit
 * in one reply line; so is a decrypted plain text of more than 1,019 bytes. A malformed
 * CBC cipher text gets "-STRING Invalid String"; a failing random source
 * "-RANDOM Random source failed". */
LUPEX_API int LUPEX_CALL blowfish(void *host_a, void *host_b, char *buffer, void *host_d,
                                  int host_e, int host_f);

/* "+OK lupex.dll 20720 ..." whatever the buffer held, terminated or not: it reads and
 * writes nothing beyond the first LUPEX_BUFFER_MIN bytes. */
LUPEX_API int LUPEX_CALL dllinfo(void *host_a, void *host_b, char *buffer, void *host_d,
                                 int host_e, int host_f);

/* The MD5 digest of the whole buffer text as 32 lowercase hex digits. */
LUPEX_API int LUPEX_CALL md5(void *host_a, void *host_b, char *buffer, void *host_d,
                             int host_e, int host_f);

#endif /* LUPEX_API_ONLY */

/* The C API. Keys and passwords are any bytes, blanks and zero bytes included; only
 * the first 72 count. Every function that returns an int returns LUPEX_OK or one of the
 * errors below, checked in this order: the key, then the text, then `out`. On every
 * error nothing is written, neither to `out` nor to `*out_length`. `out_length` may be
 * null. The functions keep nothing between calls, so any number of threads may call
 * them at once; each wipes the key schedule it builds and clears the stack its work
 * used before it returns.
 * That clear holds by construction on x86-64, 32-bit x86, 64-bit ARM and s390x,
 * whatever the compiler and optimisation, and the call-used registers it may clobber
 * are zeroed too; built with GCC 11+ or clang 15+ for x86 or 64-bit ARM, every
 * function and export returns with all call-used registers zeroed. On other
 * processors the clear is best effort.
 *
 * Overlapping buffers: the encryption and decryption calls, ECB and CBC, refuse with
 * LUPEX_ERR_SPACE a call whose input shares any byte with the bytes of `out` that the
 * call would write (as many as the capacity function gives), and write nothing:
 * encryption or decryption in place is not done. A prepared key is input too: the
 * calls under one refuse, the same way, an `out` that shares any byte with *k.
 * lupex_key_setup takes key bytes that lie inside *k itself, and sets *k up from them
 * as from any other copy. The password hash and the digest read all their input before
 * they write: there `out` may overlap it. */
enum {
    LUPEX_OK = 0,
    LUPEX_ERR_KEY = -1,   /* key_length is 0, or the key is null; a prepared key that is
                             null or not prepared (never set up, wiped, or its setup
                             failed) */
    LUPEX_ERR_TEXT = -2,  /* an empty or null text or password, or null data with a
                             length; a text to encrypt that holds a zero byte, or whose
                             cipher text would not fit in size_t (the capacity function
                             gives 0); a malformed CBC cipher text */
    LUPEX_ERR_SPACE = -3, /* out is null, out_capacity is below what the capacity
                             function gives for the input's length, or out overlaps the
                             input */
    LUPEX_ERR_MEMORY = -4, /* reserved: this implementation allocates nothing */
    LUPEX_ERR_RANDOM = -5  /* the operating system's random source failed (CBC encryption
                              only); there is no fallback */
};

/* Bytes of the password hash and of the digest, terminator included. */
#define LUPEX_ENCPASS_SIZE 14
#define LUPEX_MD5_SIZE 33

/* A message in English for any code these functions return, and one for any other
 * value; never null, and the string is static. */
LUPEX_API const char *lupex_error_string(int code);

/* The library's version, "2.1.0" for this release: LUPEX_VERSION_STRING as the library
 * was built. */
LUPEX_API const char *lupex_version(void);

/* Bytes `out` needs for the cipher text of n bytes, terminator included:
 * 12 * ceil(n / 8) + 1, or 0 when that would overflow size_t. */
LUPEX_API size_t lupex_encrypt_capacity(size_t text_length);
/* Bytes `out` needs for the plain text of n cipher text characters, terminator
 * included: 8 * ceil(n / 12) + 1, never 0. The plain text may turn out shorter, but
 * every group is decrypted before its end is known, so this is asked for in any case.
 * A capacity of at least this much is always enough; one byte less is always refused,
 * whatever the result would have been. */
LUPEX_API size_t lupex_decrypt_capacity(size_t cipher_length);

/* The cipher text of `text` (text_length bytes, none of them zero) under `key`, as the
 * blowfish procedure gives it: each 8-byte block, the last one filled with zero bytes,
 * enciphered on its own and written as 12 characters of the alphabet
 * "./0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ". Writes the
 * characters and a terminator to `out`, and their number (the terminator not counted)
 * to *out_length. A text of any length is taken. A zero byte in it is refused:
 * decryption ends the text there, so the round trip would lose what follows. */
LUPEX_API LUPEX_NODISCARD int lupex_encrypt(const void *key, size_t key_length,
                                            const void *text, size_t text_length, char *out,
                                            size_t out_capacity, size_t *out_length);

/* The plain text of cipher text `cipher` (cipher_length characters; any bytes)
 * under `key`: each group of 12 characters gives 8 bytes, characters outside the
 * alphabet (zero bytes too) count as value 0, and a short last group is completed with
 * them. The plain text ends at the first zero byte of the decrypted bytes; `out`
 * receives it and a terminator, and the rest of its first
 * lupex_decrypt_capacity(cipher_length) bytes is zeroed, so nothing decrypted stays
 * behind the terminator. *out_length is the plain text's length. */
LUPEX_API LUPEX_NODISCARD int lupex_decrypt(const void *key, size_t key_length,
                                            const char *cipher, size_t cipher_length,
                                            char *out, size_t out_capacity,
                                            size_t *out_length);

/* The password hash, as "encpass" gives it: "+", 12 alphabet characters and a
 * terminator in `out` (LUPEX_ENCPASS_SIZE bytes). LUPEX_ERR_TEXT for an empty or null
 * password, LUPEX_ERR_SPACE for a null `out`. */
LUPEX_API LUPEX_NODISCARD int lupex_encpass(const void *password, size_t password_length,
                                            char out[LUPEX_ENCPASS_SIZE]);

/* The MD5 digest of `length` bytes at `data` as 32 lowercase hex digits and a
 * terminator in `out` (LUPEX_MD5_SIZE bytes), for any length, 0 included; `data` may be
 * null when `length` is 0. LUPEX_ERR_TEXT for null data with a length, LUPEX_ERR_SPACE
 * for a null `out`. */
LUPEX_API LUPEX_NODISCARD int lupex_md5(const void *data, size_t length,
                                        char out[LUPEX_MD5_SIZE]);

/* A prepared key: the key schedule run once, for a program that encrypts or decrypts
 * many texts under one key. Every lupex_encrypt or lupex_decrypt call runs the whole
 * schedule again, which costs as much as encrypting thousands of blocks.
 *
 * The struct is opaque: its size, lupex_key_size(), is all of it that belongs to the
 * API, and its members may change in any release. A program keeps it where it likes
 * (a binding allocates lupex_key_size() bytes, aligned as malloc aligns) and touches
 * it only through the functions below. lupex_key_setup marks it as prepared, last of
 * all; lupex_key_wipe removes the mark with everything else. The calls under a key
 * refuse one without the mark with LUPEX_ERR_KEY: a key never set up (zeroed, or
 * holding whatever its memory held), wiped, or whose setup failed. A prepared key may
 * be shared between threads for reading, and copied whole. It holds key material, so
 * the program wipes it with lupex_key_wipe when it is done, and no lupex function
 * does that for it. */
typedef struct lupex_key {
    struct {
        uint32_t words[18 + 4 * 256];
    } lupex_private_schedule;
    uint64_t lupex_private_tag;
} lupex_key;

/* sizeof(lupex_key): 4,176 bytes in this release. */
LUPEX_API size_t lupex_key_size(void);

/* Runs the key schedule of `key` into *k and marks it as prepared. LUPEX_ERR_KEY when
 * `k` is null, or when key_length is 0 or `key` is null: *k is then wiped, so that a
 * program that missed the error finds the calls under *k refused instead of run under
 * the key it held before. */
LUPEX_API LUPEX_NODISCARD int lupex_key_setup(lupex_key *k, const void *key,
                                              size_t key_length);

/* lupex_encrypt and lupex_decrypt under a prepared key: the same results, the same
 * errors (LUPEX_ERR_KEY for a null or unprepared `k`). They read *k and never change
 * it. */
LUPEX_API LUPEX_NODISCARD int lupex_encrypt_with(const lupex_key *k, const void *text,
                                                 size_t text_length, char *out,
                                                 size_t out_capacity, size_t *out_length);
LUPEX_API LUPEX_NODISCARD int lupex_decrypt_with(const lupex_key *k, const char *cipher,
                                                 size_t cipher_length, char *out,
                                                 size_t out_capacity, size_t *out_length);

/* Zeroes every byte of *k, its mark included, in a way the compiler cannot leave out.
 * A null `k` is ignored. */
LUPEX_API void lupex_key_wipe(lupex_key *k);

/* The CBC form (since 2.1.0), which several peers write by default: "*" and the
 * standard base64 (RFC 4648 section 4: A-Z a-z 0-9 + /, "=" padding) of IV, C1, ...,
 * Cn, where the text is filled with zero bytes to a multiple of 8 (nothing added when
 * it is one already), Ci = E(Pi xor C(i-1)) and C0 = IV. The IV is 8 new bytes from
 * the operating system's cryptographic random source for every encryption; when the
 * source fails, the call is refused with LUPEX_ERR_RANDOM. The key schedule is the ECB
 * form's. Equal texts and equal blocks no longer give equal cipher text; the form still
 * carries no integrity check, so a wrong key decrypts to other bytes with success.
 *
 * Bytes `out` needs for the CBC cipher text of n bytes, terminator included:
 * 1 + 4 * ceil((8 + 8 * ceil(n / 8)) / 3) + 1, or 0 when that would overflow size_t. */
LUPEX_API size_t lupex_encrypt_cbc_capacity(size_t text_length);
/* Bytes `out` needs for the plain text of any valid CBC cipher text of n characters,
 * terminator included: at most 3 * ceil(n / 4) + 1, never 0. As for
 * lupex_decrypt_capacity, this much is always enough, and one byte less is always
 * refused. */
LUPEX_API size_t lupex_decrypt_cbc_capacity(size_t cipher_length);

/* The CBC cipher text of `text` under `key`: the arguments, checks and results of
 * lupex_encrypt, with the CBC form's capacity, and LUPEX_ERR_RANDOM. */
LUPEX_API LUPEX_NODISCARD int lupex_encrypt_cbc(const void *key, size_t key_length,
                                                const void *text, size_t text_length,
                                                char *out, size_t out_capacity,
                                                size_t *out_length);

/* The plain text of CBC cipher text `cipher` under `key`. The cipher text may come with
 * or without its leading "*", with or without its "=" padding, and with blanks at its
 * end, which are ignored. It holds the IV and at least one whole block: decoded, 16
 * bytes or more and a multiple of 8. Anything else is malformed and refused with
 * LUPEX_ERR_TEXT: a character outside the base64 alphabet, a blank inside the text, a
 * length that no base64 text has, bits in the last character that no byte holds, a cut
 * block, an ECB cipher text. The plain text ends at the first zero byte; `out` receives
 * it and a terminator, and the rest of its first lupex_decrypt_cbc_capacity(cipher_length)
 * bytes is zeroed. */
LUPEX_API LUPEX_NODISCARD int lupex_decrypt_cbc(const void *key, size_t key_length,
                                                const char *cipher, size_t cipher_length,
                                                char *out, size_t out_capacity,
                                                size_t *out_length);

/* lupex_encrypt_cbc and lupex_decrypt_cbc under a prepared key, as lupex_encrypt_with and
 * lupex_decrypt_with are for the ECB form. */
LUPEX_API LUPEX_NODISCARD int lupex_encrypt_cbc_with(const lupex_key *k, const void *text,
                                                     size_t text_length, char *out,
                                                     size_t out_capacity,
                                                     size_t *out_length);
LUPEX_API LUPEX_NODISCARD int lupex_decrypt_cbc_with(const lupex_key *k, const char *cipher,
                                                     size_t cipher_length, char *out,
                                                     size_t out_capacity,
                                                     size_t *out_length);

#ifdef __cplusplus
}
#endif

#endif /* LUPEX_H */
