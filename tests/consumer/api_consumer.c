/* A C program of one's own that calls the C API of lupex.h: it encrypts a text of
 * 100,000 bytes under a key with blanks in it and decrypts it back, hashes the empty
 * text, offers one byte too few and finds its buffer untouched, and encrypts a
 * thousand lines under one prepared key. It builds against an installed lupex with
 * pkg-config's flags, as lupex::lupex or lupex::lupex_static with CMake, and on Windows
 * against liblupex_static.a or liblupex-2.dll's import library:
 *   cc api_consumer.c $(pkg-config --cflags --libs lupex) -o api_consumer
 * Prints one line for each check; exits with 0 when every one holds. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <lupex.h>

static int failures = 0;

static void check(const char *what, int ok) {
    printf("%s: %s\n", what, ok ? "ok" : "FAILED");
    failures += !ok;
}

int main(void) {
    static const char key[] = "a key with blanks";
    const size_t key_length = sizeof key - 1;
    const size_t n = 100000;
    char *text = malloc(n);
    char *cipher = malloc(lupex_encrypt_capacity(n));
    char *plain = malloc(lupex_decrypt_capacity(12 * ((n + 7) / 8)));
    size_t i, cipher_length = 0, plain_length = 0;
    if (text == NULL || cipher == NULL || plain == NULL)
        return 2;
    for (i = 0; i < n; ++i)
        text[i] = (char)(i % 7 == 3 ? ' ' : 33 + (i * 31 + i / 97) % 94);

    check("encrypt 100,000 bytes",
          lupex_encrypt(key, key_length, text, n, cipher, lupex_encrypt_capacity(n),
                        &cipher_length) == LUPEX_OK &&
              cipher_length == 150000 && strlen(cipher) == cipher_length);
    check("decrypt them back",
          lupex_decrypt(key, key_length, cipher, cipher_length, plain,
                        lupex_decrypt_capacity(cipher_length), &plain_length) == LUPEX_OK &&
              plain_length == n && memcmp(plain, text, n) == 0);

    {
        char out[25], hash[LUPEX_ENCPASS_SIZE], digest[LUPEX_MD5_SIZE];
        size_t length = 0;
        check("the blowfish procedure's cipher text",
              lupex_encrypt("secret", 6, "Hello, world", 12, out, sizeof out, &length) ==
                      LUPEX_OK &&
                  strcmp(out, "26FVP/Vur1q.7J5YR0oj5Ks1") == 0 && length == 24);
        check("its password hash", lupex_encpass("my password", 11, hash) == LUPEX_OK &&
                                       strcmp(hash, "+dOPeI/Zzs7N0") == 0);
        check("md5 of the empty text",
              lupex_md5(NULL, 0, digest) == LUPEX_OK &&
                  strcmp(digest, "d41d8cd98f00b204e9800998ecf8427e") == 0);
    }

    {
        /* 24 characters and the terminator need 25 bytes; 24 are offered. */
        char out[32];
        size_t length = 77;
        int untouched = 1;
        memset(out, '#', sizeof out);
        check("one byte too few is refused",
              lupex_encrypt("secret", 6, "Hello, world", 12, out, 24, &length) ==
                  LUPEX_ERR_SPACE);
        for (i = 0; i < sizeof out; ++i)
            untouched &= out[i] == '#';
        check("and the buffer is untouched", untouched && length == 77);
    }

    {
        /* A thousand lines under one prepared key, each as the one-shot call gives it
         * and each decrypting back. */
        lupex_key *k = malloc(sizeof *k);
        char line[64], out[128], back[128], one_shot[128];
        size_t length, back_length;
        int same = 1;
        if (k == NULL || lupex_key_setup(k, key, key_length) != LUPEX_OK)
            return 2;
        for (i = 0; i < 1000; ++i) {
            sprintf(line, "line %u of a thousand under one prepared key", (unsigned)i);
            same &= lupex_encrypt_with(k, line, strlen(line), out, sizeof out, &length) ==
                        LUPEX_OK &&
                    lupex_encrypt(key, key_length, line, strlen(line), one_shot,
                                  sizeof one_shot, NULL) == LUPEX_OK &&
                    strcmp(out, one_shot) == 0 &&
                    lupex_decrypt_with(k, out, length, back, sizeof back, &back_length) ==
                        LUPEX_OK &&
                    strcmp(back, line) == 0 && back_length == strlen(line);
        }
        lupex_key_wipe(k);
        free(k);
        check("a thousand lines under one prepared key", same);
    }

    free(text);
    free(cipher);
    free(plain);
    return failures == 0 ? 0 : 1;
}
