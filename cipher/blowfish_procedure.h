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

} // namespace lupex
