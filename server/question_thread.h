// The admission questions of one service, put to the user one at a time on a thread beside
// the loop, in the order their Hellos came. A person may take minutes to answer, or never:
// meanwhile the loop goes on reading, typing and reporting for every admitted pad. Each
// answer goes back to the loop, which is woken to take it.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "platform/sockets.h"
#include "server/client_table.h"
#include "server/wire_protocol.h"

namespace pellvane {

struct Question {
    ClientId client = 0;
    net::HostAddress host;
    ReceivedMessage hello;
};

struct Answer {
    ClientId client = 0;
    net::HostAddress host;
    bool admitted = false;
    std::unique_ptr<wire::AppList> applications;  // with an admission, or none
};

// Where the loop's questions go. The service asks on a thread (QuestionThread); a driver
// without threads may answer at once.
class QuestionAsker {
  public:
    virtual ~QuestionAsker() = default;
    // Queues the question behind those before it.
    virtual void put(Question question) = 0;
    // Takes back a question that has not been put to the user yet: true. False when it is
    // open or answered already; its answer then comes as usual.
    virtual bool withdraw(ClientId client) = 0;
    // The answers given since the last call, in order.
    virtual void takeAnswers(std::vector<Answer>& into) = 0;
};

class QuestionThread final : public QuestionAsker {
  public:
    using Ask = std::function<Answer(const Question&)>;

    // `ask` runs on the thread, one question at a time; `answered` (on the same thread)
    // tells the loop that an answer waits.
    QuestionThread(Ask ask, std::function<void()> answered);
    ~QuestionThread() override;
    QuestionThread(const QuestionThread&) = delete;
    QuestionThread& operator=(const QuestionThread&) = delete;

    // False when the system gives no thread: questions are then refused at once.
    bool start();
    // A stop has begun: the questions not yet asked are forgotten, and the open one's answer
    // will not count (closing it is a withdrawal, not the user's refusal).
    void endQuestions();
    // endQuestions, then joins the thread once the open question has returned (the service
    // closes it first).
    void stop();

    void put(Question question) override;
    bool withdraw(ClientId client) override;
    void takeAnswers(std::vector<Answer>& into) override;

  private:
    void run();

    const Ask ask_;
    const std::function<void()> answered_;
    // Guards the queues and the flags below.
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Question> questions_;
    std::vector<Answer> answers_;
    bool running_ = false;
    bool ending_ = false;
    std::thread thread_;
};

}  // namespace pellvane
