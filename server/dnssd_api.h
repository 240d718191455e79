// The part of the public DNS-SD programming interface that the servers use, declared once
// so that every function pointer is typed from the same declaration.
#pragma once

#include <cstdint>

#if defined(_WIN32)
#define DNSSD_API __stdcall
#else
#define DNSSD_API
#endif

namespace pellvane::dnssd {

struct DNSServiceOpaque;  // opaque to clients
using DNSServiceRef = DNSServiceOpaque*;
using DNSServiceFlags = std::uint32_t;
using DNSServiceErrorType = std::int32_t;

#if defined(_WIN32)
using dnssd_sock_t = std::uintptr_t;  // SOCKET: 64 bits on Windows x64
#else
using dnssd_sock_t = int;
#endif

inline constexpr DNSServiceErrorType kDNSServiceErr_NoError = 0;
inline constexpr DNSServiceErrorType kDNSServiceErr_Unknown = -65537;
inline constexpr DNSServiceErrorType kDNSServiceErr_Unsupported = -65544;
// The instance name is already in use on the network.
inline constexpr DNSServiceErrorType kDNSServiceErr_NameConflict = -65548;
// The DNS-SD daemon does not answer (stopped, restarting).
inline constexpr DNSServiceErrorType kDNSServiceErr_ServiceNotRunning = -65563;
inline constexpr DNSServiceFlags kDNSServiceFlagsIncludeP2P = 0x20000;
// Browse replies: more replies are already waiting; the instance appeared (else it went).
inline constexpr DNSServiceFlags kDNSServiceFlagsMoreComing = 0x1;
inline constexpr DNSServiceFlags kDNSServiceFlagsAdd = 0x2;
// Record queries: the class and the two address record types.
inline constexpr std::uint16_t kDNSServiceClass_IN = 1;
inline constexpr std::uint16_t kDNSServiceType_A = 1;
inline constexpr std::uint16_t kDNSServiceType_AAAA = 28;

using DNSServiceRegisterReply = void(DNSSD_API*)(DNSServiceRef sdRef, DNSServiceFlags flags,
                                                 DNSServiceErrorType errorCode, const char* name,
                                                 const char* regtype, const char* domain,
                                                 void* context);

// What only the client tool uses: browsing, resolving and record queries.
using DNSServiceBrowseReply = void(DNSSD_API*)(DNSServiceRef sdRef, DNSServiceFlags flags,
                                               std::uint32_t interfaceIndex,
                                               DNSServiceErrorType errorCode,
                                               const char* serviceName, const char* regtype,
                                               const char* replyDomain, void* context);
// `port` is in network byte order.
using DNSServiceResolveReply = void(DNSSD_API*)(DNSServiceRef sdRef, DNSServiceFlags flags,
                                                std::uint32_t interfaceIndex,
                                                DNSServiceErrorType errorCode, const char* fullname,
                                                const char* hosttarget, std::uint16_t port,
                                                std::uint16_t txtLen,
                                                const unsigned char* txtRecord, void* context);

// `rdata` holds `rdlen` bytes of the record's data as they came from the network.
using DNSServiceQueryRecordReply = void(DNSSD_API*)(DNSServiceRef sdRef, DNSServiceFlags flags,
                                                    std::uint32_t interfaceIndex,
                                                    DNSServiceErrorType errorCode,
                                                    const char* fullname, std::uint16_t rrtype,
                                                    std::uint16_t rrclass, std::uint16_t rdlen,
                                                    const void* rdata, std::uint32_t ttl,
                                                    void* context);

using DNSServiceRegisterFunction = DNSServiceErrorType(DNSSD_API*)(
    DNSServiceRef* sdRef, DNSServiceFlags flags, std::uint32_t interfaceIndex, const char* name,
    const char* regtype, const char* domain, const char* host, std::uint16_t port,
    std::uint16_t txtLen, const void* txtRecord, DNSServiceRegisterReply callBack, void* context);
using DNSServiceRefSockFDFunction = dnssd_sock_t(DNSSD_API*)(DNSServiceRef sdRef);
using DNSServiceProcessResultFunction = DNSServiceErrorType(DNSSD_API*)(DNSServiceRef sdRef);
using DNSServiceRefDeallocateFunction = void(DNSSD_API*)(DNSServiceRef sdRef);
using DNSServiceBrowseFunction = DNSServiceErrorType(DNSSD_API*)(
    DNSServiceRef* sdRef, DNSServiceFlags flags, std::uint32_t interfaceIndex, const char* regtype,
    const char* domain, DNSServiceBrowseReply callBack, void* context);
using DNSServiceResolveFunction = DNSServiceErrorType(DNSSD_API*)(
    DNSServiceRef* sdRef, DNSServiceFlags flags, std::uint32_t interfaceIndex, const char* name,
    const char* regtype, const char* domain, DNSServiceResolveReply callBack, void* context);

using DNSServiceQueryRecordFunction = DNSServiceErrorType(DNSSD_API*)(
    DNSServiceRef* sdRef, DNSServiceFlags flags, std::uint32_t interfaceIndex, const char* fullname,
    std::uint16_t rrtype, std::uint16_t rrclass, DNSServiceQueryRecordReply callBack,
    void* context);

}  // namespace pellvane::dnssd
