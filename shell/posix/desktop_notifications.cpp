#include "shell/posix/desktop_notifications.h"

#include <algorithm>

#include "platform/posix/utf8_text.h"

namespace pellvane::shell {
namespace {

using bus::Value;

constexpr char serviceName[] = "org.freedesktop.Notifications";
constexpr char servicePath[] = "/org/freedesktop/Notifications";
constexpr char applicationName[] = "Pellvane Server";
constexpr char iconName[] = "pellvane-server";

constexpr std::uint8_t urgencyNormal = 1;
constexpr std::uint8_t urgencyCritical = 2;
constexpr std::int32_t neverExpires = 0;
constexpr std::int32_t serverDefaultExpiry = -1;

bool holdsString(const Value& array, const std::string& wanted) {
    return std::any_of(array.items.begin(), array.items.end(),
                       [&](const Value& item) { return item.text == wanted; });
}

}  // namespace

std::string escapedMarkup(const std::string& text) {
    std::string escaped;
    for (char c : text) {
        switch (c) {
            case '&':
                escaped += "&amp;";
                break;
            case '<':
                escaped += "&lt;";
                break;
            case '>':
                escaped += "&gt;";
                break;
            default:
                escaped.push_back(c);
        }
    }
    return escaped;
}

DesktopNotifications::DesktopNotifications(bus::Connection& bus) : bus_(bus) {}

void DesktopNotifications::start() {
    bus_.subscribe(
        std::string("type='signal',interface='") + serviceName + "',path='" + servicePath + "'",
        [this](const bus::Message& signal) { signalled(signal); });
    const bool asked = bus_.call(serviceName, servicePath, serviceName, "GetCapabilities", {},
                                 [this](const bus::Message& reply) { capabilities(reply); });
    if (!asked) {
        server_ = Server::absent;
    }
}

void DesktopNotifications::capabilities(const bus::Message& reply) {
    if (reply.type != bus::MessageType::methodReturn || reply.body.empty()) {
        server_ = Server::absent;
        return;
    }
    const Value& list = reply.body[0];
    server_ = holdsString(list, "actions") ? Server::withActions : Server::withoutActions;
    bodyMarkup_ = holdsString(list, "body-markup");
}

std::uint64_t DesktopNotifications::show(const Notice& notice, Outcome outcome) {
    const std::uint64_t ticket = nextTicket_++;
    shown_[ticket].outcome = std::move(outcome);
    std::vector<std::string> actions;
    for (const auto& [key, label] : notice.actions) {
        actions.push_back(key);
        actions.push_back(posix::validUtf8(label));
    }
    const std::string body = posix::validUtf8(notice.body);
    std::vector<Value> arguments{
        Value::string(applicationName),
        Value::uint32(0),
        Value::string(iconName),
        Value::string(posix::validUtf8(notice.summary)),
        Value::string(bodyMarkup_ ? escapedMarkup(body) : body),
        Value::stringArray(actions),
        Value::propertyMap(
            {{"urgency", Value::byteValue(notice.critical ? urgencyCritical : urgencyNormal)},
             {"desktop-entry", Value::string(iconName)}}),
        Value::int32(notice.critical ? neverExpires : serverDefaultExpiry)};
    const bool sent =
        bus_.call(serviceName, servicePath, serviceName, "Notify", std::move(arguments),
                  [this, ticket](const bus::Message& reply) {
                      const auto shown = shown_.find(ticket);
                      if (shown == shown_.end()) {
                          return;
                      }
                      if (reply.type != bus::MessageType::methodReturn || reply.body.empty()) {
                          finish(shown, "");
                          return;
                      }
                      if (!shown->second.outcome) {
                          shown_.erase(shown);  // a notice that nobody waits on is the server's now
                          return;
                      }
                      shown->second.id = static_cast<std::uint32_t>(reply.body[0].number);
                      shown->second.server = reply.sender;
                      if (shown->second.withdrawn) {
                          withdraw(ticket);
                      }
                  });
    if (!sent) {
        finish(shown_.find(ticket), "");
        return 0;
    }
    return ticket;
}

void DesktopNotifications::withdraw(std::uint64_t ticket) {
    const auto shown = shown_.find(ticket);
    if (shown == shown_.end()) {
        return;
    }
    if (shown->second.id == 0) {
        shown->second.withdrawn = true;  // closed as soon as the server says which it is
        return;
    }
    bus_.call(serviceName, servicePath, serviceName, "CloseNotification",
              {Value::uint32(shown->second.id)}, nullptr);
    finish(shown, "");
}

void DesktopNotifications::signalled(const bus::Message& signal) {
    if (signal.body.empty() || signal.body[0].kind != Value::Kind::uint32) {
        return;
    }
    const auto id = static_cast<std::uint32_t>(signal.body[0].number);
    const auto shown = std::find_if(shown_.begin(), shown_.end(), [&](const auto& entry) {
        return entry.second.id == id && entry.second.server == signal.sender;
    });
    if (shown == shown_.end()) {
        return;  // another program's notice, or a sender that did not show ours
    }
    if (signal.member == "ActionInvoked" && signal.body.size() >= 2) {
        finish(shown, signal.body[1].text);
    } else if (signal.member == "NotificationClosed") {
        finish(shown, "");
    }
}

void DesktopNotifications::finish(std::map<std::uint64_t, Shown>::iterator shown,
                                  const std::string& action) {
    const Outcome outcome = std::move(shown->second.outcome);
    shown_.erase(shown);
    if (outcome) {
        outcome(action);
    }
}

}  // namespace pellvane::shell
