#include "tests/fakes/fake_system_dnssd.h"

#include <chrono>
#include <cstdlib>
#include <optional>

#include "tests/fakes/dnsapi_stand_in.h"

namespace pellvane::testing {
namespace {

constexpr auto usualAnswerDelay = std::chrono::milliseconds(5);
constexpr sysdnssd::Status nameError = 9003;

void journal(const std::string& line) {
    appendToDnsapiJournal(line);
}

sysdnssd::Status registrationOutcome() {
    const char* error = std::getenv("PELLVANE_FAKE_DNSAPI_REGISTER_ERROR");
    return error == nullptr ? sysdnssd::succeeded
                            : static_cast<sysdnssd::Status>(std::strtoul(error, nullptr, 10));
}

bool endsWith(const std::string& text, const std::string& suffix) {
    return text.size() > suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

}  // namespace

class FakeSystemDnssd::FakeRegistration : public Registration {
  public:
    FakeRegistration(FakeSystemDnssd& owner, int id, sysdnssd::RegistrationDone done, void* context)
        : owner_(owner), id_(id), done_(done), context_(context) {}
    ~FakeRegistration() override { owner_.release(id_); }

    bool deregister() override {
        owner_.withdraw(id_, done_, context_);
        return true;
    }

  private:
    FakeSystemDnssd& owner_;
    int id_;
    sysdnssd::RegistrationDone done_;
    void* context_;
};

class FakeSystemDnssd::FakeQuery : public Query {
  public:
    explicit FakeQuery(std::function<void()> cancel) : cancel_(std::move(cancel)) {}
    bool cancel() override {
        if (cancel_) {
            cancel_();
        }
        return true;
    }

  private:
    std::function<void()> cancel_;
};

FakeSystemDnssd::FakeSystemDnssd(std::vector<sysdnssd::BrowseAnswer> foreignAnswers)
    : foreignAnswers_(std::move(foreignAnswers)), thread_([this] { run(); }) {}

FakeSystemDnssd::~FakeSystemDnssd() {
    {
        std::lock_guard guard(mutex_);
        stopping_ = true;
    }
    queueChanged_.notify_all();
    thread_.join();
}

void FakeSystemDnssd::post(std::function<void()> answer) {
    {
        std::lock_guard guard(mutex_);
        queue_.push_back(std::move(answer));
    }
    queueChanged_.notify_all();
}

void FakeSystemDnssd::run() {
    for (;;) {
        std::function<void()> answer;
        {
            std::unique_lock guard(mutex_);
            queueChanged_.wait(guard, [this] { return stopping_ || !queue_.empty(); });
            if (queue_.empty()) {
                return;
            }
            answer = std::move(queue_.front());
            queue_.pop_front();
        }
        std::this_thread::sleep_for(dnsapiAnswerDelay(usualAnswerDelay));
        answer();
    }
}

std::unique_ptr<sysdnssd::SystemDnssd::Registration> FakeSystemDnssd::startRegistration(
    const sysdnssd::ServiceInstance& instance, sysdnssd::RegistrationDone done, void* context) {
    int id = 0;
    {
        std::lock_guard guard(mutex_);
        id = ++lastId_;
        registered_.push_back({id, instance});
    }
    journal("construct " + std::to_string(id) + " name=" + instance.instanceName +
            " host=" + instance.hostName + " port=" + std::to_string(instance.port));
    journal("register " + std::to_string(id));
    const sysdnssd::Status outcome = registrationOutcome();
    const char* reports = std::getenv("PELLVANE_FAKE_DNSAPI_REPORTS");
    for (int report = reports == nullptr ? 1 : std::atoi(reports); report > 0; --report) {
        post([this, id, outcome, done, context] {
            {
                std::lock_guard guard(mutex_);
                for (auto& registered : registered_) {
                    registered.answered = registered.answered || registered.id == id;
                }
            }
            if (outcome == sysdnssd::succeeded) {
                journal("registered " + std::to_string(id));
            }
            done(context, outcome);
        });
    }
    return std::make_unique<FakeRegistration>(*this, id, done, context);
}

void FakeSystemDnssd::withdraw(int id, sysdnssd::RegistrationDone done, void* context) {
    journal("deregister " + std::to_string(id));
    if (std::getenv("PELLVANE_FAKE_DNSAPI_SILENT_DEREGISTER") != nullptr) {
        return;
    }
    post([this, id, done, context] {
        {
            std::lock_guard guard(mutex_);
            for (auto& registered : registered_) {
                registered.withdrawn = registered.withdrawn || registered.id == id;
            }
        }
        journal("deregistered " + std::to_string(id));
        done(context, sysdnssd::succeeded);
    });
}

void FakeSystemDnssd::release(int id) {
    std::lock_guard guard(mutex_);
    for (auto it = registered_.begin(); it != registered_.end(); ++it) {
        if (it->id == id) {
            // Windows reads the request and its instance until it has reported both ends.
            if (!it->answered || !it->withdrawn) {
                journal("fault: instance " + std::to_string(id) + " freed while registered");
            }
            journal("free " + std::to_string(id));
            registered_.erase(it);
            return;
        }
    }
}

std::unique_ptr<sysdnssd::SystemDnssd::Query> FakeSystemDnssd::startBrowse(
    const std::string& serviceType, sysdnssd::BrowseDone done, void* context) {
    std::vector<sysdnssd::BrowseAnswer> answers;
    {
        std::lock_guard guard(mutex_);
        for (const auto& registered : registered_) {
            if (!registered.withdrawn &&
                endsWith(registered.instance.instanceName, "." + serviceType)) {
                answers.push_back({registered.instance.instanceName, false});
            }
        }
    }
    answers.insert(answers.end(), foreignAnswers_.begin(), foreignAnswers_.end());
    post([answers, done, context] { done(context, sysdnssd::succeeded, answers); });
    return std::make_unique<FakeQuery>([this, done, context] {
        journal("cancel browse");
        post([done, context] { done(context, sysdnssd::cancelled, {}); });
    });
}

std::unique_ptr<sysdnssd::SystemDnssd::Query> FakeSystemDnssd::startResolve(
    const std::string& instanceName, sysdnssd::ResolveDone done, void* context) {
    std::optional<sysdnssd::ServiceInstance> found;
    {
        std::lock_guard guard(mutex_);
        for (const auto& registered : registered_) {
            if (!registered.withdrawn && registered.instance.instanceName == instanceName) {
                found = registered.instance;
            }
        }
    }
    post([found, done, context] {
        done(context, found ? sysdnssd::succeeded : nameError, found ? &*found : nullptr);
    });
    return std::make_unique<FakeQuery>([] { journal("cancel resolve"); });
}

}  // namespace pellvane::testing
