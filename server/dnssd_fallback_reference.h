// What the DNS-SD fallback's references share: the mailbox into which the system's threads
// answer, the reference that a DNSServiceRef points to, and the release that waits for the
// system to finish with a request. For the fallback's own files only.
#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/sockets.h"
#include "platform/system_dnssd.h"
#include "server/dnssd_api.h"
#include "server/loop_waker.h"

namespace pellvane::dnssd::fallback {

using sysdnssd::Status;
using sysdnssd::SystemDnssd;

inline constexpr char localDomain[] = "local.";

std::string withoutTrailingDot(const char* text);
bool equalIgnoringCase(std::string_view a, std::string_view b);

// What the system's threads hand over to a reference. Each call of the system's function
// ends with announce(); a reference that has gone no longer hears of it, but a release that
// waits for the system does.
struct Mailbox {
    std::mutex mutex;  // guards every field here and in the derived mailboxes
    std::condition_variable changed;
    LoopWaker* waker = nullptr;  // the reference's socket; null once the reference has gone
    int calls = 0;

    // With `mutex` held. The notification happens under the lock too: once a release has
    // seen the call it may free the mailbox, and nothing of it may be touched afterwards.
    void announce() {
        ++calls;
        if (waker != nullptr) {
            waker->wake();
        }
        changed.notify_all();
    }

    void detach() {
        std::lock_guard guard(mutex);
        waker = nullptr;
    }
};

// Requests that the system never said it was done with, kept for the rest of the process.
void abandon(std::shared_ptr<void> leftOver);

// Frees the system's request and its mailbox once `settled` holds, waiting up to
// `settleTime` for it.
template <class Box, class Request, class Condition>
void settle(std::unique_ptr<Box>& mailbox, std::unique_ptr<Request>& request,
            std::chrono::milliseconds settleTime, Condition settled) {
    std::unique_lock guard(mailbox->mutex);
    const bool done =
        mailbox->changed.wait_for(guard, settleTime, [&] { return settled(*mailbox); });
    guard.unlock();
    if (done) {
        request.reset();
        mailbox.reset();
        return;
    }
    // The system has not said that it is done: it may still read the request and call back
    // with the mailbox, and freeing either could crash the program at any later moment. So
    // both stay allocated for good, and the library with them (the request holds it). This
    // costs a few hundred bytes, only when the system fails to answer in time, and it keeps
    // a stop or a quit from waiting for an answer that may never come.
    abandon(std::shared_ptr<Request>(std::move(request)));
    abandon(std::shared_ptr<Box>(std::move(mailbox)));
}

// What a DNSServiceRef of the fallback points to.
class Reference {
  public:
    virtual ~Reference() = default;

    net::SocketHandle socket() const { return waker_.socket(); }
    DNSServiceErrorType processResult() {
        waker_.drain();
        return deliver();
    }
    // Ends the system's work for this reference and frees what the system no longer uses.
    virtual void finish(std::chrono::milliseconds settleTime) = 0;

  protected:
    // Runs the reply function for what has arrived. It may deallocate the reference: nothing
    // of it is used after a reply function has been called.
    virtual DNSServiceErrorType deliver() = 0;

    DNSServiceRef self() { return reinterpret_cast<DNSServiceRef>(this); }

    LoopWaker waker_;
};

inline Reference* toReference(DNSServiceRef sdRef) {
    return reinterpret_cast<Reference*>(sdRef);
}

// A reference whose request answers into a mailbox of type Box.
template <class Box, class Request>
class ReferenceWith : public Reference {
  protected:
    // Opens the socket, then has `start` start the request with the mailbox to answer into.
    template <class Start>
    bool begin(Start start) {
        if (!waker_.open()) {
            return false;
        }
        mailbox_ = std::make_unique<Box>();
        mailbox_->waker = &waker_;  // before the request: the system may answer at once
        request_ = start(mailbox_.get());
        return request_ != nullptr;
    }

    std::unique_ptr<Box> mailbox_;
    std::unique_ptr<Request> request_;  // freed before the mailbox
};

// A browse or a resolve: the system uses the request until it has reported the end, which a
// cancel brings about (a browse then reports `cancelled` once more).
template <class Box>
class QueryReference : public ReferenceWith<Box, SystemDnssd::Query> {
  public:
    void finish(std::chrono::milliseconds settleTime) override {
        auto& mailbox = this->mailbox_;
        auto& request = this->request_;
        if (request == nullptr) {
            return;
        }
        mailbox->detach();
        bool ended = false;
        {
            std::lock_guard guard(mailbox->mutex);
            ended = mailbox->end.has_value();
        }
        if (!ended) {
            request->cancel();
        }
        settle(mailbox, request, settleTime, [](const Box& box) { return box.end.has_value(); });
    }
};

// A browse or a resolve under way, or null when the system would not start it.
std::unique_ptr<Reference> startBrowse(SystemDnssd& system, DNSServiceBrowseReply reply,
                                       void* context, const std::string& type);
std::unique_ptr<Reference> startResolve(SystemDnssd& system, DNSServiceResolveReply reply,
                                        void* context, std::string instanceName);

}  // namespace pellvane::dnssd::fallback
