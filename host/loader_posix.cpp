#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "loader.h"

#ifndef LUPEX_LIBDIR_FROM_BINDIR
#define LUPEX_LIBDIR_FROM_BINDIR "../lib"
#endif

int main(int argc, char **argv) {
    return host_main(std::vector<std::string>(argv + 1, argv + argc));
}

// The shell hands over bytes; there is nothing to convert.
bool command_line_bytes(std::string &, bool, std::string &) { return true; }

std::string quote_argument(const std::string &argument) {
    static const char plain[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                "0123456789_-+=.,/:@%";
    if (!argument.empty() && argument.find_first_not_of(plain) == std::string::npos)
        return argument;
    std::string quoted = "'";
    for (char c : argument)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string default_library_path() {
    char self[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0)
        return "liblupex.so";
    std::string path(self, static_cast<std::size_t>(n));
    const std::string directory = path.substr(0, path.rfind('/') + 1);
    const std::string beside = directory + "liblupex.so";
    const std::string installed = directory + LUPEX_LIBDIR_FROM_BINDIR "/liblupex.so";
    // Beside the program in a build tree or an unpacked package; in the library
    // directory of an installed tree. A load failure names the first.
    if (access(beside.c_str(), F_OK) != 0 && access(installed.c_str(), F_OK) == 0)
        return installed;
    return beside;
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
