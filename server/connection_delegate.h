// How a server reports to the application. The server calls these on its own threads and
// only while its delegate is set; the delegate outlives the server's use of it.
#pragma once

#include <memory>
#include <utility>

#include "platform/sockets.h"
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

    // The server calls these three; a delegate that keeps nothing per host or per question
    // can leave them as they are.
    // A message as above, with the address of the host that sent it.
    virtual void serverDidReceiveMessageFrom(ZarvoServer* server, ReceivedMessage message,
                                             const net::HostAddress& /*host*/) {
        serverDidReceiveMessage(server, std::move(message));
    }
    // The last connection of an admitted host has ended on the loop thread (closed, reset,
    // dropped); `lastClient` says that no admitted client is left. A stop ends every
    // connection without this call: serverWillStop and serverDidStop cover it.
    virtual void serverDidLoseHost(ZarvoServer* /*server*/, const net::HostAddress& /*host*/,
                                   bool /*lastClient*/) {}
    // A stop or shutdown has begun, on the stopping thread, before the loop is ended: an open
    // question is to be closed as a refusal, and input from the server's clients ended.
    virtual void serverWillStop(ZarvoServer* /*server*/) {}
};

}  // namespace pellvane
