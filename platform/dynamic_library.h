// Optional libraries loaded at run time by name.
#pragma once

namespace pellvane::dynlib {

using LibraryHandle = void*;

// The DNS-SD client library's file name on this platform.
const char* dnssdLibraryName();

// Null when the library cannot be loaded.
LibraryHandle open(const char* name);
// Null when the library has no such symbol.
void* findSymbol(LibraryHandle library, const char* name);
void close(LibraryHandle library);

}  // namespace pellvane::dynlib
