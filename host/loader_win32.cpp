#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <windows.h>

#include <cstring>

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

// Reads the export directory of the mapped image: the name table maps each name to a
// slot of the address table, and the slot plus the ordinal base is the ordinal.
unsigned library_ordinal(Library *library, const char *name) {
    const auto *base = reinterpret_cast<const unsigned char *>(library);
    const auto *dos = reinterpret_cast<const IMAGE_DOS_HEADER *>(base);
    const auto *nt = reinterpret_cast<const IMAGE_NT_HEADERS *>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY &directory =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    if (directory.Size == 0)
        return 0;
    const auto *exports =
        reinterpret_cast<const IMAGE_EXPORT_DIRECTORY *>(base + directory.VirtualAddress);
    const auto *names = reinterpret_cast<const DWORD *>(base + exports->AddressOfNames);
    const auto *slots = reinterpret_cast<const WORD *>(base + exports->AddressOfNameOrdinals);
    for (DWORD i = 0; i < exports->NumberOfNames; ++i)
        if (std::strcmp(reinterpret_cast<const char *>(base + names[i]), name) == 0)
            return exports->Base + slots[i];
    return 0;
}

void library_close(Library *library) { FreeLibrary(reinterpret_cast<HMODULE>(library)); }

void set_binary_streams() {
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
}
