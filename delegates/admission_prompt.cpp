#include "delegates/admission_prompt.h"

#include <algorithm>
#include <chrono>

#include "platform/printable_text.h"
#include "server/wire_reading.h"

namespace pellvane {
namespace {

constexpr char caption[] = "Pellvane Server";
constexpr unsigned promptStyle = dialogs::okCancel | dialogs::iconQuestion |
                                 dialogs::defaultButton2 | dialogs::setForeground |
                                 dialogs::topmost;

}  // namespace

std::string admissionQuestion(std::span<const std::uint8_t> hello) {
    // The name is the device's own say: line breaks or terminal sequences in it could
    // rewrite the question that the user answers.
    std::string question = printableText(wire::readNameField(hello, wire::helloLayout::deviceName));
    question += " requested to connect, accept connection?";
    return question;
}

int askToAdmit(dialogs::Dialogs& dialogs, std::span<const std::uint8_t> hello) {
    const std::string question = admissionQuestion(hello);
    // Admitting a remote keyboard because the question could not be shown would let in a
    // device that nobody agreed to, so only an explicit OK admits.
    return dialogs.messageBox(question.c_str(), caption, promptStyle) == dialogs::answerOk ? 1 : 0;
}

int AdmissionQuestions::ask(std::span<const std::uint8_t> hello) {
    {
        std::lock_guard guard(mutex_);
        if (closed_) {
            return 0;
        }
        ++open_;
    }
    const int answer = askToAdmit(dialogs_, hello);
    bool closedMeanwhile = false;
    {
        std::lock_guard guard(mutex_);
        --open_;
        closedMeanwhile = closed_;
    }
    answered_.notify_all();
    return closedMeanwhile ? 0 : answer;
}

void AdmissionQuestions::close() {
    using namespace std::chrono;
    const auto deadline = steady_clock::now() + milliseconds(closeWaitMs);
    std::unique_lock guard(mutex_);
    closed_ = true;
    // A question about to be put when the first request comes is closed by a later one.
    while (open_ > 0 && steady_clock::now() < deadline) {
        guard.unlock();
        dialogs_.closeQuestions();
        guard.lock();
        answered_.wait_for(guard, milliseconds(20), [this] { return open_ == 0; });
    }
}

void AdmissionQuestions::reopen() {
    std::lock_guard guard(mutex_);
    closed_ = false;
}

}  // namespace pellvane
