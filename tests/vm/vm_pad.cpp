// The pad of the real-kernel test: connects to the pad service on 127.0.0.1 PORT, waits to
// be admitted, and sends the steps named on its command line, in order, over TCP:
//   down=A  up=A         KeyDown or KeyUp of the character A
//   down=#123  up=#123   KeyDown or KeyUp of key position 123
//   axis=0:1.0           gamepad axis 0 at 1.0
//   button=3:1           gamepad button 3 pressed (0: released)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>

#include "server/wire_building.h"
#include "tests/support/test_client.h"

namespace {

using namespace pellvane;

// The local user answers the admission question by hand, as it were.
constexpr std::chrono::seconds answerTimeout{30};

std::optional<Message> keyStep(std::uint32_t type, const std::string& what) {
    wire::KeyEntry entry;
    if (what.size() > 1 && what[0] == '#') {
        entry.keyIndex = static_cast<std::uint32_t>(std::stoul(what.substr(1)));
    } else if (what.size() == 1) {
        entry.character = static_cast<unsigned char>(what[0]);
    } else {
        return std::nullopt;
    }
    return wire::buildKeyMessage(type, std::span(&entry, 1));
}

std::optional<Message> messageFor(const std::string& step) {
    const std::size_t equals = step.find('=');
    if (equals == std::string::npos) {
        return std::nullopt;
    }
    const std::string kind = step.substr(0, equals);
    const std::string value = step.substr(equals + 1);
    const std::size_t colon = value.find(':');
    if (kind == "down" || kind == "up") {
        return keyStep(kind == "down" ? wire::KeyDown : wire::KeyUp, value);
    }
    if (colon == std::string::npos) {
        return std::nullopt;
    }
    const auto id = static_cast<std::uint32_t>(std::stoul(value.substr(0, colon)));
    const float number = std::stof(value.substr(colon + 1));
    if (kind == "axis") {
        const wire::GamepadPair axis{id, number};
        return wire::buildGamepadEvent(wire::gamepadAxes, std::span(&axis, 1));
    }
    if (kind == "button") {
        const wire::GamepadPair button{id, number > 0.0f ? 1.0f : 0.0f};
        return wire::buildGamepadEvent(wire::gamepadButton, std::span(&button, 1));
    }
    return std::nullopt;
}

bool admitted(testing::TestClient& client) {
    if (!client.sendHello("VM pad")) {
        return false;
    }
    for (const std::uint32_t expected : {wire::HelloReply, wire::UdpInfo}) {
        const auto message = client.readMessage(answerTimeout);
        if (!message || message->header.type != expected) {
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs("usage: vm-pad PORT STEP...\n", stderr);
        return 2;
    }
    net::startSocketLibrary();
    testing::TestClient client;
    const auto port = static_cast<std::uint16_t>(std::atoi(argv[1]));
    if (!client.connect(net::Family::ipv4, port) || !admitted(client)) {
        std::fputs("vm-pad: not admitted\n", stderr);
        return 1;
    }
    for (int i = 2; i < argc; ++i) {
        const std::optional<Message> message = messageFor(argv[i]);
        if (!message || !client.send(*message)) {
            std::fprintf(stderr, "vm-pad: cannot send %s\n", argv[i]);
            return 1;
        }
    }
    // The server takes every message before it sees the connection end.
    std::this_thread::sleep_for(std::chrono::seconds(1));
    std::puts("vm-pad: sent");
    return 0;
}
