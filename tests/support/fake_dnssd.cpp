// A stand-in DNS-SD client library for tests: it registers nothing, but each registration
// gets a reply socket that is readable at once, and processing it calls the reply callback
// as a real library would. Set PELLVANE_FAKE_DNSSD_ERROR to a number to make every reply
// report that error, and PELLVANE_FAKE_DNSSD_LOG to a file to have each registration
// appended to it as "name type domain port". With PELLVANE_FAKE_DNSSD_REFUSE_FLAGS set it
// refuses every request with flags, as Avahi's compatibility library does, and logs
// "refused flags" for each refusal.
#include <cstdio>
#include <cstdlib>

#include "platform/sockets.h"
#include "server/dnssd_api.h"

#if defined(_WIN32)
#define FAKE_DNSSD_EXPORT extern "C" __declspec(dllexport)
#else
#define FAKE_DNSSD_EXPORT extern "C" __attribute__((visibility("default")))
#endif

using namespace pellvane;
using namespace pellvane::dnssd;

struct FakeRegistration {
    net::SocketHandle socket = net::invalidSocket;
    DNSServiceRegisterReply callback = nullptr;
    void* context = nullptr;
};

namespace {

[[maybe_unused]] DNSServiceErrorType configuredReplyError() {
    const char* text = std::getenv("PELLVANE_FAKE_DNSSD_ERROR");
    return text == nullptr ? kDNSServiceErr_NoError : std::atoi(text);
}

void logLine(const char* line) {
    const char* path = std::getenv("PELLVANE_FAKE_DNSSD_LOG");
    if (path == nullptr) {
        return;
    }
    if (std::FILE* log = std::fopen(path, "a")) {
        std::fputs(line, log);
        std::fclose(log);
    }
}

void logRegistration(const char* name, const char* type, const char* domain, std::uint16_t port) {
    const unsigned hostPort = static_cast<unsigned>(((port & 0xFF) << 8) | (port >> 8));
    char line[512];
    std::snprintf(line, sizeof line, "%s %s %s %u\n", name, type, domain[0] == '\0' ? "-" : domain,
                  hostPort);
    logLine(line);
}

}  // namespace

FAKE_DNSSD_EXPORT DNSServiceErrorType DNSSD_API
DNSServiceRegister(DNSServiceRef* sdRef, DNSServiceFlags flags, std::uint32_t, const char* name,
                   const char* regtype, const char* domain, const char*, std::uint16_t port,
                   std::uint16_t, const void*, DNSServiceRegisterReply callBack, void* context) {
    if (flags != 0 && std::getenv("PELLVANE_FAKE_DNSSD_REFUSE_FLAGS") != nullptr) {
        logLine("refused flags\n");
        return kDNSServiceErr_Unsupported;
    }
    auto* registration = new FakeRegistration{};
    registration->callback = callBack;
    registration->context = context;
    registration->socket = net::openSocket(net::Family::ipv4, net::Transport::datagram);
    std::uint16_t replyPort = 0;
    int length = 0;
    if (registration->socket == net::invalidSocket ||
        !net::bindLoopback(registration->socket, net::Family::ipv4, 0) ||
        !net::boundPort(registration->socket, replyPort, length)) {
        delete registration;
        return kDNSServiceErr_Unknown;
    }
    const std::uint8_t reply = 1;
    net::sendDatagram(registration->socket, net::Family::ipv4, "127.0.0.1", replyPort, &reply, 1);
    logRegistration(name, regtype, domain, port);
    *sdRef = reinterpret_cast<DNSServiceRef>(registration);
    return kDNSServiceErr_NoError;
}

FAKE_DNSSD_EXPORT void DNSSD_API DNSServiceRefDeallocate(DNSServiceRef sdRef) {
    auto* registration = reinterpret_cast<FakeRegistration*>(sdRef);
    if (registration != nullptr) {
        net::closeSocket(registration->socket);
        delete registration;
    }
}

#if !defined(FAKE_DNSSD_REGISTER_ONLY)

FAKE_DNSSD_EXPORT dnssd_sock_t DNSSD_API DNSServiceRefSockFD(DNSServiceRef sdRef) {
    auto* registration = reinterpret_cast<FakeRegistration*>(sdRef);
    return registration == nullptr ? static_cast<dnssd_sock_t>(-1)
                                   : static_cast<dnssd_sock_t>(registration->socket);
}

FAKE_DNSSD_EXPORT DNSServiceErrorType DNSSD_API DNSServiceProcessResult(DNSServiceRef sdRef) {
    auto* registration = reinterpret_cast<FakeRegistration*>(sdRef);
    if (registration == nullptr) {
        return kDNSServiceErr_Unknown;
    }
    std::uint8_t byte = 0;
    net::DatagramSource source;
    if (net::receiveDatagram(registration->socket, &byte, 1, source) <= 0) {
        return kDNSServiceErr_Unknown;
    }
    // The callback may deallocate the registration; nothing of it is used afterwards.
    registration->callback(sdRef, 0, configuredReplyError(), "", "", "", registration->context);
    return kDNSServiceErr_NoError;
}

#endif
