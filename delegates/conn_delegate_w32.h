// The pad service's delegate: asks the user before a device may connect, offers the
// applications, starts the foreground monitor and opens the controller on admission, and
// hands every client message to its handler: keys to the injector thread, which types them
// in order off the loop thread. What a pad holds down is let go when the pad goes. It uses the
// keyboard, the desktop, the dialogs and the controller it is given; all of them, and every server
// it serves, must outlive it.
#pragma once

#include <span>

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
    int shouldAdmitClient(ZarvoServer* server, const Message* hello) override;
    std::unique_ptr<wire::AppList> applicationList(ZarvoServer* server,
                                                   const Message* hello) override;
    void serverDidReceiveMessage(ZarvoServer* server, Message message) override;
    void serverDidReceiveMessageFrom(ZarvoServer* server, Message message,
                                     const net::HostAddress& host) override;
    void serverDidLoseHost(ZarvoServer* server, const net::HostAddress& host,
                           bool lastClient) override;
    void serverWillStop(ZarvoServer* server) override;

    int openController();
    void closeController();
    // Types one key message on the calling thread; the service queues them instead.
    void injectKeys(ZarvoServer* server, std::span<const std::uint8_t> message);
    // Returns when every key message received so far has been typed.
    void waitUntilTyped() { injector_.waitUntilIdle(); }
    void handleGamepadEvent(std::span<const std::uint8_t> message);

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
