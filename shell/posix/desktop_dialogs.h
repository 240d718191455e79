// Message boxes and questions on a Linux desktop. The connection question is shown as a
// notification with Allow and Refuse where the desktop's notification server has buttons,
// and otherwise by the box that the fallback shows (a dialog program, or the terminal); in
// both cases the tray menu holds it too, so it can be answered from there. Only Allow
// admits: a notice dismissed, a box closed, a failure, all refuse.
//
// Asking threads wait here; the bus's thread (the program's main thread) shows, withdraws
// and answers through take/answer below, woken by the descriptor.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/dialogs.h"
#include "platform/posix/file_descriptor.h"

namespace pellvane::shell {

class DesktopDialogs final : public dialogs::Dialogs {
  public:
    // A box for the bus's thread to show as a notification.
    struct Box {
        std::uint64_t ticket = 0;
        std::string caption;
        std::string text;
        bool question = false;
    };

    explicit DesktopDialogs(std::unique_ptr<dialogs::Dialogs> fallback);
    ~DesktopDialogs() override;
    DesktopDialogs(const DesktopDialogs&) = delete;
    DesktopDialogs& operator=(const DesktopDialogs&) = delete;

    int messageBox(const char* text, const char* caption, unsigned style) override;
    int messageBox(const wchar_t* text, const wchar_t* caption, unsigned style) override;
    void closeQuestions() override;

    // --- for the bus's thread ---
    // Readable when there is something to take.
    int wakeDescriptor() const { return wakeReader_.get(); }
    // From now on, boxes go to notifications (with buttons for questions when `questions`);
    // before, and after stopNotifications, to the fallback.
    void useNotifications(bool questions);
    void stopNotifications();
    // Boxes to show now, and tickets of questions to take off the screen.
    std::vector<Box> takeBoxesToShow();
    std::vector<std::uint64_t> takeWithdrawn();
    // The device that the open question asks about, if one is open.
    std::optional<std::string> openQuestionDevice() const;
    // The user's answer to the open question (from a notice or the menu); a ticket of 0
    // means whichever is open.
    void answer(std::uint64_t ticket, bool admit);
    // The bus's thread ends: questions waiting on it refuse, and none goes to it again.
    void detach();

  private:
    struct Question {
        std::uint64_t ticket = 0;
        std::string device;
        bool viaNotification = false;
        std::optional<bool> admitted;
    };

    int ask(const std::string& text, const std::string& caption, unsigned style);
    int askThroughFallback(const std::string& text, const std::string& caption, unsigned style);
    int inform(const std::string& text, const std::string& caption, unsigned style);
    void wake();
    void drainWake();

    std::unique_ptr<dialogs::Dialogs> fallback_;
    std::mutex askLock_;  // one question at a time, as on a desktop: taken for a whole question
    mutable std::mutex mutex_;  // guards every field below
    std::condition_variable answered_;
    bool notifyQuestions_ = false;
    bool notifyBoxes_ = false;
    std::optional<Question> open_;
    std::vector<Box> toShow_;
    std::vector<std::uint64_t> withdrawn_;
    std::uint64_t nextTicket_ = 1;
    posix::FileDescriptor wakeReader_;
    posix::FileDescriptor wakeWriter_;
};

// The device named in an admission question ("NAME requested to connect, ..."); the whole
// text for any other question.
std::string questionDevice(const std::string& question);

}  // namespace pellvane::shell
