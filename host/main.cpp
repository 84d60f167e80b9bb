// lupex-host: loads the library at run time, calls one export by name with a host
// buffer, and prints the reply line. It does none of the library's work itself.
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "loader.h"

#ifndef LUPEX_VERSION
#define LUPEX_VERSION "unknown"
#endif

namespace {

const char *const usage_text =
    "usage: lupex-host [OPTIONS] PROCEDURE [BUFFER-TEXT]\n"
    "       lupex-host [OPTIONS] --batch < REQUESTS\n"
    "       lupex-host [--library PATH] --list\n"
    "\n"
    "Loads the lupex library, calls PROCEDURE (blowfish, md5 or dllinfo) with a buffer\n"
    "holding BUFFER-TEXT exactly as given, blanks included, and prints the reply line.\n"
    "\n"
    "options:\n"
    "  --library PATH  the library to load (default: the one beside this program, or\n"
    "                  for an installed host the one in the installed library directory)\n"
    "  --batch         read one request a line from standard input, 'PROCEDURE BUFFER-TEXT'\n"
    "                  (one blank after the procedure name; the rest is the buffer text),\n"
    "                  and print one reply line for each\n"
    "  --hex           BUFFER-TEXT is given as hex digits (in batch mode too), for bytes\n"
    "                  a shell cannot pass easily\n"
    "  --hex-reply     print each reply as hex digits\n"
    "  --list          print the exports found in the library and their ordinals (an\n"
    "                  ELF library has none: there they are numbered as in lupex.dll)\n"
    "  --help          this text\n"
    "  --version       the host's version\n"
    "\n"
    "examples:\n"
    "  lupex-host blowfish 'encrypt secret Hello, world'\n"
    "  lupex-host blowfish 'decrypt secret <cipher text>'\n"
    "  lupex-host blowfish 'encpass my password'\n"
    "  lupex-host md5 'abc'\n"
    "  lupex-host --hex md5 616263\n"
    "  lupex-host --hex-reply blowfish 'decrypt wrong-key <cipher text>'\n"
    "  lupex-host --library ./lupex.dll --list\n"
    "  printf 'md5 abc\\ndllinfo \\n' | lupex-host --batch\n"
    "\n"
    "exit status: 0 when every call was made; 1 for bad usage; 2 when the library or an\n"
    "export cannot be found or a request is malformed; 3 when a reply overran the buffer.\n";

const char *const export_names[] = {"LoadDll", "UnloadDll", "blowfish", "dllinfo", "md5"};

// Bytes written behind the buffer and checked after every call.
constexpr std::size_t guard_bytes = 64;
constexpr unsigned char guard_value = 0xa5;

struct Options {
    std::string library;
    bool batch = false;
    bool hex_in = false;
    bool hex_out = false;
    bool list = false;
};

int fail(int status, const std::string &message) {
    std::cerr << "lupex-host: " << message << '\n';
    return status;
}

bool is_procedure_name(const std::string &name) {
    return name != "LoadDll" && name != "UnloadDll";
}

int hex_value(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool from_hex(const std::string &hex, std::string &bytes) {
    if (hex.size() % 2 != 0)
        return false;
    bytes.clear();
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        int hi = hex_value(hex[i]), lo = hex_value(hex[i + 1]);
        if (hi < 0 || lo < 0)
            return false;
        bytes.push_back(static_cast<char>(hi << 4 | lo));
    }
    return true;
}

void print_reply(const char *reply, bool hex) {
    if (hex) {
        static const char digits[] = "0123456789abcdef";
        for (const char *p = reply; *p != '\0'; ++p) {
            auto byte = static_cast<unsigned char>(*p);
            std::putchar(digits[byte >> 4]);
            std::putchar(digits[byte & 0x0f]);
        }
    } else {
        std::fwrite(reply, 1, std::strlen(reply), stdout);
    }
    std::putchar('\n');
}

// One call as a host makes it: a buffer of at least LUPEX_BUFFER_MIN bytes that
// holds the request, guard bytes behind it. Returns 0, or 3 when the reply ran past
// the buffer.
int call(lupex_procedure procedure, const std::string &request, bool hex_out) {
    const std::size_t capacity =
        request.size() + 1 > LUPEX_BUFFER_MIN ? request.size() + 1 : LUPEX_BUFFER_MIN;
    std::vector<char> buffer(capacity + guard_bytes, static_cast<char>(guard_value));
    std::memcpy(buffer.data(), request.data(), request.size());
    buffer[request.size()] = '\0';
    procedure(nullptr, nullptr, buffer.data(), nullptr, 1, 0);
    for (std::size_t i = capacity; i < buffer.size(); ++i)
        if (static_cast<unsigned char>(buffer[i]) != guard_value)
            return fail(3, "the reply ran past the end of the buffer");
    if (std::memchr(buffer.data(), '\0', capacity) == nullptr)
        return fail(3, "the reply has no terminator inside the buffer");
    print_reply(buffer.data(), hex_out);
    return 0;
}

lupex_procedure find_procedure(Library *library, const std::string &name, std::string &error) {
    if (!is_procedure_name(name)) {
        error = name + " is a lifecycle hook, not a procedure";
        return nullptr;
    }
    void *symbol = library_symbol(library, name.c_str());
    if (symbol == nullptr)
        error = "the library has no export named '" + name + "'";
    return reinterpret_cast<lupex_procedure>(symbol);
}

int run_batch(Library *library, const Options &options) {
    std::string line;
    while (std::getline(std::cin, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty())
            continue;
        const std::size_t blank = line.find(' ');
        const std::string name = line.substr(0, blank);
        std::string request = blank == std::string::npos ? std::string() : line.substr(blank + 1);
        if (options.hex_in && !from_hex(std::string(request), request))
            return fail(2, "request is not an even number of hex digits: " + line);
        std::string error;
        lupex_procedure procedure = find_procedure(library, name, error);
        if (procedure == nullptr)
            return fail(2, error);
        if (int status = call(procedure, request, options.hex_out))
            return status;
    }
    std::fflush(stdout);
    return 0;
}

// The ordinal comes from the library's export table where the format has one
// (Windows); an ELF library has none, so there each name gets the ordinal that
// lupex.def gives it.
int run_list(Library *library) {
    for (std::size_t i = 0; i < sizeof export_names / sizeof *export_names; ++i) {
        if (library_symbol(library, export_names[i]) == nullptr)
            continue;
        unsigned ordinal = library_ordinal(library, export_names[i]);
        std::printf("%u %s\n", ordinal != 0 ? ordinal : static_cast<unsigned>(i + 1),
                    export_names[i]);
    }
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    set_binary_streams();
    Options options;
    std::vector<std::string> words;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (!words.empty()) {
            words.push_back(arg); // the buffer text may itself begin with "--"
        } else if (arg == "--help" || arg == "-h") {
            std::fputs(usage_text, stdout);
            return 0;
        } else if (arg == "--version") {
            std::printf("lupex-host %s\n", LUPEX_VERSION);
            return 0;
        } else if (arg == "--library") {
            if (++i == argc)
                return fail(1, "--library needs a path\n" + std::string(usage_text));
            options.library = argv[i];
        } else if (arg == "--batch") {
            options.batch = true;
        } else if (arg == "--hex") {
            options.hex_in = true;
        } else if (arg == "--hex-reply") {
            options.hex_out = true;
        } else if (arg == "--list") {
            options.list = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            return fail(1, "unknown option " + arg + "\n" + usage_text);
        } else {
            words.push_back(arg);
        }
    }
    const bool one_call = !options.batch && !options.list;
    if (one_call ? (words.empty() || words.size() > 2) : !words.empty() ||
                                                             (options.batch && options.list))
        return fail(1, std::string("bad usage\n") + usage_text);

    if (options.library.empty())
        options.library = default_library_path();
    std::string error;
    Library *library = library_open(options.library, error);
    if (library == nullptr)
        return fail(2, "cannot load " + options.library + ": " + error);

    using load_hook = void(LUPEX_CALL *)(void *);
    using unload_hook = int(LUPEX_CALL *)(int);
    if (auto load = reinterpret_cast<load_hook>(library_symbol(library, "LoadDll")))
        load(nullptr);

    int status;
    if (options.list) {
        status = run_list(library);
    } else if (options.batch) {
        status = run_batch(library, options);
    } else {
        std::string request = words.size() == 2 ? words[1] : std::string();
        lupex_procedure procedure = find_procedure(library, words[0], error);
        if (procedure == nullptr)
            status = fail(2, error);
        else if (options.hex_in && !from_hex(std::string(request), request))
            status = fail(2, "BUFFER-TEXT is not an even number of hex digits");
        else
            status = call(procedure, request, options.hex_out);
    }

    if (auto unload = reinterpret_cast<unload_hook>(library_symbol(library, "UnloadDll")))
        unload(0);
    std::fflush(stdout);
    library_close(library);
    return status;
}
