/* A program of one's own whose names are also names that lupex uses: functions md5,
 * blowfish and clear_stack and a variable hex_pairs. With LUPEX_API_ONLY, lupex.h
 * declares none of them, so the program defines them as it likes; it links with the
 * shared and with the static library, lupex never calls the program's functions in
 * place of its own, and the C API gives the right answers. Built as C and, through
 * own_names.cpp, as C++: there `void clear_stack(unsigned long)` has the very name a
 * C++ function of lupex's once had. Prints one line for each check; exits with 0 when
 * every one holds. */
#define LUPEX_API_ONLY
#include <stdio.h>
#include <string.h>

#include <lupex.h>

int hex_pairs = 16;
static int own_calls = 0;

void clear_stack(unsigned long bytes) {
    own_calls += 1;
    (void)bytes;
}

const char *md5(const char *text) {
    own_calls += 1;
    return text;
}

int blowfish(int a, int b) {
    own_calls += 1;
    return a + b;
}

static int failures = 0;

static void check(const char *what, int ok) {
    printf("%s: %s\n", what, ok ? "ok" : "FAILED");
    failures += !ok;
}

int main(void) {
    char cipher[25], plain[17], hash[LUPEX_ENCPASS_SIZE], digest[LUPEX_MD5_SIZE];
    size_t length = 0;
    check("lupex_md5", lupex_md5("abc", 3, digest) == LUPEX_OK &&
                           strcmp(digest, "900150983cd24fb0d6963f7d28e17f72") == 0);
    check("lupex_encrypt", lupex_encrypt("secret", 6, "Hello, world", 12, cipher, sizeof cipher,
                                         &length) == LUPEX_OK &&
                               strcmp(cipher, "26FVP/Vur1q.7J5YR0oj5Ks1") == 0);
    check("lupex_decrypt", lupex_decrypt("secret", 6, cipher, length, plain, sizeof plain,
                                         &length) == LUPEX_OK &&
                               strcmp(plain, "Hello, world") == 0 && length == 12);
    check("lupex_encpass", lupex_encpass("my password", 11, hash) == LUPEX_OK &&
                               strcmp(hash, "+dOPeI/Zzs7N0") == 0);
    check("lupex_version", strcmp(lupex_version(), LUPEX_VERSION_STRING) == 0);
    check("lupex_error_string", strlen(lupex_error_string(LUPEX_ERR_KEY)) > 0);
    check("lupex called none of the program's functions", own_calls == 0);
    check("the program's own names are its own",
          strcmp(md5("mine"), "mine") == 0 && blowfish(2, 3) == 5 &&
              (clear_stack(8), own_calls == 3) && hex_pairs == 16);
    return failures == 0 ? 0 : 1;
}
