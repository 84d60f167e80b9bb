#include <dlfcn.h>
#include <limits.h>
#include <link.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "loader.h"

#ifndef LUPEX_LIBDIR_FROM_BINDIR
#define LUPEX_LIBDIR_FROM_BINDIR "../lib"
#endif
#ifndef LUPEX_SONAME
#error "LUPEX_SONAME: the library's SONAME, as the build gives it"
#endif

int main(int argc, char **argv) {
    return host_main(std::vector<std::string>(argv + 1, argv + argc));
}

// The shell hands over bytes; there is nothing to convert.
bool command_line_bytes(std::string &, bool, std::string &) { return true; }

std::string quote_argument(const std::string &argument, bool always) {
    static const char plain[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                "0123456789_-+=.,/:@%";
    if (!always && !argument.empty() && argument.find_first_not_of(plain) == std::string::npos)
        return argument;
    std::string quoted = "'";
    for (char c : argument)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string text_as_meant(const std::string &text) { return text; }

std::string piped_into(const std::string &line, const std::string &command) {
    return "printf '%s\\n' " + quote_argument(line) + " | " + command;
}

const char *const library_file_example = "./" LUPEX_SONAME;
const char *const batch_pipe_example =
    "printf 'blowfish encrypt %s %s\\n' \"$key\" \"$text\" | lupex-host --batch";

Library *library_find(std::string &path, std::string &error) {
    const char *const names[] = {LUPEX_SONAME, "liblupex.so"};
    std::string looked;
    char self[PATH_MAX];
    errno = 0;
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self);
    if (n > 0 && static_cast<std::size_t>(n) < sizeof self) {
        const std::string program(self, static_cast<std::size_t>(n));
        const std::string directory = program.substr(0, program.rfind('/') + 1);
        // Beside the program in a build tree or an unpacked package; in the library
        // directory of an installed tree.
        const std::string folders[] = {directory, directory + LUPEX_LIBDIR_FROM_BINDIR "/"};
        for (const std::string &folder : folders)
            for (const char *name : names) {
                const std::string file = folder + name;
                if (access(file.c_str(), F_OK) == 0) {
                    path = file;
                    return library_open(file, error);
                }
            }
        looked = std::string("no ") + names[0] + " or " + names[1] + " in " + folders[0] +
                 " or " + folders[1];
    } else {
        looked = "this program's own location cannot be read (/proc/self/exe: " +
                 std::string(n < 0 ? std::strerror(errno) : "path too long") +
                 "), so it cannot look beside itself";
    }
    // A name without a slash: the dynamic linker searches LD_LIBRARY_PATH and the
    // system's library folders for it.
    if (void *handle = dlopen(LUPEX_SONAME, RTLD_NOW | RTLD_LOCAL)) {
        link_map *map = nullptr;
        path = dlinfo(handle, RTLD_DI_LINKMAP, &map) == 0 && map != nullptr && map->l_name[0] != '\0'
                   ? map->l_name
                   : LUPEX_SONAME;
        return static_cast<Library *>(handle);
    }
    error = looked + "; and the dynamic linker finds no " LUPEX_SONAME " (" + dlerror() +
            "); --library PATH names the file";
    return nullptr;
}

Library *library_open(const std::string &path, std::string &error) {
    // dlopen searches the system's library path for a name without a slash.
    const std::string file = path.find('/') == std::string::npos ? "./" + path : path;
    if (access(file.c_str(), F_OK) != 0) {
        error = errno == ENOENT ? std::string("not found") : std::strerror(errno);
        return nullptr;
    }
    void *handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        error = dlerror();
        // A Windows image starts with "MZ"; dlopen would only call its header invalid.
        char magic[2] = {};
        if (FILE *f = std::fopen(file.c_str(), "rb")) {
            if (std::fread(magic, 1, 2, f) == 2 && magic[0] == 'M' && magic[1] == 'Z')
                error = "a Windows DLL: on Linux load liblupex.so";
            std::fclose(f);
        }
    }
    return static_cast<Library *>(handle);
}

void *library_symbol(Library *library, const char *name) { return dlsym(library, name); }

unsigned library_ordinal(Library *, const char *) { return 0; }

void library_close(Library *library) { dlclose(library); }

void set_binary_streams() {}

bool standard_input_is_terminal() { return isatty(STDIN_FILENO) != 0; }
