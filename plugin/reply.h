// The reply line every procedure leaves in the host buffer, written from its first
// byte: "+OK <result>" or "-<code> <message>".
#pragma once

#include <cstddef>
#include <cstring>

#include "lupex.h"

namespace lupex {

constexpr int PROC_RESULT = LUPEX_PROC_RESULT;

// Longest reply line, terminator not counted. Hosts are promised that a reply never
// needs more than 1,024 bytes.
constexpr std::size_t REPLY_MAX = LUPEX_REPLY_MAX;

// Longest result that a success reply holds: REPLY_MAX less "+OK ".
constexpr std::size_t REPLY_RESULT_MAX = REPLY_MAX - 4;

// "-", `code`, a blank and `message`, cut at REPLY_MAX characters.
void reply_fail(char *buffer, const char *code, const char *message);

// "-STRING String too long", the reply to a result longer than REPLY_RESULT_MAX;
// returns the length of the line.
std::size_t reply_too_long(char *buffer);

// "+OK " and `result`, the one writer of success replies. A result longer than
// REPLY_RESULT_MAX is refused with reply_too_long instead of cut: a cut cipher text
// no longer decrypts, and a cut plain text is not the plain text. `result` must not
// overlap `buffer`.
void reply_ok(char *buffer, const char *result);

// The same for a result of `length` characters, none of them a terminator; returns the
// length of the line. Spares a scan of a result just written, and a constant `length`
// makes the copy a few moves.
inline std::size_t reply_ok(char *buffer, const char *result, std::size_t length) {
    if (length > REPLY_RESULT_MAX)
        return reply_too_long(buffer);
    std::memcpy(buffer, "+OK ", 4);
    std::memcpy(buffer + 4, result, length);
    buffer[4 + length] = '\0';
    return 4 + length;
}

// Zeroes what is left of a request of `request_length` characters behind the reply
// line written over it, so that no part of a key, password or text stays in the
// host's buffer after the call. Writes only inside the request's own extent.
void clear_request_tail(char *buffer, std::size_t request_length);

// The same when the reply line's length is known.
void clear_request_tail(char *buffer, std::size_t request_length, std::size_t reply_length);

} // namespace lupex
