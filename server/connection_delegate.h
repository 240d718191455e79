// How a server reports to the application. The server calls these on its own threads and
// only while its delegate is set; the delegate outlives the server's use of it.
#pragma once

#include <memory>

#include "server/wire_protocol.h"

namespace pellvane {

class ZarvoServer;

class ZarvoConnectionDelegate {
  public:
    virtual ~ZarvoConnectionDelegate() = default;

    // The DNS-SD registration was confirmed.
    virtual void serverDidPublish(ZarvoServer* server) = 0;
    // Never called by the server; part of the interface for the application's own use.
    virtual void resetRetryCount(ZarvoServer* server) = 0;
    // A client was admitted: its HelloReply is out, its UdpInfo not yet.
    virtual void serverDidAdmitClient(ZarvoServer* server) = 0;
    // The server has closed everything and is back in its initial state.
    virtual void serverDidStop(ZarvoServer* server) = 0;
    // Never called by the server.
    virtual void reservedNotification(ZarvoServer* server) = 0;
    // A pending client said Hello; nonzero admits. The Hello stays the server's.
    virtual int shouldAdmitClient(ZarvoServer* server, const ReceivedMessage* hello) = 0;
    // The applications to list in the HelloReply, or null for none.
    virtual std::unique_ptr<wire::AppList> applicationList(ZarvoServer* server,
                                                           const ReceivedMessage* hello) = 0;
    // A message from a client or a datagram, its header decoded; the delegate owns it from
    // here on.
    virtual void serverDidReceiveMessage(ZarvoServer* server, ReceivedMessage message) = 0;
};

}  // namespace pellvane
