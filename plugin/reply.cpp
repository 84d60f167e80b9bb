#include "plugin/reply.h"

#include <cstring>

#include "plugin/platform.h"

namespace lupex {

namespace {

// Copies `text` to `out`, stopping at `last` (where the terminator goes).
char *put(char *out, char *last, const char *text) {
    std::size_t n = std::strlen(text);
    if (n > static_cast<std::size_t>(last - out))
        n = static_cast<std::size_t>(last - out);
    std::memcpy(out, text, n);
    return out + n;
}

} // namespace

void reply_ok(char *buffer, const char *result) { reply_ok(buffer, result, std::strlen(result)); }

std::size_t reply_too_long(char *buffer) {
    static constexpr char line[] = "-STRING String too long";
    std::memcpy(buffer, line, sizeof line);
    return sizeof line - 1;
}

void reply_fail(char *buffer, const char *code, const char *message) {
    char *const last = buffer + REPLY_MAX;
    char *out = put(buffer, last, "-");
    out = put(out, last, code);
    out = put(out, last, " ");
    out = put(out, last, message);
    *out = '\0';
}

void clear_request_tail(char *buffer, std::size_t request_length) {
    clear_request_tail(buffer, request_length, std::strlen(buffer));
}

void clear_request_tail(char *buffer, std::size_t request_length, std::size_t reply_length) {
    if (request_length > reply_length + 1)
        wipe_memory(buffer + reply_length + 1, request_length - reply_length - 1);
}

} // namespace lupex
