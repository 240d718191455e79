#include "controller/xbox360_controller.h"

#include <system_error>

#include "controller/gamepad_events.h"
#include "platform/debug_output.h"

namespace pellvane {
namespace {

// Reports queued beyond this are merged into the last one, which carries the whole state
// anyway: a stalled bus costs memory no more than this.
constexpr std::size_t queuedReportLimit = 64;

}  // namespace

Xbox360Controller::Xbox360Controller(platform::GamepadBus& bus, vigem::RequestLimits limits)
    : client_(bus, limits), state_(restControllerState()) {}

Xbox360Controller::~Xbox360Controller() {
    closeController();
    {
        std::lock_guard guard(lock_);
        closing_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable()) {
        thread_.join();
    }
}

// Start-up runs before the servers, so nothing else uses the client yet.
int Xbox360Controller::startController() {
    {
        std::lock_guard guard(lock_);
        if (thread_.joinable()) {
            return 1;  // the bus thread owns the client now
        }
    }
    return client_.connect() ? 1 : 0;
}

int Xbox360Controller::openController() {
    std::lock_guard guard(lock_);
    if (wanted_) {
        debug::output(L"QuibController already open!\n");
        return 1;
    }
    state_ = restControllerState();
    triggers_ = {};
    ++generation_;
    if (!enqueueLocked(Job::Kind::plugIn, xusb::reportFor(state_, triggers_))) {
        return 0;
    }
    wanted_ = true;
    return 1;
}

void Xbox360Controller::closeController() {
    bool threadRuns = false;
    {
        std::lock_guard guard(lock_);
        threadRuns = thread_.joinable();
        if (threadRuns) {
            restAndUnplugLocked();
            enqueueLocked(Job::Kind::disconnect);
        }
    }
    if (threadRuns) {
        waitUntilIdle();
    } else {
        client_.disconnect();  // only start-up has used the client, on this thread
    }
}

void Xbox360Controller::lastPadGone() {
    {
        std::lock_guard guard(lock_);
        restAndUnplugLocked();
    }
}

void Xbox360Controller::restAndUnplugLocked() {
    if (!wanted_) {
        return;
    }
    const xusb::Report before = xusb::reportFor(state_, triggers_);
    state_ = restControllerState();
    triggers_ = {};
    const xusb::Report rest = xusb::reportFor(state_, triggers_);
    if (before != rest) {
        enqueueLocked(Job::Kind::submit, rest);
    }
    enqueueLocked(Job::Kind::unplug);
    wanted_ = false;
}

bool Xbox360Controller::isOpen() const {
    std::lock_guard guard(lock_);
    return wanted_;
}

void Xbox360Controller::handleGamepadEvent(const wire::GamepadEventBody& event) {
    {
        std::lock_guard guard(lock_);
        if (!wanted_ ||
            gamepad::applyGamepadEvent(event, state_) != gamepad::EventOutcome::report) {
            return;
        }
        triggers_ = xusb::noteTriggerWrites(event, triggers_);
        const xusb::Report report = xusb::reportFor(state_, triggers_);
        if (jobs_.size() >= queuedReportLimit && jobs_.back().kind == Job::Kind::submit) {
            jobs_.back().report = report;
            return;
        }
        enqueueLocked(Job::Kind::submit, report);
    }
    changed_.notify_all();
}

void Xbox360Controller::waitUntilIdle() {
    std::unique_lock guard(lock_);
    changed_.wait(guard, [this] { return jobs_.empty() && !busy_; });
}

bool Xbox360Controller::enqueueLocked(Job::Kind kind, const xusb::Report& report) {
    if (!thread_.joinable()) {
        try {
            thread_ = std::thread([this] { runJobs(); });
        } catch (const std::system_error&) {
            debug::outputNarrow("Gamepad bus: no thread for the controller\n");
            return false;
        }
    }
    jobs_.push_back({kind, report, generation_});
    changed_.notify_all();
    return true;
}

void Xbox360Controller::runJobs() {
    std::unique_lock guard(lock_);
    for (;;) {
        changed_.wait(guard, [this] { return !jobs_.empty() || closing_; });
        if (jobs_.empty()) {
            return;  // closing, and nothing left to do
        }
        const Job job = jobs_.front();
        jobs_.pop_front();
        busy_ = true;
        guard.unlock();
        carryOut(job);
        guard.lock();
        busy_ = false;
        changed_.notify_all();
    }
}

void Xbox360Controller::carryOut(const Job& job) {
    switch (job.kind) {
        case Job::Kind::plugIn:
            if (!client_.connect() || !client_.plugIn()) {
                plugInFailed(job.generation);
            } else if (!client_.submit(job.report)) {
                client_.disconnect();
                plugInFailed(job.generation);
            }
            break;
        case Job::Kind::submit:
            // Reports for a controller whose plug-in failed, or that failed since, go nowhere.
            if (client_.pluggedIn() && !client_.submit(job.report)) {
                // The bus or its controller has gone: the next admission starts afresh.
                client_.disconnect();
                plugInFailed(job.generation);
            }
            break;
        case Job::Kind::unplug:
            client_.unplug();
            break;
        case Job::Kind::disconnect:
            client_.disconnect();
            break;
    }
}

void Xbox360Controller::plugInFailed(std::uint64_t generation) {
    std::lock_guard guard(lock_);
    if (generation == generation_) {
        wanted_ = false;
    }
}

}  // namespace pellvane
