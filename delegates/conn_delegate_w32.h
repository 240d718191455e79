// The pad service's delegate: asks the user before a device may connect, offers the
// applications, starts the foreground monitor and opens the controller on admission, and
// hands every client message to its handler: keys to the injector thread, which types them
// in order off the loop thread. What a pad holds down is let go when the pad goes. It uses the
// keyboard, the desktop, the dialogs and the controller it is given; all of them, and every server
// it serves, must outlive it.
#pragma once

#include "controller/gamepad_controller.h"
#include "delegates/admission_prompt.h"
#include "delegates/key_injector_thread.h"
#include "delegates/retry_policy.h"
#include "platform/desktop.h"
#include "platform/dialogs.h"
#include "platform/keyboard.h"
#include "server/connection_delegate.h"

namespace pellvane {

class ZarvoConnDelegateW32 final : public ZarvoConnectionDelegate {
  public:
    ZarvoConnDelegateW32(keyboard::Keyboard& keyboard, desktop::Desktop& desktop,
                         dialogs::Dialogs& dialogs, GamepadController& controller);
    // Closes the controller if it is still open.
    ~ZarvoConnDelegateW32() override;
    ZarvoConnDelegateW32(const ZarvoConnDelegateW32&) = delete;
    ZarvoConnDelegateW32& operator=(const ZarvoConnDelegateW32&) = delete;

    void serverDidPublish(ZarvoServer* server) override;
    void resetRetryCount(ZarvoServer* server) override;
    void serverDidAdmitClient(ZarvoServer* server) override;
    void serverDidStop(ZarvoServer* server) override;
    void reservedNotification(ZarvoServer* server) override;
    int shouldAdmitClient(ZarvoServer* server, const ReceivedMessage* hello) override;
    std::unique_ptr<wire::AppList> applicationList(ZarvoServer* server,
                                                   const ReceivedMessage* hello) override;
    void serverDidReceiveMessage(ZarvoServer* server, ReceivedMessage message) override;
    void serverDidReceiveMessageFrom(ZarvoServer* server, ReceivedMessage message,
                                     const net::HostAddress& host) override;
    void serverDidLoseHost(ZarvoServer* server, const net::HostAddress& host,
                           bool lastClient) override;
    void serverWillStop(ZarvoServer* server) override;

    // At start-up, before the servers: 1 when there is a controller to use.
    int startController();
    int openController();
    void closeController();
    // Types one key message on the calling thread; the service queues them instead.
    void injectKeys(ZarvoServer* server, const ReceivedMessage& message);
    // Returns when every key message received so far has been typed.
    void waitUntilTyped() { injector_.waitUntilIdle(); }
    void handleGamepadEvent(const ReceivedMessage& message);

    int retryCount() const { return retry_.retryCount(); }

  private:
    keyboard::Keyboard& keyboard_;
    desktop::Desktop& desktop_;
    GamepadController& controller_;
    RetryPolicy retry_;
    AdmissionQuestions questions_;
    // Declared last: its thread ends first, while everything it types with still exists.
    keys::KeyInjectorThread injector_;
};

}  // namespace pellvane
