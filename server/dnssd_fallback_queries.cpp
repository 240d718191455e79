// Browsing and resolving through the system's own DNS-SD, for the fallback.
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "server/dnssd_fallback_reference.h"

namespace pellvane::dnssd::fallback {
namespace {

// Browse answers come from the network: a flood of them must not grow without end while
// nobody processes them. Later ones are dropped until the waiting ones are delivered.
constexpr std::size_t maxWaitingAnswers = 256;
// An instance label holds at most 63 bytes; escaped characters take up to four each.
constexpr std::size_t maxInstanceLabelLength = 255;

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

std::unique_ptr<Reference> startBrowse(SystemDnssd& system, DNSServiceBrowseReply reply,
                                       void* context, const std::string& type) {
    auto reference = std::make_unique<BrowseReference>(reply, context, type);
    if (!reference->start(system)) {
        return nullptr;
    }
    return reference;
}

std::unique_ptr<Reference> startResolve(SystemDnssd& system, DNSServiceResolveReply reply,
                                        void* context, std::string instanceName) {
    auto reference = std::make_unique<ResolveReference>(reply, context, std::move(instanceName));
    if (!reference->start(system)) {
        return nullptr;
    }
    return reference;
}

}  // namespace pellvane::dnssd::fallback
