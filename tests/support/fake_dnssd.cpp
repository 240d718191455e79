// A stand-in DNS-SD client library for tests: it publishes nothing, but each reference gets
// a reply socket that is readable at once, and processing it calls the reply callback as a
// real library would. Registrations made in this process are what browsing finds, and each
// instance resolves to the host "pellvane-test-host.local" with its registered port; record
// queries answer that name with 127.0.0.1 and ::1, as multicast DNS would.
// Set PELLVANE_FAKE_DNSSD_ERROR to a number to make every registration reply report that
// error, and PELLVANE_FAKE_DNSSD_LOG to a file to have each registration appended to it as
// "name type domain port". With PELLVANE_FAKE_DNSSD_REFUSE_FLAGS set it refuses every
// registration with flags, as Avahi's compatibility library does, and logs "refused flags"
// for each refusal. Built with FAKE_DNSSD_REGISTER_ONLY it exports only registration and
// deallocation, as an incomplete library would.
// A name that a live registration of the same type holds is taken: the new registration's
// reply reports kDNSServiceErr_NameConflict, as a responder that meets the name on the
// network does. Tests steer the rest through the functions at the end (tests/support/
// fake_dnssd_control.h finds them).
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "platform/sockets.h"
#include "server/dnssd_api.h"

#if defined(_WIN32)
#define FAKE_DNSSD_EXPORT extern "C" __declspec(dllexport)
#else
#define FAKE_DNSSD_EXPORT extern "C" __attribute__((visibility("default")))
#endif

using namespace pellvane;
using namespace pellvane::dnssd;

namespace {

enum class Kind { registration, browse, resolve, query };

struct FakeReference {
    Kind kind = Kind::registration;
    net::SocketHandle socket = net::invalidSocket;
    std::uint16_t socketPort = 0;
    DNSServiceRegisterReply registerReply = nullptr;
    DNSServiceBrowseReply browseReply = nullptr;
    DNSServiceResolveReply resolveReply = nullptr;
    DNSServiceQueryRecordReply queryReply = nullptr;
    void* context = nullptr;
    std::string name;
    std::string type;  // without a trailing dot
    std::uint16_t networkPort = 0;
    std::uint16_t recordType = 0;  // of a query, whose name is in `name`
    // Registrations only, guarded by registryMutex:
    bool holdsName = false;  // browsing finds it, and its name is taken
    bool replyReady = false;
    DNSServiceErrorType replyError = kDNSServiceErr_NoError;
};

std::mutex registryMutex;                   // guards registrations and the settings below
std::vector<FakeReference*> registrations;  // every registration not yet deallocated
bool daemonRunning = true;
bool repliesHeld = false;
bool conflictsInCall = false;

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

std::string withoutTrailingDot(const char* text) {
    std::string result = text == nullptr ? "" : text;
    if (!result.empty() && result.back() == '.') {
        result.pop_back();
    }
    return result;
}

// A reference whose socket holds one byte, so it reads as ready for processing.
FakeReference* newReference(Kind kind, void* context) {
    auto* reference = new FakeReference{};
    reference->kind = kind;
    reference->context = context;
    reference->socket = net::openSocket(net::Family::ipv4, net::Transport::datagram);
    std::uint16_t port = 0;
    int length = 0;
    if (reference->socket == net::invalidSocket ||
        !net::bindLoopback(reference->socket, net::Family::ipv4, 0) ||
        !net::boundPort(reference->socket, port, length)) {
        if (reference->socket != net::invalidSocket) {
            net::closeSocket(reference->socket);
        }
        delete reference;
        return nullptr;
    }
    reference->socketPort = port;
    return reference;
}

// One byte on the reference's socket: a reply waits.
void makeReady(FakeReference* reference) {
    const std::uint8_t byte = 1;
    net::sendDatagram(reference->socket, net::Family::ipv4, "127.0.0.1", reference->socketPort,
                      &byte, 1);
}

bool nameTaken(const std::string& name, const std::string& type) {
    for (const FakeReference* registration : registrations) {
        if (registration->holdsName && registration->name == name && registration->type == type) {
            return true;
        }
    }
    return false;
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
    const std::string wantedName = name == nullptr ? "" : name;
    const std::string type = withoutTrailingDot(regtype);
    std::lock_guard guard(registryMutex);
    if (!daemonRunning) {
        return kDNSServiceErr_ServiceNotRunning;
    }
    const bool taken = nameTaken(wantedName, type);
    if (taken && conflictsInCall) {
        return kDNSServiceErr_NameConflict;
    }
    FakeReference* registration = newReference(Kind::registration, context);
    if (registration == nullptr) {
        return kDNSServiceErr_Unknown;
    }
    registration->registerReply = callBack;
    registration->name = wantedName;
    registration->type = type;
    registration->networkPort = port;
    registration->holdsName = !taken;
    registration->replyError = taken ? kDNSServiceErr_NameConflict : configuredReplyError();
    registrations.push_back(registration);
    if (!repliesHeld) {
        registration->replyReady = true;
        makeReady(registration);
    }
    logRegistration(name, regtype, domain, port);
    *sdRef = reinterpret_cast<DNSServiceRef>(registration);
    return kDNSServiceErr_NoError;
}

FAKE_DNSSD_EXPORT void DNSSD_API DNSServiceRefDeallocate(DNSServiceRef sdRef) {
    auto* reference = reinterpret_cast<FakeReference*>(sdRef);
    if (reference == nullptr) {
        return;
    }
    {
        std::lock_guard guard(registryMutex);
        std::erase(registrations, reference);
    }
    net::closeSocket(reference->socket);
    delete reference;
}

#if !defined(FAKE_DNSSD_REGISTER_ONLY)

namespace {

constexpr DNSServiceErrorType noSuchName = -65538;
constexpr const char* testHost = "pellvane-test-host.local";

std::vector<FakeReference> registrationsOfType(const std::string& type) {
    std::vector<FakeReference> found;
    std::lock_guard guard(registryMutex);
    for (const FakeReference* registration : registrations) {
        if (registration->holdsName && registration->type == type) {
            found.push_back(*registration);
        }
    }
    return found;
}

void deliverBrowse(FakeReference* browse) {
    const auto found = registrationsOfType(browse->type);
    const std::string regtype = browse->type + ".";
    for (std::size_t i = 0; i < found.size(); ++i) {
        const DNSServiceFlags flags =
            kDNSServiceFlagsAdd | (i + 1 < found.size() ? kDNSServiceFlagsMoreComing : 0);
        browse->browseReply(reinterpret_cast<DNSServiceRef>(browse), flags, 0,
                            kDNSServiceErr_NoError, found[i].name.c_str(), regtype.c_str(),
                            "local.", browse->context);
    }
}

void deliverResolve(FakeReference* resolve) {
    for (const FakeReference& registration : registrationsOfType(resolve->type)) {
        if (registration.name == resolve->name) {
            const std::string fullname = registration.name + "." + registration.type + ".local.";
            const std::string target = std::string(testHost) + ".";
            resolve->resolveReply(reinterpret_cast<DNSServiceRef>(resolve), 0, 0,
                                  kDNSServiceErr_NoError, fullname.c_str(), target.c_str(),
                                  registration.networkPort, 0, nullptr, resolve->context);
            return;
        }
    }
    resolve->resolveReply(reinterpret_cast<DNSServiceRef>(resolve), 0, 0, noSuchName, "", "", 0, 0,
                          nullptr, resolve->context);
}

// Only the test host has addresses; other names get no answer at all.
void deliverAddress(FakeReference* query) {
    if (query->name != testHost) {
        return;
    }
    const std::uint8_t ipv4[4] = {127, 0, 0, 1};
    const std::uint8_t ipv6[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    const bool a = query->recordType == kDNSServiceType_A;
    query->queryReply(reinterpret_cast<DNSServiceRef>(query), kDNSServiceFlagsAdd, 0,
                      kDNSServiceErr_NoError, testHost, query->recordType, kDNSServiceClass_IN,
                      a ? sizeof ipv4 : sizeof ipv6, a ? ipv4 : ipv6, 120, query->context);
}

}  // namespace

FAKE_DNSSD_EXPORT DNSServiceErrorType DNSSD_API DNSServiceBrowse(DNSServiceRef* sdRef,
                                                                 DNSServiceFlags, std::uint32_t,
                                                                 const char* regtype, const char*,
                                                                 DNSServiceBrowseReply callBack,
                                                                 void* context) {
    FakeReference* browse = newReference(Kind::browse, context);
    if (browse == nullptr) {
        return kDNSServiceErr_Unknown;
    }
    makeReady(browse);
    browse->browseReply = callBack;
    browse->type = withoutTrailingDot(regtype);
    *sdRef = reinterpret_cast<DNSServiceRef>(browse);
    return kDNSServiceErr_NoError;
}

FAKE_DNSSD_EXPORT DNSServiceErrorType DNSSD_API DNSServiceResolve(
    DNSServiceRef* sdRef, DNSServiceFlags, std::uint32_t, const char* name, const char* regtype,
    const char*, DNSServiceResolveReply callBack, void* context) {
    FakeReference* resolve = newReference(Kind::resolve, context);
    if (resolve == nullptr) {
        return kDNSServiceErr_Unknown;
    }
    makeReady(resolve);
    resolve->resolveReply = callBack;
    resolve->name = name == nullptr ? "" : name;
    resolve->type = withoutTrailingDot(regtype);
    *sdRef = reinterpret_cast<DNSServiceRef>(resolve);
    return kDNSServiceErr_NoError;
}

FAKE_DNSSD_EXPORT DNSServiceErrorType DNSSD_API DNSServiceQueryRecord(
    DNSServiceRef* sdRef, DNSServiceFlags, std::uint32_t, const char* fullname,
    std::uint16_t rrtype, std::uint16_t, DNSServiceQueryRecordReply callBack, void* context) {
    FakeReference* query = newReference(Kind::query, context);
    if (query == nullptr) {
        return kDNSServiceErr_Unknown;
    }
    makeReady(query);
    query->queryReply = callBack;
    query->name = withoutTrailingDot(fullname);
    query->recordType = rrtype;
    *sdRef = reinterpret_cast<DNSServiceRef>(query);
    return kDNSServiceErr_NoError;
}

FAKE_DNSSD_EXPORT dnssd_sock_t DNSSD_API DNSServiceRefSockFD(DNSServiceRef sdRef) {
    auto* reference = reinterpret_cast<FakeReference*>(sdRef);
    return reference == nullptr ? static_cast<dnssd_sock_t>(-1)
                                : static_cast<dnssd_sock_t>(reference->socket);
}

FAKE_DNSSD_EXPORT DNSServiceErrorType DNSSD_API DNSServiceProcessResult(DNSServiceRef sdRef) {
    auto* reference = reinterpret_cast<FakeReference*>(sdRef);
    if (reference == nullptr) {
        return kDNSServiceErr_Unknown;
    }
    DNSServiceErrorType replyError = kDNSServiceErr_NoError;
    if (reference->kind == Kind::registration) {
        std::lock_guard guard(registryMutex);
        replyError = reference->replyError;
    }
    // A lost daemon is a closed connection: the socket reads as ready for ever, and
    // processing reports the loss without calling back.
    if (replyError == kDNSServiceErr_ServiceNotRunning) {
        return replyError;
    }
    std::uint8_t byte = 0;
    net::DatagramSource source;
    if (net::receiveDatagram(reference->socket, &byte, 1, source) <= 0) {
        return kDNSServiceErr_Unknown;
    }
    switch (reference->kind) {
        case Kind::registration:
            // The callback may deallocate the reference; nothing of it is used afterwards.
            reference->registerReply(sdRef, 0, replyError, "", "", "", reference->context);
            break;
        case Kind::browse:
            deliverBrowse(reference);
            break;
        case Kind::resolve:
            deliverResolve(reference);
            break;
        case Kind::query:
            deliverAddress(reference);
            break;
    }
    return kDNSServiceErr_NoError;
}

#endif

// The test controls.

// 0: the daemon goes away, as Bonjour's does when its service restarts: every registration's
// socket reads as ready and processing it fails with kDNSServiceErr_ServiceNotRunning, and
// new registrations fail with it too, until the daemon runs again (1).
FAKE_DNSSD_EXPORT void FakeDnssdSetDaemonRunning(int running) {
    std::lock_guard guard(registryMutex);
    daemonRunning = running != 0;
    if (daemonRunning) {
        return;
    }
    for (FakeReference* registration : registrations) {
        registration->holdsName = false;
        registration->replyError = kDNSServiceErr_ServiceNotRunning;
        registration->replyReady = true;
        makeReady(registration);
    }
}

// 1: registration replies wait, as they do while a responder probes, until released (0).
FAKE_DNSSD_EXPORT void FakeDnssdSetRepliesHeld(int held) {
    std::lock_guard guard(registryMutex);
    repliesHeld = held != 0;
    if (repliesHeld) {
        return;
    }
    for (FakeReference* registration : registrations) {
        if (!registration->replyReady) {
            registration->replyReady = true;
            makeReady(registration);
        }
    }
}

// 1: a taken name is refused by DNSServiceRegister itself, as Avahi refuses a name that a
// program on the same computer holds; 0: by the registration's reply.
FAKE_DNSSD_EXPORT void FakeDnssdSetConflictsInCall(int inCall) {
    std::lock_guard guard(registryMutex);
    conflictsInCall = inCall != 0;
}

// 1 when a registration holds this name for this type (without a trailing dot).
FAKE_DNSSD_EXPORT int FakeDnssdIsRegistered(const char* name, const char* type) {
    std::lock_guard guard(registryMutex);
    return nameTaken(name, type) ? 1 : 0;
}
