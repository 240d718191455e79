// The channel service's delegate: relays every channel event to the pad service's admitted
// clients and restarts the channel service after failures.
#pragma once

#include "delegates/retry_policy.h"
#include "platform/dialogs.h"
#include "server/connection_delegate.h"

namespace pellvane {

class ZarvoChannDelegateW32 final : public ZarvoConnectionDelegate {
  public:
    // `padServer` may be null: channel events then go nowhere.
    ZarvoChannDelegateW32(dialogs::Dialogs& dialogs, ZarvoServer* padServer);

    void serverDidPublish(ZarvoServer* server) override;
    void resetRetryCount(ZarvoServer* server) override;
    void serverDidAdmitClient(ZarvoServer* server) override;
    void serverDidStop(ZarvoServer* server) override;
    void reservedNotification(ZarvoServer* server) override;
    int shouldAdmitClient(ZarvoServer* server, const ReceivedMessage* hello) override;
    std::unique_ptr<wire::AppList> applicationList(ZarvoServer* server,
                                                   const ReceivedMessage* hello) override;
    void serverDidReceiveMessage(ZarvoServer* server, ReceivedMessage message) override;

    int retryCount() const { return retry_.retryCount(); }

  private:
    RetryPolicy retry_;
    ZarvoServer* const padServer_;  // not owned; set once, before the channel server starts
};

}  // namespace pellvane
