#include "delegates/conn_delegate_w32.h"

#include "delegates/admission_prompt.h"
#include "delegates/app_filter.h"
#include "delegates/application_list.h"
#include "delegates/foreground_monitor.h"
#include "delegates/key_injection.h"
#include "platform/debug_output.h"
#include "server/wire_reading.h"
#include "server/zarvo_server.h"

namespace pellvane {

ZarvoConnDelegateW32::ZarvoConnDelegateW32(keyboard::Keyboard& keyboard, desktop::Desktop& desktop,
                                           dialogs::Dialogs& dialogs, GamepadController& controller)
    : keyboard_(keyboard),
      desktop_(desktop),
      controller_(controller),
      retry_(dialogs, L"Pellvane Server could not start the Bonjour service."),
      questions_(dialogs),
      injector_(keyboard) {}

ZarvoConnDelegateW32::~ZarvoConnDelegateW32() {
    closeController();
}

void ZarvoConnDelegateW32::serverDidPublish(ZarvoServer*) {
    retry_.reset();
}

void ZarvoConnDelegateW32::resetRetryCount(ZarvoServer*) {
    retry_.reset();
}

void ZarvoConnDelegateW32::serverDidAdmitClient(ZarvoServer* server) {
    if (server == nullptr) {
        return;
    }
    // One monitor per server, however many clients it admits.
    apps::startMonitor(*server, desktop_);
    // A controller that cannot be opened leaves the client admitted without gamepad.
    openController();
}

void ZarvoConnDelegateW32::serverDidStop(ZarvoServer* server) {
    // Every pad is gone, and the loop that handled their events has ended.
    controller_.lastPadGone();
    questions_.reopen();
    injector_.resume();
    retry_.serverDidStop(server);
}

void ZarvoConnDelegateW32::serverWillStop(ZarvoServer*) {
    // Disconnect and Quit neither wait for the user's answer nor for the keys still queued.
    questions_.close();
    injector_.stopTyping();
}

void ZarvoConnDelegateW32::serverDidLoseHost(ZarvoServer*, const net::HostAddress& host,
                                             bool lastClient) {
    injector_.releaseHost(host);
    if (lastClient) {
        controller_.lastPadGone();
    }
}

void ZarvoConnDelegateW32::reservedNotification(ZarvoServer*) {}

int ZarvoConnDelegateW32::shouldAdmitClient(ZarvoServer*, const ReceivedMessage* hello) {
    if (hello == nullptr) {
        return 0;
    }
    return questions_.ask(hello->bytes);
}

std::unique_ptr<wire::AppList> ZarvoConnDelegateW32::applicationList(ZarvoServer*,
                                                                     const ReceivedMessage*) {
    return apps::listApplications(desktop_);
}

void ZarvoConnDelegateW32::serverDidReceiveMessage(ZarvoServer* server, ReceivedMessage message) {
    serverDidReceiveMessageFrom(server, std::move(message), net::HostAddress{});
}

void ZarvoConnDelegateW32::serverDidReceiveMessageFrom(ZarvoServer* server, ReceivedMessage message,
                                                       const net::HostAddress& host) {
    // The message is this function's: it is released once, when it goes out of scope,
    // whichever handler ran and however far it got.
    switch (message.header.type) {
        case wire::AppName:
            if (server != nullptr) {
                apps::handleWantedAppMessage(*server, message);
            }
            break;
        case wire::KeyDown:
        case wire::KeyUp:
            injector_.enqueue(server, std::move(message), host);
            break;
        case wire::GamepadEvent:
            handleGamepadEvent(message);
            break;
        default:
            debug::output(L"Delegate: none event!\n");
            break;
    }
}

int ZarvoConnDelegateW32::startController() {
    return controller_.startController();
}

int ZarvoConnDelegateW32::openController() {
    return controller_.openController();
}

void ZarvoConnDelegateW32::closeController() {
    controller_.closeController();
}

void ZarvoConnDelegateW32::injectKeys(ZarvoServer* server, const ReceivedMessage& message) {
    keys::injectKeys(server, message, keyboard_);
}

// A message whose pairs do not all lie inside it moves nothing.
void ZarvoConnDelegateW32::handleGamepadEvent(const ReceivedMessage& message) {
    if (const std::optional<wire::GamepadEventBody> event = wire::readGamepadEvent(message)) {
        controller_.handleGamepadEvent(*event);
    }
}

}  // namespace pellvane
