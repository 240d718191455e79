// A session bus that lives in the test: it keeps the objects exported on it, the calls and
// signals sent, and lets the test answer calls and deliver signals as other programs would.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/session_bus.h"

namespace pellvane::testing {

class FakeSessionBus final : public bus::Connection {
  public:
    struct Call {
        std::string destination;
        std::string path;
        std::string member;
        std::vector<bus::Value> arguments;
        bus::ReplyHandler onReply;
    };
    struct Signal {
        std::string path;
        std::string member;
        std::vector<bus::Value> arguments;
    };

    int descriptor() const override { return -1; }
    short pollEvents() const override { return 0; }
    int timeoutMs() const override { return -1; }
    bool process() override { return true; }
    std::string uniqueName() const override { return ":1.1"; }
    bool requestName(const std::string& name) override {
        names.push_back(name);
        return true;
    }
    bool exportObject(const std::string& path, bus::MethodHandler handler) override {
        objects[path] = std::move(handler);
        return true;
    }
    bool call(const std::string& destination, const std::string& path, const std::string&,
              const std::string& member, std::vector<bus::Value> arguments,
              bus::ReplyHandler onReply) override {
        calls.push_back({destination, path, member, std::move(arguments), std::move(onReply)});
        if (const auto answer = answers.find(member); answer != answers.end()) {
            reply(member, answer->second);
        }
        return true;
    }
    bool emitSignal(const std::string& path, const std::string&, const std::string& member,
                    std::vector<bus::Value> arguments) override {
        signals.push_back({path, member, std::move(arguments)});
        return true;
    }
    bool subscribe(const std::string&, bus::SignalHandler handler) override {
        subscribers.push_back(std::move(handler));
        return true;
    }

    // A method call from another program to one of ours.
    bus::Reply invoke(const std::string& path, const std::string& interface,
                      const std::string& member, std::vector<bus::Value> arguments = {}) {
        bus::Message message;
        message.sender = ":1.99";
        message.path = path;
        message.interface = interface;
        message.member = member;
        message.body = std::move(arguments);
        return objects.at(path)(message);
    }
    // Answers the oldest unanswered call to `member` with `body` from `sender`.
    void reply(const std::string& member, std::vector<bus::Value> body,
               const std::string& sender = ":1.50") {
        for (Call& each : calls) {
            if (each.member == member && each.onReply) {
                bus::Message answer;
                answer.type = bus::MessageType::methodReturn;
                answer.sender = sender;
                answer.body = std::move(body);
                const bus::ReplyHandler handler = std::move(each.onReply);
                each.onReply = nullptr;
                handler(answer);
                return;
            }
        }
    }
    void deliver(const std::string& sender, const std::string& member,
                 std::vector<bus::Value> body) {
        bus::Message signal;
        signal.type = bus::MessageType::signal;
        signal.sender = sender;
        signal.member = member;
        signal.body = std::move(body);
        for (const bus::SignalHandler& handler : subscribers) {
            handler(signal);
        }
    }
    int count(const std::string& member) const {
        int found = 0;
        for (const Call& each : calls) {
            found += each.member == member ? 1 : 0;
        }
        return found;
    }

    // Calls to these members are answered at once, from ":1.50", with the body given.
    std::map<std::string, std::vector<bus::Value>> answers;
    std::map<std::string, bus::MethodHandler> objects;
    std::vector<std::string> names;
    std::vector<Call> calls;
    std::vector<Signal> signals;
    std::vector<bus::SignalHandler> subscribers;
};

}  // namespace pellvane::testing
