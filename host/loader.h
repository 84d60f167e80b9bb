// What the host needs from the platform: load a library by path, find an export by
// name, and byte-exact standard streams.
#pragma once

#include <string>

#include "lupex.h"

struct Library;

// The library beside the host program: liblupex.so, or lupex.dll on Windows. An
// installed host (bin/) also finds liblupex.so in the installed library directory.
std::string default_library_path();

// Null on failure, with the platform's reason in `error`.
Library *library_open(const std::string &path, std::string &error);

// The export `name`, or null when the library has none of that name.
void *library_symbol(Library *library, const char *name);

// The ordinal under which the library exports `name`, or 0 when the library has no
// such export or its format has no ordinals (ELF).
unsigned library_ordinal(Library *library, const char *name);

void library_close(Library *library);

// Standard input and output carry bytes unchanged (no CR/LF translation).
void set_binary_streams();
