#include "server/question_thread.h"

#include <algorithm>
#include <system_error>

namespace pellvane {

QuestionThread::QuestionThread(Ask ask, std::function<void()> answered)
    : ask_(std::move(ask)), answered_(std::move(answered)) {}

QuestionThread::~QuestionThread() {
    stop();
}

bool QuestionThread::start() {
    std::lock_guard guard(mutex_);
    if (running_) {
        return true;
    }
    ending_ = false;
    try {
        thread_ = std::thread([this] { run(); });
    } catch (const std::system_error&) {
        return false;
    }
    running_ = true;
    return true;
}

void QuestionThread::endQuestions() {
    {
        std::lock_guard guard(mutex_);
        ending_ = true;
        questions_.clear();
        answers_.clear();
    }
    changed_.notify_all();
}

void QuestionThread::stop() {
    endQuestions();
    if (thread_.joinable()) {
        thread_.join();
    }
    std::lock_guard guard(mutex_);
    answers_.clear();
    running_ = false;
}

void QuestionThread::put(Question question) {
    bool refuseNow = false;
    {
        std::lock_guard guard(mutex_);
        if (running_ && !ending_) {
            questions_.push_back(std::move(question));
        } else {
            // Nobody is there to ask: the device is refused, as when a box cannot be shown.
            answers_.push_back({question.client, question.host, false, nullptr});
            refuseNow = true;
        }
    }
    if (refuseNow) {
        answered_();
    } else {
        changed_.notify_all();
    }
}

bool QuestionThread::withdraw(ClientId client) {
    std::lock_guard guard(mutex_);
    const auto found =
        std::find_if(questions_.begin(), questions_.end(),
                     [&](const Question& question) { return question.client == client; });
    if (found == questions_.end()) {
        return false;
    }
    questions_.erase(found);
    return true;
}

void QuestionThread::takeAnswers(std::vector<Answer>& into) {
    into.clear();
    std::lock_guard guard(mutex_);
    std::swap(into, answers_);
}

void QuestionThread::run() {
    std::unique_lock guard(mutex_);
    for (;;) {
        changed_.wait(guard, [this] { return ending_ || !questions_.empty(); });
        if (ending_) {
            return;
        }
        Question question = std::move(questions_.front());
        questions_.pop_front();
        guard.unlock();
        Answer answer = ask_(question);
        guard.lock();
        if (ending_) {
            return;  // a stop has begun: nobody is admitted after it
        }
        answers_.push_back(std::move(answer));
        guard.unlock();
        answered_();
        guard.lock();
    }
}

}  // namespace pellvane
