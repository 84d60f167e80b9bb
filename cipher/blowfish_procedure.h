// The word splitter of the blowfish procedure.
#pragma once

// Skips `separator`s at *cursor, cuts the word that follows by overwriting the
// separator behind it with a terminator, skips the separators after it, and leaves
// *cursor on the first character of the remainder (or on the terminator). Returns the
// word, which is empty when the line is used up. The terminator always ends the line:
// with a separator of '\0' the whole line is one word.
char *next_word(char **cursor, char separator);
