#include "shell/posix/desktop_dialogs.h"

#include <fcntl.h>
#include <unistd.h>

#include <string_view>

#include "platform/posix/utf8_text.h"

namespace pellvane::shell {
namespace {

constexpr std::string_view admissionSuffix = " requested to connect, accept connection?";

std::string orEmpty(const char* text) {
    return text == nullptr ? std::string() : std::string(text);
}

}  // namespace

std::string questionDevice(const std::string& question) {
    if (question.size() > admissionSuffix.size() && question.ends_with(admissionSuffix)) {
        return question.substr(0, question.size() - admissionSuffix.size());
    }
    return question;
}

DesktopDialogs::DesktopDialogs(std::unique_ptr<dialogs::Dialogs> fallback)
    : fallback_(std::move(fallback)) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) == 0) {
        wakeReader_.reset(ends[0]);
        wakeWriter_.reset(ends[1]);
    }
}

DesktopDialogs::~DesktopDialogs() = default;

int DesktopDialogs::messageBox(const char* text, const char* caption, unsigned style) {
    return dialogs::asksQuestion(style) ? ask(orEmpty(text), orEmpty(caption), style)
                                        : inform(orEmpty(text), orEmpty(caption), style);
}

int DesktopDialogs::messageBox(const wchar_t* text, const wchar_t* caption, unsigned style) {
    return dialogs::asksQuestion(style)
               ? ask(posix::utf8FromWide(text), posix::utf8FromWide(caption), style)
               : inform(posix::utf8FromWide(text), posix::utf8FromWide(caption), style);
}

int DesktopDialogs::ask(const std::string& text, const std::string& caption, unsigned style) {
    std::lock_guard oneAtATime(askLock_);
    std::unique_lock guard(mutex_);
    const std::uint64_t ticket = nextTicket_++;
    open_ = Question{ticket, questionDevice(text), notifyQuestions_, std::nullopt};
    const bool viaNotification = open_->viaNotification;
    if (viaNotification) {
        toShow_.push_back(Box{ticket, caption, text, true});
    }
    wake();
    int result = dialogs::refusingButton(style);
    if (viaNotification) {
        answered_.wait(guard, [&] { return open_->admitted.has_value(); });
    } else {
        guard.unlock();
        result = fallback_->messageBox(text.c_str(), caption.c_str(), style);
        guard.lock();
    }
    if (open_->admitted) {
        // Only the user's own Allow admits; a box that answered yes after the question
        // was closed or refused from the menu does not.
        result = *open_->admitted ? dialogs::agreeingButton(style) : dialogs::refusingButton(style);
    }
    open_.reset();
    if (viaNotification) {
        withdrawn_.push_back(ticket);
    }
    wake();
    return result;
}

int DesktopDialogs::inform(const std::string& text, const std::string& caption, unsigned style) {
    {
        std::lock_guard guard(mutex_);
        if (notifyBoxes_) {
            toShow_.push_back(Box{nextTicket_++, caption, text, false});
            wake();
            return dialogs::answerOk;
        }
    }
    return fallback_->messageBox(text.c_str(), caption.c_str(), style);
}

void DesktopDialogs::closeQuestions() {
    {
        std::lock_guard guard(mutex_);
        if (open_ && !open_->admitted) {
            open_->admitted = false;
        }
    }
    answered_.notify_all();
    fallback_->closeQuestions();
}

void DesktopDialogs::useNotifications(bool questions) {
    std::lock_guard guard(mutex_);
    notifyBoxes_ = true;
    notifyQuestions_ = questions;
}

void DesktopDialogs::stopNotifications() {
    std::lock_guard guard(mutex_);
    notifyBoxes_ = false;
    notifyQuestions_ = false;
}

std::vector<DesktopDialogs::Box> DesktopDialogs::takeBoxesToShow() {
    std::lock_guard guard(mutex_);
    drainWake();
    std::vector<Box> boxes;
    boxes.swap(toShow_);
    return boxes;
}

std::vector<std::uint64_t> DesktopDialogs::takeWithdrawn() {
    std::lock_guard guard(mutex_);
    std::vector<std::uint64_t> withdrawn;
    withdrawn.swap(withdrawn_);
    return withdrawn;
}

std::optional<std::string> DesktopDialogs::openQuestionDevice() const {
    std::lock_guard guard(mutex_);
    if (!open_ || open_->admitted) {
        return std::nullopt;
    }
    return open_->device;
}

void DesktopDialogs::answer(std::uint64_t ticket, bool admit) {
    bool closeFallback = false;
    {
        std::lock_guard guard(mutex_);
        if (!open_ || open_->admitted || (ticket != 0 && ticket != open_->ticket)) {
            return;  // answered already, or meant for a question that has gone
        }
        open_->admitted = admit;
        closeFallback = !open_->viaNotification;
    }
    answered_.notify_all();
    if (closeFallback) {
        fallback_->closeQuestions();
    }
}

void DesktopDialogs::detach() {
    stopNotifications();
    answer(0, false);
}

void DesktopDialogs::wake() {
    if (wakeWriter_) {
        const char byte = 1;
        // A full pipe already says that there is something to take.
        [[maybe_unused]] const ssize_t written = ::write(wakeWriter_.get(), &byte, 1);
    }
}

void DesktopDialogs::drainWake() {
    char chunk[64];
    while (wakeReader_ && ::read(wakeReader_.get(), chunk, sizeof chunk) > 0) {
    }
}

}  // namespace pellvane::shell
