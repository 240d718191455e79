// Optional libraries loaded at run time by name.
#pragma once

namespace pellvane::dynlib {

using LibraryHandle = void*;

// The DNS-SD client library's file name on this platform.
const char* dnssdLibraryName();
// Called before that library is loaded: keeps it from printing notices about itself on
// standard error (Avahi's compatibility library warns at its first call that it is one
// unless AVAHI_COMPAT_NOWARN is set). A value the user has set is kept.
void quietDnssdLibrary();

// Null when the library cannot be loaded.
LibraryHandle open(const char* name);
// Null when the library has no such symbol.
void* findSymbol(LibraryHandle library, const char* name);
void close(LibraryHandle library);

}  // namespace pellvane::dynlib
