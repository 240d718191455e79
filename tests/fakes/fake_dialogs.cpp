#include "tests/fakes/fake_dialogs.h"

#include <chrono>

namespace pellvane::testing {
namespace {

std::string narrowed(const wchar_t* text) {
    std::string narrow;
    for (const wchar_t* p = text; p != nullptr && *p != L'\0'; ++p) {
        narrow.push_back(*p < 0x80 ? static_cast<char>(*p) : '?');
    }
    return narrow;
}

}  // namespace

void FakeDialogs::queueAnswer(int answer) {
    std::lock_guard guard(mutex_);
    answers_.push_back(answer);
}

void FakeDialogs::setDefaultAnswer(int answer) {
    std::lock_guard guard(mutex_);
    defaultAnswer_ = answer;
}

int FakeDialogs::messageBox(const char* text, const char* caption, unsigned style) {
    return record({text == nullptr ? "" : text, caption == nullptr ? "" : caption, style, false});
}

int FakeDialogs::messageBox(const wchar_t* text, const wchar_t* caption, unsigned style) {
    return record({narrowed(text), narrowed(caption), style, true});
}

void FakeDialogs::closeQuestions() {
    answerHeldQuestions(dialogs::answerCancel);
}

void FakeDialogs::answerHeldQuestions(int answer) {
    {
        std::lock_guard guard(mutex_);
        ++releases_;
        heldAnswer_ = answer;
    }
    closed_.notify_all();
}

void FakeDialogs::holdQuestions() {
    std::lock_guard guard(mutex_);
    holding_ = true;
}

int FakeDialogs::record(Box box) {
    std::unique_lock guard(mutex_);
    const bool question = (box.style & dialogs::buttonMask) != dialogs::okOnly;
    boxes_.push_back(std::move(box));
    if (holding_ && question) {
        const int before = releases_;
        const bool answered =
            closed_.wait_for(guard, std::chrono::seconds(5), [&] { return releases_ != before; });
        return answered ? heldAnswer_ : dialogs::answerCancel;
    }
    if (answers_.empty()) {
        return defaultAnswer_;
    }
    const int answer = answers_.front();
    answers_.pop_front();
    return answer;
}

std::vector<FakeDialogs::Box> FakeDialogs::boxes() const {
    std::lock_guard guard(mutex_);
    return boxes_;
}

int FakeDialogs::boxCount() const {
    std::lock_guard guard(mutex_);
    return static_cast<int>(boxes_.size());
}

}  // namespace pellvane::testing
