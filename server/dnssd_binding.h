// The DNS-SD client library, bound at run time. Each entry point forwards to the library's
// function of the same name, or returns a fixed failure value when the library or the
// function is missing, so that the servers run on without DNS-SD.
//
// Where the library cannot be loaded, the system's own DNS-SD service stands in when it has
// one (Windows 10 1903 and later): the same entry points then register, browse and resolve
// through it. Only a library that is missing altogether is replaced; one that lacks a
// function keeps the fixed failure value for that entry point.
#pragma once

#include <memory>

#include "platform/system_dnssd.h"
#include "server/dnssd_api.h"

namespace pellvane::dnssd {

// Loads the library by name (the platform's DNS-SD library unless a test names another),
// else opens the system's DNS-SD service. Called once when the process starts; the entry
// points fail until then.
void loadLibrary(const char* name = nullptr);
// The same, with `system` (null for none) standing in when the library is missing.
void loadLibrary(const char* name, std::unique_ptr<sysdnssd::SystemDnssd> system);
// Unloads both; every entry point fails afterwards.
void unloadLibrary();

// Loads the library for the lifetime of the object: the program's and the tests' main.
class LibraryScope {
  public:
    explicit LibraryScope(const char* name = nullptr) { loadLibrary(name); }
    LibraryScope(const char* name, std::unique_ptr<sysdnssd::SystemDnssd> system) {
        loadLibrary(name, std::move(system));
    }
    ~LibraryScope() { unloadLibrary(); }
    LibraryScope(const LibraryScope&) = delete;
    LibraryScope& operator=(const LibraryScope&) = delete;
};

DNSServiceErrorType DNSServiceRegister(DNSServiceRef* sdRef, DNSServiceFlags flags,
                                       std::uint32_t interfaceIndex, const char* name,
                                       const char* regtype, const char* domain, const char* host,
                                       std::uint16_t port, std::uint16_t txtLen,
                                       const void* txtRecord, DNSServiceRegisterReply callBack,
                                       void* context);
// -1 when the library or the function is missing.
std::intptr_t DNSServiceRefSockFD(DNSServiceRef sdRef);
DNSServiceErrorType DNSServiceProcessResult(DNSServiceRef sdRef);
void DNSServiceRefDeallocate(DNSServiceRef sdRef);

// For the client tool: -65537 when the library or the function is missing. Replies arrive
// through DNSServiceProcessResult on the returned reference.
DNSServiceErrorType DNSServiceBrowse(DNSServiceRef* sdRef, DNSServiceFlags flags,
                                     std::uint32_t interfaceIndex, const char* regtype,
                                     const char* domain, DNSServiceBrowseReply callBack,
                                     void* context);
DNSServiceErrorType DNSServiceResolve(DNSServiceRef* sdRef, DNSServiceFlags flags,
                                      std::uint32_t interfaceIndex, const char* name,
                                      const char* regtype, const char* domain,
                                      DNSServiceResolveReply callBack, void* context);
DNSServiceErrorType DNSServiceQueryRecord(DNSServiceRef* sdRef, DNSServiceFlags flags,
                                          std::uint32_t interfaceIndex, const char* fullname,
                                          std::uint16_t rrtype, std::uint16_t rrclass,
                                          DNSServiceQueryRecordReply callBack, void* context);

}  // namespace pellvane::dnssd
