#include "delegates/key_injector_thread.h"

#include <chrono>
#include <system_error>

#include "delegates/key_injection.h"
#include "platform/debug_output.h"

namespace pellvane::keys {

// Sends the records of one message for one host, unless a stopTyping has come since the
// message was taken; the pause between records ends as soon as one comes.
class KeyInjectorThread::InterruptibleSender final : public RecordSender {
  public:
    InterruptibleSender(KeyInjectorThread& owner, const net::HostAddress& host,
                        std::uint64_t generation)
        : owner_(owner), host_(host), generation_(generation) {}

    bool pause(std::uint32_t milliseconds) override {
        std::unique_lock guard(owner_.mutex_);
        return !owner_.changed_.wait_for(guard, std::chrono::milliseconds(milliseconds),
                                         [this] { return stale(); });
    }

    bool send(const keyboard::KeyRecord& record) override {
        {
            std::lock_guard guard(owner_.mutex_);
            if (stale()) {
                return false;
            }
            owner_.sending_ = true;
        }
        owner_.keyboard_.sendRecord(record);
        {
            std::lock_guard guard(owner_.mutex_);
            owner_.sending_ = false;
            owner_.held_.noteSent(host_, record);
        }
        owner_.changed_.notify_all();
        return true;
    }

  private:
    bool stale() const { return owner_.generation_ != generation_ || owner_.ending_; }

    KeyInjectorThread& owner_;
    net::HostAddress host_;
    std::uint64_t generation_;
};

KeyInjectorThread::KeyInjectorThread(keyboard::Keyboard& keyboard) : keyboard_(keyboard) {
    try {
        thread_ = std::thread([this] { run(); });
    } catch (const std::system_error&) {
        // Without a thread of its own, typing happens on the caller's thread (see enqueue).
    }
}

KeyInjectorThread::~KeyInjectorThread() {
    stopTyping();
    {
        std::lock_guard guard(mutex_);
        ending_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable()) {
        thread_.join();
    }
}

bool KeyInjectorThread::enqueue(ZarvoServer* server, ReceivedMessage message,
                                const net::HostAddress& host) {
    std::unique_lock guard(mutex_);
    if (refusing_ || ending_) {
        return false;  // the service is stopping: its pads' keys are not typed any more
    }
    if (queue_.size() >= queueLimit) {
        guard.unlock();
        debug::output(L"Key message dropped: too many waiting to be typed\n");
        return false;
    }
    if (!thread_.joinable()) {
        const std::uint64_t generation = generation_;
        guard.unlock();
        perform({server, std::move(message), host}, generation);
        return true;
    }
    queue_.push_back({server, std::move(message), host});
    guard.unlock();
    changed_.notify_all();
    return true;
}

void KeyInjectorThread::releaseHost(const net::HostAddress& host) {
    std::unique_lock guard(mutex_);
    if (refusing_ || ending_) {
        return;  // stopTyping has released everything
    }
    if (!thread_.joinable()) {
        const std::vector<keyboard::KeyRecord> releases = held_.releaseHost(host);
        guard.unlock();
        sendReleases(releases);
        return;
    }
    // Never dropped for want of room: a key left down is worse than a queue one item long.
    queue_.push_back({nullptr, ReceivedMessage(), host});
    guard.unlock();
    changed_.notify_all();
}

void KeyInjectorThread::stopTyping() {
    std::vector<keyboard::KeyRecord> releases;
    {
        std::unique_lock guard(mutex_);
        refusing_ = true;
        ++generation_;
        queue_.clear();
        changed_.notify_all();
        changed_.wait(guard, [this] { return !sending_; });
        releases = held_.releaseAll();
    }
    sendReleases(releases);
}

void KeyInjectorThread::resume() {
    std::lock_guard guard(mutex_);
    refusing_ = false;
}

void KeyInjectorThread::waitUntilIdle() {
    std::unique_lock guard(mutex_);
    changed_.wait(guard, [this] { return (queue_.empty() && !busy_) || ending_; });
}

void KeyInjectorThread::run() {
    std::unique_lock guard(mutex_);
    for (;;) {
        changed_.wait(guard, [this] { return ending_ || !queue_.empty(); });
        if (ending_) {
            return;
        }
        const Work work = std::move(queue_.front());
        queue_.pop_front();
        const std::uint64_t generation = generation_;
        busy_ = true;
        guard.unlock();
        perform(work, generation);
        guard.lock();
        busy_ = false;
        changed_.notify_all();
    }
}

void KeyInjectorThread::perform(const Work& work, std::uint64_t generation) {
    if (work.message.bytes.empty()) {
        std::vector<keyboard::KeyRecord> releases;
        {
            std::lock_guard guard(mutex_);
            if (generation_ != generation) {
                return;  // stopTyping has released everything
            }
            releases = held_.releaseHost(work.host);
            sending_ = true;
        }
        sendReleases(releases);
        {
            std::lock_guard guard(mutex_);
            sending_ = false;
        }
        changed_.notify_all();
        return;
    }
    InterruptibleSender sender(*this, work.host, generation);
    injectKeys(work.server, work.message, keyboard_, sender);
}

void KeyInjectorThread::sendReleases(const std::vector<keyboard::KeyRecord>& releases) {
    // Key-ups follow each other without the typing pause: nothing reads them as text.
    for (const keyboard::KeyRecord& release : releases) {
        keyboard_.sendRecord(release);
    }
}

}  // namespace pellvane::keys
