#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <windows.h>

#include "loader.h"

std::string default_library_path() {
    char self[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, self, sizeof self);
    if (n == 0 || n == sizeof self)
        return "lupex.dll";
    std::string path(self, n);
    return path.substr(0, path.find_last_of("\\/") + 1) + "lupex.dll";
}

Library *library_open(const std::string &path, std::string &error) {
    HMODULE module = LoadLibraryA(path.c_str());
    if (module == nullptr)
        error = "LoadLibraryA failed with error " + std::to_string(GetLastError());
    return reinterpret_cast<Library *>(module);
}

void *library_symbol(Library *library, const char *name) {
    return reinterpret_cast<void *>(GetProcAddress(reinterpret_cast<HMODULE>(library), name));
}

void library_close(Library *library) { FreeLibrary(reinterpret_cast<HMODULE>(library)); }

void set_binary_streams() {
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
}
