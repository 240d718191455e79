#include "tools/service_browser.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <optional>

#include "platform/sockets.h"
#include "server/dnssd_binding.h"

namespace pellvane::tool {
namespace {

using Clock = std::chrono::steady_clock;

// Once one family's address has come, the other's answer is usually on its way.
constexpr auto otherFamilyGrace = std::chrono::milliseconds(300);

struct Instance {
    std::string kind;
    std::string name;
    std::string regtype;
    std::string domain;
    std::uint32_t interfaceIndex = 0;
    friend bool operator==(const Instance& a, const Instance& b) {
        return a.name == b.name && a.regtype == b.regtype && a.domain == b.domain;
    }
};

struct BrowseContext {
    std::string kind;
    std::vector<Instance>* instances = nullptr;
};

struct ResolveContext {
    bool answered = false;
    std::string host;
    std::uint16_t port = 0;
};

// Owns one DNS-SD reference.
class ServiceRef {
  public:
    ServiceRef() = default;
    ~ServiceRef() {
        if (ref_ != nullptr) {
            dnssd::DNSServiceRefDeallocate(ref_);
        }
    }
    ServiceRef(const ServiceRef&) = delete;
    ServiceRef& operator=(const ServiceRef&) = delete;
    dnssd::DNSServiceRef* address() { return &ref_; }
    dnssd::DNSServiceRef get() const { return ref_; }

  private:
    dnssd::DNSServiceRef ref_ = nullptr;
};

void DNSSD_API browseReply(dnssd::DNSServiceRef, dnssd::DNSServiceFlags flags,
                           std::uint32_t interfaceIndex, dnssd::DNSServiceErrorType errorCode,
                           const char* serviceName, const char* regtype, const char* replyDomain,
                           void* context) {
    auto* browse = static_cast<BrowseContext*>(context);
    if (errorCode != dnssd::kDNSServiceErr_NoError || serviceName == nullptr ||
        regtype == nullptr || replyDomain == nullptr) {
        return;
    }
    Instance instance{browse->kind, serviceName, regtype, replyDomain, interfaceIndex};
    auto& known = *browse->instances;
    const auto existing = std::find(known.begin(), known.end(), instance);
    if ((flags & dnssd::kDNSServiceFlagsAdd) != 0) {
        if (existing == known.end()) {
            known.push_back(instance);
        }
    } else if (existing != known.end()) {
        known.erase(existing);  // the service went away while we listened
    }
}

void DNSSD_API resolveReply(dnssd::DNSServiceRef, dnssd::DNSServiceFlags, std::uint32_t,
                            dnssd::DNSServiceErrorType errorCode, const char*,
                            const char* hosttarget, std::uint16_t port, std::uint16_t,
                            const unsigned char*, void* context) {
    auto* resolve = static_cast<ResolveContext*>(context);
    resolve->answered = true;
    if (errorCode == dnssd::kDNSServiceErr_NoError && hosttarget != nullptr) {
        resolve->host = hosttarget;
        resolve->port = net::fromNetworkOrder(port);
    }
}

// The addresses heard so far, each once.
struct AddressAnswers {
    std::vector<net::NumericAddress> ipv4;
    std::vector<net::NumericAddress> ipv6;
    bool any() const { return !ipv4.empty() || !ipv6.empty(); }
};

// An address record's data as numeric text; nothing for a record of another size and for
// an IPv6 link-local address.
std::optional<net::NumericAddress> addressOfRecord(std::uint16_t rrtype, std::uint16_t rdlen,
                                                   const void* rdata) {
    const auto* bytes = static_cast<const std::uint8_t*>(rdata);
    net::NumericAddress address;
    if (rrtype == dnssd::kDNSServiceType_A && rdlen == 4) {
        std::snprintf(address.text.data(), address.text.size(), "%u.%u.%u.%u", bytes[0], bytes[1],
                      bytes[2], bytes[3]);
        return address;
    }
    if (rrtype == dnssd::kDNSServiceType_AAAA && rdlen == 16) {
        if (bytes[0] == 0xFE && (bytes[1] & 0xC0) == 0x80) {
            return std::nullopt;
        }
        std::array<unsigned, 8> groups{};
        for (std::size_t i = 0; i < groups.size(); ++i) {
            groups[i] = (unsigned{bytes[2 * i]} << 8) | bytes[2 * i + 1];
        }
        address.family = net::Family::ipv6;
        std::snprintf(address.text.data(), address.text.size(), "%x:%x:%x:%x:%x:%x:%x:%x",
                      groups[0], groups[1], groups[2], groups[3], groups[4], groups[5], groups[6],
                      groups[7]);
        return address;
    }
    return std::nullopt;
}

void DNSSD_API addressReply(dnssd::DNSServiceRef, dnssd::DNSServiceFlags flags, std::uint32_t,
                            dnssd::DNSServiceErrorType errorCode, const char*, std::uint16_t rrtype,
                            std::uint16_t rrclass, std::uint16_t rdlen, const void* rdata,
                            std::uint32_t, void* context) {
    if (errorCode != dnssd::kDNSServiceErr_NoError || (flags & dnssd::kDNSServiceFlagsAdd) == 0 ||
        rrclass != dnssd::kDNSServiceClass_IN || rdata == nullptr) {
        return;
    }
    const auto address = addressOfRecord(rrtype, rdlen, rdata);
    if (!address) {
        return;
    }
    auto* answers = static_cast<AddressAnswers*>(context);
    auto& known = address->family == net::Family::ipv4 ? answers->ipv4 : answers->ipv6;
    const bool seen =
        std::any_of(known.begin(), known.end(),
                    [&](const net::NumericAddress& other) { return other.text == address->text; });
    if (!seen) {
        known.push_back(*address);
    }
}

int millisecondsLeft(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Lets the library deliver replies for the references until the deadline, or until `done`.
template <class Done>
void processReplies(std::vector<dnssd::DNSServiceRef> refs, Clock::time_point deadline, Done done) {
    std::vector<net::SocketHandle> sockets;
    for (dnssd::DNSServiceRef ref : refs) {
        sockets.push_back(dnssd::DNSServiceRefSockFD(ref));
    }
    std::vector<net::ReadinessFlags> flags(sockets.size());
    while (!done() && !refs.empty()) {
        const int wait = millisecondsLeft(deadline);
        if (wait == 0) {
            return;
        }
        std::fill(flags.begin(), flags.end(), net::ReadinessFlags{});
        const int ready = net::waitForReadiness(sockets, flags, wait);
        if (ready < 0) {
            return;
        }
        for (std::size_t i = 0; i < refs.size(); ++i) {
            if (flags[i].readable &&
                dnssd::DNSServiceProcessResult(refs[i]) != dnssd::kDNSServiceErr_NoError) {
                return;  // the library gave up on this reference
            }
        }
    }
}

// A host as people write it: without the final dot of a fully qualified name.
std::string withoutTrailingDot(std::string text) {
    if (!text.empty() && text.back() == '.') {
        text.pop_back();
    }
    return text;
}

}  // namespace

BrowseOutcome browseServices(int browseMs, int resolveMs) {
    BrowseOutcome outcome;
    std::vector<Instance> instances;
    BrowseContext padContext{"pad", &instances};
    BrowseContext channelContext{"channel", &instances};
    ServiceRef padBrowse;
    ServiceRef channelBrowse;
    outcome.error = dnssd::DNSServiceBrowse(padBrowse.address(), 0, 0, padServiceType, "",
                                            &browseReply, &padContext);
    if (outcome.error != dnssd::kDNSServiceErr_NoError) {
        return outcome;
    }
    outcome.error = dnssd::DNSServiceBrowse(channelBrowse.address(), 0, 0, channelServiceType,
                                            channelServiceDomain, &browseReply, &channelContext);
    if (outcome.error != dnssd::kDNSServiceErr_NoError) {
        return outcome;
    }
    processReplies({padBrowse.get(), channelBrowse.get()},
                   Clock::now() + std::chrono::milliseconds(browseMs), [] { return false; });

    for (const Instance& instance : instances) {
        ServiceRef resolveRef;
        ResolveContext resolved;
        if (dnssd::DNSServiceResolve(resolveRef.address(), 0, instance.interfaceIndex,
                                     instance.name.c_str(), instance.regtype.c_str(),
                                     instance.domain.c_str(), &resolveReply,
                                     &resolved) != dnssd::kDNSServiceErr_NoError) {
            continue;
        }
        processReplies({resolveRef.get()}, Clock::now() + std::chrono::milliseconds(resolveMs),
                       [&] { return resolved.answered; });
        if (!resolved.host.empty()) {
            outcome.services.push_back(
                {instance.kind, instance.name, withoutTrailingDot(resolved.host), resolved.port});
        }
    }
    return outcome;
}

bool isAnnouncedHostName(const std::string& host) {
    std::string name = withoutTrailingDot(host);
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const std::string domain = ".local";
    return name.size() > domain.size() && name.ends_with(domain);
}

std::vector<net::NumericAddress> lookUpAnnouncedHost(const std::string& host, int waitMs) {
    AddressAnswers answers;
    ServiceRef ipv4Query;
    ServiceRef ipv6Query;
    std::vector<dnssd::DNSServiceRef> queries;
    for (auto [query, type] : {std::pair{&ipv4Query, dnssd::kDNSServiceType_A},
                               std::pair{&ipv6Query, dnssd::kDNSServiceType_AAAA}}) {
        if (dnssd::DNSServiceQueryRecord(query->address(), 0, 0, host.c_str(), type,
                                         dnssd::kDNSServiceClass_IN, &addressReply,
                                         &answers) == dnssd::kDNSServiceErr_NoError) {
            queries.push_back(query->get());
        }
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(waitMs);
    processReplies(queries, deadline, [&] { return answers.any(); });
    if (answers.any()) {
        processReplies(queries, std::min(deadline, Clock::now() + otherFamilyGrace),
                       [] { return false; });
    }
    std::vector<net::NumericAddress> addresses = answers.ipv4;
    addresses.insert(addresses.end(), answers.ipv6.begin(), answers.ipv6.end());
    return addresses;
}

}  // namespace pellvane::tool
