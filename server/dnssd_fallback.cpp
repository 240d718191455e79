#include "server/dnssd_fallback.h"

#include <algorithm>
#include <array>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "server/dnssd_fallback_reference.h"

namespace pellvane::dnssd {
namespace fallback {

std::string withoutTrailingDot(const char* text) {
    std::string result = text == nullptr ? "" : text;
    if (!result.empty() && result.back() == '.') {
        result.pop_back();
    }
    return result;
}

namespace {

char lowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

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

void abandon(std::shared_ptr<void> leftOver) {
    static std::mutex mutex;                                                // guards the list
    static auto* const leftOvers = new std::vector<std::shared_ptr<void>>;  // never freed
    std::lock_guard guard(mutex);
    leftOvers->push_back(std::move(leftOver));
}

}  // namespace fallback

namespace {

using namespace fallback;

// The system announces on the local link only: the default domain or "local.".
bool isLocalDomain(const char* domain) {
    const std::string name = withoutTrailingDot(domain);
    return name.empty() || equalIgnoringCase(name, "local");
}

std::string computerName(const std::string& otherwise) {
    std::array<char, 256> buffer{};
    if (!net::hostName(buffer.data(), buffer.size()) || buffer[0] == '\0') {
        return otherwise;
    }
    buffer.back() = '\0';
    return buffer.data();
}

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
    std::unique_ptr<Reference> reference =
        startBrowse(*system_, callBack, context, withoutTrailingDot(regtype));
    if (reference == nullptr) {
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
    std::unique_ptr<Reference> reference =
        startResolve(*system_, callBack, context,
                     std::string(name) + "." + withoutTrailingDot(regtype) + ".local");
    if (reference == nullptr) {
        return kDNSServiceErr_Unknown;
    }
    *sdRef = reinterpret_cast<DNSServiceRef>(reference.release());
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
