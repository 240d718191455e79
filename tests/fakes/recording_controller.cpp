#include "tests/fakes/recording_controller.h"

#include <algorithm>

namespace pellvane::testing {

void RecordingController::watchServers(const ZarvoServer* pad, const ZarvoServer* channel) {
    pad_.store(pad);
    channel_.store(channel);
}

void RecordingController::setPresent(bool present) {
    std::lock_guard guard(mutex_);
    present_ = present;
}

RecordingController::Call RecordingController::noteCall(bool open) const {
    Call call;
    call.open = open;
    if (const ZarvoServer* pad = pad_.load()) {
        call.padRunning = pad->isRunning();
        call.padHasDelegate = pad->delegate() != nullptr;
    }
    if (const ZarvoServer* channel = channel_.load()) {
        call.channelRunning = channel->isRunning();
    }
    return call;
}

int RecordingController::openController() {
    const Call call = noteCall(true);
    std::lock_guard guard(mutex_);
    calls_.push_back(call);
    open_ = open_ || present_;
    return open_ ? 1 : 0;
}

void RecordingController::closeController() {
    const Call call = noteCall(false);
    std::lock_guard guard(mutex_);
    calls_.push_back(call);
    open_ = false;
}

void RecordingController::lastPadGone() {
    std::lock_guard guard(mutex_);
    ++restCalls_;
}

bool RecordingController::isOpen() const {
    std::lock_guard guard(mutex_);
    return open_;
}

void RecordingController::handleGamepadEvent(const wire::GamepadEventBody& event) {
    std::lock_guard guard(mutex_);
    events_.push_back(event);
}

std::vector<RecordingController::Call> RecordingController::calls() const {
    std::lock_guard guard(mutex_);
    return calls_;
}

int RecordingController::openCalls() const {
    std::lock_guard guard(mutex_);
    return static_cast<int>(
        std::count_if(calls_.begin(), calls_.end(), [](const Call& call) { return call.open; }));
}

int RecordingController::closeCalls() const {
    std::lock_guard guard(mutex_);
    return static_cast<int>(
        std::count_if(calls_.begin(), calls_.end(), [](const Call& call) { return !call.open; }));
}

int RecordingController::restCalls() const {
    std::lock_guard guard(mutex_);
    return restCalls_;
}

std::vector<wire::GamepadEventBody> RecordingController::events() const {
    std::lock_guard guard(mutex_);
    return events_;
}

}  // namespace pellvane::testing
