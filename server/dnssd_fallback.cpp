#include "server/dnssd_fallback.h"

#include <algorithm>
#include <array>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/sockets.h"
#include "server/loop_waker.h"

namespace pellvane::dnssd {
namespace {

using sysdnssd::Status;
using sysdnssd::SystemDnssd;

// Browse answers come from the network: a flood of them must not grow without end while
// nobody processes them. Later ones are dropped until the waiting ones are delivered.
constexpr std::size_t maxWaitingAnswers = 256;
// An instance label holds at most 63 bytes; escaped characters take up to four each.
constexpr std::size_t maxInstanceLabelLength = 255;
constexpr char localDomain[] = "local.";

std::string withoutTrailingDot(const char* text) {
    std::string result = text == nullptr ? "" : text;
    if (!result.empty() && result.back() == '.') {
        result.pop_back();
    }
    return result;
}

char lowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equalIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lowerAscii(a[i]) != lowerAscii(b[i])) {
            return false;
        }
    }
    return true;
}

// The system announces on the local link only: the default domain or "local.".
bool isLocalDomain(const char* domain) {
    const std::string name = withoutTrailingDot(domain);
    return name.empty() || equalIgnoringCase(name, "local");
}

// The label of an instance of the browsed type, from its full name ("NAME._kesp._tcp.local").
std::optional<std::string> instanceLabel(const std::string& fullName, std::string_view typeSuffix) {
    std::string name = withoutTrailingDot(fullName.c_str());
    if (name.size() <= typeSuffix.size() ||
        name.size() - typeSuffix.size() > maxInstanceLabelLength ||
        !equalIgnoringCase(std::string_view(name).substr(name.size() - typeSuffix.size()),
                           typeSuffix)) {
        return std::nullopt;
    }
    name.resize(name.size() - typeSuffix.size());
    return name;
}

std::string computerName(const std::string& otherwise) {
    std::array<char, 256> buffer{};
    if (!net::hostName(buffer.data(), buffer.size()) || buffer[0] == '\0') {
        return otherwise;
    }
    buffer.back() = '\0';
    return buffer.data();
}

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
void abandon(std::shared_ptr<void> leftOver) {
    static std::mutex mutex;                                                // guards the list
    static auto* const leftOvers = new std::vector<std::shared_ptr<void>>;  // never freed
    std::lock_guard guard(mutex);
    leftOvers->push_back(std::move(leftOver));
}

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

Reference* toReference(DNSServiceRef sdRef) {
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

struct RegistrationMailbox : Mailbox {
    Status outcome = sysdnssd::succeeded;  // of the first call: the registration's outcome
};

void registrationDone(void* context, Status status) {
    auto* mailbox = static_cast<RegistrationMailbox*>(context);
    std::lock_guard guard(mailbox->mutex);
    if (mailbox->calls == 0) {
        mailbox->outcome = status;
    }
    mailbox->announce();
}

class RegistrationReference final
    : public ReferenceWith<RegistrationMailbox, SystemDnssd::Registration> {
  public:
    RegistrationReference(DNSServiceRegisterReply reply, void* context, std::string name,
                          std::string regtype)
        : reply_(reply), context_(context), name_(std::move(name)), regtype_(std::move(regtype)) {}

    bool start(SystemDnssd& system, const sysdnssd::ServiceInstance& instance) {
        return begin([&](RegistrationMailbox* mailbox) {
            return system.startRegistration(instance, &registrationDone, mailbox);
        });
    }

    void finish(std::chrono::milliseconds settleTime) override {
        if (request_ == nullptr) {
            return;
        }
        int callsSoFar = 0;
        {
            std::lock_guard guard(mailbox_->mutex);
            mailbox_->waker = nullptr;
            callsSoFar = mailbox_->calls;
        }
        // The system calls back for the registration and, if it takes the request, once more
        // when the service has been withdrawn; only then may the request and its instance be
        // freed, since Windows reads the instance while withdrawing it. Should it report the
        // registration more than once, the withdrawal is a call after those seen here.
        const int expectedCalls = request_->deregister() ? std::max(2, callsSoFar + 1) : 1;
        settle(mailbox_, request_, settleTime,
               [&](const RegistrationMailbox& mailbox) { return mailbox.calls >= expectedCalls; });
    }

  protected:
    DNSServiceErrorType deliver() override {
        std::optional<Status> outcome;
        {
            std::lock_guard guard(mailbox_->mutex);
            if (mailbox_->calls > 0 && !delivered_) {
                delivered_ = true;
                outcome = mailbox_->outcome;
            }
        }
        if (outcome) {
            const DNSServiceErrorType error =
                *outcome == sysdnssd::succeeded ? kDNSServiceErr_NoError : kDNSServiceErr_Unknown;
            // Copies: the reply may deallocate the reference, and the strings with it.
            const std::string name = name_;
            const std::string regtype = regtype_;
            reply_(self(), 0, error, name.c_str(), regtype.c_str(), localDomain, context_);
        }
        return kDNSServiceErr_NoError;
    }

  private:
    DNSServiceRegisterReply reply_;
    void* context_;
    std::string name_;
    std::string regtype_;     // "_kesp._tcp."
    bool delivered_ = false;  // used by the processing thread only
};

struct BrowseMailbox : Mailbox {
    std::vector<sysdnssd::BrowseAnswer> answers;  // not yet delivered
    std::optional<Status> end;                    // the status that ended the browse
};

void browseDone(void* context, Status status, std::vector<sysdnssd::BrowseAnswer> answers) {
    auto* mailbox = static_cast<BrowseMailbox*>(context);
    std::lock_guard guard(mailbox->mutex);
    if (status == sysdnssd::succeeded) {
        for (auto& answer : answers) {
            if (mailbox->answers.size() < maxWaitingAnswers) {
                mailbox->answers.push_back(std::move(answer));
            }
        }
    } else if (!mailbox->end) {
        mailbox->end = status;
    }
    mailbox->announce();
}

class BrowseReference final : public QueryReference<BrowseMailbox> {
  public:
    BrowseReference(DNSServiceBrowseReply reply, void* context, const std::string& type)
        : reply_(reply),
          context_(context),
          typeSuffix_("." + type + ".local"),
          regtype_(type + ".") {}

    bool start(SystemDnssd& system) {
        return begin([&](BrowseMailbox* mailbox) {
            return system.startBrowse(typeSuffix_.substr(1), &browseDone, mailbox);
        });
    }

  protected:
    DNSServiceErrorType deliver() override {
        std::vector<sysdnssd::BrowseAnswer> answers;
        std::optional<Status> failure;
        {
            std::lock_guard guard(mailbox_->mutex);
            answers.swap(mailbox_->answers);
            if (mailbox_->end && *mailbox_->end != sysdnssd::cancelled && !failureDelivered_) {
                failureDelivered_ = true;
                failure = mailbox_->end;
            }
        }
        // Copied, so that nothing of the reference is used once a reply has been called.
        const DNSServiceRef ref = self();
        const DNSServiceBrowseReply reply = reply_;
        void* const context = context_;
        const std::string regtype = regtype_;
        std::vector<std::pair<std::string, bool>> found;
        for (const auto& answer : answers) {
            if (auto label = instanceLabel(answer.instanceName, typeSuffix_)) {
                found.emplace_back(std::move(*label), answer.gone);
            }
        }
        for (std::size_t i = 0; i < found.size(); ++i) {
            DNSServiceFlags flags = found[i].second ? 0 : kDNSServiceFlagsAdd;
            if (i + 1 < found.size() || failure) {
                flags |= kDNSServiceFlagsMoreComing;
            }
            reply(ref, flags, 0, kDNSServiceErr_NoError, found[i].first.c_str(), regtype.c_str(),
                  localDomain, context);
        }
        if (failure) {
            reply(ref, 0, 0, kDNSServiceErr_Unknown, "", regtype.c_str(), localDomain, context);
            return kDNSServiceErr_Unknown;
        }
        return kDNSServiceErr_NoError;
    }

  private:
    DNSServiceBrowseReply reply_;
    void* context_;
    std::string typeSuffix_;         // "._kesp._tcp.local"
    std::string regtype_;            // "_kesp._tcp."
    bool failureDelivered_ = false;  // used by the processing thread only
};

struct ResolveMailbox : Mailbox {
    std::optional<Status> end;  // a resolve answers once
    std::optional<sysdnssd::ServiceInstance> answer;
};

void resolveDone(void* context, Status status, const sysdnssd::ServiceInstance* instance) {
    auto* mailbox = static_cast<ResolveMailbox*>(context);
    std::lock_guard guard(mailbox->mutex);
    if (!mailbox->end) {
        mailbox->end = status;
        if (status == sysdnssd::succeeded && instance != nullptr) {
            mailbox->answer = *instance;
        }
    }
    mailbox->announce();
}

class ResolveReference final : public QueryReference<ResolveMailbox> {
  public:
    ResolveReference(DNSServiceResolveReply reply, void* context, std::string instanceName)
        : reply_(reply), context_(context), instanceName_(std::move(instanceName)) {}

    bool start(SystemDnssd& system) {
        return begin([&](ResolveMailbox* mailbox) {
            return system.startResolve(instanceName_, &resolveDone, mailbox);
        });
    }

  protected:
    DNSServiceErrorType deliver() override {
        std::optional<sysdnssd::ServiceInstance> answer;
        {
            std::lock_guard guard(mailbox_->mutex);
            if (!mailbox_->end || delivered_) {
                return kDNSServiceErr_NoError;
            }
            delivered_ = true;
            answer = mailbox_->answer;
        }
        const std::string fullName = instanceName_ + ".";
        if (!answer) {
            reply_(self(), 0, 0, kDNSServiceErr_Unknown, fullName.c_str(), "", 0, 0, nullptr,
                   context_);
            return kDNSServiceErr_NoError;
        }
        reply_(self(), 0, 0, kDNSServiceErr_NoError, fullName.c_str(), answer->hostName.c_str(),
               net::toNetworkOrder(answer->port), 0, nullptr, context_);
        return kDNSServiceErr_NoError;
    }

  private:
    DNSServiceResolveReply reply_;
    void* context_;
    std::string instanceName_;  // "NAME._kesp._tcp.local"
    bool delivered_ = false;    // used by the processing thread only
};

}  // namespace

DnssdFallback::DnssdFallback(std::unique_ptr<sysdnssd::SystemDnssd> system,
                             std::chrono::milliseconds settleTime)
    : system_(std::move(system)), settleTime_(settleTime) {}

DnssdFallback::~DnssdFallback() = default;

DNSServiceErrorType DnssdFallback::registerService(DNSServiceRef* sdRef, const char* name,
                                                   const char* regtype, const char* domain,
                                                   const char* host, std::uint16_t port,
                                                   DNSServiceRegisterReply callBack,
                                                   void* context) {
    if (sdRef == nullptr || regtype == nullptr || callBack == nullptr || !system_->canRegister()) {
        return kDNSServiceErr_Unknown;
    }
    if (!isLocalDomain(domain)) {
        return kDNSServiceErr_Unsupported;
    }
    const std::string type = withoutTrailingDot(regtype);
    const std::string label =
        name != nullptr && name[0] != '\0' ? name : computerName("KespServer");
    sysdnssd::ServiceInstance instance;
    instance.instanceName = label + "." + type + ".local";
    instance.hostName = host != nullptr && host[0] != '\0' ? withoutTrailingDot(host)
                                                           : computerName(label) + ".local";
    instance.port = net::fromNetworkOrder(port);
    auto reference = std::make_unique<RegistrationReference>(callBack, context, label, type + ".");
    if (!reference->start(*system_, instance)) {
        return kDNSServiceErr_Unknown;
    }
    *sdRef = reinterpret_cast<DNSServiceRef>(static_cast<Reference*>(reference.release()));
    return kDNSServiceErr_NoError;
}

DNSServiceErrorType DnssdFallback::browse(DNSServiceRef* sdRef, const char* regtype,
                                          const char* domain, DNSServiceBrowseReply callBack,
                                          void* context) {
    if (sdRef == nullptr || regtype == nullptr || callBack == nullptr || !system_->canBrowse()) {
        return kDNSServiceErr_Unknown;
    }
    if (!isLocalDomain(domain)) {
        return kDNSServiceErr_Unsupported;
    }
    auto reference =
        std::make_unique<BrowseReference>(callBack, context, withoutTrailingDot(regtype));
    if (!reference->start(*system_)) {
        return kDNSServiceErr_Unknown;
    }
    *sdRef = reinterpret_cast<DNSServiceRef>(static_cast<Reference*>(reference.release()));
    return kDNSServiceErr_NoError;
}

DNSServiceErrorType DnssdFallback::resolve(DNSServiceRef* sdRef, const char* name,
                                           const char* regtype, const char* domain,
                                           DNSServiceResolveReply callBack, void* context) {
    if (sdRef == nullptr || name == nullptr || regtype == nullptr || callBack == nullptr ||
        !system_->canBrowse()) {
        return kDNSServiceErr_Unknown;
    }
    if (!isLocalDomain(domain)) {
        return kDNSServiceErr_Unsupported;
    }
    auto reference = std::make_unique<ResolveReference>(
        callBack, context, std::string(name) + "." + withoutTrailingDot(regtype) + ".local");
    if (!reference->start(*system_)) {
        return kDNSServiceErr_Unknown;
    }
    *sdRef = reinterpret_cast<DNSServiceRef>(static_cast<Reference*>(reference.release()));
    return kDNSServiceErr_NoError;
}

std::intptr_t DnssdFallback::socketOf(DNSServiceRef sdRef) const {
    return sdRef == nullptr ? -1 : toReference(sdRef)->socket();
}

DNSServiceErrorType DnssdFallback::processResult(DNSServiceRef sdRef) {
    return sdRef == nullptr ? kDNSServiceErr_Unknown : toReference(sdRef)->processResult();
}

void DnssdFallback::deallocate(DNSServiceRef sdRef) {
    if (sdRef == nullptr) {
        return;
    }
    Reference* reference = toReference(sdRef);
    reference->finish(settleTime_);
    delete reference;
}

}  // namespace pellvane::dnssd
