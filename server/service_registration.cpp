// The service's DNS-SD registration: registering under the service name, moving on to
// "NAME (2)" and further when the name is taken, and the registration's reply.
#include <string>

#include "platform/debug_output.h"
#include "server/dnssd_binding.h"
#include "server/instance_name.h"
#include "server/zarvo_server.h"

namespace pellvane {

// Registers under the instance name, moving on to the next one for as long as the library
// says at once that the name is taken (Avahi does, for a name registered on this computer).
bool ZarvoServer::registerService() {
    for (;;) {
        const std::string name = instanceName();
        dnssd::DNSServiceRef ref = nullptr;
        const dnssd::DNSServiceErrorType result = dnssd::DNSServiceRegister(
            &ref, dnssd::kDNSServiceFlagsIncludeP2P, 0, name.c_str(), serviceType_, serviceDomain_,
            nullptr, net::toNetworkOrder(tcpPort()), 0, nullptr, &ZarvoServer::registerReply, this);
        if (result == dnssd::kDNSServiceErr_NoError) {
            const net::SocketHandle replies = dnssd::DNSServiceRefSockFD(ref);
            std::lock_guard guard(lock_);
            serviceRef_ = ref;
            dnssdSocket_ = replies < 0 ? net::invalidSocket : replies;
            return true;
        }
        if (result != dnssd::kDNSServiceErr_NameConflict || !takeNextInstanceName()) {
            return false;
        }
    }
}

bool ZarvoServer::takeNextInstanceName() {
    if (nameConflicts_ >= nameConflictLimit) {
        return false;
    }
    ++nameConflicts_;
    const std::string next = alternativeInstanceName(serviceName_, nameConflicts_ + 1);
    {
        std::lock_guard guard(lock_);
        instanceName_ = next;
    }
    debug::output(L"Service name taken, registering as ");
    debug::outputNarrow(next.c_str());
    debug::output(L"\n");
    return true;
}

// On the loop thread, from inside the reply of the registration whose name was taken:
// that registration is withdrawn and a new one takes its place, clients and ports kept.
void ZarvoServer::registerAgainAfterConflict() {
    dnssd::DNSServiceRef taken = nullptr;
    net::SocketHandle oldReplies = net::invalidSocket;
    {
        std::lock_guard guard(lock_);
        taken = serviceRef_;
        serviceRef_ = nullptr;
        oldReplies = dnssdSocket_;
        dnssdSocket_ = net::invalidSocket;
    }
    clients_.unwatchServiceSocket(oldReplies);
    // The DNS-SD interface allows this from within the reference's own reply.
    dnssd::DNSServiceRefDeallocate(taken);
    if (!takeNextInstanceName() || !registerService()) {
        stopAfterFailure();
        return;
    }
    // Room: the old reply socket has just gone.
    clients_.watchServiceSocket(serviceSockets().dnssd);
}

void DNSSD_API ZarvoServer::registerReply(dnssd::DNSServiceRef, dnssd::DNSServiceFlags,
                                          dnssd::DNSServiceErrorType errorCode, const char*,
                                          const char*, const char*, void* context) {
    auto* server = static_cast<ZarvoServer*>(context);
    if (errorCode == dnssd::kDNSServiceErr_NameConflict) {
        server->registerAgainAfterConflict();
        return;
    }
    if (errorCode != dnssd::kDNSServiceErr_NoError) {
        server->stopAfterFailure();
        return;
    }
    debug::output(L"Service did publish\n");
    if (ZarvoConnectionDelegate* target = server->delegate()) {
        target->serverDidPublish(server);
    }
}

}  // namespace pellvane
