#include "server/dnssd_binding.h"

#include <atomic>

#include "platform/dynamic_library.h"
#include "server/dnssd_fallback.h"

namespace pellvane::dnssd {
namespace {

// Written when the process starts and ends, read by every server thread.
std::atomic<dynlib::LibraryHandle> libraryHandle{nullptr};
std::atomic<std::atomic<dynlib::LibraryHandle>*> libraryHandlePointer{nullptr};

// Looked up on first use. Two threads may look a function up at once; both store the
// same address, so the race is harmless, and the atomics keep it defined.
std::atomic<void*> registerCache{nullptr};
std::atomic<void*> sockFDCache{nullptr};
std::atomic<void*> processResultCache{nullptr};
std::atomic<void*> deallocateCache{nullptr};
std::atomic<void*> browseCache{nullptr};
std::atomic<void*> resolveCache{nullptr};
std::atomic<void*> queryRecordCache{nullptr};

// Set once the library has refused registration flags (see DNSServiceRegister).
std::atomic<bool> flagsRefused{false};

// The system's DNS-SD service, present only while the library is missing. Created and
// deleted when the process starts and ends, like the library handle.
std::atomic<DnssdFallback*> fallback{nullptr};

dynlib::LibraryHandle presentLibrary() {
    std::atomic<dynlib::LibraryHandle>* pointer = libraryHandlePointer.load();
    return pointer == nullptr ? nullptr : pointer->load();
}

// The library's function, or null when the library or the function is missing.
template <class Function>
Function resolve(std::atomic<void*>& cache, const char* name) {
    dynlib::LibraryHandle library = presentLibrary();
    if (library == nullptr) {
        cache.store(nullptr);
        return nullptr;
    }
    void* function = cache.load();
    if (function == nullptr) {
        function = dynlib::findSymbol(library, name);
        cache.store(function);
    }
    return reinterpret_cast<Function>(function);
}

// Avahi's compatibility library, known by a function of its own, refuses every
// registration flag and warns on standard error at each refusal, whatever the environment.
bool refusesEveryFlag(dynlib::LibraryHandle library) {
    return library != nullptr && dynlib::findSymbol(library, "avahi_warn_linkage") != nullptr;
}

bool openLibrary(const char* name) {
    dynlib::quietDnssdLibrary();
    const dynlib::LibraryHandle library =
        dynlib::open(name != nullptr ? name : dynlib::dnssdLibraryName());
    flagsRefused.store(refusesEveryFlag(library));
    libraryHandle.store(library);
    libraryHandlePointer.store(&libraryHandle);
    return library != nullptr;
}

void installFallback(std::unique_ptr<sysdnssd::SystemDnssd> system) {
    if (system != nullptr) {
        delete fallback.exchange(new DnssdFallback(std::move(system)));
    }
}

}  // namespace

void loadLibrary(const char* name) {
    if (!openLibrary(name)) {
        installFallback(sysdnssd::openSystemDnssd());
    }
}

void loadLibrary(const char* name, std::unique_ptr<sysdnssd::SystemDnssd> system) {
    if (!openLibrary(name)) {
        installFallback(std::move(system));
    }
}

void unloadLibrary() {
    delete fallback.exchange(nullptr);
    dynlib::LibraryHandle library = libraryHandle.exchange(nullptr);
    if (library != nullptr) {
        dynlib::close(library);
    }
    libraryHandlePointer.store(nullptr);
    flagsRefused.store(false);
    for (auto* cache : {&registerCache, &sockFDCache, &processResultCache, &deallocateCache,
                        &browseCache, &resolveCache, &queryRecordCache}) {
        cache->store(nullptr);
    }
}

DNSServiceErrorType DNSServiceRegister(DNSServiceRef* sdRef, DNSServiceFlags flags,
                                       std::uint32_t interfaceIndex, const char* name,
                                       const char* regtype, const char* domain, const char* host,
                                       std::uint16_t port, std::uint16_t txtLen,
                                       const void* txtRecord, DNSServiceRegisterReply callBack,
                                       void* context) {
    if (DnssdFallback* system = fallback.load()) {
        return system->registerService(sdRef, name, regtype, domain, host, port, callBack, context);
    }
    auto function = resolve<DNSServiceRegisterFunction>(registerCache, "DNSServiceRegister");
    if (function == nullptr) {
        return kDNSServiceErr_Unknown;
    }
    // A library that refuses the flags (Avahi's, peer-to-peer included) registers without
    // them, so after one refusal they are left out for good.
    if (flagsRefused.load()) {
        flags = 0;
    }
    DNSServiceErrorType result = function(sdRef, flags, interfaceIndex, name, regtype, domain, host,
                                          port, txtLen, txtRecord, callBack, context);
    if (result == kDNSServiceErr_Unsupported && flags != 0) {
        flagsRefused.store(true);
        result = function(sdRef, 0, interfaceIndex, name, regtype, domain, host, port, txtLen,
                          txtRecord, callBack, context);
    }
    return result;
}

std::intptr_t DNSServiceRefSockFD(DNSServiceRef sdRef) {
    if (const DnssdFallback* system = fallback.load()) {
        return system->socketOf(sdRef);
    }
    auto function = resolve<DNSServiceRefSockFDFunction>(sockFDCache, "DNSServiceRefSockFD");
    if (function == nullptr) {
        return -1;
    }
    const dnssd_sock_t socket = function(sdRef);
    // An invalid Windows SOCKET (all bits set) maps to -1 like a POSIX failure.
    return static_cast<std::intptr_t>(socket);
}

DNSServiceErrorType DNSServiceProcessResult(DNSServiceRef sdRef) {
    if (DnssdFallback* system = fallback.load()) {
        return system->processResult(sdRef);
    }
    auto function =
        resolve<DNSServiceProcessResultFunction>(processResultCache, "DNSServiceProcessResult");
    return function == nullptr ? kDNSServiceErr_Unknown : function(sdRef);
}

void DNSServiceRefDeallocate(DNSServiceRef sdRef) {
    if (DnssdFallback* system = fallback.load()) {
        system->deallocate(sdRef);
        return;
    }
    auto function =
        resolve<DNSServiceRefDeallocateFunction>(deallocateCache, "DNSServiceRefDeallocate");
    if (function != nullptr) {
        function(sdRef);
    }
}

DNSServiceErrorType DNSServiceBrowse(DNSServiceRef* sdRef, DNSServiceFlags flags,
                                     std::uint32_t interfaceIndex, const char* regtype,
                                     const char* domain, DNSServiceBrowseReply callBack,
                                     void* context) {
    if (DnssdFallback* system = fallback.load()) {
        return system->browse(sdRef, regtype, domain, callBack, context);
    }
    auto function = resolve<DNSServiceBrowseFunction>(browseCache, "DNSServiceBrowse");
    return function == nullptr
               ? kDNSServiceErr_Unknown
               : function(sdRef, flags, interfaceIndex, regtype, domain, callBack, context);
}

DNSServiceErrorType DNSServiceResolve(DNSServiceRef* sdRef, DNSServiceFlags flags,
                                      std::uint32_t interfaceIndex, const char* name,
                                      const char* regtype, const char* domain,
                                      DNSServiceResolveReply callBack, void* context) {
    if (DnssdFallback* system = fallback.load()) {
        return system->resolve(sdRef, name, regtype, domain, callBack, context);
    }
    auto function = resolve<DNSServiceResolveFunction>(resolveCache, "DNSServiceResolve");
    return function == nullptr
               ? kDNSServiceErr_Unknown
               : function(sdRef, flags, interfaceIndex, name, regtype, domain, callBack, context);
}

DNSServiceErrorType DNSServiceQueryRecord(DNSServiceRef* sdRef, DNSServiceFlags flags,
                                          std::uint32_t interfaceIndex, const char* fullname,
                                          std::uint16_t rrtype, std::uint16_t rrclass,
                                          DNSServiceQueryRecordReply callBack, void* context) {
    auto function =
        resolve<DNSServiceQueryRecordFunction>(queryRecordCache, "DNSServiceQueryRecord");
    return function == nullptr ? kDNSServiceErr_Unknown
                               : function(sdRef, flags, interfaceIndex, fullname, rrtype, rrclass,
                                          callBack, context);
}

}  // namespace pellvane::dnssd
