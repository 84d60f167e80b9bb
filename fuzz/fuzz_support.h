// What the fuzz targets share: a call made the way a host makes it, with the buffer
// fenced off, the check of the reply line, and the cutting of fuzz input into texts.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include <sanitizer/asan_interface.h>

#include "lupex.h"
#include "plugin/heap_hooks.h"

// Stops the run; libFuzzer keeps the input that led here as a crash artifact.
[[noreturn]] inline void fuzz_fail(const char *what, const std::string &detail = {}) {
    std::fprintf(stderr, "\nfuzz check failed: %s\n%s\n", what, detail.c_str());
    std::abort();
}

inline void fuzz_check(bool ok, const char *what, const std::string &detail = {}) {
    if (!ok)
        fuzz_fail(what, detail);
}

// Bytes as hex, for failure messages about texts that need not be printable.
inline std::string hex_of(const std::string &bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char b : bytes) {
        hex += digits[b >> 4];
        hex += digits[b & 15];
    }
    return hex;
}

// "+OK " and any result, or one of the failure lines a procedure can leave, at most
// LUPEX_REPLY_MAX characters.
inline bool is_reply_line(const std::string &line) {
    static const char *const failures[] = {
        "-FUNC Unknown subfunction", "-KEY Invalid Key",         "-STRING Invalid String",
        "-STRING String too long",   "-MEMORY Out of memory",    "--STRING Enter a string to encrypt",
        "-RANDOM Random source failed",
    };
    if (line.size() > LUPEX_REPLY_MAX)
        return false;
    if (line.compare(0, 4, "+OK ") == 0)
        return true;
    for (const char *failure : failures)
        if (line == failure)
            return true;
    return false;
}

// A zero-terminated copy of `size` bytes in a heap block of exactly size + 1 bytes, so
// that AddressSanitizer reports any read past its terminator.
inline std::unique_ptr<char[]> exact_text(const void *data, std::size_t size) {
    std::unique_ptr<char[]> text(new char[size + 1]);
    std::memcpy(text.get(), data, size);
    text[size] = '\0';
    return text;
}

// Fuzz input as two zero-free texts: the bytes before the first zero byte, and those
// between it and the next zero byte (or the end).
struct TwoTexts {
    std::string first, second;
};

inline TwoTexts split_at_zero(const std::uint8_t *data, std::size_t size) {
    const char *begin = reinterpret_cast<const char *>(data);
    const std::size_t first = strnlen(begin, size);
    TwoTexts texts{std::string(begin, first), std::string()};
    if (first < size) {
        const char *rest = begin + first + 1;
        texts.second.assign(rest, strnlen(rest, size - first - 1));
    }
    return texts;
}

// Calls `procedure` as a host does: the `size` bytes of `request` and a terminator in a
// buffer of max(1,024, size + 1) bytes. Bytes behind a zero byte inside `request` stay
// in the buffer as leftovers the library must not touch. Guard bytes follow the
// buffer, poisoned so that AddressSanitizer stops at the first access, and checked
// afterwards as well. A procedure that does not read the request (dllinfo) gets a
// `reach` of LUPEX_BUFFER_MIN, and the buffer beyond that is fenced off the same way.
// Fails the run unless the reply is a reply line inside the buffer, what is left of
// the request behind it (within `reach`) reads as zero bytes, nothing behind both the
// request and the reply (or beyond `reach`) changed, and the call left no heap block
// behind. Returns the reply.
inline std::string call_guarded(lupex_procedure procedure, const void *request,
                                std::size_t size, std::size_t reach = SIZE_MAX) {
    constexpr std::size_t guard = 64;
    constexpr char guard_byte = '\x5a';
    const std::size_t capacity = size + 1 > LUPEX_BUFFER_MIN ? size + 1 : LUPEX_BUFFER_MIN;
    std::unique_ptr<char[]> buffer(new char[capacity + guard]);
    std::memset(buffer.get(), guard_byte, capacity + guard);
    std::memcpy(buffer.get(), request, size);
    buffer[size] = '\0';
    const std::string before(buffer.get(), capacity);
    const std::size_t request_length = strnlen(buffer.get(), capacity);
    reach = std::min(reach, capacity);

    const long live = lupex::heap_hooks_live_blocks();
    ASAN_POISON_MEMORY_REGION(buffer.get() + reach, capacity + guard - reach);
    const int result = procedure(nullptr, nullptr, buffer.get(), nullptr, 1, 0);
    ASAN_UNPOISON_MEMORY_REGION(buffer.get() + reach, capacity + guard - reach);

    fuzz_check(result == LUPEX_PROC_RESULT, "the procedure did not return 3");
    for (std::size_t i = capacity; i < capacity + guard; ++i)
        fuzz_check(buffer[i] == guard_byte, "the reply wrote past the buffer");
    fuzz_check(lupex::heap_hooks_live_blocks() == live, "the call left heap blocks behind");
    const std::size_t length = strnlen(buffer.get(), capacity);
    fuzz_check(length < capacity, "the reply has no terminator inside the buffer");
    std::string reply(buffer.get(), length);
    fuzz_check(is_reply_line(reply), "not a reply line", hex_of(reply));
    for (std::size_t i = std::min(std::max(length, request_length) + 1, reach); i < capacity; ++i)
        fuzz_check(buffer[i] == before[i], "a byte behind the request and the reply changed");
    for (std::size_t i = length; i <= request_length && i < reach; ++i)
        fuzz_check(buffer[i] == '\0', "a part of the request stays behind the reply");
    return reply;
}
