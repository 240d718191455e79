// A delegate that records every call, answers admission as told, and lets a test wait for
// what the server's threads report.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "server/connection_delegate.h"

namespace pellvane::testing {

class RecordingDelegate : public ZarvoConnectionDelegate {
  public:
    void serverDidPublish(ZarvoServer* server) override;
    void resetRetryCount(ZarvoServer* server) override;
    void serverDidAdmitClient(ZarvoServer* server) override;
    void serverDidStop(ZarvoServer* server) override;
    void reservedNotification(ZarvoServer* server) override;
    int shouldAdmitClient(ZarvoServer* server, const ReceivedMessage* hello) override;
    std::unique_ptr<wire::AppList> applicationList(ZarvoServer* server,
                                                   const ReceivedMessage* hello) override;
    void serverDidReceiveMessage(ZarvoServer* server, ReceivedMessage message) override;

    // What the next admission questions answer, and the list that admissions hand over.
    void setAdmitAnswer(int answer);
    void setApplications(std::vector<wire::AppNameRecord> applications);
    // Runs inside serverDidStop (for example a restart), after the call is recorded.
    void setOnStop(std::function<void(ZarvoServer*)> onStop);
    // Runs inside shouldAdmitClient before it answers (for example to keep the question open).
    void setOnAsk(std::function<void()> onAsk);
    // Runs inside serverDidReceiveMessage, on the loop's thread, after the message is recorded
    // (for example to hold the loop up).
    void setOnMessage(std::function<void()> onMessage);

    // Every call in order: "publish", "admit", "stop", "ask", "list", "message:<type>".
    std::vector<std::string> calls() const;
    // Every message handed on, in order.
    std::vector<ReceivedMessage> messages() const;
    int count(const std::string& call) const;
    // The thread that made the latest call of this kind; no thread when none was made.
    std::thread::id lastThreadOf(const std::string& call) const;
    // Waits until `call` has been recorded at least `times` times.
    bool waitFor(const std::string& call, int times = 1,
                 std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;

  private:
    void record(std::string call);

    mutable std::mutex mutex_;  // guards every field below
    mutable std::condition_variable changed_;
    std::vector<std::string> calls_;
    std::map<std::string, std::thread::id> lastThreads_;
    std::vector<ReceivedMessage> messages_;
    int admitAnswer_ = 1;
    std::vector<wire::AppNameRecord> applications_;
    bool hasApplications_ = false;
    std::function<void(ZarvoServer*)> onStop_;
    std::function<void()> onMessage_;
    std::function<void()> onAsk_;
};

}  // namespace pellvane::testing
