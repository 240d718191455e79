#include "tests/support/recording_delegate.h"

#include <algorithm>

namespace pellvane::testing {

void RecordingDelegate::record(std::string call) {
    {
        std::lock_guard guard(mutex_);
        lastThreads_[call] = std::this_thread::get_id();
        calls_.push_back(std::move(call));
    }
    changed_.notify_all();
}

void RecordingDelegate::serverDidPublish(ZarvoServer*) {
    record("publish");
}
void RecordingDelegate::resetRetryCount(ZarvoServer*) {
    record("reset");
}
void RecordingDelegate::serverDidAdmitClient(ZarvoServer*) {
    record("admit");
}
void RecordingDelegate::reservedNotification(ZarvoServer*) {
    record("reserved");
}

void RecordingDelegate::serverDidStop(ZarvoServer* server) {
    record("stop");
    std::function<void(ZarvoServer*)> onStop;
    {
        std::lock_guard guard(mutex_);
        onStop = onStop_;
    }
    if (onStop) {
        onStop(server);
    }
}

int RecordingDelegate::shouldAdmitClient(ZarvoServer*, const ReceivedMessage*) {
    record("ask");
    std::function<void()> onAsk;
    {
        std::lock_guard guard(mutex_);
        onAsk = onAsk_;
    }
    if (onAsk) {
        onAsk();
    }
    std::lock_guard guard(mutex_);
    return admitAnswer_;
}

void RecordingDelegate::setOnAsk(std::function<void()> onAsk) {
    std::lock_guard guard(mutex_);
    onAsk_ = std::move(onAsk);
}

std::unique_ptr<wire::AppList> RecordingDelegate::applicationList(ZarvoServer*,
                                                                  const ReceivedMessage*) {
    record("list");
    std::lock_guard guard(mutex_);
    if (!hasApplications_) {
        return nullptr;
    }
    auto list = std::make_unique<wire::AppList>();
    list->records = applications_;
    return list;
}

void RecordingDelegate::serverDidReceiveMessage(ZarvoServer*, ReceivedMessage message) {
    const std::uint32_t type = message.header.type;
    std::function<void()> onMessage;
    {
        std::lock_guard guard(mutex_);
        messages_.push_back(std::move(message));
        onMessage = onMessage_;
    }
    record("message:" + std::to_string(type));
    if (onMessage) {
        onMessage();
    }
}

void RecordingDelegate::setAdmitAnswer(int answer) {
    std::lock_guard guard(mutex_);
    admitAnswer_ = answer;
}

void RecordingDelegate::setApplications(std::vector<wire::AppNameRecord> applications) {
    std::lock_guard guard(mutex_);
    applications_ = std::move(applications);
    hasApplications_ = true;
}

void RecordingDelegate::setOnStop(std::function<void(ZarvoServer*)> onStop) {
    std::lock_guard guard(mutex_);
    onStop_ = std::move(onStop);
}

void RecordingDelegate::setOnMessage(std::function<void()> onMessage) {
    std::lock_guard guard(mutex_);
    onMessage_ = std::move(onMessage);
}

std::vector<std::string> RecordingDelegate::calls() const {
    std::lock_guard guard(mutex_);
    return calls_;
}

std::vector<ReceivedMessage> RecordingDelegate::messages() const {
    std::lock_guard guard(mutex_);
    return messages_;
}

std::thread::id RecordingDelegate::lastThreadOf(const std::string& call) const {
    std::lock_guard guard(mutex_);
    const auto found = lastThreads_.find(call);
    return found == lastThreads_.end() ? std::thread::id() : found->second;
}

int RecordingDelegate::count(const std::string& call) const {
    std::lock_guard guard(mutex_);
    return static_cast<int>(std::count(calls_.begin(), calls_.end(), call));
}

bool RecordingDelegate::waitFor(const std::string& call, int times,
                                std::chrono::milliseconds timeout) const {
    std::unique_lock guard(mutex_);
    return changed_.wait_for(
        guard, timeout, [&] { return std::count(calls_.begin(), calls_.end(), call) >= times; });
}

}  // namespace pellvane::testing
