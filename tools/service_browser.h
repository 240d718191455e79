// Finds the pad and channel services on the network through the DNS-SD library: browses
// both service types for a while, then resolves each instance to a host and port. Looks up
// the addresses of such a host through the library too.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/sockets.h"
#include "server/dnssd_api.h"

namespace pellvane::tool {

inline constexpr const char* padServiceType = "_kesp._tcp";
inline constexpr const char* channelServiceType = "_kespchan._tcp";
inline constexpr const char* channelServiceDomain = "local.";

struct FoundService {
    std::string kind;  // "pad" or "channel"
    std::string name;
    std::string host;
    std::uint16_t port = 0;  // host order
};

struct BrowseOutcome {
    // The library's error when browsing could not start (no library, say); 0 otherwise.
    dnssd::DNSServiceErrorType error = dnssd::kDNSServiceErr_NoError;
    std::vector<FoundService> services;
};

// Listens for `browseMs`, then resolves what it heard, each within `resolveMs`.
BrowseOutcome browseServices(int browseMs, int resolveMs);

// True for a name in the multicast DNS domain ("vm.local"), as browsing reports hosts.
bool isAnnouncedHostName(const std::string& host);
// The addresses that DNS-SD answers for such a name, for systems whose resolver does not
// ask multicast DNS: IPv4 first, then IPv6 without link-local addresses (they would need
// an interface). Waits up to `waitMs` for the first answer; empty when none comes.
std::vector<net::NumericAddress> lookUpAnnouncedHost(const std::string& host, int waitMs);

}  // namespace pellvane::tool
