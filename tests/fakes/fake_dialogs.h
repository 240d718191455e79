// Message boxes that nobody sees: each is recorded and answered as the test says.
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "platform/dialogs.h"

namespace pellvane::testing {

class FakeDialogs : public dialogs::Dialogs {
  public:
    struct Box {
        std::string text;
        std::string caption;
        unsigned style = 0;
        bool wide = false;
    };

    // Answers given in turn; once they run out, every box gets the default answer.
    void queueAnswer(int answer);
    void setDefaultAnswer(int answer);

    int messageBox(const char* text, const char* caption, unsigned style) override;
    int messageBox(const wchar_t* text, const wchar_t* caption, unsigned style) override;
    // Answers the held questions with Cancel.
    void closeQuestions() override;
    // From now on every question stays open, as one that nobody has answered yet, until it
    // is answered or closed, or five seconds pass (then it is cancelled).
    void holdQuestions();
    void answerHeldQuestions(int answer);

    std::vector<Box> boxes() const;
    int boxCount() const;

  private:
    int record(Box box);

    mutable std::mutex mutex_;  // guards every field below
    std::deque<int> answers_;
    int defaultAnswer_ = dialogs::answerOk;
    std::vector<Box> boxes_;
    std::condition_variable closed_;
    bool holding_ = false;
    int releases_ = 0;  // raised by every answer to the held questions
    int heldAnswer_ = dialogs::answerCancel;
};

}  // namespace pellvane::testing
