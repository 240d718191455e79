#include "shell/posix/desktop_tray.h"

#include <poll.h>

#include <chrono>

namespace pellvane::shell {

DesktopTray::DesktopTray(std::unique_ptr<bus::Connection> bus, DesktopDialogs& dialogs,
                         std::string iconThemePath, std::function<void()> onNoTray)
    : bus_(std::move(bus)),
      dialogs_(dialogs),
      menu_(*bus_, [this](MenuCommand command) { commands_.push_back(command); }),
      item_(*bus_, std::move(iconThemePath), std::move(onNoTray)),
      notifications_(*bus_) {}

DesktopTray::~DesktopTray() {
    dialogs_.detach();
    const auto open = noticeOfQuestion_;  // withdrawing a notice erases its entry
    for (const auto& [question, notice] : open) {
        notifications_.withdraw(notice);
    }
    bus_->process();
}

bool DesktopTray::start(std::chrono::milliseconds wait) {
    if (!menu_.publish() || !item_.publish()) {
        return false;
    }
    notifications_.start();
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (notifications_.server() == DesktopNotifications::Server::unknown &&
           std::chrono::steady_clock::now() < deadline) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd watched{bus_->descriptor(), bus_->pollEvents(), 0};
        ::poll(&watched, 1, static_cast<int>(std::max<std::int64_t>(left.count(), 1)));
        if (!bus_->process()) {
            return false;
        }
    }
    const DesktopNotifications::Server server = notifications_.server();
    if (server == DesktopNotifications::Server::withActions) {
        dialogs_.useNotifications(true);
    } else if (server == DesktopNotifications::Server::withoutActions) {
        dialogs_.useNotifications(false);
    }
    return true;
}

void DesktopTray::show(const TrayState& state) {
    menu_.show(desktopMenuItems(state));
    item_.setNeedsAttention(state.questionDevice.has_value());
}

bool DesktopTray::process() {
    if (!bus_->process()) {
        return false;
    }
    showBoxes();
    return true;
}

void DesktopTray::showBoxes() {
    for (const std::uint64_t question : dialogs_.takeWithdrawn()) {
        const auto notice = noticeOfQuestion_.find(question);
        if (notice != noticeOfQuestion_.end()) {
            const std::uint64_t ticket = notice->second;
            noticeOfQuestion_.erase(notice);
            notifications_.withdraw(ticket);
        }
    }
    for (const DesktopDialogs::Box& box : dialogs_.takeBoxesToShow()) {
        Notice notice{box.caption, box.text, {}, box.question};
        if (!box.question) {
            notifications_.show(notice, nullptr);
            continue;
        }
        // No default action: a click on the notice's body must not admit anyone.
        notice.actions = {{"allow", "Allow"}, {"refuse", "Refuse"}};
        const std::uint64_t question = box.ticket;
        const std::uint64_t shown =
            notifications_.show(notice, [this, question](const std::string& action) {
                noticeOfQuestion_.erase(question);
                dialogs_.answer(question, action == "allow");
            });
        if (shown != 0) {
            noticeOfQuestion_[question] = shown;
        }
    }
}

std::vector<MenuCommand> DesktopTray::takeCommands() {
    std::vector<MenuCommand> commands;
    commands.swap(commands_);
    return commands;
}

}  // namespace pellvane::shell
