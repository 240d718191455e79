#include "tests/shell/recording_controller.h"

namespace pellvane::testing {

void RecordingController::watchServers(const ZarvoServer* pad, const ZarvoServer* channel) {
    pad_.store(pad);
    channel_.store(channel);
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
    {
        std::lock_guard guard(mutex_);
        calls_.push_back(call);
    }
    if (present_.load()) {
        open_.store(true);
    }
    return open_.load() ? 1 : 0;
}

void RecordingController::closeController() {
    const Call call = noteCall(false);
    {
        std::lock_guard guard(mutex_);
        calls_.push_back(call);
    }
    open_.store(false);
}

std::vector<RecordingController::Call> RecordingController::calls() const {
    std::lock_guard guard(mutex_);
    return calls_;
}

}  // namespace pellvane::testing
