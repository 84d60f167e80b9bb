#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <windows.h>

#include <cstring>

#include "loader.h"

namespace {

std::wstring widen(const std::string &utf8) {
    if (utf8.empty())
        return std::wstring();
    const int size = static_cast<int>(utf8.size());
    std::wstring wide(static_cast<std::size_t>(MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size,
                                                                   nullptr, 0)),
                      L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, &wide[0], static_cast<int>(wide.size()));
    return wide;
}

// False when `wide` holds a lone surrogate, which has no UTF-8 form.
bool to_utf8(const wchar_t *wide, std::string &utf8) {
    utf8.clear();
    if (*wide == L'\0')
        return true;
    const int size =
        WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide, -1, nullptr, 0, nullptr, nullptr);
    if (size == 0)
        return false;
    utf8.assign(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide, -1, &utf8[0], size, nullptr, nullptr);
    utf8.pop_back(); // the terminator
    return true;
}

// `wide` in the ANSI code page, or false when a character has no exact form there:
// WC_NO_BEST_FIT_CHARS keeps "Ā" from becoming "A", the used-default flag catches
// the "?" put in for a character the code page lacks.
bool to_ansi(const wchar_t *wide, int size, std::string &bytes) {
    BOOL used_default = FALSE;
    const int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, size, nullptr, 0,
                                      nullptr, &used_default);
    if (n <= 0 || used_default)
        return false;
    bytes.assign(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, size, &bytes[0], n, nullptr,
                        &used_default);
    return !used_default;
}

std::string system_message(DWORD code) {
    char *text = nullptr;
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, code, 0, reinterpret_cast<char *>(&text), 0, nullptr);
    std::string message = n != 0 ? std::string(text, n) : std::string("no description");
    LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == ' ' || message.back() == '.'))
        message.pop_back();
    // Messages about a file name it as "%1", an insert that only the caller can fill.
    for (std::size_t at; (at = message.find("%1")) != std::string::npos;)
        message.replace(at, 2, "the file");
    return "error " + std::to_string(code) + ": " + message;
}

// The machine field of a PE image's file header, or 0 when the file is no PE image.
unsigned pe_machine(const std::wstring &path) {
    FILE *file = _wfopen(path.c_str(), L"rb");
    if (file == nullptr)
        return 0;
    unsigned char dos[64], pe[6];
    unsigned machine = 0;
    if (fread(dos, 1, sizeof dos, file) == sizeof dos && dos[0] == 'M' && dos[1] == 'Z') {
        const long offset = static_cast<long>(dos[0x3c] | dos[0x3d] << 8 | dos[0x3e] << 16 |
                                              static_cast<unsigned>(dos[0x3f]) << 24);
        if (offset > 0 && fseek(file, offset, SEEK_SET) == 0 &&
            fread(pe, 1, sizeof pe, file) == sizeof pe && std::memcmp(pe, "PE\0\0", 4) == 0)
            machine = pe[4] | pe[5] << 8;
    }
    fclose(file);
    return machine;
}

// LoadLibrary's failures in the words a user acts on.
std::string load_error(const std::wstring &path, DWORD code) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return "not found";
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return "a folder, not a DLL";
    if (code == ERROR_BAD_EXE_FORMAT) {
        const unsigned machine = pe_machine(path);
        const unsigned bits = machine == IMAGE_FILE_MACHINE_I386    ? 32
                              : machine == IMAGE_FILE_MACHINE_AMD64 ? 64
                                                                    : 0;
        const unsigned host_bits = sizeof(void *) * 8;
        if (bits != 0 && bits != host_bits)
            return "a " + std::to_string(bits) +
                   "-bit DLL: use the one for this host's bitness (this lupex-host is " +
                   std::to_string(host_bits) + "-bit)";
        if (machine == 0)
            return "not a DLL";
    }
    if (code == ERROR_MOD_NOT_FOUND)
        return "a DLL that it needs was not found (" + system_message(code) + ")";
    return system_message(code);
}

} // namespace

// The command line as wide characters, so that no character is lost to the ANSI code
// page before the host decides how to pass it (command_line_bytes).
int wmain(int argc, wchar_t **argv) {
    std::vector<std::string> arguments(argc > 1 ? static_cast<std::size_t>(argc - 1) : 0);
    for (int i = 1; i < argc; ++i)
        if (!to_utf8(argv[i], arguments[static_cast<std::size_t>(i - 1)])) {
            std::fprintf(stderr,
                         "lupex-host: argument %d holds a lone UTF-16 surrogate, which is no "
                         "character: it cannot be passed\n",
                         i);
            return 2; // a request that cannot be passed
        }
    return host_main(arguments);
}

bool command_line_bytes(std::string &text, bool utf8, std::string &error) {
    if (utf8 || GetACP() == CP_UTF8 || text.empty())
        return true;
    const std::wstring wide = widen(text);
    std::string bytes;
    if (to_ansi(wide.data(), static_cast<int>(wide.size()), bytes)) {
        text = bytes;
        return true;
    }
    // Name the first character that has no exact form.
    for (std::size_t i = 0; i < wide.size();) {
        const std::size_t n = IS_HIGH_SURROGATE(wide[i]) && i + 1 < wide.size() ? 2 : 1;
        if (!to_ansi(&wide[i], static_cast<int>(n), bytes)) {
            const unsigned long code_point =
                n == 2 ? 0x10000 + ((wide[i] - 0xd800ul) << 10) + (wide[i + 1] - 0xdc00ul)
                       : wide[i];
            char name[16];
            std::snprintf(name, sizeof name, "U+%04lX", code_point);
            error = std::string("the buffer text holds ") + name +
                    ", which the ANSI code page (" + std::to_string(GetACP()) +
                    ") cannot hold exactly: --utf8 passes UTF-8 bytes, --hex any bytes";
            return false;
        }
        i += n;
    }
    error = "the buffer text cannot be converted to the ANSI code page (" +
            std::to_string(GetACP()) + "): --utf8 passes UTF-8 bytes, --hex any bytes";
    return false;
}

// As cmd.exe and the C runtime read it: in double quotes, a quote as \", and the
// backslashes in front of a quote or of the closing quote doubled.
std::string quote_argument(const std::string &argument, bool always) {
    static const char plain[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                "0123456789_-+=.,/:@\\";
    if (!always && !argument.empty() && argument.find_first_not_of(plain) == std::string::npos)
        return argument;
    std::string quoted = "\"";
    std::size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(2 * backslashes, '\\');
    return quoted + "\"";
}

std::string text_as_meant(const std::string &text) {
    if (text.size() >= 2 && text.front() == '\'' && text.back() == '\'')
        return text.substr(1, text.size() - 2);
    return text;
}

// cmd.exe's echo writes the rest of its line; ^ keeps a character that cmd.exe would
// read as its own from being read so.
std::string piped_into(const std::string &line, const std::string &command) {
    std::string echoed;
    for (char c : line) {
        if (std::strchr("&|<>^()", c) != nullptr)
            echoed += '^';
        echoed += c;
    }
    return "echo " + echoed + "| " + command;
}

const char *const library_file_example = ".\\lupex.dll";
// A pipe's left side runs in a cmd.exe of its own, whose command line holds the
// expanded key.
const char *const batch_pipe_example = "";

Library *library_find(std::string &path, std::string &error) {
    std::wstring self(32768, L'\0');
    const DWORD n = GetModuleFileNameW(nullptr, &self[0], static_cast<DWORD>(self.size()));
    std::string program;
    if (n == 0 || n == self.size() || !to_utf8(self.substr(0, n).c_str(), program)) {
        error = "this program's own location cannot be read (" +
                system_message(n == 0 ? GetLastError() : ERROR_INSUFFICIENT_BUFFER) +
                "), so it cannot load the lupex.dll beside itself; --library PATH names the file";
        return nullptr;
    }
    path = program.substr(0, program.find_last_of("\\/") + 1) + "lupex.dll";
    return library_open(path, error);
}

Library *library_open(const std::string &path, std::string &error) {
    // A full path: LoadLibrary would look a bare name up in the system folders and
    // PATH, and a relative path along the whole search path.
    const std::wstring wide = widen(path);
    std::wstring full(GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr), L'\0');
    if (full.empty() || GetFullPathNameW(wide.c_str(), static_cast<DWORD>(full.size()), &full[0],
                                         nullptr) == 0) {
        error = system_message(GetLastError());
        return nullptr;
    }
    full.resize(std::wcslen(full.c_str()));
    // LoadLibrary appends ".dll" to a file name without an extension; a trailing
    // dot tells it that the name is complete.
    std::wstring file = full;
    const std::size_t name = file.find_last_of(L"\\/") + 1;
    if (file.find(L'.', name) == std::wstring::npos)
        file += L'.';
    // No message box for a bad image or a missing drive: the host runs in scripts.
    const UINT old_mode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    HMODULE module = LoadLibraryExW(file.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    const DWORD code = GetLastError();
    SetErrorMode(old_mode);
    if (module == nullptr)
        error = load_error(full, code);
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

bool standard_input_is_terminal() { return _isatty(_fileno(stdin)) != 0; }
