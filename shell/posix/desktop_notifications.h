// The desktop's notification server (org.freedesktop.Notifications) as the program uses it:
// what it can do, notices with buttons (actions) whose outcome comes back, and withdrawing
// a notice. Signals count only from the server that showed the notice.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/session_bus.h"

namespace pellvane::shell {

struct Notice {
    std::string summary;  // plain text
    std::string body;     // plain text; made harmless here for servers that read markup
    std::vector<std::pair<std::string, std::string>> actions;  // key, label
    bool critical = false;                                     // critical urgency, never expires
};

class DesktopNotifications {
  public:
    enum class Server { unknown, absent, withoutActions, withActions };
    // The outcome of a notice: the key of the action chosen, or empty when it was closed
    // (dismissed, expired, withdrawn) or never shown.
    using Outcome = std::function<void(const std::string& action)>;

    explicit DesktopNotifications(bus::Connection& bus);

    // Asks the server what it can do; server() tells once the answer is in.
    void start();
    Server server() const { return server_; }

    // Shows `notice`; `outcome` runs once, later, on the bus's thread. Returns a ticket
    // for withdraw(), or 0 when the notice could not be sent (its outcome has run).
    std::uint64_t show(const Notice& notice, Outcome outcome);
    // Takes the notice off the screen; its outcome then runs with an empty action.
    void withdraw(std::uint64_t ticket);

  private:
    struct Shown {
        Outcome outcome;
        std::uint32_t id = 0;    // the server's, once it answered
        std::string server;      // the unique name that showed it
        bool withdrawn = false;  // withdrawn before the server answered
    };

    void capabilities(const bus::Message& reply);
    void signalled(const bus::Message& signal);
    void finish(std::map<std::uint64_t, Shown>::iterator shown, const std::string& action);

    bus::Connection& bus_;
    Server server_ = Server::unknown;
    bool bodyMarkup_ = false;
    std::map<std::uint64_t, Shown> shown_;  // the notices whose outcome is still to come
    std::uint64_t nextTicket_ = 1;
};

// Text for a server that reads the body as markup: &, < and > as entities.
std::string escapedMarkup(const std::string& text);

}  // namespace pellvane::shell
