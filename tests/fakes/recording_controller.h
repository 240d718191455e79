// A virtual controller that is there or not as the test says. It counts what reached it,
// keeps the gamepad events, and notes what the services it watches were doing each time it
// was opened or closed.
#pragma once

#include <atomic>
#include <mutex>
#include <vector>

#include "controller/gamepad_controller.h"
#include "server/wire_protocol.h"
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

    explicit RecordingController(bool present = true) : present_(present) {}
    // The servers whose state each call notes; may be set after construction.
    void watchServers(const ZarvoServer* pad, const ZarvoServer* channel);
    void setPresent(bool present);

    int openController() override;
    void closeController() override;
    void lastPadGone() override;
    bool isOpen() const override;
    void handleGamepadEvent(const wire::GamepadEventBody& event) override;

    std::vector<Call> calls() const;  // opens and closes, oldest first
    int openCalls() const;
    int closeCalls() const;
    int restCalls() const;
    std::vector<wire::GamepadEventBody> events() const;

  private:
    Call noteCall(bool open) const;  // asks the servers, so never with mutex_ held

    std::atomic<const ZarvoServer*> pad_{nullptr};
    std::atomic<const ZarvoServer*> channel_{nullptr};
    mutable std::mutex mutex_;  // guards every field below
    bool present_;
    bool open_ = false;
    std::vector<Call> calls_;
    int restCalls_ = 0;
    std::vector<wire::GamepadEventBody> events_;
};

}  // namespace pellvane::testing
