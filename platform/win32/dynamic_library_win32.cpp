#include <windows.h>

#include <string>

#include "platform/dynamic_library.h"

namespace pellvane::dynlib {

const char* dnssdLibraryName() {
    return "dnssd.dll";
}

void quietDnssdLibrary() {
    // Bonjour's library prints nothing of its own.
}

LibraryHandle open(const char* name) {
    // Library names are ASCII; the wide call uses the system's library search.
    std::wstring wide;
    for (const char* p = name; *p != '\0'; ++p) {
        wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*p)));
    }
    return LoadLibraryW(wide.c_str());
}

void* findSymbol(LibraryHandle library, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void close(LibraryHandle library) {
    FreeLibrary(static_cast<HMODULE>(library));
}

}  // namespace pellvane::dynlib
