// The system's own DNS-SD service in memory, answering as the test dnsapi.dll does on
// Windows: every request a little later, on a thread of its own. It keeps the same journal
// in the file that PELLVANE_FAKE_DNSAPI_LOG names ("construct I name=N host=H port=P",
// "register I", "registered I", "deregister I", "deregistered I", "free I", "cancel browse",
// "cancel resolve", "fault: ..."),
// and heeds the same variables: PELLVANE_FAKE_DNSAPI_SILENT_DEREGISTER (deregistrations are
// never answered), PELLVANE_FAKE_DNSAPI_REGISTER_ERROR (registrations fail with it) and
// PELLVANE_FAKE_DNSAPI_DELAY_MS (how long each answer takes). Beyond the DLL, with
// PELLVANE_FAKE_DNSAPI_REPORTS it reports each registration that many times.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/system_dnssd.h"

namespace pellvane::testing {

class FakeSystemDnssd : public sysdnssd::SystemDnssd {
  public:
    // `foreignAnswers`: instance names that every browse hears beside the registered ones.
    explicit FakeSystemDnssd(std::vector<sysdnssd::BrowseAnswer> foreignAnswers = {});
    ~FakeSystemDnssd() override;

    bool canRegister() const override { return true; }
    bool canBrowse() const override { return true; }
    std::unique_ptr<Registration> startRegistration(const sysdnssd::ServiceInstance& instance,
                                                    sysdnssd::RegistrationDone done,
                                                    void* context) override;
    std::unique_ptr<Query> startBrowse(const std::string& serviceType, sysdnssd::BrowseDone done,
                                       void* context) override;
    std::unique_ptr<Query> startResolve(const std::string& instanceName, sysdnssd::ResolveDone done,
                                        void* context) override;

  private:
    class FakeRegistration;
    class FakeQuery;
    struct Registered {
        int id = 0;
        sysdnssd::ServiceInstance instance;
        bool answered = false;   // the registration's outcome was reported
        bool withdrawn = false;  // the deregistration's end was reported
    };

    // Runs `answer` on the fake's thread, a little later.
    void post(std::function<void()> answer);
    void run();
    void withdraw(int id, sysdnssd::RegistrationDone done, void* context);
    void release(int id);

    const std::vector<sysdnssd::BrowseAnswer> foreignAnswers_;

    std::mutex mutex_;  // guards every field below
    std::condition_variable queueChanged_;
    std::deque<std::function<void()>> queue_;
    bool stopping_ = false;
    std::vector<Registered> registered_;
    int lastId_ = 0;

    std::thread thread_;
};

}  // namespace pellvane::testing
