// Message boxes that nobody sees: each is recorded and answered as the test says.
#pragma once

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

    std::vector<Box> boxes() const;
    int boxCount() const;

  private:
    int record(Box box);

    mutable std::mutex mutex_;  // guards every field below
    std::deque<int> answers_;
    int defaultAnswer_ = dialogs::answerOk;
    std::vector<Box> boxes_;
};

}  // namespace pellvane::testing
