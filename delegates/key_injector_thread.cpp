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

    bool holdsKey(const keyboard::KeyRecord& release) override {
        std::lock_guard guard(owner_.mutex_);
        return owner_.held_.holds(host_, release);
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
    if (!thread_.joinable()) {
        const std::uint64_t generation = generation_;
        guard.unlock();
        perform({server, std::move(message), host}, generation);
        return true;
    }
    HostQueue* queue = queueOf(host);
    const std::size_t size = message.bytes.size();
    if ((queue != nullptr && queue->work.size() >= queueLimit) ||
        queuedBytes_ + size > queuedBytesLimit) {
        if (message.header.type == wire::KeyUp) {
            // The keys it would have let go must not stay down.
            queueRelease(host);
        }
        guard.unlock();
        changed_.notify_all();
        debug::output(L"Key message dropped: too many waiting to be typed\n");
        return false;
    }
    if (queue == nullptr) {
        queue = &hostQueues_.emplace_back(HostQueue{host, {}});
    }
    queue->work.push_back({server, std::move(message), host});
    queuedBytes_ += size;
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
    queueRelease(host);
    guard.unlock();
    changed_.notify_all();
}

void KeyInjectorThread::stopTyping() {
    std::vector<keyboard::KeyRecord> releases;
    {
        std::unique_lock guard(mutex_);
        refusing_ = true;
        ++generation_;
        hostQueues_.clear();
        queuedBytes_ = 0;
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
    changed_.wait(guard, [this] { return (hostQueues_.empty() && !busy_) || ending_; });
}

void KeyInjectorThread::run() {
    std::unique_lock guard(mutex_);
    for (;;) {
        changed_.wait(guard, [this] { return ending_ || !hostQueues_.empty(); });
        if (ending_) {
            return;
        }
        const Work work = takeNext();
        const std::uint64_t generation = generation_;
        busy_ = true;
        guard.unlock();
        perform(work, generation);
        guard.lock();
        endTurn(work.host);
        busy_ = false;
        changed_.notify_all();
    }
}

KeyInjectorThread::HostQueue* KeyInjectorThread::queueOf(const net::HostAddress& host) {
    for (HostQueue& queue : hostQueues_) {
        if (queue.host == host) {
            return &queue;
        }
    }
    return nullptr;
}

void KeyInjectorThread::queueRelease(const net::HostAddress& host) {
    HostQueue* queue = queueOf(host);
    if (queue == nullptr) {
        queue = &hostQueues_.emplace_back(HostQueue{host, {}});
    }
    // Never refused for want of room: a key left down is worse than a queue one item longer.
    // Two releases in a row do what one does, so a flood of them takes no room.
    if (queue->work.empty() || !queue->work.back().message.bytes.empty()) {
        queue->work.push_back({nullptr, ReceivedMessage(), host});
    }
}

KeyInjectorThread::Work KeyInjectorThread::takeNext() {
    HostQueue& front = hostQueues_.front();
    Work work = std::move(front.work.front());
    front.work.pop_front();
    queuedBytes_ -= work.message.bytes.size();
    return work;
}

void KeyInjectorThread::endTurn(const net::HostAddress& host) {
    // A stopTyping meanwhile has emptied the queues: the front is then another turn's.
    if (hostQueues_.empty() || !(hostQueues_.front().host == host)) {
        return;
    }
    HostQueue served = std::move(hostQueues_.front());
    hostQueues_.pop_front();
    if (!served.work.empty()) {
        hostQueues_.push_back(std::move(served));
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
