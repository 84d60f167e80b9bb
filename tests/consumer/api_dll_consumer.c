/* A Windows program of one's own on the C API of liblupex-2.dll, linked through an
 * import library: built with MinGW-w64 against liblupex-2.dll.a, and in MSVC mode
 * (clang-cl, no C runtime: tests/msvc/runtime.c) against the liblupex-2.lib that its
 * #pragma names. It calls every function of the C API:
 *   - each encrypt, decrypt, encrypt-cbc, decrypt-cbc, encpass and md5 row of the
 *     request table
 *     (replies_table.h, made by tests/replies_c_table.sh) gives the procedure's result,
 *     once with the key and once with a prepared key (a CBC encryption, whose IV is
 *     new each time, by its round trip);
 *   - refusals, each in its code, with nothing written to `out` or the length;
 *   - capacities, the key's size, the messages and the version.
 * Every output buffer has guard bytes behind its capacity. Prints a line for each
 * failure and exits with their number. Only puts from <stdio.h>, so that it builds
 * without a C runtime. */
#define LUPEX_API_ONLY
#include <stdio.h>

#include <lupex.h>

#include "replies_table.h"

#ifdef _MSC_VER
/* The import library named here, for link to find on its /LIBPATH. */
#pragma comment(lib, "liblupex-2.lib")
#endif

#define GUARD '\x5a'
#define LENGTH_MARK ((size_t)0x5a5a5a5a)
#define ROOM 2048

static int failures = 0;

static void failed(const char *what, const char *detail) {
    puts(what);
    puts(detail);
    ++failures;
}

static void copy(char *to, const char *from, size_t n) {
    while (n-- > 0)
        *to++ = *from++;
}

static size_t text_length(const char *s) {
    size_t n = 0;
    while (s[n] != '\0')
        ++n;
    return n;
}

static int same(const char *a, const char *b) {
    while (*a != '\0' && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b;
}

static int starts_with(const char *s, const char *prefix) {
    while (*prefix != '\0' && *s == *prefix) {
        ++s;
        ++prefix;
    }
    return *prefix == '\0';
}

/* The output of one call: `room` bytes of ROOM + 64, all guard bytes before the call. */
static char out[ROOM + 64];
static size_t out_length;

static void prepare_out(void) {
    size_t i;
    for (i = 0; i < sizeof out; ++i)
        out[i] = GUARD;
    out_length = LENGTH_MARK;
}

/* After a call that was given `capacity` bytes: nothing behind them changed; on an
 * error nothing at all changed; on success a terminator at the length. Returns
 * whether the call gave `expected` (LUPEX_OK: and the text `result`, if not null). */
static int check_out(const char *what, int code, int expected, size_t capacity,
                     const char *result, int has_length) {
    size_t i;
    for (i = capacity; i < sizeof out; ++i)
        if (out[i] != GUARD) {
            failed(what, "  wrote behind its capacity");
            return 0;
        }
    if (code != expected) {
        failed(what, code == LUPEX_OK ? "  succeeded" : lupex_error_string(code));
        return 0;
    }
    if (code != LUPEX_OK) {
        for (i = 0; i < capacity; ++i)
            if (out[i] != GUARD) {
                failed(what, "  refused but wrote to out");
                return 0;
            }
        if (out_length != LENGTH_MARK) {
            failed(what, "  refused but set the length");
            return 0;
        }
        return 1;
    }
    if (has_length && (out_length >= capacity || text_length(out) != out_length)) {
        failed(what, "  no terminator at the length it gave");
        return 0;
    }
    if (result != 0 && !same(out, result)) {
        failed(what, out);
        return 0;
    }
    return 1;
}

/* The procedure's way of cutting a word off the request: blanks before and after it
 * skipped, the word terminated in place. */
static char *next_word(char **cursor) {
    char *p = *cursor, *word;
    while (*p == ' ')
        ++p;
    word = p;
    while (*p != '\0' && *p != ' ')
        ++p;
    if (*p != '\0') {
        *p++ = '\0';
        while (*p == ' ')
            ++p;
    }
    *cursor = p;
    return word;
}

static lupex_key prepared;
static char line[ROOM], round_trip[ROOM];

/* lupex_encrypt or lupex_decrypt, then the same under a prepared key. */
static int cipher_call(int encrypting, const char *key, const char *text, int expected,
                 const char *result, const char *what) {
    const size_t n = text_length(text), k = text_length(key);
    const size_t capacity = encrypting ? lupex_encrypt_capacity(n) : lupex_decrypt_capacity(n);
    int code, ok;
    if (capacity > ROOM) {
        failed(what, "  too long for this program");
        return 0;
    }
    prepare_out();
    code = encrypting ? lupex_encrypt(key, k, text, n, out, capacity, &out_length)
                      : lupex_decrypt(key, k, text, n, out, capacity, &out_length);
    ok = check_out(what, code, expected, capacity, result, 1);
    if (expected == LUPEX_ERR_KEY) /* no key to prepare */
        return ok;
    if (lupex_key_setup(&prepared, key, k) != LUPEX_OK) {
        failed(what, "  lupex_key_setup refused the key");
        return 0;
    }
    prepare_out();
    code = encrypting ? lupex_encrypt_with(&prepared, text, n, out, capacity, &out_length)
                      : lupex_decrypt_with(&prepared, text, n, out, capacity, &out_length);
    lupex_key_wipe(&prepared);
    return check_out(what, code, expected, capacity, result, 1) && ok;
}

/* The same for the CBC form. Its encryption draws a new IV every time, so a success
 * is checked by its marker and by decrypting it back to `text`. */
static int cbc_call(int encrypting, const char *key, const char *text, int expected,
                    const char *result, const char *what) {
    const size_t n = text_length(text), k = text_length(key);
    const size_t capacity =
        encrypting ? lupex_encrypt_cbc_capacity(n) : lupex_decrypt_cbc_capacity(n);
    int code, ok, pass;
    if (capacity > ROOM) {
        failed(what, "  too long for this program");
        return 0;
    }
    for (pass = 0; pass < 2; ++pass) {
        prepare_out();
        if (pass == 0)
            code = encrypting ? lupex_encrypt_cbc(key, k, text, n, out, capacity, &out_length)
                              : lupex_decrypt_cbc(key, k, text, n, out, capacity, &out_length);
        else {
            if (lupex_key_setup(&prepared, key, k) != LUPEX_OK) {
                failed(what, "  lupex_key_setup refused the key");
                return 0;
            }
            code = encrypting
                       ? lupex_encrypt_cbc_with(&prepared, text, n, out, capacity, &out_length)
                       : lupex_decrypt_cbc_with(&prepared, text, n, out, capacity, &out_length);
            lupex_key_wipe(&prepared);
        }
        ok = check_out(what, code, expected, capacity, encrypting ? 0 : result, 1);
        if (ok && encrypting && code == LUPEX_OK) {
            size_t m = out_length;
            if (out[0] != '*') {
                failed(what, "  no \"*\" before the CBC cipher text");
                return 0;
            }
            copy(round_trip, out, m + 1);
            prepare_out();
            ok = check_out(what,
                           lupex_decrypt_cbc(key, k, round_trip, m, out,
                                             lupex_decrypt_cbc_capacity(m), &out_length),
                           LUPEX_OK, lupex_decrypt_cbc_capacity(m), text, 1);
        }
        if (!ok || expected == LUPEX_ERR_KEY) /* no key to prepare */
            return ok;
    }
    return 1;
}

static void request_table(void) {
    const char empty_digest[] = "d41d8cd98f00b204e9800998ecf8427e";
    unsigned i, checked = 0;
    for (i = 0; i < sizeof replies_table / sizeof replies_table[0]; ++i) {
        const char *procedure = replies_table[i].procedure, *reply = replies_table[i].reply;
        const int success = starts_with(reply, "+OK ");
        const char *result = success ? reply + 4 : 0;
        char *cursor = line, *command, *key;
        size_t n = text_length(replies_table[i].request);
        if (n >= sizeof line) {
            failed(replies_table[i].request, "  too long for this program");
            continue;
        }
        copy(line, replies_table[i].request, n + 1);
        if (same(procedure, "md5")) {
            /* The empty text, which the procedure turns away, has a digest here. */
            prepare_out();
            check_out(replies_table[i].request, lupex_md5(line, n, out), LUPEX_OK,
                      LUPEX_MD5_SIZE, success ? result : empty_digest, 0);
            ++checked;
            continue;
        }
        if (!same(procedure, "blowfish"))
            continue;
        command = next_word(&cursor);
        if (same(command, "encpass")) {
            prepare_out();
            check_out(replies_table[i].request,
                      lupex_encpass(cursor, text_length(cursor), out),
                      success ? LUPEX_OK : LUPEX_ERR_TEXT, LUPEX_ENCPASS_SIZE, result, 0);
            ++checked;
            continue;
        }
        if (same(command, "encrypt-cbc") || same(command, "decrypt-cbc")) {
            const int encrypting = same(command, "encrypt-cbc");
            key = next_word(&cursor);
            cbc_call(encrypting, key, cursor,
                     same(reply, "-KEY Invalid Key")          ? LUPEX_ERR_KEY
                     : same(reply, "-STRING Invalid String") ? LUPEX_ERR_TEXT
                                                              : LUPEX_OK,
                     result, replies_table[i].request);
            ++checked;
            continue;
        }
        if (!same(command, "encrypt") && !same(command, "decrypt"))
            continue; /* "-FUNC": no subcommand to choose here */
        key = next_word(&cursor);
        if (same(reply, "-KEY Invalid Key"))
            cipher_call(same(command, "encrypt"), key, cursor, LUPEX_ERR_KEY, 0,
                  replies_table[i].request);
        else if (same(reply, "-STRING Invalid String"))
            cipher_call(same(command, "encrypt"), key, cursor, LUPEX_ERR_TEXT, 0,
                  replies_table[i].request);
        else if (same(reply, "-STRING String too long")) {
            /* Too long for one reply line only: the whole cipher text, which decrypts. */
            if (cipher_call(1, key, cursor, LUPEX_OK, 0, replies_table[i].request)) {
                copy(round_trip, out, out_length + 1);
                cipher_call(0, key, round_trip, LUPEX_OK, cursor, replies_table[i].request);
            }
        } else
            cipher_call(same(command, "encrypt"), key, cursor, LUPEX_OK, result,
                  replies_table[i].request);
        ++checked;
    }
    if (checked < 35)
        failed("the request table", "  fewer than 35 rows checked");
}

static void refusals(void) {
    static lupex_key never_set_up; /* zeroed */
    const char text_with_zero[] = "te\0xt";
    const size_t hello = 12, cipher_room = 25; /* "Hello, world": 24 characters */

#define REFUSED(what, expected, capacity, call)            \
    do {                                                 \
        prepare_out();                                   \
        check_out(what, call, expected, capacity, 0, 1); \
    } while (0)

    REFUSED("an empty key", LUPEX_ERR_KEY, cipher_room,
            lupex_encrypt("secret", 0, "Hello, world", hello, out, cipher_room, &out_length));
    REFUSED("a null key", LUPEX_ERR_KEY, cipher_room,
            lupex_decrypt(0, 6, "26FVP/Vur1q.", 12, out, cipher_room, &out_length));
    REFUSED("a key and a text both wrong: the key first", LUPEX_ERR_KEY, cipher_room,
            lupex_encrypt(0, 0, 0, 0, 0, 0, &out_length));
    REFUSED("a zero byte in the text to encrypt", LUPEX_ERR_TEXT, cipher_room,
            lupex_encrypt("secret", 6, text_with_zero, 5, out, cipher_room, &out_length));
    REFUSED("an empty cipher text", LUPEX_ERR_TEXT, cipher_room,
            lupex_decrypt("secret", 6, "", 0, out, cipher_room, &out_length));
    REFUSED("one byte too few", LUPEX_ERR_SPACE, cipher_room - 1,
            lupex_encrypt("secret", 6, "Hello, world", hello, out, cipher_room - 1, &out_length));
    REFUSED("out overlapping the text", LUPEX_ERR_SPACE, cipher_room,
            lupex_encrypt("secret", 6, out + 8, hello, out, cipher_room, &out_length));
    REFUSED("a key never set up", LUPEX_ERR_KEY, cipher_room,
            lupex_encrypt_with(&never_set_up, "Hello, world", hello, out, cipher_room,
                               &out_length));
    REFUSED("a null prepared key", LUPEX_ERR_KEY, cipher_room,
            lupex_decrypt_with(0, "26FVP/Vur1q.", 12, out, cipher_room, &out_length));
    REFUSED("a CBC cipher text one byte too few", LUPEX_ERR_SPACE,
            lupex_decrypt_cbc_capacity(24) - 1,
            lupex_decrypt_cbc("sixteen-byte-key", 16, "AAECAwQFBgfLSrHrInMFRg==", 24, out,
                              lupex_decrypt_cbc_capacity(24) - 1, &out_length));
    REFUSED("a CBC text one byte too few", LUPEX_ERR_SPACE, lupex_encrypt_cbc_capacity(12) - 1,
            lupex_encrypt_cbc("secret", 6, "Hello, world", hello, out,
                              lupex_encrypt_cbc_capacity(12) - 1, &out_length));
    REFUSED("an ECB cipher text to the CBC form", LUPEX_ERR_TEXT, cipher_room,
            lupex_decrypt_cbc("secret", 6, "26FVP/Vur1q.7J5YR0oj5Ks1", 24, out, cipher_room,
                              &out_length));
    REFUSED("a CBC key never set up", LUPEX_ERR_KEY, cipher_room,
            lupex_decrypt_cbc_with(&never_set_up, "AAECAwQFBgfLSrHrInMFRg==", 24, out,
                                   cipher_room, &out_length));
    REFUSED("an empty password", LUPEX_ERR_TEXT, LUPEX_ENCPASS_SIZE, lupex_encpass("", 0, out));
    REFUSED("null data with a length", LUPEX_ERR_TEXT, LUPEX_MD5_SIZE, lupex_md5(0, 3, out));
    REFUSED("a null out for the digest", LUPEX_ERR_SPACE, 0, lupex_md5("abc", 3, 0));
#undef REFUSED

    /* A wiped key and one whose setup failed are refused as well. */
    if (lupex_key_setup(&prepared, "secret", 6) != LUPEX_OK)
        failed("lupex_key_setup", "  refused a key");
    lupex_key_wipe(&prepared);
    prepare_out();
    check_out("a wiped key", lupex_encrypt_with(&prepared, "Hello, world", hello, out,
                                                cipher_room, &out_length),
              LUPEX_ERR_KEY, cipher_room, 0, 1);
    if (lupex_key_setup(&prepared, "secret", 6) != LUPEX_OK ||
        lupex_key_setup(&prepared, "secret", 0) != LUPEX_ERR_KEY)
        failed("lupex_key_setup", "  an empty key was not refused");
    prepare_out();
    check_out("a key whose setup failed", lupex_decrypt_with(&prepared, "26FVP/Vur1q.", 12, out,
                                                             cipher_room, &out_length),
              LUPEX_ERR_KEY, cipher_room, 0, 1);
    lupex_key_wipe(0); /* ignored */
}

static void sizes_and_strings(void) {
    const int codes[] = {LUPEX_OK, LUPEX_ERR_KEY, LUPEX_ERR_TEXT, LUPEX_ERR_SPACE,
                         LUPEX_ERR_MEMORY, LUPEX_ERR_RANDOM};
    unsigned i, j;
    if (lupex_encrypt_capacity(12) != 25 || lupex_encrypt_capacity(0) != 1 ||
        lupex_encrypt_capacity((size_t)-1) != 0)
        failed("lupex_encrypt_capacity", "  not 12 * ceil(n / 8) + 1, or 0 on overflow");
    if (lupex_decrypt_capacity(24) != 17 || lupex_decrypt_capacity(25) != 25)
        failed("lupex_decrypt_capacity", "  not 8 * ceil(n / 12) + 1");
    if (lupex_encrypt_cbc_capacity(12) != 34 || lupex_encrypt_cbc_capacity(16) != 34 ||
        lupex_encrypt_cbc_capacity((size_t)-1) != 0)
        failed("lupex_encrypt_cbc_capacity", "  not 1 + 4 * ceil((8 + 8 * ceil(n / 8)) / 3) + 1");
    if (lupex_decrypt_cbc_capacity(24) < 9 || lupex_decrypt_cbc_capacity(24) > 19)
        failed("lupex_decrypt_cbc_capacity", "  not between 9 and 3 * ceil(n / 4) + 1");
    if (lupex_key_size() != sizeof(lupex_key))
        failed("lupex_key_size", "  not sizeof(lupex_key)");
    if (!same(lupex_version(), LUPEX_VERSION_STRING))
        failed("lupex_version", lupex_version());
    for (i = 0; i < sizeof codes / sizeof codes[0]; ++i)
        for (j = 0; j < i; ++j)
            if (same(lupex_error_string(codes[i]), lupex_error_string(codes[j])))
                failed("lupex_error_string", "  two codes with one message");
    if (!same(lupex_error_string(LUPEX_OK), "Success") ||
        !same(lupex_error_string(12345), "Unknown lupex error code"))
        failed("lupex_error_string", "  not the messages of lupex.h");
}

int main(void) {
    request_table();
    refusals();
    sizes_and_strings();
    puts(failures == 0 ? "C API through liblupex-2.dll: every function ok" : "C API: failures");
    return failures;
}
