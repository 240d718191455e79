#include "shell/application.h"

#include <utility>

#include "platform/sockets.h"
#include "shell/marker_file.h"

namespace pellvane::shell {

Application::Application(const ApplicationSeams& seams, std::string markerDirectory)
    : seams_(seams),
      markerDirectory_(std::move(markerDirectory)),
      connectionDelegate_(seams.keyboard, seams.desktop, seams.dialogs, seams.controller),
      channelDelegate_(seams.dialogs, &padServer_),
      padServer_(nullptr, padServiceType, padServiceDomain),
      channelServer_(nullptr, channelServiceType, channelServiceDomain) {}

Application::~Application() {
    if (started_) {
        shutDown();
    }
}

void Application::start() {
    if (started_) {
        return;
    }
    started_ = true;
    // Without it every socket call fails, which the servers report through their
    // delegates; nothing better can be done here.
    net::startSocketLibrary();

    // Initialised again now that the socket library is up: the host name needs it.
    padServer_.init(nullptr, padServiceType, padServiceDomain);
    connectionDelegate_.resetRetryCount(&padServer_);
    const int controllerOpen = connectionDelegate_.startController();
    applyMarkerFileRule(controllerOpen != 0, seams_.dialogs, markerDirectory_);
    padServer_.setDelegate(&connectionDelegate_);
    // A failed start has reached the delegate already, which retried or told the user.
    padServer_.start();

    channelServer_.init(nullptr, channelServiceType, channelServiceDomain);
    channelDelegate_.resetRetryCount(&channelServer_);
    channelServer_.setAutoAdmit(true);
    channelServer_.setDelegate(&channelDelegate_);
    channelServer_.start();
}

void Application::shutDown() {
    if (!started_ || shutDown_) {
        return;
    }
    shutDown_ = true;
    // The channel service first: its loop relays into the pad service. The pad service's
    // loop thread is the controller's other user, so it ends before the controller closes.
    channelServer_.shutDown();
    padServer_.shutDown();
    connectionDelegate_.closeController();
    net::stopSocketLibrary();
}

void Application::disconnect() {
    if (!started_ || shutDown_) {
        return;
    }
    padServer_.stop();
}

std::uint16_t Application::channelPort() const {
    return channelServer_.tcpPort();
}

bool Application::padClientConnected() const {
    return padServer_.clientCount() > 0;
}

}  // namespace pellvane::shell
