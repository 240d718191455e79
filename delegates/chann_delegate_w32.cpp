#include "delegates/chann_delegate_w32.h"

#include "platform/debug_output.h"
#include "server/zarvo_server.h"

namespace pellvane {

ZarvoChannDelegateW32::ZarvoChannDelegateW32(dialogs::Dialogs& dialogs, ZarvoServer* padServer)
    : retry_(dialogs, L"Pellvane Server could not start the Channel Server."),
      padServer_(padServer) {}

void ZarvoChannDelegateW32::serverDidPublish(ZarvoServer*) {
    retry_.reset();
}

void ZarvoChannDelegateW32::resetRetryCount(ZarvoServer*) {
    retry_.reset();
}

void ZarvoChannDelegateW32::serverDidAdmitClient(ZarvoServer*) {}

void ZarvoChannDelegateW32::serverDidStop(ZarvoServer* server) {
    retry_.serverDidStop(server);
}

void ZarvoChannDelegateW32::reservedNotification(ZarvoServer*) {}

// Any program may talk to the channel service.
int ZarvoChannDelegateW32::shouldAdmitClient(ZarvoServer*, const ReceivedMessage* hello) {
    return hello != nullptr ? 1 : 0;
}

std::unique_ptr<wire::AppList> ZarvoChannDelegateW32::applicationList(ZarvoServer*,
                                                                      const ReceivedMessage*) {
    return nullptr;
}

void ZarvoChannDelegateW32::serverDidReceiveMessage(ZarvoServer*, ReceivedMessage message) {
    if (message.header.type != wire::ChannelEvent) {
        debug::output(L"Delegate: none event!\n");
        return;
    }
    // The body is a matter between the channel's programs and the pad clients: it goes
    // out unread and unchanged.
    if (padServer_ != nullptr) {
        debug::output(L"RECEIVED CHANNEL EVENT!\n");
        padServer_->broadcast(message.bytes);
    }
}

}  // namespace pellvane
