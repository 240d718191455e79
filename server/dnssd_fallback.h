// The DNS-SD entry points served by the system's own DNS-SD service, for a computer without
// the DNS-SD library. The system answers on threads of its own; each reference therefore
// owns a loopback socket that those threads make readable, and DNSServiceProcessResult runs
// the reply functions on the caller's thread, as the library does. A server's loop cannot
// tell the two apart.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>

#include "platform/system_dnssd.h"
#include "server/dnssd_api.h"

namespace pellvane::dnssd {

class DnssdFallback {
  public:
    // How long releasing a reference waits for the system to finish with its request.
    static constexpr std::chrono::milliseconds defaultSettleTime{2000};

    explicit DnssdFallback(std::unique_ptr<sysdnssd::SystemDnssd> system,
                           std::chrono::milliseconds settleTime = defaultSettleTime);
    ~DnssdFallback();
    DnssdFallback(const DnssdFallback&) = delete;
    DnssdFallback& operator=(const DnssdFallback&) = delete;

    // Announces "NAME.TYPE.local" on host "HOST.local" (the computer's name unless `host`
    // names one); `domain` must be the default or "local.". The port is in network order.
    // The announcement carries one empty TXT key and value, whatever TXT record the library
    // would have been given; flags and interface indexes have no counterpart here.
    DNSServiceErrorType registerService(DNSServiceRef* sdRef, const char* name, const char* regtype,
                                        const char* domain, const char* host, std::uint16_t port,
                                        DNSServiceRegisterReply callBack, void* context);
    DNSServiceErrorType browse(DNSServiceRef* sdRef, const char* regtype, const char* domain,
                               DNSServiceBrowseReply callBack, void* context);
    DNSServiceErrorType resolve(DNSServiceRef* sdRef, const char* name, const char* regtype,
                                const char* domain, DNSServiceResolveReply callBack, void* context);

    std::intptr_t socketOf(DNSServiceRef sdRef) const;
    DNSServiceErrorType processResult(DNSServiceRef sdRef);
    // Withdraws the registration or ends the query, and waits up to the settle time for the
    // system to say it is done before freeing what it may still read.
    void deallocate(DNSServiceRef sdRef);

  private:
    std::unique_ptr<sysdnssd::SystemDnssd> system_;
    std::chrono::milliseconds settleTime_;
};

}  // namespace pellvane::dnssd
