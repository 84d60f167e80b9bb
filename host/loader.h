// What the host needs from the platform: its command line, load a library by path,
// find an export by name, and byte-exact standard streams. main.cpp holds the rest
// and no platform code; each platform file holds the program's entry point.
#pragma once

#include <string>
#include <vector>

#include "lupex.h"

struct Library;

// The host proper, called by the platform's entry point with the arguments after the
// program name: the bytes as given on POSIX, UTF-8 on Windows (the command line is
// read as wide characters). Returns the exit status.
int host_main(const std::vector<std::string> &arguments);

// Turns a command-line argument, as host_main receives it, into the bytes that a
// call passes to the library. POSIX: unchanged. Windows: the ANSI code page, or
// UTF-8 when `utf8` is set; a character the code page cannot hold exactly (no best
// fit, no default character) makes it false, with the reason in `error`.
bool command_line_bytes(std::string &text, bool utf8, std::string &error);

// `argument` as it would be typed to this platform's usual command shell: unchanged
// when it needs no quoting (unless `always`), else in single quotes (POSIX) or double
// quotes (cmd.exe).
std::string quote_argument(const std::string &argument, bool always = false);

// A buffer text, joined from the words that the shell split it into, as the user
// meant it: cmd.exe takes single quotes as characters, so on Windows a text quoted
// as for a POSIX shell ('...') arrives with them, and a hint leaves them out. POSIX:
// unchanged.
std::string text_as_meant(const std::string &text);

// The command line that feeds `line` and a line feed to `command` through a pipe in
// this platform's usual shell.
std::string piped_into(const std::string &line, const std::string &command);

// For the help's examples: the library file in the current folder as --library takes
// it, and a batch fed through a pipe by a shell built-in, which keeps the key out of
// the process list (empty where the shell has no such built-in).
extern const char *const library_file_example;
extern const char *const batch_pipe_example;

// The library when no path is given. POSIX: the first of liblupex.so.N (the
// SONAME) and liblupex.so that exists beside the host program (a build tree), then
// in the library directory of its own install; else the SONAME through the dynamic
// linker's own search (never the current folder, unless LD_LIBRARY_PATH names it).
// Windows: lupex.dll beside the host program. `path` becomes the file loaded, or
// the file that was found but failed to load; when no file was found it stays
// empty and `error` says where the host looked.
Library *library_find(std::string &path, std::string &error);

// `path` is a file path (UTF-8 on Windows); a bare file name is a file in the current
// folder, never looked up in the system's library search path. Null on failure, with
// the reason in words in `error`.
Library *library_open(const std::string &path, std::string &error);

// The export `name`, or null when the library has none of that name.
void *library_symbol(Library *library, const char *name);

// The ordinal under which the library exports `name`, or 0 when the library has no
// such export or its format has no ordinals (ELF).
unsigned library_ordinal(Library *library, const char *name);

void library_close(Library *library);

// Standard input and output carry bytes unchanged (no CR/LF translation).
void set_binary_streams();

// Whether standard input is a terminal rather than a file or a pipe.
bool standard_input_is_terminal();
