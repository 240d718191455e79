// A virtual controller that is there or not as the test says, and that notes what the
// services were doing each time it was opened or closed.
#pragma once

#include <atomic>
#include <mutex>
#include <vector>

#include "controller/gamepad_controller.h"
#include "server/zarvo_server.h"

namespace pellvane::testing {

class RecordingController : public GamepadController {
  public:
    struct Call {
        bool open = false;  // false: a close
        bool padRunning = false;
        bool channelRunning = false;
        bool padHasDelegate = false;
    };

    // The servers whose state each call notes; may be set after construction.
    void watchServers(const ZarvoServer* pad, const ZarvoServer* channel);
    void setPresent(bool present) { present_.store(present); }

    int openController() override;
    void closeController() override;
    void returnToRest() override {}
    bool isOpen() const override { return open_.load(); }
    void handleGamepadEvent(const wire::GamepadEventBody&) override {}

    std::vector<Call> calls() const;

  private:
    Call noteCall(bool open) const;

    std::atomic<bool> present_{false};
    std::atomic<bool> open_{false};
    std::atomic<const ZarvoServer*> pad_{nullptr};
    std::atomic<const ZarvoServer*> channel_{nullptr};
    mutable std::mutex mutex_;  // guards calls_
    std::vector<Call> calls_;
};

}  // namespace pellvane::testing
