// The blowfish procedure's work and its word splitter.
#pragma once

#include <cstddef>

namespace lupex {

// Skips `separator`s at *cursor, cuts the word that follows by overwriting the
// separator behind it with a terminator, skips the separators after it, and leaves
// *cursor on the first character of the remainder (or on the terminator). Returns the
// word, which is empty when the line is used up. The terminator always ends the line:
// with a separator of '\0' the whole line is one word.
char *next_word(char **cursor, char separator);

// The work of the blowfish export: reads the request in `buffer` (not null) and leaves
// the reply line there. Never inlined, so that the export can clear the stack it used.
[[gnu::noinline]] void blowfish_request(char *buffer);

// How deep blowfish_request goes below its caller's frame, with a margin: the bytes the
// export clears after it. Measured by painting (tests/stack_test.cpp), heap calls
// included: 4,600 bytes on x86-64 Linux (g++ and clang++; 4,924 at -O0), 4,600 on
// i386 Linux, 4,856 on 64-bit and 4,696 on 32-bit Windows (under Wine), 4,704 on
// 64-bit ARM and 5,080 on s390x Linux. The BoxSet in the text functions' frames is
// most of it.
constexpr std::size_t blowfish_stack_bytes = 6144;

} // namespace lupex
