// The process-wide objects of the program and their life: the pad service and the channel
// service, each with its delegate, and the virtual controller that the pad service's
// delegate drives. Both shells (the Windows tray program and the Linux terminal program)
// create one Application, start it, hand the user's Disconnect to it and shut it down.
#pragma once

#include <cstdint>
#include <string>

#include "controller/gamepad_controller.h"
#include "delegates/chann_delegate_w32.h"
#include "delegates/conn_delegate_w32.h"
#include "platform/desktop.h"
#include "platform/dialogs.h"
#include "platform/keyboard.h"
#include "server/zarvo_server.h"

namespace pellvane::shell {

inline constexpr char padServiceType[] = "_kesp._tcp";
inline constexpr char padServiceDomain[] = "";  // the default domain
inline constexpr char channelServiceType[] = "_kespchan._tcp";
inline constexpr char channelServiceDomain[] = "local.";

// What the application acts through; everything here outlives the Application.
struct ApplicationSeams {
    keyboard::Keyboard& keyboard;
    desktop::Desktop& desktop;
    dialogs::Dialogs& dialogs;
    GamepadController& controller;
};

class Application {
  public:
    // `markerDirectory` is where the controller-missing marker lives; empty means the
    // working directory.
    explicit Application(const ApplicationSeams& seams, std::string markerDirectory = {});
    // Shuts down if that has not happened yet.
    ~Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    // The socket library, the pad service with its delegate and the controller (telling
    // the user once when it is missing), then the channel service. A service that cannot
    // start is its delegate's matter: it retries and tells the user, the program runs on.
    void start();
    // Ends both services, their threads joined and their delegates detached so that
    // nothing restarts, then closes the controller and the socket library. Once only.
    void shutDown();

    // The user's Disconnect: stops the pad service, dropping every pad client; its
    // delegate starts it again on new ports.
    void disconnect();

    // The channel service's TCP port, 0 while it has none.
    std::uint16_t channelPort() const;
    // Whether any pad client is connected, pending or admitted.
    bool padClientConnected() const;

    ZarvoServer& padServer() { return padServer_; }
    ZarvoServer& channelServer() { return channelServer_; }
    ZarvoConnDelegateW32& connectionDelegate() { return connectionDelegate_; }
    ZarvoChannDelegateW32& channelDelegate() { return channelDelegate_; }

  private:
    ApplicationSeams seams_;
    std::string markerDirectory_;
    // Declared before the servers so that they outlive the servers' use of them: the
    // servers end (and detach them) first when the Application is destroyed.
    ZarvoConnDelegateW32 connectionDelegate_;
    ZarvoChannDelegateW32 channelDelegate_;
    ZarvoServer padServer_;
    ZarvoServer channelServer_;
    // Written by start and shutDown only, on the thread that owns the Application.
    bool started_ = false;
    bool shutDown_ = false;
};

}  // namespace pellvane::shell
