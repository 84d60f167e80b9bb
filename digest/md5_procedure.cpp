// The md5 procedure: the digest of the whole buffer text, blanks and all.
#include <cstring>

#include "digest/digest.h"
#include "digest/md5_procedure.h"
#include "plugin/reply.h"
#include "plugin/stack_clear.h"

namespace {

// The two lowercase hex digits of every byte value, so a digest byte costs one lookup.
struct HexPairs {
    char digits[256][2];
};
constexpr HexPairs make_hex_pairs() {
    HexPairs pairs{};
    for (int v = 0; v < 256; ++v) {
        pairs.digits[v][0] = "0123456789abcdef"[v >> 4];
        pairs.digits[v][1] = "0123456789abcdef"[v & 0x0f];
    }
    return pairs;
}
constexpr HexPairs hex_pairs = make_hex_pairs();

} // namespace

[[gnu::noinline]] void md5_request(char *buffer) {
    if (buffer[0] == '\0') {
        // The code itself starts with a dash, so the line reads "--STRING ...".
        reply_fail(buffer, "-STRING", "Enter a string to encrypt");
        return;
    }
    const std::size_t length = std::strlen(buffer);
    DigestContext ctx;
    digest_init(&ctx);
    digest_update(&ctx, buffer, length);
    unsigned char digest[16];
    digest_final(digest, &ctx);

    char hex[32];
    for (int i = 0; i < 16; ++i) {
        hex[2 * i] = hex_pairs.digits[digest[i]][0];
        hex[2 * i + 1] = hex_pairs.digits[digest[i]][1];
    }
    const std::size_t reply_length = reply_ok(buffer, hex, sizeof hex);
    clear_request_tail(buffer, length, reply_length);
}

int LUPEX_CALL md5(void *, void *, char *buffer, void *, int, int) {
    if (buffer != nullptr) {
        md5_request(buffer);
        clear_stack(md5_stack_bytes);
    }
    return PROC_RESULT;
}
