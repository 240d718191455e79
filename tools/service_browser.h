// Finds the pad and channel services on the network through the DNS-SD library: browses
// both service types for a while, then resolves each instance to a host and port.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

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

}  // namespace pellvane::tool
