#include "platform/dynlib.h"

#include <dlfcn.h>

#include <cstring>

void* PlatLoadLibrary(const char* path) {
    // A relative name would be searched for along the library path.
    if (!path || path[0] != '/') return nullptr;
    return dlopen(path, RTLD_NOW | RTLD_LOCAL);
}

void* PlatLoadSystemLibrary(const char* name) {
    if (!name || !name[0] || strchr(name, '/')) return nullptr;
    return dlopen(name, RTLD_NOW | RTLD_LOCAL);
}

void* PlatGetProcAddress(void* library, const char* name) {
    if (!library || !name) return nullptr;
    return dlsym(library, name);
}

const char* PlatLibraryError() {
    const char* text = dlerror();
    return text ? text : "unknown error";
}

int PlatFreeLibrary(void* library) {
    if (!library) return 0;
    return dlclose(library) == 0 ? 1 : 0;
}
