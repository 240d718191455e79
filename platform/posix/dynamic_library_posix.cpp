#include <dlfcn.h>

#include <cstdlib>

#include "platform/dynamic_library.h"

namespace pellvane::dynlib {

const char* dnssdLibraryName() {
    return "libdns_sd.so.1";
}

void quietDnssdLibrary() {
    setenv("AVAHI_COMPAT_NOWARN", "1", 0);
}

LibraryHandle open(const char* name) {
    return dlopen(name, RTLD_NOW | RTLD_LOCAL);
}

void* findSymbol(LibraryHandle library, const char* name) {
    return dlsym(library, name);
}

void close(LibraryHandle library) {
    dlclose(library);
}

}  // namespace pellvane::dynlib
