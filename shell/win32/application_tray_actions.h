// The tray's view of the running program: the Application's services behind TrayActions.
#pragma once

#include "shell/application.h"
#include "shell/win32/tray_actions.h"

namespace pellvane::shell::win32 {

class ApplicationTrayActions final : public TrayActions {
  public:
    explicit ApplicationTrayActions(Application& application) : application_(application) {}

    std::uint16_t channelPort() const override { return application_.channelPort(); }
    bool padClientConnected() const override { return application_.padClientConnected(); }
    void disconnect() override { application_.disconnect(); }

  private:
    Application& application_;
};

}  // namespace pellvane::shell::win32
