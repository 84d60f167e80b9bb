// The md5 procedure: the digest of the whole buffer text, blanks and all.
#include <cstring>

#include "digest/digest.h"
#include "plugin/reply.h"

int LUPEX_CALL md5(void *, void *, char *buffer, void *, int, int) {
    if (buffer == nullptr)
        return PROC_RESULT;
    if (buffer[0] == '\0') {
        // The code itself starts with a dash, so the line reads "--STRING ...".
        reply_fail(buffer, "-STRING", "Enter a string to encrypt");
        return PROC_RESULT;
    }
    const std::size_t length = std::strlen(buffer);
    DigestContext ctx;
    digest_init(&ctx);
    digest_update(&ctx, buffer, length);
    unsigned char digest[16];
    digest_final(digest, &ctx);

    static constexpr char hex_digits[] = "0123456789abcdef";
    char hex[33];
    for (int i = 0; i < 16; ++i) {
        hex[2 * i] = hex_digits[digest[i] >> 4];
        hex[2 * i + 1] = hex_digits[digest[i] & 0x0f];
    }
    hex[32] = '\0';
    reply_ok(buffer, hex);
    clear_request_tail(buffer, length);
    return PROC_RESULT;
}
