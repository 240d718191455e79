// The question put to the local user when a pad device says hello.
#pragma once

#include <condition_variable>
#include <mutex>
#include <span>
#include <string>

#include "platform/dialogs.h"

namespace pellvane {

// "<deviceName> requested to connect, accept connection?", the name taken up to its NUL
// and never past its 128-byte field or the end of the message, its control characters
// written as \xNN.
std::string admissionQuestion(std::span<const std::uint8_t> hello);

// 1 only when the user chose OK: Cancel, Escape, the close box and a box that could not
// be shown all refuse.
int askToAdmit(dialogs::Dialogs& dialogs, std::span<const std::uint8_t> hello);

// The admission questions of one service, which a Disconnect or Quit must not wait for: it
// closes them as refusals and asks no more until the service is reopened.
class AdmissionQuestions {
  public:
    // How long close() keeps asking the dialogs to close an open question.
    static constexpr int closeWaitMs = 1000;

    explicit AdmissionQuestions(dialogs::Dialogs& dialogs) : dialogs_(dialogs) {}

    // askToAdmit, unless the questions are closed; an answer given after close() began
    // counts as a refusal.
    int ask(std::span<const std::uint8_t> hello);
    // Refuses every question from now on and closes the open one as Cancel; returns when
    // none is open any more, or after closeWaitMs when the dialogs cannot close it.
    void close();
    void reopen();

  private:
    dialogs::Dialogs& dialogs_;
    std::mutex mutex_;  // guards closed_ and open_
    std::condition_variable answered_;
    bool closed_ = false;
    int open_ = 0;  // questions on screen now
};

}  // namespace pellvane
