// The virtual game controller as an Xbox 360 controller that ViGEmBus plugs in: there while
// someone plays, gone when the last pad has left, so that games see no controller while
// nobody uses one.
//
// Every bus call is made on the controller's own thread, in the order asked: a plug-in can
// take a second while Windows starts the controller's driver, and the pad service's loop
// must not wait for it while another pad's events arrive. The loop only queues work here.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>

#include "controller/controller_state.h"
#include "controller/gamepad_controller.h"
#include "controller/vigem_client.h"
#include "controller/xusb_report.h"
#include "platform/gamepad_bus.h"

namespace pellvane {

class Xbox360Controller final : public GamepadController {
  public:
    explicit Xbox360Controller(platform::GamepadBus& bus, vigem::RequestLimits limits = {});
    // Closes the controller, then ends the bus thread and joins it.
    ~Xbox360Controller() override;
    Xbox360Controller(const Xbox360Controller&) = delete;
    Xbox360Controller& operator=(const Xbox360Controller&) = delete;

    // At start-up, before the servers: 1 when a bus answers. Nothing is plugged in yet.
    int startController() override;
    // At an admission: asks for the controller to be plugged in (and, after a bus was
    // lost, for a bus to be found again), with the rest report as its first. 1 unless the
    // bus thread cannot be had.
    int openController() override;
    // At Quit, once the servers have stopped: the rest report if needed, the unplug and
    // the closing of the bus, waited for.
    void closeController() override;
    // The rest report if needed, then the unplug.
    void lastPadGone() override;
    // From a plug-in request until the last pad has gone or the bus failed.
    bool isOpen() const override;
    void handleGamepadEvent(const wire::GamepadEventBody& event) override;

    // Returns once the bus thread has carried out everything asked of it so far.
    void waitUntilIdle();

  private:
    struct Job {
        enum class Kind { plugIn, submit, unplug, disconnect } kind;
        xusb::Report report;       // plugIn and submit
        std::uint64_t generation;  // the plug-in that the job belongs to
    };

    bool enqueueLocked(Job::Kind kind, const xusb::Report& report = {});
    void restAndUnplugLocked();
    void runJobs();
    void carryOut(const Job& job);
    void plugInFailed(std::uint64_t generation);

    // The bus thread's alone once it runs (startController uses it before that).
    vigem::BusClient client_;

    // Guards every field below. Held only to queue and take jobs, never across a bus call.
    mutable std::mutex lock_;
    std::condition_variable changed_;
    std::deque<Job> jobs_;
    bool busy_ = false;     // a job is being carried out
    bool closing_ = false;  // set by the destructor: the thread ends once the queue is empty
    // A controller is wanted: from a plug-in request until the last pad has gone or the
    // bus failed it.
    bool wanted_ = false;
    // Counts plug-in requests, so that the failure of an earlier controller does not undo
    // a later request.
    std::uint64_t generation_ = 0;
    ControllerState state_;
    xusb::TriggerWrites triggers_;
    std::thread thread_;
};

}  // namespace pellvane
