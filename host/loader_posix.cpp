#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include "loader.h"

std::string default_library_path() {
    char self[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0)
        return "liblupex.so";
    std::string path(self, static_cast<std::size_t>(n));
    return path.substr(0, path.rfind('/') + 1) + "liblupex.so";
}

Library *library_open(const std::string &path, std::string &error) {
    void *handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr)
        error = dlerror();
    return static_cast<Library *>(handle);
}

void *library_symbol(Library *library, const char *name) { return dlsym(library, name); }

unsigned library_ordinal(Library *, const char *) { return 0; }

void library_close(Library *library) { dlclose(library); }

void set_binary_streams() {}
