// The one thread that types. Key messages reach it through a bounded queue per host, served
// in turn one message at a time, so that the 21 ms pauses between records and the
// blocked-key beep never hold up the pad service's loop (other pads, gamepad events and
// admissions go on meanwhile) and one pad's long messages hold up another pad's keys by at
// most the message being typed. It remembers what each host holds down, releases it when the
// host is gone, and stops typing at once when the service stops.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "delegates/held_keys.h"
#include "platform/keyboard.h"
#include "platform/sockets.h"
#include "server/wire_protocol.h"

namespace pellvane {
class ZarvoServer;
}

namespace pellvane::keys {

class KeyInjectorThread {
  public:
    // Per host: about a minute of brisk typing; a 65 KB message is 16,000 records, six
    // minutes alone.
    static constexpr std::size_t queueLimit = 256;
    // For all hosts together: four full queues of the largest messages.
    static constexpr std::size_t queuedBytesLimit = 4 * queueLimit * 65'536;

    explicit KeyInjectorThread(keyboard::Keyboard& keyboard);
    // Stops typing and joins the thread; keys still held are released.
    ~KeyInjectorThread();
    KeyInjectorThread(const KeyInjectorThread&) = delete;
    KeyInjectorThread& operator=(const KeyInjectorThread&) = delete;

    // Queues a whole KeyDown or KeyUp that `host` sent to `server`. A message that does
    // not fit, or that comes while typing is stopped, is dropped with a debug line; a KeyUp
    // dropped for want of room releases what the host holds once its queue gets there.
    bool enqueue(ZarvoServer* server, ReceivedMessage message, const net::HostAddress& host);
    // Releases what `host` holds once the messages it queued before have been typed.
    void releaseHost(const net::HostAddress& host);
    // Empties the queues and ends the message being typed between two records, then
    // releases every held key. When it returns no record of a message is being typed, and
    // none will be until resume().
    void stopTyping();
    void resume();
    // Returns when every queue is empty and nothing is being typed.
    void waitUntilIdle();

  private:
    struct Work {
        ZarvoServer* server = nullptr;
        ReceivedMessage message;  // no bytes: release what the host holds
        net::HostAddress host;
    };
    // One host's messages in arrival order. Hosts take turns in the order of hostQueues_.
    struct HostQueue {
        net::HostAddress host;
        std::deque<Work> work;
    };
    class InterruptibleSender;

    void run();
    HostQueue* queueOf(const net::HostAddress& host);  // with mutex_ held
    void queueRelease(const net::HostAddress& host);   // with mutex_ held
    Work takeNext();                                   // with mutex_ held
    void endTurn(const net::HostAddress& host);        // with mutex_ held
    void perform(const Work& work, std::uint64_t generation);
    void sendReleases(const std::vector<keyboard::KeyRecord>& releases);

    keyboard::Keyboard& keyboard_;
    // Guards every field below. Held around the bookkeeping of a record, never while one
    // is injected.
    std::mutex mutex_;
    std::condition_variable changed_;
    // Hosts with queued work, the next to be served first; the host being served stays at
    // the front, even with nothing left, until its message is done.
    std::deque<HostQueue> hostQueues_;
    std::size_t queuedBytes_ = 0;  // of the messages in hostQueues_
    HeldKeys held_;
    std::uint64_t generation_ = 0;  // raised by every stopTyping: typing under an older one ends
    bool refusing_ = false;         // between stopTyping and resume
    bool ending_ = false;
    bool busy_ = false;     // a work item is under way
    bool sending_ = false;  // a record is being injected
    std::thread thread_;    // declared last: started once everything above exists
};

}  // namespace pellvane::keys
